#include "database.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

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

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw DatabaseError(std::string("cannot prepare a statement: ") + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

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

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
}

void AppendElement(std::string& out, std::string_view name, std::string_view text) {
  out += '<';
  out += name;
  out += '>';
  AppendEscaped(out, text);
  out += "</";
  out += name;
  out += '>';
}

// How a column of a record query is written into the load document.
enum class Form { Plain, Date, DateOnly, Money };

struct RecordQuery {
  const char* sql;  // first column: the record-set number; the others are fields
  std::vector<Form> forms;
};

const std::vector<RecordQuery>& RecordQueries() {
  using F = Form;
  static const std::vector<RecordQuery> queries = {
      {"SELECT 1, CenterID, EffectivityDate AS Effectivity, MembershipFee, Term, "
       "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated FROM MembershipFee "
       "WHERE CenterID = ?1 ORDER BY EffectivityDate DESC",
       {F::Plain, F::Date, F::Money, F::Plain, F::Plain, F::Money, F::Plain, F::Date}},
      {"SELECT 2, CenterID, EffectivityDate AS Effectivity, ValuePlusFee, CenterPortion, "
       "HarnolPortion, HealthFee, RecordLastUpdated FROM ValuePlusFee WHERE CenterID = ?1 "
       "ORDER BY EffectivityDate DESC",
       {F::Plain, F::Date, F::Money, F::Money, F::Money, F::Money, F::Date}},
      {"SELECT 3, CenterID, EffectivityDate AS Effectivity, ValuePlusRenewalFee, CenterPortion, "
       "HarnolPortion, HealthFee, RecordLastUpdated FROM ValuePlusRenewalFee WHERE CenterID = ?1 "
       "ORDER BY EffectivityDate DESC",
       {F::Plain, F::Date, F::Money, F::Money, F::Money, F::Money, F::Date}},
      {"SELECT 4, CenterID, EffectivityDate AS Effectivity, RenewalOptionFee, RecordLastUpdated "
       "FROM RenewalOptionFee WHERE CenterID = ?1 ORDER BY EffectivityDate DESC",
       {F::Plain, F::Date, F::Money, F::Date}},
      {"SELECT 5, CenterID, EffectivityDate AS Effectivity, BetaAPR, BetaAPRTypeID, "
       "RecordLastUpdated FROM BetaAPR WHERE CenterID = ?1 "
       "ORDER BY EffectivityDate DESC, BetaAPRTypeID",
       {F::Plain, F::Date, F::Plain, F::Plain, F::Date}},
      {"SELECT 6, f.CenterID, f.BetaContractTypeID, f.EffectivityDate AS Effectivity, "
       "f.BetaProcessingFee, f.RecordLastUpdated, c.Description AS ContractDescription "
       "FROM BetaProcessingFee f LEFT JOIN ContractTypes c ON c.ContractTypeID = "
       "f.BetaContractTypeID WHERE f.CenterID = ?1 "
       "ORDER BY f.EffectivityDate DESC, f.BetaContractTypeID",
       {F::Plain, F::Plain, F::Date, F::Money, F::Date, F::Plain}},
      {"SELECT 7, r.CenterID, r.ContractType, r.EffectivityDate AS Effectivity, r.BetaReserve, "
       "r.CreditTypeBitwiseValue, r.RecordLastUpdated, c.Description AS ContractDescription, "
       "k.Description AS CreditType FROM BetaReserve r LEFT JOIN ContractTypes c ON "
       "c.ContractTypeID = r.ContractType LEFT JOIN CreditTypes k ON k.CreditTypeID = "
       "r.CreditTypeBitwiseValue WHERE r.CenterID = ?1 "
       "ORDER BY r.EffectivityDate DESC, r.ContractType",
       {F::Plain, F::Plain, F::Date, F::Plain, F::Plain, F::Date, F::Plain, F::Plain}},
      // The grid shows the whole history, expired records included.
      {"SELECT 8, r.CenterID, r.EffectivityDate AS Effectivity, r.MembershipRenewalFee, "
       "r.CenterPortion, r.RecordLastUpdated, a.Description AS MemberAccessLevelDescription, "
       "r.MemberAccessLevelID, r.TravelMembership FROM MembershipRenewalFee r LEFT JOIN "
       "AccessLevels a ON a.MemberAccessLevelID = r.MemberAccessLevelID WHERE r.CenterID = ?1 "
       "ORDER BY r.EffectivityDate DESC, r.MemberAccessLevelID, r.TravelMembership",
       {F::Plain, F::Date, F::Money, F::Plain, F::Date, F::Plain, F::Plain, F::Plain}},
      // Closed is a 15-character text in the control: it gets the date alone.
      {"SELECT 9, b.CenterID AS ObjectID, b.Type, b.EffectivityDate AS Effectivity, "
       "b.RoutingNumber, b.AccountNumber, b.SweepSpan, b.Opened, b.Closed, b.RecordLastUpdated, "
       "t.Description AS TypeDescription FROM BankAccount b LEFT JOIN BankAccountTypes t ON "
       "t.BankAccountTypeID = b.Type WHERE b.CenterID = ?1 ORDER BY b.EffectivityDate DESC, b.Type",
       {F::Plain, F::Plain, F::Date, F::Plain, F::Plain, F::Plain, F::Date, F::DateOnly, F::Date,
        F::Plain}},
      {"SELECT 9 + Type, CenterID, Type, EffectivityDate AS Effectivity, Membership, Renewal, "
       "Merchandise, RecordLastUpdated FROM SalesTax WHERE CenterID = ?1 "
       "ORDER BY Type, EffectivityDate DESC",
       {F::Plain, F::Plain, F::Date, F::Plain, F::Plain, F::Plain, F::Date}},
  };
  return queries;
}

