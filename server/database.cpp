#include "database.hpp"

#include <algorithm>
#include <array>
#include <charconv>

#include "database_session.hpp"
#include "pg_database.hpp"
#include "sqlite_database.hpp"
#include "values.hpp"

namespace harnolfees::server {
namespace {

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

// The element names of a query's fields: each select item's alias, or its
// column name without the table prefix. The first item (the record-set
// number) has none.
std::vector<std::string> FieldNames(const std::string& sql) {
  const std::size_t from = sql.find(" FROM ");
  std::string list = sql.substr(7, from - 7);  // after "SELECT "
  std::vector<std::string> names;
  std::size_t start = 0;
  bool first = true;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    const std::size_t as = item.find(" AS ");
    if (as != std::string::npos) item = item.substr(as + 4);
    item.erase(0, item.find_first_not_of(' '));
    item.erase(item.find_last_not_of(' ') + 1);
    if (const std::size_t dot = item.find('.'); dot != std::string::npos) item.erase(0, dot + 1);
    if (!first) names.push_back(item);
    first = false;
    start = comma + 1;
  }
  return names;
}

// How a column of a record query is written into the load document.
enum class Form { Plain, Date, DateOnly, Money };

struct RecordQuery {
  std::string sql;  // first column: the record-set number; the others are fields
  std::vector<Form> forms;
  std::vector<std::string> names = {};  // element names of the fields
};

const std::vector<RecordQuery>& RecordQueries() {
  using F = Form;
  static const std::vector<RecordQuery> queries = [] {
    std::vector<RecordQuery> q = {
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
         "t.BankAccountTypeID = b.Type WHERE b.CenterID = ?1 ORDER BY b.EffectivityDate DESC, "
         "b.Type",
         {F::Plain, F::Plain, F::Date, F::Plain, F::Plain, F::Plain, F::Date, F::DateOnly, F::Date,
          F::Plain}},
        {"SELECT 9 + Type, CenterID, Type, EffectivityDate AS Effectivity, Membership, Renewal, "
         "Merchandise, RecordLastUpdated FROM SalesTax WHERE CenterID = ?1 "
         "ORDER BY Type, EffectivityDate DESC",
         {F::Plain, F::Plain, F::Date, F::Plain, F::Plain, F::Plain, F::Date}},
    };
    for (RecordQuery& r : q) r.names = FieldNames(r.sql);
    return q;
  }();
  return queries;
}

constexpr std::array<const char*, 16> kRecordElements{"T0",  "T1",  "T2",  "T3", "T4",  "T5",
                                                      "T6",  "T7",  "T8",  "T9", "T10", "T11",
                                                      "T12", "T13", "T14", "T15"};

// Appends <name>value</name> for one column of a record row. Stored dates
// ("yyyy-mm-dd hh:mm:ss") only need their blank turned into the ISO "T".
void AppendColumn(std::string& out, const std::string& name, const Row& row, int col, Form form) {
  out += '<';
  out += name;
  out += '>';
  switch (form) {
    case Form::Money:
      out += MoneyUnitsToText(row.Int(col));
      break;
    case Form::Date:
    case Form::DateOnly: {
      const std::string_view stored = row.Text(col);
      if (stored.size() == 19 && stored[10] == ' ') {
        out.append(stored.substr(0, 10));
        if (form == Form::Date) {
          out += 'T';
          out.append(stored.substr(11));
        }
      } else {
        AppendEscaped(out, stored);
      }
      break;
    }
    case Form::Plain:
      AppendEscaped(out, row.Text(col));
      break;
  }
  out += "</";
  out += name;
  out += '>';
}

}  // namespace

