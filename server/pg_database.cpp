#include "pg_database.hpp"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstring>
#include <unordered_map>

#include "database_session.hpp"
#include "values.hpp"

namespace harnolfees::server {
namespace {

// The tables of the SQLite schema with PostgreSQL's types: money in bigint
// ten-thousandths, fractions in numeric (which keeps the digits it is given),
// dates in timestamp(0). Names are unquoted, so any letter case reaches them.
constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS Centers (
  CenterID bigint PRIMARY KEY,
  Name text NOT NULL,
  ShowTravelOption smallint NOT NULL DEFAULT 0 CHECK (ShowTravelOption IN (0, 1)));
CREATE TABLE IF NOT EXISTS Terms (
  Months integer PRIMARY KEY CHECK (Months > 0));
CREATE TABLE IF NOT EXISTS ContractTypes (
  ContractTypeID integer PRIMARY KEY CHECK (ContractTypeID >= 0),
  Description text NOT NULL CHECK (char_length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS CreditTypes (
  CreditTypeID integer PRIMARY KEY CHECK (CreditTypeID >= 1),
  Description text NOT NULL CHECK (char_length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS APRTypes (
  APRTypeID integer PRIMARY KEY CHECK (APRTypeID >= 1),
  Description text NOT NULL CHECK (char_length(Description) BETWEEN 1 AND 30));
CREATE TABLE IF NOT EXISTS AccessLevels (
  MemberAccessLevelID integer PRIMARY KEY,
  Description text NOT NULL CHECK (char_length(Description) BETWEEN 1 AND 10));
CREATE TABLE IF NOT EXISTS BankAccountTypes (
  BankAccountTypeID integer PRIMARY KEY,
  Description text NOT NULL CHECK (char_length(Description) BETWEEN 1 AND 30));

CREATE TABLE IF NOT EXISTS MembershipFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  MembershipFee bigint NOT NULL,
  Term integer NOT NULL CHECK (Term BETWEEN 0 AND 32767),
  MembershipRoyalty numeric NOT NULL,
  MinimumRoyalty bigint NOT NULL,
  RoyaltyReserve numeric NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS ValuePlusFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  ValuePlusFee bigint NOT NULL,
  CenterPortion bigint NOT NULL,
  HarnolPortion bigint NOT NULL,
  HealthFee bigint NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS ValuePlusRenewalFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  ValuePlusRenewalFee bigint NOT NULL,
  CenterPortion bigint NOT NULL,
  HarnolPortion bigint NOT NULL,
  HealthFee bigint NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS RenewalOptionFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  RenewalOptionFee bigint NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaAPR (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  BetaAPR numeric NOT NULL,
  BetaAPRTypeID integer NOT NULL REFERENCES APRTypes (APRTypeID),
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, BetaAPRTypeID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaProcessingFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  BetaContractTypeID integer NOT NULL REFERENCES ContractTypes (ContractTypeID),
  EffectivityDate timestamp(0) NOT NULL,
  BetaProcessingFee bigint NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, BetaContractTypeID, EffectivityDate));
CREATE TABLE IF NOT EXISTS BetaReserve (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  ContractType integer NOT NULL REFERENCES ContractTypes (ContractTypeID),
  CreditTypeBitwiseValue integer NOT NULL,
  EffectivityDate timestamp(0) NOT NULL,
  BetaReserve numeric NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, ContractType, EffectivityDate));
CREATE TABLE IF NOT EXISTS MembershipRenewalFee (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  EffectivityDate timestamp(0) NOT NULL,
  MembershipRenewalFee bigint NOT NULL,
  CenterPortion numeric NOT NULL,
  MemberAccessLevelID integer NOT NULL REFERENCES AccessLevels (MemberAccessLevelID),
  TravelMembership smallint NOT NULL DEFAULT 0 CHECK (TravelMembership IN (0, 1)),
  RecordLastUpdated timestamp(0),
  ExpirationDate timestamp(0),
  PRIMARY KEY (CenterID, MemberAccessLevelID, TravelMembership, EffectivityDate));
CREATE TABLE IF NOT EXISTS BankAccount (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  Type integer NOT NULL REFERENCES BankAccountTypes (BankAccountTypeID),
  EffectivityDate timestamp(0) NOT NULL,
  RoutingNumber text NOT NULL CHECK (char_length(RoutingNumber) <= 20),
  AccountNumber text NOT NULL CHECK (char_length(AccountNumber) <= 20),
  SweepSpan integer NOT NULL CHECK (SweepSpan >= 0),
  Opened timestamp(0) NOT NULL,
  Closed timestamp(0),
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, Type, EffectivityDate));
CREATE TABLE IF NOT EXISTS SalesTax (
  CenterID bigint NOT NULL REFERENCES Centers (CenterID),
  Type integer NOT NULL CHECK (Type BETWEEN 1 AND 5),
  EffectivityDate timestamp(0) NOT NULL,
  Membership numeric NOT NULL,
  Renewal numeric NOT NULL,
  Merchandise numeric NOT NULL,
  RecordLastUpdated timestamp(0),
  PRIMARY KEY (CenterID, Type, EffectivityDate));
CREATE INDEX IF NOT EXISTS BetaAPRByDate ON BetaAPR (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BetaProcessingFeeByDate ON BetaProcessingFee (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BetaReserveByDate ON BetaReserve (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS MembershipRenewalFeeByDate
  ON MembershipRenewalFee (CenterID, EffectivityDate);
CREATE INDEX IF NOT EXISTS BankAccountByDate ON BankAccount (CenterID, EffectivityDate);

INSERT INTO Terms (Months) SELECT m FROM (VALUES (12), (24), (36), (48), (60)) AS v (m)
  WHERE NOT EXISTS (SELECT 1 FROM Terms);
INSERT INTO ContractTypes (ContractTypeID, Description)
  SELECT i, d FROM (VALUES (0, 'Standard'), (1, 'Premium'), (2, 'Corporate'), (3, 'Family'))
    AS v (i, d)
  WHERE NOT EXISTS (SELECT 1 FROM ContractTypes);
INSERT INTO CreditTypes (CreditTypeID, Description)
  SELECT i, d FROM (VALUES (1, 'Excellent'), (2, 'Good'), (3, 'Fair'), (4, 'Poor')) AS v (i, d)
  WHERE NOT EXISTS (SELECT 1 FROM CreditTypes);
INSERT INTO APRTypes (APRTypeID, Description)
  SELECT i, d FROM (VALUES (1, 'Fixed'), (2, 'Variable'), (3, 'Promotional')) AS v (i, d)
  WHERE NOT EXISTS (SELECT 1 FROM APRTypes);
INSERT INTO AccessLevels (MemberAccessLevelID, Description)
  SELECT i, d FROM (VALUES (1, 'Basic'), (2, 'Silver'), (3, 'Gold'), (4, 'Travel')) AS v (i, d)
  WHERE NOT EXISTS (SELECT 1 FROM AccessLevels);
INSERT INTO BankAccountTypes (BankAccountTypeID, Description)
  SELECT i, d FROM (VALUES (1, 'Operating'), (2, 'Payroll'), (3, 'Deposit'), (4, 'Reserve'))
    AS v (i, d)
  WHERE NOT EXISTS (SELECT 1 FROM BankAccountTypes);
)SQL";

constexpr const char* kUsersTable = R"SQL(
CREATE TABLE IF NOT EXISTS Users (
  Name text PRIMARY KEY,
  Entry text NOT NULL);
)SQL";

// Any constant: two servers starting at once make or upgrade the schema one
// after the other.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(170017)";

class PgError : public DatabaseError {
 public:
  PgError(const std::string& message, std::string state, bool connectionLost)
      : DatabaseError(message), state(std::move(state)), connectionLost(connectionLost) {}
  std::string state;  // SQLSTATE, empty when none came back
  bool connectionLost;
};

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// ?1, ?2 ... as $1, $2 ...
std::string DollarParameters(const std::string& sql) {
  std::string out = sql;
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '?' && std::isdigit(static_cast<unsigned char>(out[i + 1]))) out[i] = '$';
  }
  return out;
}

// A statement shape in PostgreSQL's form: its named parameters become $1,
// $2 ... in order of first appearance, IFNULL becomes COALESCE.
struct PgShape {
  std::string sql;
  std::vector<std::string> parameters;
};

PgShape ConvertShape(const std::string& sql) {
  PgShape out;
  std::size_t i = 0;
  auto wordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  while (i < sql.size()) {
    if (sql[i] == ':' && i + 1 < sql.size() && wordChar(sql[i + 1])) {
      std::size_t e = i + 1;
      while (e < sql.size() && wordChar(sql[e])) ++e;
      const std::string name = sql.substr(i + 1, e - i - 1);
      auto it = std::find(out.parameters.begin(), out.parameters.end(), name);
      if (it == out.parameters.end()) it = out.parameters.insert(it, name);
      out.sql += "$" + std::to_string(it - out.parameters.begin() + 1);
      i = e;
    } else if (wordChar(sql[i]) && (i == 0 || !wordChar(sql[i - 1]))) {
      std::size_t e = i;
      while (e < sql.size() && wordChar(sql[e])) ++e;
      const std::string word = sql.substr(i, e - i);
      out.sql += word == "IFNULL" ? "COALESCE" : word;
      i = e;
    } else {
      out.sql += sql[i++];
    }
  }
  return out;
}

const std::vector<PgShape>& PgShapes() {
  static const std::vector<PgShape> shapes = [] {
    std::vector<PgShape> v;
    for (std::size_t s = 0; s < ShapeCount(); ++s) v.push_back(ConvertShape(ShapeSql(s)));
    return v;
  }();
  return shapes;
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

class PgRow final : public Row {
 public:
  PgRow(const PGresult* r, int row) : r_(r), row_(row) {}
  int Columns() const override { return PQnfields(r_); }
  bool IsNull(int c) const override { return PQgetisnull(r_, row_, c) != 0; }
  std::string_view Text(int c) const override {
    return {PQgetvalue(r_, row_, c), static_cast<std::size_t>(PQgetlength(r_, row_, c))};
  }
  std::int64_t Int(int c) const override {
    const std::string_view t = Text(c);
    std::int64_t v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
  }

 private:
  const PGresult* r_;
  int row_;
};

}  // namespace

// One connection to the server, with the statements it has prepared.
class PgConnection final : public Session {
 public:
  explicit PgConnection(const DatabaseOptions& options) {
    const std::string timeout = std::to_string(std::max(2, options.connectTimeoutS));
    const char* keys[] = {"dbname", "connect_timeout", "fallback_application_name", nullptr};
    const char* values[] = {options.path.c_str(), timeout.c_str(), "harnolfees-server", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      const std::string why = conn_ ? Trimmed(PQerrorMessage(conn_)) : "out of memory";
      PQfinish(conn_);
      throw DatabaseError("cannot connect to the database: " + why);
    }
    // "relation already exists, skipping" and the like are no news.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    try {
      Script("SET DateStyle = ISO, YMD; SET statement_timeout = " +
             std::to_string(std::max(0, options.statementTimeoutMs)));
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~PgConnection() override { PQfinish(conn_); }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Whether the connection can take another request.
  bool Usable() const {
    return PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
  }
  bool Lost() const { return PQstatus(conn_) != CONNECTION_OK; }
  // Whether the server has left an idle connection alone, found without a
  // round trip: an idle connection is sent nothing, so anything to read (an
  // error of a terminated session, or the end of the stream of a stopped or
  // restarted server) means it is gone.
  bool StillOpen() const {
    if (PQstatus(conn_) != CONNECTION_OK) return false;
    pollfd p{PQsocket(conn_), POLLIN, 0};
    return poll(&p, 1, 0) == 0;
  }

  void Run(const std::string& sql, const std::vector<Cell>& cells, const EachRow& each) override {
    std::vector<std::string> texts(cells.size());
    std::vector<const char*> values(cells.size(), nullptr);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (const auto* n = std::get_if<std::int64_t>(&cells[i])) {
        texts[i] = std::to_string(*n);
        values[i] = texts[i].c_str();
      } else if (const auto* t = std::get_if<std::string>(&cells[i])) {
        values[i] = t->c_str();
      }
    }
    auto it = queries_.find(sql);
    if (it == queries_.end()) {
      const std::string name = "q" + std::to_string(queries_.size());
      Prepare(name, DollarParameters(sql));
      it = queries_.emplace(sql, name).first;
    }
    Result r = Exec(it->second, values);
    if (each) {
      for (int row = 0; row < PQntuples(r.get()); ++row) each(PgRow(r.get(), row));
    }
  }