constexpr std::array<const char*, 16> kRecordElements{"T0",  "T1",  "T2",  "T3", "T4",  "T5",
                                                      "T6",  "T7",  "T8",  "T9", "T10", "T11",
                                                      "T12", "T13", "T14", "T15"};

std::string ColumnText(sqlite3_stmt* st, int col) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st, col))) : "";
}

// Appends <name>value</name> for one column of a record row. Stored dates
// ("yyyy-mm-dd hh:mm:ss") only need their blank turned into the ISO "T".
void AppendColumn(std::string& out, const char* name, sqlite3_stmt* st, int col, Form form) {
  out += '<';
  out += name;
  out += '>';
  switch (form) {
    case Form::Money:
      out += MoneyUnitsToText(sqlite3_column_int64(st, col));
      break;
    case Form::Date:
    case Form::DateOnly: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      const std::string_view stored(p, static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
      if (stored.size() == 19 && stored[10] == ' ') {
        if (form == Form::DateOnly) {
          out.append(stored.substr(0, 10));
        } else {
          out.append(stored.substr(0, 10));
          out += 'T';
          out.append(stored.substr(11));
        }
      } else {
        AppendEscaped(out, stored);
      }
      break;
    }
    case Form::Plain: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      AppendEscaped(out,
                    std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(st, col))));
      break;
    }
  }
  out += "</";
  out += name;
  out += '>';
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

}  // namespace

struct Database::Reader {
  sqlite3* db = nullptr;
  std::vector<sqlite3_stmt*> records;
  std::map<std::string, sqlite3_stmt*> others;
  ~Reader() {
    for (auto* s : records) sqlite3_finalize(s);
    for (auto& [k, s] : others) sqlite3_finalize(s);
    sqlite3_close(db);
  }
  sqlite3_stmt* Prepared(const char* sql) {
    auto it = others.find(sql);
    if (it != others.end()) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      return it->second;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
      throw DatabaseError(std::string("cannot prepare a query: ") + sqlite3_errmsg(db));
    }
    others.emplace(sql, st);
    return st;
  }
};

