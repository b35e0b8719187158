// The allow-list grammar: every statement the control builds is accepted,
// with the values read exactly. What it refuses is in the page's test, which
// posts the refusal corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "server_test_util.hpp"
#include "statement.hpp"
#include "support/mini_json.hpp"
#include "values.hpp"

namespace harnolfees::server::testing {
namespace {

using harnolfees::testing::Json;
using harnolfees::testing::JsonReader;

// The statements the control sent in the scenarios, as their expected output
// records them ({"received":STATEMENT}): a statement the control changes
// without the server following fails here once the scenario is regenerated.
std::vector<std::string> ScenarioStatements() {
  std::vector<std::string> out;
  const std::filesystem::path dir =
      std::filesystem::path(HARNOLFEES_TEST_DATA_DIR).parent_path() / "conformance";
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    if (file.path().extension() != ".jsonl") continue;
    std::ifstream in(file.path());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("{\"received\":", 0) != 0) continue;
      if (const std::optional<Json> json = JsonReader::Parse(line)) {
        out.push_back((*json)["received"].text);
      }
    }
  }
  return out;
}

StatementKind KindOfShape(const std::string& shape) {
  if (shape.find("insert") != std::string::npos) return StatementKind::Insert;
  if (shape.find("update") != std::string::npos) return StatementKind::Update;
  if (shape.find("delete") != std::string::npos) return StatementKind::Delete;
  if (shape.find("expiry") != std::string::npos) return StatementKind::Expire;
  return StatementKind::Reopen;
}