std::string BuildLoadDocument(Session& session, std::int64_t center) {
  std::string out;
  out.reserve(4096);
  const std::vector<Cell> key{center};
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TermFees Center=\"";
  out += std::to_string(center);
  out += "\">\n";
  out += "<TERM>";
  session.Run("SELECT Months FROM Terms ORDER BY Months",
              [&](const Row& r) { AppendElement(out, "Months", r.Text(0)); });
  out += "</TERM>\n";
  struct List {
    const char* element;
    const char* idName;
    std::string sql;
  };
  static const std::array<List, 3> kLists{
      List{"CTYPE", "ContractTypeID",
           "SELECT ContractTypeID, Description FROM ContractTypes ORDER BY ContractTypeID"},
      List{"BVALUE", "CreditTypeID",
           "SELECT CreditTypeID, Description FROM CreditTypes ORDER BY CreditTypeID"},
      List{"APRTYPE", "APRTypeID",
           "SELECT APRTypeID, Description FROM APRTypes ORDER BY APRTypeID"}};
  for (const List& l : kLists) {
    session.Run(l.sql, [&](const Row& r) {
      out += '<';
      out += l.element;
      out += '>';
      AppendElement(out, l.idName, r.Text(0));
      AppendElement(out, "Description", r.Text(1));
      out += "</";
      out += l.element;
      out += ">\n";
    });
  }
  // Description first, identifier second: the control reads them by position.
  session.Run(
      "SELECT Description, MemberAccessLevelID FROM AccessLevels ORDER BY MemberAccessLevelID",
      [&](const Row& r) {
        out += "<ACCESSLEVEL>";
        AppendElement(out, "Description", r.Text(0));
        AppendElement(out, "MemberAccessLevelID", r.Text(1));
        out += "</ACCESSLEVEL>\n";
      });
  bool travel = false;
  session.Run("SELECT ShowTravelOption FROM Centers WHERE CenterID = ?1", key,
              [&](const Row& r) { travel = r.Int(0) != 0; });
  out += travel ? "<SHOWTravelOption/>\n" : "<HIDETravelOption/>\n";
  session.Run(
      "SELECT BankAccountTypeID, Description FROM BankAccountTypes ORDER BY BankAccountTypeID",
      [&](const Row& r) {
        out += "<T15>";
        AppendElement(out, "BankAccountTypeID", r.Text(0));
        AppendElement(out, "Description", r.Text(1));
        out += "</T15>\n";
      });
  for (const RecordQuery& q : RecordQueries()) {
    session.Run(q.sql, key, [&](const Row& r) {
      const char* element =
          kRecordElements[static_cast<std::size_t>(std::clamp<std::int64_t>(r.Int(0), 0, 15))];
      out += '<';
      out += element;
      out += '>';
      const int columns = std::min(r.Columns(), static_cast<int>(q.names.size()) + 1);
      for (int c = 1; c < columns; ++c) {
        if (r.IsNull(c)) continue;
        const auto f = static_cast<std::size_t>(c - 1);
        AppendColumn(out, q.names[f], r, c, q.forms[f]);
      }
      out += "</";
      out += element;
      out += ">\n";
    });
  }
  out += "</TermFees>\n";
  return out;
}

void UpgradeSchema(Session& session, const std::vector<std::string>& steps) {
  session.Script("CREATE TABLE IF NOT EXISTS SchemaVersion (Version INTEGER NOT NULL)");
  std::int64_t version = 0;
  bool recorded = false;
  session.Run("SELECT max(Version) FROM SchemaVersion", [&](const Row& r) {
    if (!r.IsNull(0)) {
      version = r.Int(0);
      recorded = true;
    }
  });
  const auto known = static_cast<std::int64_t>(steps.size());
  if (version > known) {
    throw DatabaseError("the database has schema version " + std::to_string(version) +
                        "; this server knows versions up to " + std::to_string(known));
  }
  for (auto i = static_cast<std::size_t>(version); i < steps.size(); ++i) session.Script(steps[i]);
  if (!recorded) {
    session.Run("INSERT INTO SchemaVersion (Version) VALUES (?1)", {known});
  } else if (version != known) {
    session.Run("UPDATE SchemaVersion SET Version = ?1", {known});
  }
}

