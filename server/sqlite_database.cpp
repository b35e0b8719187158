#include "sqlite_database.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "database_session.hpp"
#include "values.hpp"

namespace harnolfees::server {
namespace {

// Money columns hold 64-bit integers of ten-thousandths; percentages are
// fractions kept as exact decimal text; dates are "yyyy-mm-dd hh:mm:ss" and
// checked to be real dates in that form.
constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS Centers (
  CenterID INTEGER PRIMARY KEY,
  Name TEXT NOT NULL,
  ShowTravelOption INTEGER NOT NULL DEFAULT 0 CHECK (ShowTravelOption IN (0, 1)));
CREATE TABLE IF NOT EXISTS Terms (
  Months INTEGER PRIMARY KEY CHECK (Months > 0));
CREATE TABLE IF NOT EXISTS ContractTypes (
  ContractTypeID INTEGER PRIMARY KEY CHECK (ContractTypeID >= 0),
  Description TEXT NOT NULL CHECK (length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS CreditTypes (
  CreditTypeID INTEGER PRIMARY KEY CHECK (CreditTypeID >= 1),
  Description TEXT NOT NULL CHECK (length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS APRTypes (
  APRTypeID INTEGER PRIMARY KEY CHECK (APRTypeID >= 1),
  Description TEXT NOT NULL CHECK (length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS AccessLevels (
  MemberAccessLevelID INTEGER PRIMARY KEY,
  Description TEXT NOT NULL CHECK (length(Description) BETWEEN 1 AND 10));
CREATE TABLE IF NOT EXISTS BankAccountTypes (
  BankAccountTypeID INTEGER PRIMARY KEY,
  Description TEXT NOT NULL CHECK (length(Description) BETWEEN 1 AND 30));

CREATE TABLE IF NOT EXISTS MembershipFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  MembershipFee INTEGER NOT NULL CHECK (typeof(MembershipFee) = 'integer'),
  Term INTEGER NOT NULL CHECK (Term BETWEEN 0 AND 32767),
  MembershipRoyalty TEXT NOT NULL,
  MinimumRoyalty INTEGER NOT NULL CHECK (typeof(MinimumRoyalty) = 'integer'),
  RoyaltyReserve TEXT NOT NULL,
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS ValuePlusFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  ValuePlusFee INTEGER NOT NULL CHECK (typeof(ValuePlusFee) = 'integer'),
  CenterPortion INTEGER NOT NULL CHECK (typeof(CenterPortion) = 'integer'),
  HarnolPortion INTEGER NOT NULL CHECK (typeof(HarnolPortion) = 'integer'),
  HealthFee INTEGER NOT NULL CHECK (typeof(HealthFee) = 'integer'),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS ValuePlusRenewalFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  ValuePlusRenewalFee INTEGER NOT NULL CHECK (typeof(ValuePlusRenewalFee) = 'integer'),
  CenterPortion INTEGER NOT NULL CHECK (typeof(CenterPortion) = 'integer'),
  HarnolPortion INTEGER NOT NULL CHECK (typeof(HarnolPortion) = 'integer'),
  HealthFee INTEGER NOT NULL CHECK (typeof(HealthFee) = 'integer'),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS RenewalOptionFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  RenewalOptionFee INTEGER NOT NULL CHECK (typeof(RenewalOptionFee) = 'integer'),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaAPR (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  BetaAPR TEXT NOT NULL,
  BetaAPRTypeID INTEGER NOT NULL REFERENCES APRTypes (APRTypeID),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, BetaAPRTypeID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaProcessingFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  BetaContractTypeID INTEGER NOT NULL REFERENCES ContractTypes (ContractTypeID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  BetaProcessingFee INTEGER NOT NULL CHECK (typeof(BetaProcessingFee) = 'integer'),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, BetaContractTypeID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaReserve (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  ContractType INTEGER NOT NULL REFERENCES ContractTypes (ContractTypeID),
  CreditTypeBitwiseValue INTEGER NOT NULL,
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  BetaReserve TEXT NOT NULL,
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, ContractType, EffectivityDate));
CREATE TABLE IF NOT EXISTS MembershipRenewalFee (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  MembershipRenewalFee INTEGER NOT NULL CHECK (typeof(MembershipRenewalFee) = 'integer'),
  CenterPortion TEXT NOT NULL,
  MemberAccessLevelID INTEGER NOT NULL REFERENCES AccessLevels (MemberAccessLevelID),
  TravelMembership INTEGER NOT NULL DEFAULT 0 CHECK (TravelMembership IN (0, 1)),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  ExpirationDate TEXT CHECK (ExpirationDate IS datetime(ExpirationDate)),
  PRIMARY KEY (CenterID, MemberAccessLevelID, TravelMembership, EffectivityDate));
CREATE TABLE IF NOT EXISTS BankAccount (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  Type INTEGER NOT NULL REFERENCES BankAccountTypes (BankAccountTypeID),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  RoutingNumber TEXT NOT NULL CHECK (length(RoutingNumber) <= 20),
  AccountNumber TEXT NOT NULL CHECK (length(AccountNumber) <= 20),
  SweepSpan INTEGER NOT NULL CHECK (SweepSpan >= 0),
  Opened TEXT NOT NULL CHECK (Opened IS datetime(Opened)),
  Closed TEXT CHECK (Closed IS datetime(Closed)),
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, Type, EffectivityDate));
CREATE TABLE IF NOT EXISTS SalesTax (
  CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
  Type INTEGER NOT NULL CHECK (Type BETWEEN 1 AND 5),
  EffectivityDate TEXT NOT NULL CHECK (EffectivityDate IS datetime(EffectivityDate)),
  Membership TEXT NOT NULL,
  Renewal TEXT NOT NULL,
  Merchandise TEXT NOT NULL,
  RecordLastUpdated TEXT CHECK (RecordLastUpdated IS datetime(RecordLastUpdated)),
  PRIMARY KEY (CenterID, Type, EffectivityDate));
CREATE INDEX IF NOT EXISTS BetaAPRByDate ON BetaAPR (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BetaProcessingFeeByDate ON BetaProcessingFee (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BetaReserveByDate ON BetaReserve (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS MembershipRenewalFeeByDate
  ON MembershipRenewalFee (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BankAccountByDate ON BankAccount (CenterID, EffectivityDate);
)SQL";

// Users kept in the database (--users db): one users-file line per user.
constexpr const char* kUsersTable = R"SQL(
CREATE TABLE IF NOT EXISTS Users (
  Name TEXT PRIMARY KEY,
  Entry TEXT NOT NULL);
)SQL";

// Lookup lists of a new database. Contract types count from 0, APR and
// credit types from 1: the control takes a contract type's position in its
// list as the identifier, and position + 1 for the other two.
constexpr const char* kLookups = R"SQL(
INSERT INTO Terms (Months) SELECT column1 FROM (VALUES (12), (24), (36), (48), (60))
  WHERE NOT EXISTS (SELECT 1 FROM Terms);
INSERT INTO ContractTypes (ContractTypeID, Description)
  SELECT column1, column2 FROM (VALUES (0, 'Standard'), (1, 'Premium'), (2, 'Corporate'),
    (3, 'Family'))
  WHERE NOT EXISTS (SELECT 1 FROM ContractTypes);
INSERT INTO CreditTypes (CreditTypeID, Description)
  SELECT column1, column2 FROM (VALUES (1, 'Excellent'), (2, 'Good'), (3, 'Fair'), (4, 'Poor'))
  WHERE NOT EXISTS (SELECT 1 FROM CreditTypes);
INSERT INTO APRTypes (APRTypeID, Description)
  SELECT column1, column2 FROM (VALUES (1, 'Fixed'), (2, 'Variable'), (3, 'Promotional'))
  WHERE NOT EXISTS (SELECT 1 FROM APRTypes);
INSERT INTO AccessLevels (MemberAccessLevelID, Description)
  SELECT column1, column2 FROM (VALUES (1, 'Basic'), (2, 'Silver'), (3, 'Gold'),
    (4, 'Travel'))
  WHERE NOT EXISTS (SELECT 1 FROM AccessLevels);
INSERT INTO BankAccountTypes (BankAccountTypeID, Description)
  SELECT column1, column2 FROM (VALUES (1, 'Operating'), (2, 'Payroll'), (3, 'Deposit'),
    (4, 'Reserve'))
  WHERE NOT EXISTS (SELECT 1 FROM BankAccountTypes);
)SQL";

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string message = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw DatabaseError(message);
  }
}

bool TryExec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite3* Open(const std::string& path, int busyTimeoutMs, bool readOnly) {
  sqlite3* db = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | (readOnly ? 0 : SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw DatabaseError("cannot open the database " + path + ": " + message);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, busyTimeoutMs);
  return db;
}

std::string ConstraintMessage(int code, const std::string& detail) {
  switch (code) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
      return "a record with the same effectivity date and key already exists (" + detail + ")";
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      return "a value names no known center, type or access level (" + detail + ")";
    case SQLITE_CONSTRAINT_CHECK:
    case SQLITE_CONSTRAINT_NOTNULL:
      return "a value is outside what the column holds (" + detail + ")";
    default:
      return "the database refused the statement (" + detail + ")";
  }
}

const std::string* FindText(const std::vector<Parameter>& params, std::string_view name) {
  for (const Parameter& p : params) {
    if (p.name == name) return std::get_if<std::string>(&p.value);
  }
  return nullptr;
}

class SqliteRow final : public Row {
 public:
  explicit SqliteRow(sqlite3_stmt* st) : st_(st) {}
  int Columns() const override { return sqlite3_column_count(st_); }
  bool IsNull(int c) const override { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
  std::string_view Text(int c) const override {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, c));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, c)))
             : std::string_view();
  }
  std::int64_t Int(int c) const override { return sqlite3_column_int64(st_, c); }

 private:
  sqlite3_stmt* st_;
};

}  // namespace

// A connection's statements, prepared once each.
class SqliteSession final : public Session {
 public:
  explicit SqliteSession(sqlite3* db) : db_(db) {}
  ~SqliteSession() override {
    for (auto& [sql, st] : prepared_) sqlite3_finalize(st);
  }
  SqliteSession(const SqliteSession&) = delete;
  SqliteSession& operator=(const SqliteSession&) = delete;