const Parameter* Find(const ParsedStatement& st, const std::string& name) {
  for (const auto& p : st.parameters) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

TEST(Grammar, AcceptsEveryStatementTheControlBuilds) {
  std::vector<bool> seen(ShapeCount(), false);
  std::vector<std::string> statements = ScenarioStatements();
  ASSERT_GT(statements.size(), 40u);
  // The one shape the control no longer sends: a renewal-fee DELETE by date
  // alone (the control names the access level and the travel flag); and any
  // letter case, blanks and the dbo. prefix.
  statements.insert(
      statements.end(),
      {" DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12",
       "delete from dbo.renewaloptionfee where effectivitydate='3/1/2004' and centerid=12",
       "Insert Into renewalOPTIONfee(centerid,effectivitydate,renewaloptionfee,recordlastupdated)"
       "values(12,'2004-03-15',49,getdate())"});
  for (const std::string& text : statements) {
    ParseOutcome o = ParseStatementText(text);
    ASSERT_TRUE(o.ok()) << text << "\n" << o.error;
    for (const ParsedStatement& st : o.statements) {
      const std::string shape(ShapeName(static_cast<std::size_t>(st.shape)));
      EXPECT_EQ(st.kind, KindOfShape(shape)) << text;
      EXPECT_EQ(st.mustMatchRow,
                st.kind == StatementKind::Update || st.kind == StatementKind::Delete);
      seen[static_cast<std::size_t>(st.shape)] = true;
    }
  }
  for (std::size_t shape = 0; shape < ShapeCount(); ++shape) {
    EXPECT_TRUE(seen[shape]) << "no statement of the shape " << ShapeName(shape);
  }
}

TEST(Grammar, ReadsValuesExactly) {
  // Money in ten-thousandths, percentages as exact fractions, dates with time.
  ParseOutcome o = ParseStatementText(
      " INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  Term, "
      "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  VALUES (12, "
      "'3/15/2004 3:04:05 PM', 922337203685477.5807, 36, 1E-07, 0.00005, 1,  GETDATE()) ");
  ASSERT_TRUE(o.ok()) << o.error;
  const ParsedStatement& st = o.statements[0];
  EXPECT_EQ(std::get<std::string>(Find(st, "EffectivityDate")->value), "2004-03-15 15:04:05");
  EXPECT_EQ(std::get<std::int64_t>(Find(st, "MembershipFee")->value), 9223372036854775807);
  EXPECT_EQ(std::get<std::int64_t>(Find(st, "Term")->value), 36);
  EXPECT_EQ(std::get<std::string>(Find(st, "MembershipRoyalty")->value), "0.0000001");
  EXPECT_EQ(std::get<std::int64_t>(Find(st, "MinimumRoyalty")->value), 1);  // rounded half up
  EXPECT_EQ(std::get<std::string>(Find(st, "RoyaltyReserve")->value), "1");
  EXPECT_TRUE(st.usesNow);

  // A bank account without closing date binds NULL; its numbers stay text.
  o = ParseStatementText(
      " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
      "SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 1, '03/15/2004', '0021', "
      "'1,234', 30, '01/02/2004', NULL,   GETDATE()) ");
  ASSERT_TRUE(o.ok()) << o.error;
  EXPECT_TRUE(std::holds_alternative<std::monostate>(Find(o.statements[0], "Closed")->value));
  EXPECT_EQ(std::get<std::string>(Find(o.statements[0], "RoutingNumber")->value), "0021");
  EXPECT_EQ(std::get<std::string>(Find(o.statements[0], "AccountNumber")->value), "1,234");
}

TEST(Values, DatesNumbersAndCodePage) {
  const std::vector<std::pair<std::string, std::string>> dates = {
      {"03/15/2004", "2004-03-15 00:00:00"},
      {"3/5/2004", "2004-03-05 00:00:00"},
      {"3/15/2004 12:00:00 AM", "2004-03-15 00:00:00"},
      {"3/15/2004 23:59", "2004-03-15 23:59:00"},
      {"2004-03-15T08:09:10", "2004-03-15 08:09:10"},
      {"2004-03-15 08:09:10.500", "2004-03-15 08:09:10"},
      {" 2/29/2004 ", "2004-02-29 00:00:00"},
      {"2/29/2005", ""},
      {"3/15/04", ""},
      {"15/03/2004", ""},
      {"3/15/2004 13:00 PM", ""},
      {"1/1/1752", ""},
      {"2004-00-10", ""},
      {"2004-03-15Z", ""},
      {"", ""}};
  for (const auto& [text, stored] : dates) {
    auto ts = Timestamp::Parse(text);
    EXPECT_EQ(ts ? ts->ToStorage() : "", stored) << text;
  }
  EXPECT_EQ(Timestamp::Parse("1/1/2005")->AddSeconds(-1)->ToIso(), "2004-12-31T23:59:59");
  EXPECT_FALSE(Timestamp::Parse("1/1/1753")->AddSeconds(-1).has_value());

  EXPECT_EQ(Decimal::Parse("1.5E-07")->ToText(), "0.00000015");
  EXPECT_EQ(Decimal::Parse("-003.500")->ToText(), "-3.5");
  EXPECT_FALSE(Decimal::Parse("1.2.3").has_value());
  EXPECT_FALSE(Decimal::Parse("1,000").has_value());
  EXPECT_EQ(*Decimal::Parse("-0.00015")->ToMoneyUnits(), -2);  // half away from zero
  EXPECT_EQ(*Decimal::Parse("-922337203685477.5808")->ToMoneyUnits(), INT64_MIN);
  EXPECT_FALSE(Decimal::Parse("922337203685477.58075")->ToMoneyUnits().has_value());
  EXPECT_EQ(MoneyUnitsToText(1205000), "120.5");
  EXPECT_EQ(MoneyUnitsToText(-5), "-0.0005");
  EXPECT_EQ(MoneyUnitsToText(INT64_MIN), "-922337203685477.5808");
  EXPECT_EQ(Decimal::Parse("1.00001")->CompareWith(1), 1);
  EXPECT_FALSE(Decimal::Parse("30.5")->ToInteger().has_value());

  EXPECT_EQ(*Windows1252ToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_FALSE(Windows1252ToUtf8("\x81").has_value());
}

}  // namespace
}  // namespace harnolfees::server::testing
