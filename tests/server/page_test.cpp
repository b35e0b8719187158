// The fee page over HTTP, in front of a real database of each backend:
// statements of every tab, the load document, failures that must not pass
// for success and the injection corpus.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <tuple>

#include "server_test_util.hpp"

namespace harnolfees::server::testing {
namespace {

class PageTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    server_ = std::make_unique<RunningServer>(OptionsFor(db_.target(), {{12, true}, {20, false}}));
  }
  std::string Doc(int center) {
    return server_->Get("/TermFeesAX.asp?Center=" + std::to_string(center)).second;
  }
  void Ok(const std::string& statement) {
    auto [status, body] = server_->Post(statement);
    EXPECT_EQ(status, 200) << statement << "\n" << body;
    EXPECT_EQ(body, "") << statement;
  }
  TestDatabase db_{GetParam()};
  std::unique_ptr<RunningServer> server_;
};

// Statement texts the page must refuse, and a piece of the reason it gives.
struct RefusalCase {
  std::string text;
  std::string says;
};

std::vector<RefusalCase> RefusalCorpus() {
  // The control's DELETE of a renewal option fee with the date and center
  // literals as given, and its INSERTs of a renewal option fee and an account.
  auto del = [](const std::string& date, const std::string& center) {
    return " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = " + date +
           " AND CenterID = " + center;
  };
  auto option = [](const std::string& fee) {
    return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
           "RecordLastUpdated)  VALUES (12, '03/15/2004', " +
           fee + ",  GETDATE()) ";
  };
  auto account = [](const std::string& values) {
    return " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, "
           "AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, " +
           values + ", '01/02/2004', NULL,   GETDATE()) ";
  };
  const std::string ok = del("'3/1/2004'", "12");
  return {
      {"DROP TABLE MembershipFee", "only INSERT, UPDATE and DELETE"},
      {"ATTACH DATABASE '/tmp/x.db' AS x", "only INSERT, UPDATE and DELETE"},
      {"PRAGMA writable_schema = ON", "only INSERT, UPDATE and DELETE"},
      {"DELETE FROM RENEWALOPTIONFEE", "expected \"WHERE\""},
      {"INSERT INTO Centers (CenterID, Name) VALUES (99, 'x')", "not a fee table"},
      {ok + "; DROP TABLE Centers", "stacked statements"},
      {ok + " -- the rest", "comments"},
      {ok + " /* x */", "comments"},
      {ok + " OR 1=1", "found \"OR\""},
      {ok + " UNION SELECT 1", "found \"UNION\""},
      {del("'3/1/2004' OR '1'='1'", "12"), "found \"OR\""},
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
      {del("CURRENT_TIMESTAMP", "12"), "expected a date in quotes"},
      {del("'13/45/2004'", "12"), "is not a date the page reads"},
      {del("'2004-02-30'", "12"), "is not a date the page reads"},
      {del("'yesterday'", "12"), "is not a date the page reads"},
      {del("'" + std::string(200, 'a') + "'", "12"), "overlong literal"},
      {del("'3/1/2004'", std::string(60, '9')), "overlong literal"},
      {del("'3/1/2004'", "0x10"), "malformed number"},
      {del("'3/1/2004'", "-12"), "CenterID must be a whole number"},
      {del("'3/1/2004", "12"), "unterminated"},
      {ok + "\r\n" + ok + "\r\n" + ok, "at most two statements"},
      {ok + "\r\nDROP TABLE Centers", "statement 2: only INSERT"},
      {del("'3/1/2004'" + std::string(1, '\0'), "12"), "NUL byte"},
      {"", "no statement"},
      {option("-49"), "must not be negative"},
      {option("1E+16"), "is too large"},
      {" INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', 1.5, 2,  GETDATE()) ",
       "fraction from 0 to 1"},
      {" INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee, "
       "CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated)  VALUES (12, "
       "'03/15/2004', 25, 0.4,3,-1,  GETDATE()) ",
       "TravelMembership must be a whole number from 0 to 1"},
      {account("Operating, '03/15/2004', '1', '2', 30"), "expected a number for Type"},
      {account("1, '03/15/2004', '123456789012345678901', '2', 30"), "longer than 20 characters"},
      {account("1, '03/15/2004', '1', '2', 30.5"), "SweepSpan must be a whole number"},
      // The reopening statement reads one center only.
      {ReopenRenewalFee(12, 13), "CenterID differs"},
      // Other subqueries are not.
      {ok + " AND CenterID IN (SELECT CenterID FROM Centers)", "found \"AND\""},
      {ok + " \xC3\xA9", "not allowed"},
  };
}