  void Script(const std::string& sql) override { Check(Result(PQexec(conn_, sql.c_str()))); }

  // Runs a statement shape with the values of the parsed statement; the
  // number of rows it changed.
  std::int64_t RunShape(const ParsedStatement& ps, const std::string& now) {
    const auto shape = static_cast<std::size_t>(ps.shape);
    const PgShape& pg = PgShapes().at(shape);
    if (shapes_.size() <= shape) shapes_.resize(ShapeCount(), false);
    const std::string name = "s" + std::to_string(shape);
    if (!shapes_[shape]) {
      Prepare(name, pg.sql);
      shapes_[shape] = true;
    }
    std::vector<std::string> texts(pg.parameters.size());
    std::vector<const char*> values(pg.parameters.size(), nullptr);
    for (std::size_t i = 0; i < pg.parameters.size(); ++i) {
      const std::string& want = pg.parameters[i];
      if (want == "Now") {
        values[i] = now.c_str();
        continue;
      }
      for (const Parameter& p : ps.parameters) {
        if (p.name != want) continue;
        if (const auto* n = std::get_if<std::int64_t>(&p.value)) {
          texts[i] = std::to_string(*n);
          values[i] = texts[i].c_str();
        } else if (const auto* t = std::get_if<std::string>(&p.value)) {
          values[i] = t->c_str();
        }
        break;
      }
    }
    Result r = Exec(name, values);
    std::int64_t changed = 0;
    const char* tuples = PQcmdTuples(r.get());
    std::from_chars(tuples, tuples + std::strlen(tuples), changed);
    return changed;
  }