  void Run(const std::string& sql, const std::vector<Cell>& cells, const EachRow& each) override {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
          SQLITE_OK) {
        throw DatabaseError(std::string("cannot prepare a statement: ") + sqlite3_errmsg(db_));
      }
      it = prepared_.emplace(sql, st).first;
    }
    sqlite3_stmt* st = it->second;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (const auto* n = std::get_if<std::int64_t>(&cells[i])) {
        sqlite3_bind_int64(st, index, *n);
      } else if (const auto* t = std::get_if<std::string>(&cells[i])) {
        sqlite3_bind_text(st, index, t->data(), static_cast<int>(t->size()), SQLITE_TRANSIENT);
      }
    }
    const SqliteRow row(st);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      if (each) each(row);
    }
    if (rc != SQLITE_DONE) {
      const std::string message = sqlite3_errmsg(db_);
      sqlite3_reset(st);
      throw DatabaseError(message);
    }
    sqlite3_reset(st);
  }
  void Script(const std::string& sql) override { Exec(db_, sql.c_str()); }

 private:
  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> prepared_;
};

struct SqliteDatabase::Reader {
  sqlite3* db = nullptr;
  std::unique_ptr<SqliteSession> session;
  ~Reader() {
    session.reset();
    sqlite3_close(db);
  }
};

