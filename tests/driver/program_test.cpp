// The built `harnolfees` program, driven through pipes as scripts and users drive it.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver_test_util.hpp"
#include "support/run_program.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {
namespace {

// The driver with `args`, fed `input`.
ProgramRun Driver(const std::vector<std::string>& args, const std::string& input = "") {
  return RunProgram(HARNOLFEES_DRIVER_PATH, args, input);
}

TEST(Program, OddBytesFromTheScriptStillGiveValidJsonLines) {
  ProgramRun p = Driver({"script", "-"},
                        "stringparameter \"|\" \"\" \"~\" \"\"\n"
                        "populate \"12\\xff|24\\x01~Gold\\\"\\\\~Silver\"\n"
                        "urlencode \"\\xc3\\xa9\\xe9\\n\"\ndump\n");
  EXPECT_EQ(p.status, 0) << p.out;
  ScriptRun run = ParseOutput(p.status, p.out);  // checks every line
  ASSERT_FALSE(run.Named("dump").empty()) << p.out;
  EXPECT_NE(p.out.find("\\u00ff"), std::string::npos) << p.out;
}

TEST(Program, TheShippedExampleRunsWithoutAServer) {
  const auto script =
      std::filesystem::path(HARNOLFEES_TEST_DATA_DIR) / ".." / ".." / "examples" / "startup.script";
  ProgramRun p = Driver({"script", script.string()});
  EXPECT_EQ(p.status, 0) << p.out;
  ScriptRun run = ParseOutput(p.status, p.out);
  EXPECT_EQ(run.Named("dump").size(), 4u);
  EXPECT_TRUE(run.Named("error").empty()) << p.out;
  EXPECT_TRUE(run.Named("msgbox").empty()) << p.out;
}

TEST(Program, ScriptFileErrorsAndUsage) {
  // A script file (here the pipe behind /dev/stdin) with an error on its third line.
  ProgramRun bad = Driver({"script", "/dev/stdin"}, "dump\r\n  # comment\ntab 0\ndump\n");
  EXPECT_EQ(bad.status, 2);
  ScriptRun run = ParseOutput(bad.status, bad.out);
  ASSERT_EQ(run.events.size(), 2u) << bad.out;
  EXPECT_EQ(run.events[1]["line"].Int(), 3);

  ProgramRun missing = Driver({"script", "/nonexistent/dir/x.script"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.out.find("cannot read the script file"), std::string::npos);

  ProgramRun help = Driver({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("harnolfees script [FILE]"), std::string::npos);
  const std::vector<std::vector<std::string>> wrongs = {
      {},
      {"frobnicate"},
      {"script", "a", "b"},
      {"show", "http://127.0.0.1:1/"},
      {"show", "http://127.0.0.1:1/", "1", "--tab", "15"},
      {"show", "http://h/", "1", "--colour", "red"}};
  for (const auto& wrong : wrongs) {
    EXPECT_EQ(Driver(wrong).status, 2) << (wrong.empty() ? "" : wrong[0]) << " " << wrong.size();
  }
}

TEST(Program, ShowPrintsTheLoadedTabsAsTablesOrCsv) {
  TestHttpServer server;
  server.SetDocument(kDocument);
  const std::string url = server.BaseUrl();
  ProgramRun one = Driver({"show", url, "12", "--tab", "1", "--server-date", "03/15/2004"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out,
            "Effective Date  Membership Fee ($)  Term (Months)  Membership Royalty (%)  "
            "Minimum Royalty ($)  Royalty Reserve (%)\n"
            "--------------  ------------------  -------------  ----------------------  "
            "-------------------  -------------------\n"
            "Jan 15, 2004              1,250.50             12                   7.250  "
            "              10.00                1.000\n");

  ProgramRun all = Driver({"show", url, "12", "--server-date=03/15/2004"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("Membership  Fee\nEffective Date"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("\n\nLocal Sales Taxes\n"), std::string::npos);
  // Tab 9: the headings lose their trailing blanks; "Zürich-7" is 8 columns wide.
  EXPECT_NE(all.out.find("Effective Date  Type      Routing Number  Account Number"),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find("Feb 01, 2004    Checking       021000021  Zürich-7" +
                         std::string(23, ' ') + "3  Feb 01, 2004\n"),
            std::string::npos)
      << all.out;

  // As CSV: one tab, or every tab in blocks.
  ProgramRun csv =
      Driver({"show", url, "12", "--csv", "--tab", "1", "--server-date", "03/15/2004"});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "Effective Date,Membership Fee ($),Term (Months),Membership Royalty (%),"
            "Minimum Royalty ($),Royalty Reserve (%)\r\n"
            "\"Jan 15, 2004\",\"1,250.50\",12,7.250,10.00,1.000\r\n");
  all = Driver({"show", url, "12", "--server-date=03/15/2004", "--csv"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out.rfind("# 1 Membership  Fee\r\n" + csv.out + "\r\n# 2 Value Plus Fee\r\n", 0),
            0u)
      << all.out;
  EXPECT_NE(all.out.find("\r\n\r\n# 9 Bank Account\r\n"
                         "Effective Date,Type,Routing Number,Account Number,SweepSpan (Days),"
                         "Opened,Closed\r\n"
                         "\"Feb 01, 2004\",Checking,021000021,Zürich-7,3,\"Feb 01, 2004\",\r\n\r\n"
                         "# 10 Country Sales Taxes\r\n"),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find("# 14 Local Sales Taxes\r\n"
                         "Effective Date,Membership (%),Renewal (%),Merchandise (%)\r\n\r\n"),
            std::string::npos)
      << all.out;
  EXPECT_EQ(Driver({"show", url, "12", "--csv=yes"}).status, 2);
}

TEST(Program, ShowOfAnUnreachableServerFailsWithTheMessage) {
  ProgramRun p =
      Driver({"show", "http://127.0.0.1:9/", "12", "--tab", "4", "--server-date", "03/15/2004"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.err.find("127.0.0.1:9"), std::string::npos) << p.err;
  EXPECT_EQ(p.out.rfind("Effective Date  Renewal Option Fee ($)\n", 0), 0u) << p.out;
}

}  // namespace
}  // namespace harnolfees::testing