  // COMMIT; throws unless the server acknowledged it as a commit.
  void Commit() {
    Result r(PQexec(conn_, "COMMIT"));
    Check(r);
    if (std::strcmp(PQcmdStatus(r.get()), "COMMIT") != 0) {
      throw PgError("the transaction was rolled back", "", false);
    }
  }
  void RollbackQuietly() {
    if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_IDLE) {
      PQclear(PQexec(conn_, "ROLLBACK"));
    }
  }

 private:
  void Prepare(const std::string& name, const std::string& sql) {
    Check(Result(PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr)));
  }
  Result Exec(const std::string& name, const std::vector<const char*>& values) {
    Result r(PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(),
                            nullptr, nullptr, 0));
    Check(r);
    return r;
  }
  void Check(const Result& r) const {
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
    std::string message = Trimmed(r ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn_));
    if (message.empty()) message = Trimmed(PQerrorMessage(conn_));
    if (message.rfind("ERROR:  ", 0) == 0) message.erase(0, 8);
    if (const auto cut = message.find('\n'); cut != std::string::npos) message.resize(cut);
    throw PgError(message, state ? state : "", PQstatus(conn_) != CONNECTION_OK);
  }

  PGconn* conn_ = nullptr;
  std::unordered_map<std::string, std::string> queries_;  // SQL -> prepared name
  std::vector<bool> shapes_;
};