SqliteDatabase::SqliteDatabase(DatabaseOptions options) : Database(std::move(options)) {
  writer_ = Open(options_.path, options_.busyTimeoutMs, false);
  try {
    Exec(writer_, "PRAGMA journal_mode = WAL");
    Exec(writer_, options_.synchronous == Synchronous::Full ? "PRAGMA synchronous = FULL"
                                                            : "PRAGMA synchronous = NORMAL");
    Exec(writer_, "PRAGMA foreign_keys = ON");
    writerSession_ = std::make_unique<SqliteSession>(writer_);
    Exec(writer_, "BEGIN IMMEDIATE");
    try {
      UpgradeSchema(*writerSession_, {std::string(kSchema) + kLookups, kUsersTable});
      Exec(writer_, "COMMIT");
    } catch (...) {
      TryExec(writer_, "ROLLBACK");
      throw;
    }
    // The WAL mode needs to be in force before readers attach.
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(writer_, "PRAGMA journal_mode", -1, &st, nullptr);
    const bool wal =
        st && sqlite3_step(st) == SQLITE_ROW &&
        std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal") == 0;
    sqlite3_finalize(st);
    if (!wal) throw DatabaseError("the database " + options_.path + " cannot use WAL mode");
    if (sqlite3_prepare_v3(writer_, "SELECT 1 FROM Centers WHERE CenterID = ?1", -1,
                           SQLITE_PREPARE_PERSISTENT, &centerExists_, nullptr) != SQLITE_OK) {
      throw DatabaseError(sqlite3_errmsg(writer_));
    }
    shapeStatements_.assign(ShapeCount(), nullptr);
  } catch (...) {
    writerSession_.reset();
    sqlite3_finalize(centerExists_);
    sqlite3_close(writer_);
    throw;
  }
}

SqliteDatabase::~SqliteDatabase() {
  readers_.clear();
  for (auto& [sql, st] : controlStatements_) sqlite3_finalize(st);
  for (auto* s : shapeStatements_) sqlite3_finalize(s);
  sqlite3_finalize(centerExists_);
  writerSession_.reset();
  sqlite3_close(writer_);
}

