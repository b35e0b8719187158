// The allow-list grammar: every statement the control builds is accepted,
// with the values read exactly; everything else is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_test_util.hpp"
#include "statement.hpp"
#include "values.hpp"

namespace harnolfees::server::testing {
namespace {

// The statements exactly as the control builds them, blanks included (center
// 12, new date 03/15/2004, old date in the default date text), and the shape
// each must match. The sales-tax ones stand for all five tax types.
const std::vector<std::pair<std::string, std::string>> kControlStatements = {
    {"membership fee insert",
     " INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  Term,"
     " MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  VALUES (12,"
     " '03/15/2004', 120.5, 12, 0.15, 25, 0.05,  GETDATE()) "},
    {"membership fee update",
     " UPDATE MembershipFee SET  EffectivityDate = '03/15/2004',  MembershipFee = 130,  Term"
     " = 24,   MembershipRoyalty = 0.1,   MinimumRoyalty = 30,  RoyaltyReserve = 0.04,"
     "   RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Value Plus fee insert",
     "  INSERT INTO ValuePlusFee ( CenterID, EffectivityDate, ValuePlusFee, CenterPortion,"
     " HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12, '03/15/2004', 100, 40, 30,"
     " 29.99,  GETDATE()) "},
    {"Value Plus renewal fee insert",
     " INSERT INTO ValuePlusRenewalFee ( CenterID, EffectivityDate, ValuePlusRenewalFee,"
     " CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12,"
     " '03/15/2004', 100, 40, 30, 29.99, GETDATE())"},
    {"Value Plus fee update",
     " UPDATE ValuePlusFee SET EffectivityDate = '03/15/2004', ValuePlusFee =  100,"
     "   CenterPortion =  40, HarnolPortion = 30, HealthFee =  20,  RecordLastUpdated ="
     " GETDATE() WHERE    EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Value Plus renewal fee update",
     " UPDATE ValuePlusRenewalFee SET EffectivityDate = '03/15/2004', ValuePlusRenewalFee ="
     "  100,  CenterPortion =  40, HarnolPortion =  30, HealthFee =  20,  RecordLastUpdated"
     " = GETDATE() WHERE    EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"renewal option fee insert",
     " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee,"
     " RecordLastUpdated)  VALUES (12, '03/15/2004', 49,  GETDATE()) "},
    {"renewal option fee update",
     " UPDATE RENEWALOPTIONFEE SET EffectivityDate = '03/15/2004', RenewalOptionFee = 55,"
     " RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Beta APR insert",
     " INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID,"
     " RecordLastUpdated)  VALUES (12, '03/15/2004', 0.0725, 2,  GETDATE()) "},
    {"Beta APR update",
     " UPDATE BETAAPR SET EffectivityDate ='03/15/2004', BetaAPR = 0.0725, BetaAPRTypeID ="
     " 3, RecordLastUpdated = GETDATE()  WHERE EffectivityDate = '3/1/2004' AND CenterID ="
     " 12 AND BetaAPRTypeID = 2"},
    {"Beta processing fee insert",
     " INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, EffectivityDate,"
     " BetaProcessingFee, RecordLastUpdated)  VALUES (12, 0, '03/15/2004', 35,  GETDATE()) "},
    {"Beta processing fee update",
     " UPDATE BETAPROCESSINGFEE SET BetaContractTypeID = 1, EffectivityDate ='03/15/2004',"
     " BetaProcessingFee = 40, RecordLastUpdated = GETDATE()   WHERE  EffectivityDate ="
     " '3/1/2004' AND CenterID = 12 AND  BetaContractTypeID = 0"},
    {"Beta reserve insert",
     " INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue,"
     " EffectivityDate, BetaReserve, RecordLastUpdated)  Values (12, 1, 2, '03/15/2004',"
     " 0.125,   GETDATE()) "},
    {"Beta reserve update",
     " UPDATE BetaReserve SET ContractType = 2, CreditTypeBitwiseValue = 0, EffectivityDate"
     " =  '03/15/2004',  BetaReserve =  0.1,  RecordLastUpdated = GETDATE() WHERE"
     "    EffectivityDate = '3/1/2004' AND CenterID = 12 AND  ContractType = 1"},
    {"bank account insert",
     " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber,"
     " AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 1,"
     " '03/15/2004', '021000021', '12345678', 30, '01/02/2004', NULL,   GETDATE()) "},
    {"bank account insert",
     " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber,"
     " AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 2,"
     " '03/15/2004', '0', '0', 7, '01/02/2004', '12/31/2004',   GETDATE()) "},
    {"bank account update",
     " UPDATE BankAccount SET Type = 1,   EffectivityDate =  '03/15/2004',   RoutingNumber ="
     " '021000021',   AccountNumber = '12345678',   SweepSpan = 30,    Opened = '01/02/2004'"
     "  , Closed = NULL , RecordLastUpdated = GETDATE() Where   EffectivityDate = '3/1/2004'"
     " AND CenterID = 12 AND  Type = 1"},
    {"bank account update",
     " UPDATE BankAccount SET Type = 2,   EffectivityDate =  '03/15/2004',   RoutingNumber ="
     " '021000021',   AccountNumber = '12345678',   SweepSpan = 30,    Opened = '01/02/2004'"
     "  , Closed = '12/31/2004', RecordLastUpdated = GETDATE() Where   EffectivityDate ="
     " '3/1/2004' AND CenterID = 12 AND  Type = 1"},
    {"renewal fee expiry",
     " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '03/15/2004') WHERE"
     " CenterID = 12 AND MEmberAccessLevelID = 3 AND TravelMembership = 1 AND ExpirationDate"
     " IS NULL"},
    {"renewal fee expiry sparing the edited record",
     " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '03/15/2004') WHERE"
     " CenterID = 12 AND MEmberAccessLevelID = 3 AND TravelMembership = 0 AND ExpirationDate"
     " IS NULL AND NOT (EffectivityDate = '3/1/2004' AND MemberAccessLevelID = 2 AND"
     " isnull(TravelMembership,0) = 0)"},
    {"renewal fee insert",
     " INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee,"
     " CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated)  VALUES (12,"
     " '03/15/2004', 25, 0.4,3,1,  GETDATE()) "},
    {"renewal fee update",
     " UPDATE MembershipRenewalFee SET EffectivityDate ='3/15/2004', MembershipRenewalFee ="
     " 25, CenterPortion = 1, MEmberAccessLevelID = 2, RecordLastUpdated = GETDATE()   WHERE"
     "  EffectivityDate = '3/1/2004' AND CenterID = 12 AND isnull(TravelMembership,0) = 0"
     " AND MemberAccessLevelID = 2"},
    {"renewal fee update with its travel flag",
     " UPDATE MembershipRenewalFee SET EffectivityDate ='3/15/2004', MembershipRenewalFee ="
     " 25, CenterPortion = 1, MEmberAccessLevelID = 2, TravelMembership = 1, RecordLastUpdated"
     " = GETDATE()   WHERE  EffectivityDate = '3/1/2004' AND CenterID = 12 AND"
     " isnull(TravelMembership,0) = 0 AND MemberAccessLevelID = 2"},
    {"renewal fee delete",
     " DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID ="
     " 12"},
    {"renewal fee delete by access level",
     " DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID ="
     " 12 AND MemberAccessLevelID = 3 AND isnull(TravelMembership,0) = 1"},
    {"renewal fee reopening",
     "UPDATE dbo.MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = 12 AND"
     " ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3 AND MemberAccessLevelID NOT IN"
     " (SELECT MemberAccessLevelID FROM dbo.MembershipRenewalFee WHERE CenterID = 12 and"
     " ISNULL(ExpirationDate, '2099-01-01') > GETDATE() AND MemberAccessLevelID = 3 ) AND"
     " dbo.MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM"
     " dbo.MembershipRenewalFee WHERE CenterID = 12 AND ExpirationDate IS NOT NULL AND"
     " MemberAccessLevelID = 3)"},
    {"membership fee delete",
     " DELETE FROM MembershipFee WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Value Plus fee delete",
     " DELETE FROM VALUEPLUSFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Value Plus renewal fee delete",
     " DELETE FROM VALUEPLUSRENEWALFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID ="
     " 12"},
    {"renewal option fee delete",
     " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12"},
    {"Beta APR delete",
     " DELETE FROM BETAAPR WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 AND"
     " BetaAPRTypeID = 2"},
    {"Beta processing fee delete",
     " DELETE FROM BETAPROCESSINGFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12"
     " AND BetaContractTypeID = 0"},
    {"Beta reserve delete",
     " DELETE FROM BETARESERVE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 AND"
     "  ContractType = 1"},
    {"bank account delete",
     " DELETE FROM BANKACCOUNT WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 AND"
     "  Type = 1"},
    {"sales tax insert",
     " INSERT INTO SalesTax ( CenterID, Type, EffectivityDate,  Membership, Renewal,"
     " Merchandise, RecordLastUpdated)  VALUES (12,  1 , '03/15/2004', 0.08, 0.075, 1,"
     "  GETDATE()) "},
    {"sales tax update",
     " UPDATE SalesTax SET  EffectivityDate = '03/15/2004',  Membership = 0.08,  Renewal ="
     " 0,   Merchandise = 0.0625,   RecordLastUpdated = GETDATE() WHERE  EffectivityDate ="
     " '3/1/2004' AND CenterID = 12 AND Type = 1 "},
    {"sales tax delete",
     " DELETE FROM SALESTAX WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 AND Type"
     " = 1 "},
};

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
  for (const auto& [shape, text] : kControlStatements) {
    for (int type = 1; type <= 5; ++type) {
      std::string t = text;
      if (shape.rfind("sales tax", 0) == 0) {
        for (const std::string piece : {",  1 , '", " AND Type = 1 "}) {
          std::string other = piece;
          other[other.find('1')] = static_cast<char>('0' + type);
          if (auto at = t.find(piece); at != std::string::npos) t.replace(at, piece.size(), other);
        }
      } else if (type > 1) {
        break;
      }
      ParseOutcome o = ParseStatementText(t);
      ASSERT_TRUE(o.ok()) << t << "\n" << o.error;
      ASSERT_EQ(o.statements.size(), 1u);
      const ParsedStatement& st = o.statements[0];
      EXPECT_EQ(ShapeName(static_cast<std::size_t>(st.shape)), shape);
      EXPECT_EQ(st.kind, KindOfShape(shape));
      EXPECT_EQ(st.center, 12);
      EXPECT_EQ(st.mustMatchRow,
                st.kind == StatementKind::Update || st.kind == StatementKind::Delete);
      if (const Parameter* p = Find(st, "Type"); p && shape.rfind("sales tax", 0) == 0) {
        EXPECT_EQ(std::get<std::int64_t>(p->value), type);
      }
      seen[static_cast<std::size_t>(st.shape)] = true;
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(ShapeCount()))
      << "a shape without a control statement";
  // Any letter case, blanks and the dbo. prefix.
  for (const std::string t :
       {"delete from dbo.renewaloptionfee where effectivitydate='3/1/2004' and centerid=12",
        "Insert Into renewalOPTIONfee(centerid,effectivitydate,renewaloptionfee,recordlastupdated)"
        "values(12,'2004-03-15',49,getdate())"}) {
    EXPECT_TRUE(ParseStatementText(t).ok()) << t;
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

  // DATEADD(ss, -1, ...) is worked out by the page; the two statements of one
  // text are both returned, in order.
  o = ParseStatementText(
      " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '01/01/2005') WHERE "
      "CenterID = 7 AND MEmberAccessLevelID = 2 AND TravelMembership = 0 AND ExpirationDate IS "
      "NULL\r\n DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '2004-12-31T08:00:00' "
      "AND CenterID = 7");
  ASSERT_TRUE(o.ok()) << o.error;
  ASSERT_EQ(o.statements.size(), 2u);
  EXPECT_EQ(std::get<std::string>(Find(o.statements[0], "ExpirationDate")->value),
            "2004-12-31 23:59:59");
  EXPECT_EQ(std::get<std::string>(Find(o.statements[1], "OldEffectivityDate")->value),
            "2004-12-31 08:00:00");
  EXPECT_EQ(o.statements[1].kind, StatementKind::Delete);

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

TEST(Grammar, RefusesEverythingElseAndSaysWhy) {
  for (const RefusalCase& c : RefusalCorpus()) {
    ParseOutcome o = ParseStatementText(c.text);
    EXPECT_FALSE(o.ok()) << c.text;
    EXPECT_TRUE(o.statements.empty());
    EXPECT_EQ(o.error.rfind("refused: ", 0), 0u) << o.error;
    EXPECT_NE(o.error.find(c.says), std::string::npos) << c.text << "\n  replied: " << o.error;
  }
}

TEST(Values, DatesNumbersAndCodePage) {
  const std::vector<std::pair<std::string, std::string>> dates = {
      {"03/15/2004", "2004-03-15 00:00:00"},
      {"3/5/2004", "2004-03-05 00:00:00"},
      {"3/15/2004 3:04:05 PM", "2004-03-15 15:04:05"},
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