// The texts of the record elements of one set, each as "Field=value;..." in
// document order.
std::vector<std::string> Records(const std::string& xml, const std::string& element) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str())) << xml.substr(0, 200);
  std::vector<std::string> out;
  for (pugi::xml_node n : doc.document_element().children(element.c_str())) {
    std::string r;
    for (pugi::xml_node f : n.children()) r += std::string(f.name()) + "=" + f.text().get() + ";";
    out.push_back(r);
  }
  return out;
}

TEST_P(PageTest, SavesEditsAndDeletesOnEveryTabAndLoadsWhatWasSaved) {
  // Tab 1.
  Ok(" INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  Term, "
     "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  VALUES (12, "
     "'03/15/2004', 120.5, 12, 0.15, 25, 0.05,  GETDATE()) ");
  Ok(" UPDATE MembershipFee SET  EffectivityDate = '03/16/2004',  MembershipFee = 1250, "
     " Term = 36,   MembershipRoyalty = 0.125,   MinimumRoyalty = 30.25,  RoyaltyReserve = "
     "0.04,   RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '3/15/2004' AND CenterID = "
     "12");
  // Tabs 2 and 3.
  Ok("  INSERT INTO ValuePlusFee ( CenterID, EffectivityDate, ValuePlusFee, CenterPortion, "
     "HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12, '03/15/2004', 100, 40, 30, 29.99,"
     "  GETDATE()) ");
  Ok(" INSERT INTO ValuePlusRenewalFee ( CenterID, EffectivityDate, ValuePlusRenewalFee, "
     "CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12, '03/15/2004', 80, "
     "30, 20, 10, GETDATE())");
  Ok(" UPDATE ValuePlusRenewalFee SET EffectivityDate = '03/15/2004', ValuePlusRenewalFee =  "
     "81, CenterPortion =  31, HarnolPortion =  21, HealthFee =  11,  RecordLastUpdated = "
     "GETDATE() WHERE    EffectivityDate = '3/15/2004' AND CenterID = 12");
  // Tabs 5 to 7, keyed by type: an edit that changes the type.
  Ok(" INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
     "RecordLastUpdated)  VALUES (12, '03/15/2004', 0.0725, 2,  GETDATE()) ");
  Ok(" UPDATE BETAAPR SET EffectivityDate ='03/15/2004', BetaAPR = 0.08, BetaAPRTypeID = 3, "
     "RecordLastUpdated = GETDATE()  WHERE EffectivityDate = '3/15/2004' AND CenterID = 12 AND "
     "BetaAPRTypeID = 2");
  Ok(" INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, EffectivityDate, "
     "BetaProcessingFee, RecordLastUpdated)  VALUES (12, 0, '03/15/2004', 35,  GETDATE()) ");
  Ok(" INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue, "
     "EffectivityDate, BetaReserve, RecordLastUpdated)  Values (12, 1, 2, '03/15/2004', 0.125,   "
     "GETDATE()) ");
  // Tab 8: add two renewal fees of one access level; the second expires the first.
  Ok(AddRenewalFee(12, "01/01/2004", 3, 1, "25", "0.4"));
  Ok(AddRenewalFee(12, "07/01/2004", 3, 1, "30", "0.5"));
  // Tab 9: one account without and one with a closing date, then an edit; the
  // control encodes byte by byte in Windows-1252 (%B0 is "°", %E9 is "é").
  Ok(" INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
     "SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 1, '03/15/2004', '021000021', "
     "'12345678', 30, '01/02/2004', NULL,   GETDATE()) ");
  Ok(" UPDATE BankAccount SET Type = 2,   EffectivityDate =  '03/15/2004',   RoutingNumber = "
     "'021000021',   AccountNumber = 'N\xC2\xB0"
     "12\xC3\xA9',   SweepSpan = 15,    Opened = '01/02/2004'  , "
     "Closed = '12/31/2004', RecordLastUpdated = GETDATE() Where   EffectivityDate = "
     "'3/15/2004' AND CenterID = 12 AND  Type = 1");
  // Tabs 10 to 14 share one table.
  for (int type = 1; type <= 5; ++type) {
    const std::string t = std::to_string(type);
    Ok(" INSERT INTO SalesTax ( CenterID, Type, EffectivityDate,  Membership, Renewal, "
       "Merchandise, RecordLastUpdated)  VALUES (12,  " +
       t + " , '03/15/2004', 0.08, 0.075, 0." + t + ",  GETDATE()) ");
  }
  Ok(" UPDATE SalesTax SET  EffectivityDate = '03/15/2004',  Membership = 0.09,  Renewal = 0,   "
     "Merchandise = 0.0625,   RecordLastUpdated = GETDATE() WHERE  EffectivityDate = "
     "'3/15/2004' AND CenterID = 12 AND Type = 3 ");
  Ok(" DELETE FROM SALESTAX WHERE   EffectivityDate = '3/15/2004' AND CenterID = 12 AND Type = 5 ");

  const std::string xml = Doc(12);
  // Texts that record i of a set holds; T8 holds the whole history, the
  // expired record included.
  const std::vector<std::tuple<std::string, std::size_t, std::string>> holds = {
      {"T2", 0,
       "CenterID=12;Effectivity=2004-03-15T00:00:00;ValuePlusFee=100;CenterPortion=40;"
       "HarnolPortion=30;HealthFee=29.99;"},
      {"T3", 0, "ValuePlusRenewalFee=81;CenterPortion=31;HarnolPortion=21;HealthFee=11;"},
      {"T5", 0, "BetaAPR=0.08;BetaAPRTypeID=3;"},
      {"T6", 0, "BetaContractTypeID=0;Effectivity=2004-03-15T00:00:00;BetaProcessingFee=35;"},
      {"T6", 0, "ContractDescription=Standard;"},
      {"T7", 0,
       "ContractType=1;Effectivity=2004-03-15T00:00:00;BetaReserve=0.125;"
       "CreditTypeBitwiseValue=2;"},
      {"T7", 0, "ContractDescription=Premium;CreditType=Good;"},
      {"T8", 0, "Effectivity=2004-07-01T00:00:00;MembershipRenewalFee=30;CenterPortion=0.5;"},
      {"T8", 0, "MemberAccessLevelDescription=Gold;MemberAccessLevelID=3;TravelMembership=1;"},
      {"T8", 1, "Effectivity=2004-01-01T00:00:00;MembershipRenewalFee=25;"},
      {"T9", 0,
       "ObjectID=12;Type=2;Effectivity=2004-03-15T00:00:00;RoutingNumber=021000021;"
       "AccountNumber=N\xC2\xB0"
       "12\xC3\xA9;SweepSpan=15;Opened=2004-01-02T00:00:00;Closed=2004-12-31;"},
      {"T9", 0, "TypeDescription=Payroll;"},
      {"T12", 0,
       "Type=3;Effectivity=2004-03-15T00:00:00;Membership=0.09;Renewal=0;Merchandise=0.0625;"},
  };
  for (const auto& [set, i, text] : holds) {
    const auto records = Records(xml, set);
    EXPECT_TRUE(i < records.size() && records[i].find(text) != std::string::npos)
        << set << "[" << i << "] lacks " << text;
  }
  const std::vector<std::pair<std::string, std::size_t>> counts = {
      {"T8", 2}, {"T9", 1}, {"T10", 1}, {"T14", 0}};
  for (const auto& [set, n] : counts) EXPECT_EQ(Records(xml, set).size(), n) << set;
  auto t1 = Records(xml, "T1");
  ASSERT_EQ(t1.size(), 1u);
  EXPECT_EQ(t1[0].substr(0, t1[0].find("RecordLastUpdated")),
            "CenterID=12;Effectivity=2004-03-16T00:00:00;MembershipFee=1250;Term=36;"
            "MembershipRoyalty=0.125;MinimumRoyalty=30.25;RoyaltyReserve=0.04;");
  EXPECT_EQ(
      db_.Query("SELECT EffectivityDate, ExpirationDate FROM MembershipRenewalFee ORDER BY 1"),
      (std::vector<std::string>{"2004-01-01 00:00:00|2004-06-30 23:59:59",
                                "2004-07-01 00:00:00|NULL"}));
  EXPECT_EQ(db_.Query("SELECT AccountNumber FROM BankAccount"),
            std::vector<std::string>{"N\xC2\xB0"
                                     "12\xC3\xA9"});
  // Money stays exact in the database.
  EXPECT_EQ(db_.Query("SELECT MinimumRoyalty FROM MembershipFee"),
            std::vector<std::string>{"302500"});
}