ExecOutcome SqliteDatabase::Execute(std::vector<ParsedStatement> statements,
                                    const std::function<bool()>& wanted) {
  Job job;
  job.statements = std::move(statements);
  if (wanted) job.wanted = &wanted;
  std::unique_lock lock(queueMutex_);
  queue_.push_back(&job);
  while (!job.done) {
    if (writing_) {
      batchDone_.wait(lock);
      continue;
    }
    // Lead: run what waits now, this text among it or not.
    writing_ = true;
    std::vector<Job*> batch;
    while (!queue_.empty() && batch.size() < options_.maxBatch) {
      batch.push_back(queue_.front());
      queue_.pop_front();
    }
    lock.unlock();
    {
      std::lock_guard connection(connectionMutex_);
      RunBatch(batch);
    }
    lock.lock();
    for (Job* j : batch) j->done = true;
    writing_ = false;
    batchDone_.notify_all();
  }
  return std::move(job.outcome);
}

void SqliteDatabase::RunBatch(std::vector<Job*>& batch) {
  std::vector<ExecOutcome> outcomes(batch.size());
  auto failAll = [&](const std::string& message) {
    for (auto& o : outcomes) o = {ExecOutcome::Status::Failed, message};
  };
  if (!RunControl("BEGIN IMMEDIATE")) {
    failAll(std::string("failed: the database is not available: ") + sqlite3_errmsg(writer_));
  } else {
    // The write lock is this batch's now: a text whose client left while it
    // waited for it is not run.
    std::vector<std::size_t> live;
    for (std::size_t j = 0; j < batch.size(); ++j) {
      if (batch[j]->wanted && !(*batch[j]->wanted)()) {
        outcomes[j] = {ExecOutcome::Status::Abandoned,
                       "refused: the client had gone; the statement was not executed"};
      } else {
        live.push_back(j);
      }
    }
    const std::string now = options_.Now().ToStorage();
    bool broken = false;
    if (live.size() <= 1) {
      // A text alone needs no savepoint: its failure undoes the transaction.
      if (!live.empty()) outcomes[live[0]] = RunJob(batch[live[0]]->statements, now);
      if (live.empty() || !outcomes[live[0]].ok()) {
        if (!RunControl("ROLLBACK") && !sqlite3_get_autocommit(writer_)) {
          TryExec(writer_, "ROLLBACK");
        }
        for (std::size_t j = 0; j < batch.size(); ++j) batch[j]->outcome = std::move(outcomes[j]);
        return;
      }
      if (sqlite3_get_autocommit(writer_)) broken = true;  // the transaction is gone
    } else {
      for (std::size_t k = 0; k < live.size() && !broken; ++k) {
        const std::size_t j = live[k];
        if (!RunControl("SAVEPOINT posted_text")) {
          broken = true;
          break;
        }
        outcomes[j] = RunJob(batch[j]->statements, now);
        if (!outcomes[j].ok() && !RunControl("ROLLBACK TO posted_text")) broken = true;
        if (!broken && !RunControl("RELEASE posted_text")) broken = true;
        if (sqlite3_get_autocommit(writer_)) broken = true;  // the transaction is gone
      }
    }
    if (broken) {
      const std::string why = sqlite3_errmsg(writer_);
      TryExec(writer_, "ROLLBACK");
      failAll("failed: the database could not complete the transaction: " + why);
    } else if (!RunControl("COMMIT")) {
      const std::string why = sqlite3_errmsg(writer_);
      TryExec(writer_, "ROLLBACK");
      failAll("failed: the database could not commit: " + why);
    }
  }
  for (std::size_t j = 0; j < batch.size(); ++j) batch[j]->outcome = std::move(outcomes[j]);
}