namespace {

// What a failed statement means for the operator.
ExecOutcome Outcome(const PgError& e, const std::string& which) {
  using S = ExecOutcome::Status;
  const std::string& s = e.state;
  if (e.connectionLost || s.rfind("08", 0) == 0 || s == "57P01" || s == "57P02" || s == "57P03") {
    return {S::Failed, "failed: " + which + "the database is not available: " + e.what()};
  }
  if (s == "23505") {
    return {S::Conflict, "refused: " + which +
                             "a record with the same effectivity date and key already exists (" +
                             e.what() + ")"};
  }
  if (s == "23503") {
    return {S::Refused, "refused: " + which +
                            "a value names no known center, type or access level (" + e.what() +
                            ")"};
  }
  if (s == "23514" || s == "23502" || s.rfind("22", 0) == 0) {
    return {S::Refused,
            "refused: " + which + "a value is outside what the column holds (" + e.what() + ")"};
  }
  if (s == "57014") {
    return {S::Failed,
            "failed: " + which + "the database did not answer within the statement time-out"};
  }
  return {S::Failed, "failed: " + which + "database error: " + e.what()};
}

const std::string kCenterExists = "SELECT 1 FROM Centers WHERE CenterID = ?1";

bool CenterExists(PgConnection& c, std::int64_t center) {
  bool found = false;
  c.Run(kCenterExists, {center}, [&](const Row&) { found = true; });
  return found;
}

ExecOutcome MissingCenter(const ParsedStatement& ps, const std::string& which) {
  return {ExecOutcome::Status::Refused,
          "refused: " + which + "center " + std::to_string(ps.center) + " does not exist"};
}

}  // namespace