Database::Database(DatabaseOptions options) : options_(std::move(options)) {
  writer_ = Open(options_.path, options_.busyTimeoutMs, false);
  try {
    Exec(writer_, "PRAGMA journal_mode = WAL");
    Exec(writer_, options_.synchronous == Synchronous::Full ? "PRAGMA synchronous = FULL"
                                                            : "PRAGMA synchronous = NORMAL");
    Exec(writer_, "PRAGMA foreign_keys = ON");
    Exec(writer_, "BEGIN IMMEDIATE");
    try {
      Exec(writer_, kSchema);
      Exec(writer_, kLookups);
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
    sqlite3_finalize(centerExists_);
    sqlite3_close(writer_);
    throw;
  }
}

Database::~Database() {
  readers_.clear();
  for (auto& [sql, st] : controlStatements_) sqlite3_finalize(st);
  for (auto* s : shapeStatements_) sqlite3_finalize(s);
  sqlite3_finalize(centerExists_);
  sqlite3_close(writer_);
}

void Database::EnsureCenter(std::int64_t center, const std::string& name, bool showTravelOption) {
  std::lock_guard lock(connectionMutex_);
  Statement st(writer_,
               "INSERT INTO Centers (CenterID, Name, ShowTravelOption) VALUES (?1, ?2, ?3) "
               "ON CONFLICT (CenterID) DO UPDATE SET ShowTravelOption = excluded.ShowTravelOption");
  sqlite3_bind_int64(st.get(), 1, center);
  sqlite3_bind_text(st.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(st.get(), 3, showTravelOption ? 1 : 0);
  if (sqlite3_step(st.get()) != SQLITE_DONE) {
    throw DatabaseError(std::string("cannot store center: ") + sqlite3_errmsg(writer_));
  }
}

ExecOutcome Database::Execute(std::vector<ParsedStatement> statements) {
  Job job;
  job.statements = std::move(statements);
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

void Database::RunBatch(std::vector<Job*>& batch) {
  std::vector<ExecOutcome> outcomes(batch.size());
  auto failAll = [&](const std::string& message) {
    for (auto& o : outcomes) o = {ExecOutcome::Status::Failed, message};
  };
  if (!RunControl("BEGIN IMMEDIATE")) {
    failAll(std::string("failed: the database is not available: ") + sqlite3_errmsg(writer_));
  } else {
    const std::string now = Timestamp::Now().ToStorage();
    bool broken = false;
    if (batch.size() == 1) {
      // A text alone needs no savepoint: its failure undoes the transaction.
      outcomes[0] = RunJob(batch[0]->statements, now);
      if (!outcomes[0].ok()) {
        if (!RunControl("ROLLBACK") && !sqlite3_get_autocommit(writer_)) {
          TryExec(writer_, "ROLLBACK");
        }
        batch[0]->outcome = std::move(outcomes[0]);
        return;
      }
      if (sqlite3_get_autocommit(writer_)) broken = true;  // the transaction is gone
    } else {
      for (std::size_t j = 0; j < batch.size() && !broken; ++j) {
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

bool Database::RunControl(const char* sql) {
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

sqlite3_stmt* Database::WriterStatement(int shape) {
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

ExecOutcome Database::RunJob(const std::vector<ParsedStatement>& statements,
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

std::unique_ptr<Database::Reader> Database::AcquireReader() {
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
  for (const RecordQuery& q : RecordQueries()) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(r->db, q.sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK) {
      throw DatabaseError(std::string("cannot prepare a record query: ") + sqlite3_errmsg(r->db));
    }
    r->records.push_back(st);
  }
  return r;
}

void Database::ReleaseReader(std::unique_ptr<Reader> reader) {
  std::lock_guard lock(readersMutex_);
  if (readers_.size() < static_cast<std::size_t>(options_.readers)) {
    readers_.push_back(std::move(reader));
  }
}

std::string Database::LoadDocument(std::int64_t center) {
  auto reader = AcquireReader();
  sqlite3* db = reader->db;
  if (!TryExec(db, "BEGIN")) {
    throw DatabaseError(std::string("cannot read the database: ") + sqlite3_errmsg(db));
  }
  std::string out;
  out.reserve(4096);
  try {
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TermFees Center=\"";
    out += std::to_string(center);
    out += "\">\n";
    auto rows = [&](const char* sql, auto&& each) {
      sqlite3_stmt* st = reader->Prepared(sql);
      sqlite3_bind_int64(st, 1, center);
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) each(st);
      if (rc != SQLITE_DONE) throw DatabaseError(sqlite3_errmsg(db));
      sqlite3_reset(st);
    };
    out += "<TERM>";
    rows("SELECT Months FROM Terms ORDER BY Months",
         [&](sqlite3_stmt* st) { AppendElement(out, "Months", ColumnText(st, 0)); });
    out += "</TERM>\n";
    struct List {
      const char* element;
      const char* idName;
      const char* sql;
    };
    for (const List& l :
         {List{"CTYPE", "ContractTypeID",
               "SELECT ContractTypeID, Description FROM ContractTypes ORDER BY ContractTypeID"},
          List{"BVALUE", "CreditTypeID",
               "SELECT CreditTypeID, Description FROM CreditTypes ORDER BY CreditTypeID"},
          List{"APRTYPE", "APRTypeID",
               "SELECT APRTypeID, Description FROM APRTypes ORDER BY APRTypeID"}}) {
      rows(l.sql, [&](sqlite3_stmt* st) {
        out += '<';
        out += l.element;
        out += '>';
        AppendElement(out, l.idName, ColumnText(st, 0));
        AppendElement(out, "Description", ColumnText(st, 1));
        out += "</";
        out += l.element;
        out += ">\n";
      });
    }
    // Description first, identifier second: the control reads them by position.
    rows("SELECT Description, MemberAccessLevelID FROM AccessLevels ORDER BY MemberAccessLevelID",
         [&](sqlite3_stmt* st) {
           out += "<ACCESSLEVEL>";
           AppendElement(out, "Description", ColumnText(st, 0));
           AppendElement(out, "MemberAccessLevelID", ColumnText(st, 1));
           out += "</ACCESSLEVEL>\n";
         });
    bool travel = false;
    rows("SELECT ShowTravelOption FROM Centers WHERE CenterID = ?1",
         [&](sqlite3_stmt* st) { travel = sqlite3_column_int(st, 0) != 0; });
    out += travel ? "<SHOWTravelOption/>\n" : "<HIDETravelOption/>\n";
    rows("SELECT BankAccountTypeID, Description FROM BankAccountTypes ORDER BY BankAccountTypeID",
         [&](sqlite3_stmt* st) {
           out += "<T15>";
           AppendElement(out, "BankAccountTypeID", ColumnText(st, 0));
           AppendElement(out, "Description", ColumnText(st, 1));
           out += "</T15>\n";
         });
    const auto& queries = RecordQueries();
    for (std::size_t q = 0; q < queries.size(); ++q) {
      sqlite3_stmt* st = reader->records[q];
      sqlite3_reset(st);
      sqlite3_bind_int64(st, 1, center);
      const int columns = sqlite3_column_count(st);
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const char* element =
            kRecordElements[static_cast<std::size_t>(std::clamp(sqlite3_column_int(st, 0), 0, 15))];
        out += '<';
        out += element;
        out += '>';
        for (int c = 1; c < columns; ++c) {
          if (sqlite3_column_type(st, c) == SQLITE_NULL) continue;
          AppendColumn(out, sqlite3_column_name(st, c), st, c,
                       queries[q].forms[static_cast<std::size_t>(c - 1)]);
        }
        out += "</";
        out += element;
        out += ">\n";
      }
      sqlite3_reset(st);
      if (rc != SQLITE_DONE) throw DatabaseError(sqlite3_errmsg(db));
    }
    out += "</TermFees>\n";
  } catch (...) {
    TryExec(db, "ROLLBACK");
    throw;
  }
  TryExec(db, "COMMIT");
  ReleaseReader(std::move(reader));
  return out;
}

}  // namespace harnolfees::server