const std::vector<TableInfo>& Tables() {
  static const std::vector<TableInfo> tables = {
      {"Centers", "CenterID"},
      {"Terms", "Months", true},
      {"ContractTypes", "ContractTypeID", true},
      {"CreditTypes", "CreditTypeID", true},
      {"APRTypes", "APRTypeID", true},
      {"AccessLevels", "MemberAccessLevelID", true},
      {"BankAccountTypes", "BankAccountTypeID", true},
      {"MembershipFee", "CenterID, EffectivityDate"},
      {"ValuePlusFee", "CenterID, EffectivityDate"},
      {"ValuePlusRenewalFee", "CenterID, EffectivityDate"},
      {"RenewalOptionFee", "CenterID, EffectivityDate"},
      {"BetaAPR", "CenterID, BetaAPRTypeID, EffectivityDate"},
      {"BetaProcessingFee", "CenterID, BetaContractTypeID, EffectivityDate"},
      {"BetaReserve", "CenterID, ContractType, EffectivityDate"},
      {"MembershipRenewalFee", "CenterID, MemberAccessLevelID, TravelMembership, EffectivityDate"},
      {"BankAccount", "CenterID, Type, EffectivityDate"},
      {"SalesTax", "CenterID, Type, EffectivityDate"},
      {"Users", "Name"},
  };
  return tables;
}

void Database::EnsureCenter(std::int64_t center, const std::string& name, bool showTravelOption) {
  InTransaction(true, [&](Session& s) {
    s.Run(
        "INSERT INTO Centers (CenterID, Name, ShowTravelOption) VALUES (?1, ?2, ?3) "
        "ON CONFLICT (CenterID) DO UPDATE SET ShowTravelOption = excluded.ShowTravelOption",
        {center, name, std::int64_t{showTravelOption ? 1 : 0}});
  });
}

void Database::FillDemo() {
  InTransaction(true, [](Session& s) { FillDemoRows(s); });
}

std::string Database::LoadDocument(std::int64_t center) {
  std::string out;
  InTransaction(false, [&](Session& s) { out = BuildLoadDocument(s, center); });
  return out;
}

std::vector<std::string> Database::UserEntries() {
  std::vector<std::string> entries;
  InTransaction(false, [&](Session& s) {
    s.Run("SELECT Entry FROM Users ORDER BY Name",
          [&](const Row& r) { entries.emplace_back(r.Text(0)); });
  });
  return entries;
}

std::int64_t Database::CopyFrom(Database& source) {
  std::int64_t copied = 0;
  InTransaction(true, [&](Session& to) {
    source.InTransaction(false, [&](Session& from) {
      const auto& tables = Tables();
      // Children first when clearing the lookup lists, parents first when filling.
      for (auto t = tables.rbegin(); t != tables.rend(); ++t) {
        std::int64_t rows = 0;
        to.Run(std::string("SELECT count(*) FROM ") + t->name,
               [&](const Row& r) { rows = r.Int(0); });
        if (rows != 0 && !t->lookup) {
          throw DatabaseError(std::string("the table ") + t->name +
                              " of the target already holds rows; copy into a new database");
        }
        if (rows != 0) to.Run(std::string("DELETE FROM ") + t->name);
      }
      for (const TableInfo& t : tables) {
        std::string insert;
        std::vector<Cell> cells;
        from.Run(std::string("SELECT * FROM ") + t.name + " ORDER BY " + t.orderBy,
                 [&](const Row& r) {
                   if (insert.empty()) {
                     insert = std::string("INSERT INTO ") + t.name + " VALUES (";
                     for (int c = 0; c < r.Columns(); ++c) {
                       insert += (c ? ", ?" : "?") + std::to_string(c + 1);
                     }
                     insert += ')';
                   }
                   cells.clear();
                   for (int c = 0; c < r.Columns(); ++c) {
                     if (r.IsNull(c)) {
                       cells.emplace_back(std::monostate{});
                     } else {
                       cells.emplace_back(std::string(r.Text(c)));
                     }
                   }
                   to.Run(insert, cells);
                   ++copied;
                 });
      }
    });
  });
  return copied;
}

bool IsPostgresTarget(const std::string& target) {
  if (target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0) return true;
  // libpq's key=value text names at least one of these.
  for (const char* key : {"dbname=", "host=", "hostaddr=", "service="}) {
    const std::size_t at = target.find(key);
    if (at != std::string::npos && (at == 0 || target[at - 1] == ' ')) return true;
  }
  return false;
}

std::unique_ptr<Database> OpenDatabase(const DatabaseOptions& options) {
  if (IsPostgresTarget(options.path)) return std::make_unique<PgDatabase>(options);
  return std::make_unique<SqliteDatabase>(options);
}

}  // namespace harnolfees::server