PgDatabase::PgDatabase(DatabaseOptions options) : Database(std::move(options)) {
  options_.pool = std::max(1, options_.pool);
  InTransaction(true, [](Session& s) {
    s.Run(kSchemaLock);
    UpgradeSchema(s, {kSchema, kUsersTable});
  });
}

PgDatabase::~PgDatabase() = default;

std::unique_ptr<PgConnection> PgDatabase::Acquire() {
  std::unique_lock lock(mutex_);
  // A request waits for a connection as long as for a statement, and at
  // least ten seconds.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max(10000, options_.statementTimeoutMs));
  for (;;) {
    while (!idle_.empty()) {
      auto c = std::move(idle_.back());
      idle_.pop_back();
      if (c->StillOpen()) return c;
      --open_;
    }
    if (open_ < options_.pool) {
      ++open_;
      lock.unlock();
      try {
        return std::make_unique<PgConnection>(options_);
      } catch (...) {
        lock.lock();
        --open_;
        returned_.notify_one();
        throw;
      }
    }
    if (returned_.wait_until(lock, deadline) == std::cv_status::timeout && idle_.empty() &&
        open_ >= options_.pool) {
      throw DatabaseError("all " + std::to_string(options_.pool) + " connections stayed busy");
    }
  }
}

void PgDatabase::Release(std::unique_ptr<PgConnection> connection) {
  std::vector<std::unique_ptr<PgConnection>> dropped;
  {
    std::lock_guard lock(mutex_);
    if (connection->Usable()) {
      idle_.push_back(std::move(connection));
    } else {
      // A lost connection most likely means a restarted or unreachable
      // server: the idle ones went with it, so they are made anew as well.
      dropped.push_back(std::move(connection));
      if (dropped.front()->Lost()) {
        for (auto& c : idle_) dropped.push_back(std::move(c));
        idle_.clear();
      }
      open_ -= static_cast<int>(dropped.size());
    }
    returned_.notify_all();
  }
}

