// The control's driver against the built server on each backend: add, edit
// and delete on several tabs, reload, and the database holds what the grid
// shows.
#include <gtest/gtest.h>

#include <fstream>

#include "server_test_util.hpp"
#include "support/run_program.hpp"

namespace harnolfees::server::testing {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

class EndToEnd : public ::testing::TestWithParam<Backend> {};

TEST_P(EndToEnd, TheDatabaseHoldsWhatTheGridShows) {
  const TestDatabase db(GetParam());
  const TempDir& dir = db.dir();
  ServerProcess server(
      HARNOLFEES_SERVER_PATH,
      {"--db", db.target(), "--listen", "127.0.0.1:0", "--center", "30:travel", "--quiet"},
      {dir.File("server.log")});
  const std::string url = "\"http://127.0.0.1:" + std::to_string(server.port()) + "/\"";
  const std::string script = dir.File("operator.script");
  std::ofstream(script) << "load " << url << R"( 30 "2006-01-15"
tab 1
click cmdAdd
date 0 2006-02-01
type 1 "120.50"
select cboTerm 1
type 3 "7.5"
type 4 "25"
type 5 "5"
click cmdAdd
tab 4
click cmdAdd
date 0 2006-02-01
type 1 "49"
click cmdAdd
cell 1
click cmdEdit
type 1 "55"
click cmdAdd
tab 5
click cmdAdd
date 0 2006-02-01
type 1 "7.25"
select cboAPRType 1
click cmdAdd
tab 8
click cmdAdd
select cboAccessLevel 2
check chkTravel 1
date 0 2006-02-01
type 2 "300"
type 3 "40"
click cmdAdd
tab 9
click cmdAdd
select cboBanckAccType 0
date 0 2006-02-01
type 2 "021000021"
type 3 "5550"
type 4 "10"
date 1 2006-01-01
click cmdAdd
tab 12
click cmdAdd
date 0 2006-02-01
type 1 "1"
type 2 "1.25"
type 3 "0.5"
click cmdAdd
click cmdAdd
date 0 2006-03-01
type 1 "2"
type 2 "2"
type 3 "2"
click cmdAdd
cell 1
answer yes
click cmdDelete
load )" << url << R"( 30 "2006-01-15"
dump
)";
  const std::string out =
      harnolfees::testing::RunProgram(HARNOLFEES_DRIVER_PATH, {"script", script}).out;
  ASSERT_NE(out.find("\"event\":\"dump\""), std::string::npos) << out.substr(0, 2000);
  // Nine statements went out and none was refused.
  EXPECT_EQ(Count(out, "\"event\":\"post\""), 9u);
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out.substr(0, 4000);

  EXPECT_EQ(db.Query("SELECT EffectivityDate, MembershipFee, Term, MembershipRoyalty, "
                     "MinimumRoyalty, RoyaltyReserve FROM MembershipFee"),
            std::vector<std::string>{"2006-02-01 00:00:00|1205000|24|0.075|250000|0.05"});
  EXPECT_EQ(db.Query("SELECT EffectivityDate, RenewalOptionFee FROM RenewalOptionFee"),
            std::vector<std::string>{"2006-02-01 00:00:00|550000"});
  EXPECT_EQ(db.Query("SELECT BetaAPR, BetaAPRTypeID FROM BetaAPR"),
            std::vector<std::string>{"0.0725|2"});
  EXPECT_EQ(db.Query("SELECT MembershipRenewalFee, CenterPortion, MemberAccessLevelID, "
                     "TravelMembership, ExpirationDate FROM MembershipRenewalFee"),
            std::vector<std::string>{"3000000|0.4|3|1|NULL"});
  EXPECT_EQ(db.Query("SELECT Type, RoutingNumber, AccountNumber, SweepSpan, Opened, Closed FROM "
                     "BankAccount"),
            std::vector<std::string>{"1|021000021|5550|10|2006-01-01 00:00:00|NULL"});
  EXPECT_EQ(db.Query("SELECT Type, EffectivityDate, Membership, Renewal, Merchandise FROM "
                     "SalesTax"),
            std::vector<std::string>{"3|2006-03-01 00:00:00|0.02|0.02|0.02"});

  // The reloaded record sets show the same.
  const std::string dump = out.substr(out.find("\"event\":\"dump\""));
  for (const std::string& record :
       {std::string("\"Effectivity\":\"2006-02-01T00:00:00\",\"MembershipFee\":120.5,\"Term\":24"),
        std::string("\"Effectivity\":\"2006-02-01T00:00:00\",\"RenewalOptionFee\":55,"),
        std::string("\"BetaAPR\":0.0725,\"BetaAPRTypeID\":2,"),
        std::string("\"MembershipRenewalFee\":300,\"CenterPortion\":0.4,"),
        std::string("\"RoutingNumber\":\"021000021\",\"AccountNumber\":\"5550\",\"SweepSpan\":10,"),
        std::string("\"Type\":3,\"Effectivity\":\"2006-03-01T00:00:00\",\"Membership\":0.02,")}) {
    EXPECT_NE(dump.find(record), std::string::npos) << record;
  }
  EXPECT_EQ(dump.find("\"Effectivity\":\"2006-02-01T00:00:00\",\"Membership\":"),
            std::string::npos);  // the deleted sales tax
}

INSTANTIATE_TEST_SUITE_P(Backends, EndToEnd, AllBackends(), BackendName);

}  // namespace
}  // namespace harnolfees::server::testing