TEST_P(PageTest, LoadDocumentCarriesTheLookupListsInIdentifierOrder) {
  const std::string xml = Doc(999);  // unknown center: lookups, no records
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  pugi::xml_node root = doc.document_element();
  std::vector<std::string> terms;
  for (auto n : root.child("TERM").children()) terms.push_back(n.text().get());
  EXPECT_EQ(terms, (std::vector<std::string>{"12", "24", "36", "48", "60"}));
  auto ids = [&](const char* element, const char* id) {
    std::vector<int> v;
    for (auto n : root.children(element)) {
      v.push_back(n.child(id).text().as_int());
      EXPECT_FALSE(std::string(n.child("Description").text().get()).empty());
    }
    return v;
  };
  EXPECT_EQ(ids("CTYPE", "ContractTypeID"), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(ids("BVALUE", "CreditTypeID"), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(ids("APRTYPE", "APRTypeID"), (std::vector<int>{1, 2, 3}));
  // Description first, identifier second.
  EXPECT_EQ(
      Records(xml, "ACCESSLEVEL"),
      (std::vector<std::string>{
          "Description=Basic;MemberAccessLevelID=1;", "Description=Silver;MemberAccessLevelID=2;",
          "Description=Gold;MemberAccessLevelID=3;", "Description=Travel;MemberAccessLevelID=4;"}));
  EXPECT_EQ(Records(xml, "T15").size(), 4u);
  EXPECT_TRUE(root.child("HIDETravelOption"));
  for (int n = 1; n <= 14; ++n) EXPECT_TRUE(Records(xml, "T" + std::to_string(n)).empty());

  EXPECT_NE(Doc(12).find("<SHOWTravelOption/>"), std::string::npos);
  EXPECT_NE(Doc(20).find("<HIDETravelOption/>"), std::string::npos);
  EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=abc").first, 400);
  EXPECT_EQ(server_->Get("/TermFeesAX.asp").first, 400);
  EXPECT_EQ(server_->Get("/other.asp?Center=12").first, 404);
  // The document goes out as it is, also to clients that accept compression.
  auto c = server_->Client();
  auto res = c->Get("/TermFeesAX.asp?Center=12", {{"Accept-Encoding", "br, gzip, deflate"}});
  ASSERT_TRUE(res);
  EXPECT_FALSE(res->has_header("Content-Encoding"));
  EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml; charset=utf-8");
  EXPECT_EQ(res->body.rfind("<?xml", 0), 0u);
  // The page answers under any address prefix and letter case.
  EXPECT_EQ(server_->Get("/fees/termfeesax.ASP?center=12").first, 200);
}

TEST_P(PageTest, AFailureOrRefusalIsNeverConfirmed) {
  Ok(" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
     "RecordLastUpdated)  VALUES (12, '03/15/2004', 49,  GETDATE()) ");
  const std::string before = db_.Dump();
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {" UPDATE RENEWALOPTIONFEE SET EffectivityDate = '03/15/2004', RenewalOptionFee = 55, "
       "RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '3/14/2004' AND CenterID = 12",
       409, "record not found"},
      {" DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/15/2004' AND CenterID = 20", 409,
       "record not found"},
      {" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', 50,  GETDATE()) ",
       409, "already exists"},
      {" INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated)  VALUES (77, '03/15/2004', 50,  GETDATE()) ",
       400, "center 77 does not exist"},
      {" INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
       "RecordLastUpdated)  VALUES (12, '03/15/2004', 0.0725, 9,  GETDATE()) ",
       400, "no known center, type or access level"},
      {" INSERT INTO SalesTax ( CenterID, Type, EffectivityDate,  Membership, Renewal, "
       "Merchandise, RecordLastUpdated)  VALUES (12,  6 , '03/15/2004', 0.08, 0.075, 0.01,  "
       "GETDATE()) ",
       400, "outside what the column holds"},
  };
  for (const auto& [text, status, says] : cases) {
    const auto reply = server_->Post(text);
    EXPECT_EQ(reply.first, status) << text << "\n" << reply.second;
    EXPECT_NE(reply.second.find(says), std::string::npos) << reply.second;
  }
  const std::string del =
      " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/15/2004' AND CenterID = 12";
  // The injection corpus: refused before any of it runs, saying why.
  for (const RefusalCase& c : RefusalCorpus()) {
    auto [status, body] = server_->Post(c.text);
    EXPECT_EQ(status, 400) << c.text.substr(0, 200);
    EXPECT_EQ(body.rfind("refused: ", 0), 0u) << body;
    EXPECT_NE(body.find(c.says), std::string::npos) << c.text.substr(0, 200) << "\n" << body;
  }
  // Bodies that are not a proper form, and one at the limit of the body
  // size, which is read; one beyond it is refused with the limit in force.
  auto post = [c = server_->Client()](const std::string& body) {
    return Reply(c->Post("/TermFeesAX.asp", body, "application/x-www-form-urlencoded"));
  };
  for (const std::string& b : {
           "SQL=" + FormEncode(del) + "%",
           "SQL=" + FormEncode(del) + "%G1",
           "SQL=" + FormEncode(del) + "&SQL=DROP+TABLE+Centers",
           "Statement=" + FormEncode(del),
           "SQL=" + del,  // raw blanks are not form encoding
           "SQL=" + FormEncode(del) + "%81",
           std::string(),
           "SQL=" + std::string(8192 - 4, 'A'),
       }) {
    const auto [status, body] = post(b);
    EXPECT_EQ(status, 400) << b.substr(0, 200);
    EXPECT_EQ(body.rfind("refused: ", 0), 0u) << body;
  }
  EXPECT_EQ(post("SQL=" + std::string(8193 - 4, 'A')),
            std::make_pair(413, std::string("refused: the body is larger than 8192 bytes")));
  EXPECT_EQ(db_.Dump(), before);

  // A text of two statements whose second fails leaves the first undone.
  Ok(AddRenewalFee(12, "01/01/2004", 3, 1, "25", "0.4"));
  const std::string withRenewal = db_.Dump();
  auto [status, body] = server_->Post(
      " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '07/01/2004') WHERE "
      "CenterID = 12 AND MEmberAccessLevelID = 3 AND TravelMembership = 1 AND ExpirationDate IS "
      "NULL\r\n UPDATE MembershipRenewalFee SET EffectivityDate ='07/01/2004', "
      "MembershipRenewalFee = 30, CenterPortion = 0.5, MEmberAccessLevelID = 3, "
      "RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '2/2/2004' AND CenterID = 12 AND "
      "isnull(TravelMembership,0) = 1 AND MemberAccessLevelID = 3");
  EXPECT_EQ(status, 409);
  EXPECT_EQ(body.rfind("record not found: statement 2:", 0), 0u) << body;
  EXPECT_EQ(db_.Dump(), withRenewal);

  // The expiry and the reopening may match nothing.
  Ok(" UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '07/01/2004') WHERE "
     "CenterID = 20 AND MEmberAccessLevelID = 1 AND TravelMembership = 0 AND ExpirationDate IS "
     "NULL");
  Ok(ReopenRenewalFee(20, 20));
}

TEST_P(PageTest, RenewalFeeEditSparesItselfAndDeletionReopens) {
  Ok(AddRenewalFee(12, "01/01/2004", 3, 0, "20"));
  Ok(AddRenewalFee(12, "01/01/2005", 3, 0, "22"));
  // Editing the record in force with the mended expiry keeps it open.
  Ok(" UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '2/1/2005') WHERE "
     "CenterID = 12 AND MEmberAccessLevelID = 3 AND TravelMembership = 0 AND ExpirationDate IS "
     "NULL AND NOT (EffectivityDate = '1/1/2005' AND MemberAccessLevelID = 3 AND "
     "isnull(TravelMembership,0) = 0)\r\n UPDATE MembershipRenewalFee SET EffectivityDate "
     "='2/1/2005', MembershipRenewalFee = 23, CenterPortion = 0.5, MEmberAccessLevelID = 3, "
     "RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '1/1/2005' AND CenterID = 12 AND "
     "isnull(TravelMembership,0) = 0 AND MemberAccessLevelID = 3");
  EXPECT_EQ(db_.Query("SELECT EffectivityDate, MembershipRenewalFee, ExpirationDate FROM "
                      "MembershipRenewalFee ORDER BY 1"),
            (std::vector<std::string>{"2004-01-01 00:00:00|200000|2004-12-31 23:59:59",
                                      "2005-02-01 00:00:00|230000|NULL"}));
  // Deleting the record in force, then reopening, puts its predecessor back in force.
  Ok(" DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '2/1/2005' AND CenterID = 12 "
     "AND MemberAccessLevelID = 3 AND isnull(TravelMembership,0) = 0");
  Ok(ReopenRenewalFee(12, 12));
  EXPECT_EQ(db_.Query("SELECT EffectivityDate, ExpirationDate FROM MembershipRenewalFee"),
            std::vector<std::string>{"2004-01-01 00:00:00|NULL"});
}

INSTANTIATE_TEST_SUITE_P(Backends, PageTest, AllBackends(), BackendName);

}  // namespace
}  // namespace harnolfees::server::testing