ExecOutcome PgDatabase::Execute(std::vector<ParsedStatement> statements,
                                const std::function<bool()>& wanted) {
  ExecOutcome outcome;
  // A connection lost before any change of the text was sent is replaced
  // once: it broke while idle in the pool (a restart of the server).
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::unique_ptr<PgConnection> connection;
    try {
      connection = Acquire();
    } catch (const DatabaseError& e) {
      return {ExecOutcome::Status::Failed,
              std::string("failed: the database is not available: ") + e.what()};
    }
    // A connection is this text's now: one whose client left while it
    // waited for it is not run.
    if (wanted && !wanted()) {
      Release(std::move(connection));
      return {ExecOutcome::Status::Abandoned,
              "refused: the client had gone; the statement was not executed"};
    }
    bool retry = false;
    outcome = RunOnce(*connection, statements, retry);
    Release(std::move(connection));
    if (!retry) break;
  }
  return outcome;
}

ExecOutcome PgDatabase::RunOnce(PgConnection& c, const std::vector<ParsedStatement>& statements,
                                bool& retry) {
  using S = ExecOutcome::Status;
  const std::string now = options_.Now().ToStorage();
  // One statement runs alone, in a transaction of its own; two share one.
  const bool together = statements.size() > 1;
  bool begun = false;  // a command of this text may have reached the server
  std::string which;
  try {
    if (together) {
      c.Script("BEGIN");
      begun = true;
    }
    for (std::size_t k = 0; k < statements.size(); ++k) {
      const ParsedStatement& ps = statements[k];
      which = together ? "statement " + std::to_string(k + 1) + ": " : "";
      // The center is looked up only when the statement changed nothing or
      // named something unknown: a save that works costs one round trip.
      std::int64_t changed = 0;
      // Once a change is sent, a lost connection leaves its outcome unknown:
      // the text is answered as failed and not sent again.
      begun = true;
      try {
        changed = c.RunShape(ps, now);
      } catch (const PgError& e) {
        if (e.state != "23503") throw;
        c.RollbackQuietly();
        if (!CenterExists(c, ps.center)) return MissingCenter(ps, which);
        throw;
      }
      if (changed == 0 && !CenterExists(c, ps.center)) {
        c.RollbackQuietly();
        return MissingCenter(ps, which);
      }
      if (ps.mustMatchRow && changed == 0) {
        c.RollbackQuietly();
        std::string message = "record not found: " + which + "the " +
                              std::string(KindName(ps.kind)) + " of " + ps.table +
                              " matched no record of center " + std::to_string(ps.center);
        for (const Parameter& p : ps.parameters) {
          if (p.name != "OldEffectivityDate") continue;
          if (const auto* old = std::get_if<std::string>(&p.value)) {
            if (auto ts = Timestamp::FromStorage(*old)) {
              message += " with effectivity date " + ts->ToIso();
            }
          }
        }
        message += "; nothing was changed";
        return {S::NotFound, message};
      }
    }
    if (together) c.Commit();
    return {};
  } catch (const PgError& e) {
    if (e.connectionLost && !begun) retry = true;
    c.RollbackQuietly();
    return Outcome(e, which);
  } catch (const DatabaseError& e) {
    c.RollbackQuietly();
    return {S::Failed, "failed: " + which + "database error: " + e.what()};
  }
}

void PgDatabase::InTransaction(bool write, const std::function<void(Session&)>& work) {
  for (int attempt = 0;; ++attempt) {
    auto c = Acquire();
    try {
      c->Script(write ? "BEGIN" : "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    } catch (const PgError& e) {
      const bool lost = e.connectionLost;
      Release(std::move(c));
      if (lost && attempt == 0) continue;
      throw;
    }
    try {
      work(*c);
      c->Commit();
    } catch (...) {
      c->RollbackQuietly();
      Release(std::move(c));
      throw;
    }
    Release(std::move(c));
    return;
  }
}

bool PgDatabase::Answers(std::string& why) {
  try {
    InTransaction(false, [](Session& s) { s.Run("SELECT 1"); });
    return true;
  } catch (const std::exception& e) {
    why = e.what();
    return false;
  }
}

}  // namespace harnolfees::server
