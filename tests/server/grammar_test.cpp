// The allow-list grammar: every statement the control builds is accepted,
// with the values read exactly; everything else is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "statement.hpp"
#include "values.hpp"

namespace harnolfees::server {
namespace {

std::string S(std::initializer_list<std::string> pieces) {
  std::string out;
  for (const auto& p : pieces) out += p;
  return out;
}

struct Accepted {
  std::string text;
  std::string shape;
  StatementKind kind;
};

// The statements as the control concatenates them, piece by piece, with the
// blanks of its literal pieces. Center 12, new date 03/15/2004, old date in
// the default date text.
std::vector<Accepted> ControlStatements() {
  const std::string c = "12", d = "03/15/2004", old = "3/1/2004";
  std::vector<Accepted> v = {
      {S({" INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee, ",
          " Term, MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "120.5", ", ", "12", ", ", "0.15", ", ", "25", ", ",
          "0.05", ",  GETDATE()) "}),
       "membership fee insert", StatementKind::Insert},
      {S({" UPDATE MembershipFee SET  EffectivityDate = '", d, "',  MembershipFee = ", "130", ", ",
          " Term = ", "24", ",   MembershipRoyalty = ", "0.1", ",   MinimumRoyalty = ", "30", ", ",
          " RoyaltyReserve = ", "0.04",
          ",   RecordLastUpdated = GETDATE() WHERE  "
          "EffectivityDate = '",
          old, "' AND CenterID = ", c}),
       "membership fee update", StatementKind::Update},
      {S({"  INSERT INTO ValuePlusFee ( CenterID, EffectivityDate, ValuePlusFee, CenterPortion, "
          "HarnolPortion, HealthFee, RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "100", ", ", "40", ", ", "30", ", ", "29.99",
          ",  GETDATE()) "}),
       "Value Plus fee insert", StatementKind::Insert},
      {S({" INSERT INTO ValuePlusRenewalFee ( CenterID, EffectivityDate, ValuePlusRenewalFee, "
          "CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "100", ", ", "40", ", ", "30", ", ", "29.99",
          ", GETDATE())"}),
       "Value Plus renewal fee insert", StatementKind::Insert},
      {S({" UPDATE ValuePlusFee SET EffectivityDate = '", d, "', ValuePlusFee =  ", "100", ",  ",
          " CenterPortion =  ", "40", ", HarnolPortion = ", "30", ", HealthFee =  ", "20", ", ",
          " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '", old,
          "' AND CenterID = ", c}),
       "Value Plus fee update", StatementKind::Update},
      {S({" UPDATE ValuePlusRenewalFee SET EffectivityDate = '", d, "', ValuePlusRenewalFee =  ",
          "100", ", ", " CenterPortion =  ", "40", ", HarnolPortion =  ", "30", ", HealthFee =  ",
          "20", ", ", " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '", old,
          "' AND CenterID = ", c}),
       "Value Plus renewal fee update", StatementKind::Update},
      {S({" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
          "RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "49", ",  GETDATE()) "}),
       "renewal option fee insert", StatementKind::Insert},
      {S({" UPDATE RENEWALOPTIONFEE SET EffectivityDate = '", d, "', RenewalOptionFee = ", "55",
          ", RecordLastUpdated = GETDATE() ", "  WHERE  EffectivityDate = '", old,
          "' AND CenterID = ", c}),
       "renewal option fee update", StatementKind::Update},
      {S({" INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
          "RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "0.0725", ", ", "2", ",  GETDATE()) "}),
       "Beta APR insert", StatementKind::Insert},
      {S({" UPDATE BETAAPR SET EffectivityDate ='", d, "', BetaAPR = ", "0.0725",
          ", BetaAPRTypeID = ", "3", ", RecordLastUpdated = GETDATE() ",
          " WHERE EffectivityDate = '", old, "' AND CenterID = ", c, " AND BetaAPRTypeID = ", "2"}),
       "Beta APR update", StatementKind::Update},
      {S({" INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, EffectivityDate, "
          "BetaProcessingFee, RecordLastUpdated) ",
          " VALUES (", c, ", ", "0", ", '", d, "', ", "35", ",  GETDATE()) "}),
       "Beta processing fee insert", StatementKind::Insert},
      {S({" UPDATE BETAPROCESSINGFEE SET BetaContractTypeID = ", "1", ", EffectivityDate ='", d,
          "', BetaProcessingFee = ", "40", ", RecordLastUpdated = GETDATE() ",
          "  WHERE  EffectivityDate = '", old, "' AND CenterID = ", c,
          " AND  BetaContractTypeID = ", "0"}),
       "Beta processing fee update", StatementKind::Update},
      {S({" INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue, "
          "EffectivityDate, BetaReserve, RecordLastUpdated) ",
          " Values (", c, ", ", "1", ", ", "2", ", '", d, "', ", "0.125", ",   GETDATE()) "}),
       "Beta reserve insert", StatementKind::Insert},
      {S({" UPDATE BetaReserve SET ContractType = ", "2", ", CreditTypeBitwiseValue = ", "0",
          ", EffectivityDate =  '", d, "',  BetaReserve =  ", "0.1", ", ",
          " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '", old,
          "' AND CenterID = ", c, " AND  ContractType = ", "1"}),
       "Beta reserve update", StatementKind::Update},
      {S({" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, "
          "AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated) ",
          " VALUES (", c, ", ", "1", ", '", d, "', '", "021000021", "', '", "12345678", "', ", "30",
          ", '", "01/02/2004", "', ", "NULL", ",   GETDATE()) "}),
       "bank account insert", StatementKind::Insert},
      {S({" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, "
          "AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated) ",
          " VALUES (", c, ", ", "2", ", '", d, "', '", "0", "', '", "0", "', ", "7", ", '",
          "01/02/2004", "', ", "'12/31/2004'", ",   GETDATE()) "}),
       "bank account insert", StatementKind::Insert},
      {S({" UPDATE BankAccount SET Type = ",
          "1",
          ",   EffectivityDate =  '",
          d,
          "',   RoutingNumber = '",
          "021000021",
          "',   AccountNumber = '",
          "12345678",
          "',   SweepSpan = ",
          "30",
          ",    Opened = '",
          "01/02/2004",
          "'  ",
          ", Closed = NULL ",
          ", RecordLastUpdated = GETDATE() Where   EffectivityDate = '",
          old,
          "' AND CenterID = ",
          c,
          " AND  Type = ",
          "1"}),
       "bank account update", StatementKind::Update},
      {S({" UPDATE BankAccount SET Type = ",
          "2",
          ",   EffectivityDate =  '",
          d,
          "',   RoutingNumber = '",
          "021000021",
          "',   AccountNumber = '",
          "12345678",
          "',   SweepSpan = ",
          "30",
          ",    Opened = '",
          "01/02/2004",
          "'  ",
          ", Closed = '",
          "12/31/2004",
          "'",
          ", RecordLastUpdated = GETDATE() Where   EffectivityDate = '",
          old,
          "' AND CenterID = ",
          c,
          " AND  Type = ",
          "1"}),
       "bank account update", StatementKind::Update},
      // Membership renewal fees: expiry, insert, update, the mended expiry that
      // spares the edited record, deletion with and without its key, reopening.
      {S({" UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '", d,
          "') WHERE CenterID = ", c, " AND MEmberAccessLevelID = ", "3",
          " AND TravelMembership = ", "1", " AND ExpirationDate IS NULL"}),
       "renewal fee expiry", StatementKind::Expire},
      {S({" UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '", d,
          "') WHERE CenterID = ", c, " AND MEmberAccessLevelID = ", "3",
          " AND TravelMembership = ", "0", " AND ExpirationDate IS NULL",
          " AND NOT (EffectivityDate = '3/1/2004' AND MemberAccessLevelID = 2 AND "
          "isnull(TravelMembership,0) = 0)"}),
       "renewal fee expiry sparing the edited record", StatementKind::Expire},
      {S({" INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee, "
          "CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated) ",
          " VALUES (", c, ", '", d, "', ", "25", ", ", "0.4", ",", "3", ",", "1",
          ",  GETDATE()) "}),
       "renewal fee insert", StatementKind::Insert},
      {S({" UPDATE MembershipRenewalFee SET EffectivityDate ='", "3/15/2004",
          "', MembershipRenewalFee = ", "25", ", CenterPortion = ", "1",
          ", MEmberAccessLevelID = ", "2", ", RecordLastUpdated = GETDATE() ",
          "  WHERE  EffectivityDate = '", old, "' AND CenterID = ", c,
          " AND isnull(TravelMembership,0) = ", "0", " AND MemberAccessLevelID = ", "2"}),
       "renewal fee update", StatementKind::Update},
      {S({" DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '", old,
          "' AND CenterID = ", c}),
       "renewal fee delete", StatementKind::Delete},
      {S({" DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '", old, "' AND CenterID = ",
          c, " AND MemberAccessLevelID = 3 AND isnull(TravelMembership,0) = 1"}),
       "renewal fee delete by access level", StatementKind::Delete},
      {S({"UPDATE dbo.MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = ", c,
          " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3",
          " AND MemberAccessLevelID NOT IN (SELECT MemberAccessLevelID FROM "
          "dbo.MembershipRenewalFee WHERE CenterID = ",
          c, " and ISNULL(ExpirationDate, '2099-01-01') > GETDATE() AND MemberAccessLevelID = 3 )",
          " AND dbo.MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM "
          "dbo.MembershipRenewalFee WHERE CenterID = ",
          c, " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3)"}),
       "renewal fee reopening", StatementKind::Reopen},
  };
  // Deletions of tabs 1 to 7 and 9, with their key pieces.
  const std::vector<std::pair<std::string, std::string>> deletions = {
      {" DELETE FROM MembershipFee WHERE   EffectivityDate = '", "membership fee delete"},
      {" DELETE FROM VALUEPLUSFEE WHERE   EffectivityDate = '", "Value Plus fee delete"},
      {" DELETE FROM VALUEPLUSRENEWALFEE WHERE   EffectivityDate = '",
       "Value Plus renewal fee delete"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '", "renewal option fee delete"},
  };
  for (const auto& [first, shape] : deletions) {
    v.push_back({S({first, old, "' AND CenterID = ", c}), shape, StatementKind::Delete});
  }
  v.push_back({S({" DELETE FROM BETAAPR WHERE   EffectivityDate = '", old, "' AND CenterID = ", c,
                  " AND BetaAPRTypeID = ", "2"}),
               "Beta APR delete", StatementKind::Delete});
  v.push_back({S({" DELETE FROM BETAPROCESSINGFEE WHERE   EffectivityDate = '", old,
                  "' AND CenterID = ", c, " AND BetaContractTypeID = ", "0"}),
               "Beta processing fee delete", StatementKind::Delete});
  v.push_back({S({" DELETE FROM BETARESERVE WHERE   EffectivityDate = '", old,
                  "' AND CenterID = ", c, " AND  ContractType = ", "1"}),
               "Beta reserve delete", StatementKind::Delete});
  v.push_back({S({" DELETE FROM BANKACCOUNT WHERE   EffectivityDate = '", old,
                  "' AND CenterID = ", c, " AND  Type = ", "1"}),
               "bank account delete", StatementKind::Delete});
  // The five sales-tax tabs differ only in their type number.
  for (int type = 1; type <= 5; ++type) {
    const std::string t = std::to_string(type);
    v.push_back(
        {S({" INSERT INTO SalesTax ( CenterID, Type, EffectivityDate, ",
            " Membership, Renewal, Merchandise, RecordLastUpdated) ", " VALUES (", c,
            ",  " + t + " , '", d, "', ", "0.08", ", ", "0.075", ", ", "1", ",  GETDATE()) "}),
         "sales tax insert", StatementKind::Insert});
    v.push_back({S({" UPDATE SalesTax SET  EffectivityDate = '", d, "',  Membership = ", "0.08",
                    ", ", " Renewal = ", "0", ",   Merchandise = ", "0.0625", ", ",
                    "  RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '", old,
                    "' AND CenterID = ", c, " AND Type = " + t + " "}),
                 "sales tax update", StatementKind::Update});
    v.push_back({S({" DELETE FROM SALESTAX WHERE   EffectivityDate = '", old,
                    "' AND CenterID = ", c, " AND Type = " + t + " "}),
                 "sales tax delete", StatementKind::Delete});
  }
  return v;
}

const Parameter* Find(const ParsedStatement& st, const std::string& name) {
  for (const auto& p : st.parameters) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

TEST(Grammar, AcceptsEveryStatementTheControlBuilds) {
  std::size_t shapesSeen = 0;
  std::vector<bool> seen(ShapeCount(), false);
  for (const Accepted& a : ControlStatements()) {
    SCOPED_TRACE(a.text);
    ParseOutcome o = ParseStatementText(a.text);
    ASSERT_TRUE(o.ok()) << o.error;
    ASSERT_EQ(o.statements.size(), 1u);
    const ParsedStatement& st = o.statements[0];
    EXPECT_EQ(ShapeName(static_cast<std::size_t>(st.shape)), a.shape);
    EXPECT_EQ(st.kind, a.kind);
    EXPECT_EQ(st.center, 12);
    EXPECT_EQ(st.mustMatchRow, a.kind == StatementKind::Update || a.kind == StatementKind::Delete);
    if (!seen[static_cast<std::size_t>(st.shape)]) ++shapesSeen;
    seen[static_cast<std::size_t>(st.shape)] = true;
  }
  EXPECT_EQ(shapesSeen, ShapeCount()) << "a shape without a control statement";
}

TEST(Grammar, AcceptsAnyLetterCaseAndBlanksAndTheDboPrefix) {
  const std::vector<std::string> texts = {
      "delete from dbo.renewaloptionfee where effectivitydate='3/1/2004' and centerid=12",
      "DELETE\tFROM  RenewalOptionFee WHERE EffectivityDate = '3/1/2004'AND CenterID = 12  ",
      "Insert Into renewalOPTIONfee(centerid,effectivitydate,renewaloptionfee,recordlastupdated)"
      "values(12,'2004-03-15',49,getdate())",
  };
  for (const auto& t : texts) {
    ParseOutcome o = ParseStatementText(t);
    EXPECT_TRUE(o.ok()) << t << ": " << o.error;
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
  const std::string del =
      " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12";
  struct Case {
    std::string text;
    std::string says;  // part of the reply
  };
  const std::vector<Case> cases = {
      {"DROP TABLE MembershipFee", "only INSERT, UPDATE and DELETE"},
      {"EXEC xp_cmdshell 'dir'", "only INSERT, UPDATE and DELETE"},
      {"SELECT Name FROM Centers", "only INSERT, UPDATE and DELETE"},
      {"CREATE TABLE x (a int)", "only INSERT, UPDATE and DELETE"},
      {del + "; DROP TABLE Centers", "stacked statements"},
      {del + " -- the rest", "comments"},
      {del + " /* x */", "comments"},
      {del + " OR 1=1", "found \"OR\""},
      {del + " UNION SELECT 1", "found \"UNION\""},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' OR '1'='1' AND "
       "CenterID = 12",
       "found \"OR\""},
      {" DELETE FROM Users WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12",
       "\"Users\" is not a fee table"},
      {" DELETE FROM sqlite_master WHERE EffectivityDate = '3/1/2004' AND CenterID = 12",
       "not a fee table"},
      {" UPDATE RENEWALOPTIONFEE SET EffectivityDate = '03/15/2004', RenewalOptionFee = "
       "RenewalOptionFee * 2, RecordLastUpdated = GETDATE() WHERE EffectivityDate = '3/1/2004' "
       "AND CenterID = 12",
       "not allowed"},
      {" UPDATE RENEWALOPTIONFEE SET EffectivityDate = '03/15/2004', RenewalOptionFee = (SELECT "
       "1), RecordLastUpdated = GETDATE() WHERE EffectivityDate = '3/1/2004' AND CenterID = 12",
       "expected a number for RenewalOptionFee"},
      {" UPDATE RENEWALOPTIONFEE SET CenterID = 13, RenewalOptionFee = 1, RecordLastUpdated = "
       "GETDATE() WHERE EffectivityDate = '3/1/2004' AND CenterID = 12",
       "expected \"EffectivityDate\""},
      {" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated, Password)  VALUES (12, '03/15/2004', 49,  GETDATE(), 'x') ",
       "found \",\""},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = CURRENT_TIMESTAMP AND CenterID = "
       "12",
       "expected a date in quotes"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '13/45/2004' AND CenterID = 12",
       "is not a date the page reads"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '2004-02-30' AND CenterID = 12",
       "is not a date the page reads"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = 'yesterday' AND CenterID = 12",
       "is not a date the page reads"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '" + std::string(200, 'a') +
           "' AND CenterID = 12",
       "overlong literal"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = " +
           std::string(60, '9'),
       "overlong literal"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 0x10",
       "malformed number"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = -12",
       "CenterID must be a whole number"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004 AND CenterID = 12",
       "unterminated"},
      {del + "\r\n" + del + "\r\n" + del, "at most two statements"},
      {del + "\r\nDROP TABLE Centers", "statement 2: only INSERT"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004'" + std::string(1, '\0') +
           " AND CenterID = 12",
       "NUL byte"},
      {"", "no statement"},
      {" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', -49,  GETDATE()) ",
       "must not be negative"},
      {" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', 1E+16,  GETDATE()) ",
       "is too large"},
      {" INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', 1.5, 2,  GETDATE()) ",
       "fraction from 0 to 1"},
      {" INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee, "
       "CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated)  VALUES (12, "
       "'03/15/2004', 25, 0.4,3,-1,  GETDATE()) ",
       "TravelMembership must be a whole number from 0 to 1"},
      {" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
       "SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, Operating, '03/15/2004', '1', "
       "'2', 30, '01/02/2004', NULL,   GETDATE()) ",
       "expected a number for Type"},
      {" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
       "SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 1, '03/15/2004', "
       "'123456789012345678901', '2', 30, '01/02/2004', NULL,   GETDATE()) ",
       "longer than 20 characters"},
      {" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
       "SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 1, '03/15/2004', '1', '2', "
       "30.5, '01/02/2004', NULL,   GETDATE()) ",
       "SweepSpan must be a whole number"},
      // The reopening statement reads one center only.
      {"UPDATE dbo.MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = 12 AND "
       "ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3 AND MemberAccessLevelID NOT IN "
       "(SELECT MemberAccessLevelID FROM dbo.MembershipRenewalFee WHERE CenterID = 13 and "
       "ISNULL(ExpirationDate, '2099-01-01') > GETDATE() AND MemberAccessLevelID = 3 ) AND "
       "dbo.MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM "
       "dbo.MembershipRenewalFee WHERE CenterID = 12 AND ExpirationDate IS NOT NULL AND "
       "MemberAccessLevelID = 3)",
       "CenterID differs"},
      // Other subqueries are not.
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 AND "
       "CenterID IN (SELECT CenterID FROM Centers)",
       "found \"AND\""},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/1/2004' AND CenterID = 12 "
       "\xC3\xA9",
       "not allowed"},
  };
  for (const Case& c : cases) {
    ParseOutcome o = ParseStatementText(c.text);
    EXPECT_FALSE(o.ok()) << c.text;
    EXPECT_TRUE(o.statements.empty());
    EXPECT_EQ(o.error.rfind("refused: ", 0), 0u) << o.error;
    EXPECT_NE(o.error.find(c.says), std::string::npos) << c.text << "\n  replied: " << o.error;
  }
}

TEST(Values, DatesInTheFormsTheControlWrites) {
  struct Case {
    const char* text;
    const char* stored;  // nullptr: refused
  };
  const Case cases[] = {
      {"03/15/2004", "2004-03-15 00:00:00"},
      {"3/5/2004", "2004-03-05 00:00:00"},
      {"3/15/2004 3:04:05 PM", "2004-03-15 15:04:05"},
      {"3/15/2004 12:00:00 AM", "2004-03-15 00:00:00"},
      {"3/15/2004 12:30:00 pm", "2004-03-15 12:30:00"},
      {"3/15/2004 23:59", "2004-03-15 23:59:00"},
      {"2004-03-15", "2004-03-15 00:00:00"},
      {"2004-03-15T08:09:10", "2004-03-15 08:09:10"},
      {"2004-03-15 08:09:10.500", "2004-03-15 08:09:10"},
      {" 2/29/2004 ", "2004-02-29 00:00:00"},
      {"2/29/2005", nullptr},
      {"3/15/04", nullptr},
      {"15/03/2004", nullptr},
      {"3/15/2004 13:00 PM", nullptr},
      {"1/1/1752", nullptr},
      {"2004-03-15Z", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    auto ts = Timestamp::Parse(c.text);
    if (c.stored) {
      ASSERT_TRUE(ts.has_value()) << c.text;
      EXPECT_EQ(ts->ToStorage(), c.stored) << c.text;
    } else {
      EXPECT_FALSE(ts.has_value()) << c.text;
    }
  }
  EXPECT_EQ(Timestamp::Parse("1/1/2005")->AddSeconds(-1)->ToIso(), "2004-12-31T23:59:59");
  EXPECT_FALSE(Timestamp::Parse("1/1/1753")->AddSeconds(-1).has_value());
}

TEST(Values, ExactDecimalsAndMoney) {
  EXPECT_EQ(Decimal::Parse("0.0725")->ToText(), "0.0725");
  EXPECT_EQ(Decimal::Parse("1.5E-07")->ToText(), "0.00000015");
  EXPECT_EQ(Decimal::Parse("1E+16")->ToText(), "10000000000000000");
  EXPECT_EQ(Decimal::Parse("-003.500")->ToText(), "-3.5");
  EXPECT_EQ(Decimal::Parse(".5")->ToText(), "0.5");
  EXPECT_FALSE(Decimal::Parse("1.2.3").has_value());
  EXPECT_FALSE(Decimal::Parse("1,000").has_value());
  EXPECT_FALSE(Decimal::Parse("E5").has_value());
  EXPECT_EQ(*Decimal::Parse("120.5")->ToMoneyUnits(), 1205000);
  EXPECT_EQ(*Decimal::Parse("0.00015")->ToMoneyUnits(), 2);  // half away from zero
  EXPECT_EQ(*Decimal::Parse("-0.00015")->ToMoneyUnits(), -2);
  EXPECT_EQ(*Decimal::Parse("-922337203685477.5808")->ToMoneyUnits(), INT64_MIN);
  EXPECT_FALSE(Decimal::Parse("922337203685477.5808")->ToMoneyUnits().has_value());
  EXPECT_FALSE(Decimal::Parse("922337203685477.58075")->ToMoneyUnits().has_value());
  EXPECT_EQ(MoneyUnitsToText(1205000), "120.5");
  EXPECT_EQ(MoneyUnitsToText(-5), "-0.0005");
  EXPECT_EQ(MoneyUnitsToText(INT64_MIN), "-922337203685477.5808");
  EXPECT_EQ(Decimal::Parse("1.0000")->CompareWith(1), 0);
  EXPECT_EQ(Decimal::Parse("1.00001")->CompareWith(1), 1);
  EXPECT_EQ(Decimal::Parse("0.99")->CompareWith(1), -1);
  EXPECT_EQ(*Decimal::Parse("1E+3")->ToInteger(), 1000);
  EXPECT_FALSE(Decimal::Parse("30.5")->ToInteger().has_value());
}

TEST(Values, Windows1252) {
  EXPECT_EQ(*Windows1252ToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_FALSE(Windows1252ToUtf8("\x81").has_value());
}

}  // namespace
}  // namespace harnolfees::server