bool SqliteDatabase::RunControl(const char* sql) {
  sqlite3_stmt* st = nullptr;
  for (auto& [text, prepared] : controlStatements_) {
    if (text == sql) st = prepared;
  }
  if (!st) {
    if (sqlite3_prepare_v3(writer_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK) {
      return false;
    }
    controlStatements_.emplace_back(sql, st);
  }
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  return rc == SQLITE_DONE;
}

sqlite3_stmt* SqliteDatabase::WriterStatement(int shape) {
  auto& st = shapeStatements_.at(static_cast<std::size_t>(shape));
  if (!st) {
    const std::string& sql = ShapeSql(static_cast<std::size_t>(shape));
    if (sqlite3_prepare_v3(writer_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK) {
      st = nullptr;
      return nullptr;
    }
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return st;
}

ExecOutcome SqliteDatabase::RunJob(const std::vector<ParsedStatement>& statements,
                                   const std::string& now) {
  using S = ExecOutcome::Status;
  for (std::size_t k = 0; k < statements.size(); ++k) {
    const ParsedStatement& ps = statements[k];
    const std::string which =
        statements.size() > 1 ? "statement " + std::to_string(k + 1) + ": " : "";
    sqlite3_reset(centerExists_);
    sqlite3_bind_int64(centerExists_, 1, ps.center);
    const int found = sqlite3_step(centerExists_);
    sqlite3_reset(centerExists_);
    if (found == SQLITE_DONE) {
      return {S::Refused,
              "refused: " + which + "center " + std::to_string(ps.center) + " does not exist"};
    }
    if (found != SQLITE_ROW) {
      return {S::Failed, "failed: " + which + sqlite3_errmsg(writer_)};
    }
    sqlite3_stmt* st = WriterStatement(ps.shape);
    if (!st) return {S::Failed, "failed: " + which + sqlite3_errmsg(writer_)};
    for (const Parameter& p : ps.parameters) {
      const std::string key = ":" + p.name;
      const int index = sqlite3_bind_parameter_index(st, key.c_str());
      if (index == 0) continue;
      if (const auto* i = std::get_if<std::int64_t>(&p.value)) {
        sqlite3_bind_int64(st, index, *i);
      } else if (const auto* s = std::get_if<std::string>(&p.value)) {
        sqlite3_bind_text(st, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(st, index);
      }
    }
    if (ps.usesNow) {
      sqlite3_bind_text(st, sqlite3_bind_parameter_index(st, ":Now"), now.data(),
                        static_cast<int>(now.size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
      const int code = sqlite3_extended_errcode(writer_);
      const std::string detail = sqlite3_errmsg(writer_);
      sqlite3_reset(st);
      if ((code & 0xFF) == SQLITE_CONSTRAINT) {
        const bool duplicate =
            code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE;
        return {duplicate ? S::Conflict : S::Refused,
                "refused: " + which + ConstraintMessage(code, detail)};
      }
      return {S::Failed, "failed: " + which + "database error: " + detail};
    }
    if (ps.mustMatchRow && sqlite3_changes(writer_) == 0) {
      std::string message = "record not found: " + which + "the " + std::string(KindName(ps.kind)) +
                            " of " + ps.table + " matched no record of center " +
                            std::to_string(ps.center);
      if (const auto* old = FindText(ps.parameters, "OldEffectivityDate")) {
        if (auto ts = Timestamp::FromStorage(*old)) {
          message += " with effectivity date " + ts->ToIso();
        }
      }
      message += "; nothing was changed";
      return {S::NotFound, message};
    }
  }
  return {};
}

std::unique_ptr<SqliteDatabase::Reader> SqliteDatabase::AcquireReader() {
  {
    std::lock_guard lock(readersMutex_);
    if (!readers_.empty()) {
      auto r = std::move(readers_.back());
      readers_.pop_back();
      return r;
    }
  }
  auto r = std::make_unique<Reader>();
  r->db = Open(options_.path, options_.busyTimeoutMs, true);
  TryExec(r->db, "PRAGMA query_only = ON");
  r->session = std::make_unique<SqliteSession>(r->db);
  return r;
}

void SqliteDatabase::ReleaseReader(std::unique_ptr<Reader> reader) {
  std::lock_guard lock(readersMutex_);
  if (readers_.size() < static_cast<std::size_t>(options_.readers)) {
    readers_.push_back(std::move(reader));
  }
}

void SqliteDatabase::InTransaction(bool write, const std::function<void(Session&)>& work) {
  if (write) {
    std::lock_guard lock(connectionMutex_);
    Exec(writer_, "BEGIN IMMEDIATE");
    try {
      work(*writerSession_);
      Exec(writer_, "COMMIT");
    } catch (...) {
      TryExec(writer_, "ROLLBACK");
      throw;
    }
    return;
  }
  auto reader = AcquireReader();
  if (!TryExec(reader->db, "BEGIN")) {
    throw DatabaseError(std::string("cannot read the database: ") + sqlite3_errmsg(reader->db));
  }
  try {
    work(*reader->session);
  } catch (...) {
    TryExec(reader->db, "ROLLBACK");
    throw;
  }
  TryExec(reader->db, "COMMIT");
  ReleaseReader(std::move(reader));
}

bool SqliteDatabase::Answers(std::string& why) {
  try {
    InTransaction(false, [](Session& s) { s.Run("SELECT count(*) FROM Centers"); });
    return true;
  } catch (const std::exception& e) {
    why = e.what();
    return false;
  }
}

}  // namespace harnolfees::server
