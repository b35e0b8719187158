// Tabs as CSV: the cell texts of the grid, quoted as RFC 4180 asks, taken
// without moving anything the control shows.
#include "harnolfees/export.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "dump.hpp"
#include "support/document_generator.hpp"
#include "view/view_fixture.hpp"

namespace harnolfees::viewtest {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// A strict RFC 4180 reader: a field is quoted, with any quote inside doubled,
// or holds no comma, quote, CR or LF; every line ends with CR LF. Fails the
// test on anything else.
Rows ReadCsv(const std::string& csv) {
  static const std::regex field(R"re(("(?:[^"]|"")*"|[^,"\r\n]*)(,|\r\n))re");
  Rows rows(1);
  std::smatch m;
  for (auto at = csv.cbegin(); at != csv.cend(); at = m[0].second) {
    if (!std::regex_search(at, csv.cend(), m, field, std::regex_constants::match_continuous)) {
      ADD_FAILURE() << "not RFC 4180 from byte " << (at - csv.cbegin()) << " of " << csv;
      return {};
    }
    std::string text = m[1];
    if (!text.empty() && text[0] == '"') {
      text = text.substr(1, text.size() - 2);
      for (auto q = text.find("\"\""); q != std::string::npos; q = text.find("\"\"", q + 1))
        text.erase(q, 1);
    }
    rows.back().push_back(std::move(text));
    if (m[2] == "\r\n") rows.emplace_back();
  }
  rows.pop_back();
  return rows;
}

TEST(ExportCsv, QuotesFieldsThatNeedItAndTrimsTheHeadings) {
  Control c;
  c.Add(15, {{"BankAccountTypeID", std::int32_t{4}}, {"Description", "Savings, \"gold\""}});
  c.Add(9, {{"Type", std::int16_t{4}},
            {"Effectivity", D(2004, 3, 15)},
            {"RoutingNumber", "021000021"},
            {"AccountNumber", "a\r\nb,c"},
            {"SweepSpan", std::int32_t{3}},
            {"Opened", D(2003, 5, 1)},
            {"Closed", "06/30/2004"}});
  c.Add(9, {{"Type", std::int16_t{4}},
            {"Effectivity", D(2005, 1, 2)},
            {"RoutingNumber", "Zürich"},
            {"AccountNumber", "x\ny"},
            {"SweepSpan", std::int32_t{0}},
            {"Closed", "  "}});
  EXPECT_EQ(ExportTabCsv(*c.ctl, 9),
            "Effective Date,Type,Routing Number,Account Number,SweepSpan (Days),Opened,Closed\r\n"
            "\"Mar 15, 2004\",\"Savings, \"\"gold\"\"\",021000021,\"a\r\nb,c\",3,"
            "\"May 01, 2003\",\"Jun 30, 2004\"\r\n"
            "\"Jan 02, 2005\",\"Savings, \"\"gold\"\"\",Zürich,\"x\ny\",0,,\r\n");
  EXPECT_THROW(ExportTabCsv(*c.ctl, 15), ControlError);
}

TEST(ExportCsv, AnyTabComesOutWhileTheControlShowsAnotherAndNothingMoves) {
  Control c;
  Surface& s = c.s();
  Control::Fill(s.cboType, {"Standard", "Premium"});
  Control::Fill(s.cboBitwise, {"Good", "Fair"});
  c.Add(1, {{"Effectivity", D(2004, 1, 1)},
            {"MembershipFee", 1234.5},
            {"Term", std::int16_t{12}},
            {"MembershipRoyalty", 0.05f},
            {"MinimumRoyalty", 250.0},
            {"RoyaltyReserve", 0.025f}});
  c.Add(1, {{"Effectivity", D(2005, 1, 1)},
            {"MembershipFee", 99.0},
            {"Term", std::int16_t{24}},
            {"MembershipRoyalty", 0.0f},
            {"MinimumRoyalty", 0.0},
            {"RoyaltyReserve", 0.0f}});
  c.Add(7, {{"Effectivity", D(2004, 1, 1)},
            {"BetaReserve", 0.1},
            {"ContractType", 1.0},
            {"CreditTypeBitwiseValue", 2.0}});
  c.Add(6,
        {{"Effectivity", D(2004, 1, 1)}, {"BetaProcessingFee", 1.0}, {"BetaContractTypeID", 5.0}});
  // Stored out of order; without the travel option the grid sorts them.
  c.Renewal(D(2004, 1, 1), "Silver", 2, 100.0, 0.4, 0);
  c.Renewal(D(2005, 6, 1), "Bronze", 3, 50.0, 0.25, 0);
  c.Renewal(D(2004, 1, 1), "Gold", 1, 200.0, 0.5, 1);

  // The operator is editing the second membership fee, with a list choice
  // and a typed text, and the record set's cursor on that record.
  c.ctl->FillGrid(1);
  s.grdFees.SetRow(2);
  s.cmdEdit.Click();
  ASSERT_EQ(s.tabFees.Tag(), kModeEditing);
  s.txtField[1].SetText("77");
  s.cboType.SetListIndex(1);
  RecordSet& fees = c.ctl->recordSets()(1);
  fees.MoveFirst();
  fees.MoveNext();
  const std::string before = driver::DumpEvent(*c.ctl);
  int notifications = 0;
  for (Component* watched : std::initializer_list<Component*>{&s.grdFees, &s.cboType, &s.cboBitwise,
                                                              &s.cboAccessLevel, &s.lblField[3]})
    watched->Observe([&](const Component&, std::string_view) { ++notifications; });

  EXPECT_EQ(ExportTabCsv(*c.ctl, 8),
            "Effective Date,Access Level,Renewal Fee ($),Center Portion (%)\r\n"
            "\"Jun 01, 2005\",Bronze,50.00,25.000\r\n"
            "\"Jan 01, 2004\",Gold,200.00,50.000\r\n"
            "\"Jan 01, 2004\",Silver,100.00,40.000\r\n");
  EXPECT_EQ(ExportTabCsv(*c.ctl, 7),
            "Effective Date,Beta Reserve (%),Contract Type,Credit Type\r\n"
            "\"Jan 01, 2004\",10.000,Premium,Fair\r\n");
  EXPECT_EQ(ExportTabCsv(*c.ctl, 1),
            "Effective Date,Membership Fee ($),Term (Months),Membership Royalty (%),"
            "Minimum Royalty ($),Royalty Reserve (%)\r\n"
            "\"Jan 01, 2004\",\"1,234.50\",12,5.000,250.00,2.500\r\n"
            "\"Jan 01, 2005\",99.00,24,0.000,0.00,0.000\r\n");
  // A tab the grid could not render fails the same way, alone.
  const auto [code, description] = testing::ControlErrorOf([&] { ExportTabCsv(*c.ctl, 6); });
  EXPECT_NE(description.find("cboType has no item 5"), std::string::npos) << description;
  const std::vector<TabCsv> all = ExportAllTabsCsv(*c.ctl);
  ASSERT_EQ(all.size(), 14u);
  EXPECT_EQ(all[5].error, description);
  EXPECT_EQ(all[5].csv, "");
  EXPECT_EQ(all[7].csv, ExportTabCsv(*c.ctl, 8));
  EXPECT_EQ(all[7].error, "");

  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(driver::DumpEvent(*c.ctl), before);
  EXPECT_EQ(c.ctl->recordSets()(8).Sort(), "");
  ASSERT_TRUE(fees.HasCurrentRecord());
  EXPECT_EQ(fees.GetValue("MembershipFee").ToDouble(c.ctl->regional()), 99.0);
  EXPECT_TRUE(c.host.messages.empty());
}

TEST(ExportCsv, EveryTabReadsBackAsTheGridShowsIt) {
  const testing::GeneratedDocument doc = testing::GenerateLoadDocument(450);
  Control c(doc.xml);
  c.ctl->LoadData("http://127.0.0.1:1/", 12, "07/15/2005");
  ASSERT_TRUE(c.host.messages.empty());
  const std::vector<TabCsv> all = ExportAllTabsCsv(*c.ctl);
  ASSERT_EQ(all.size(), 14u);
  EXPECT_EQ(all[0].fileName, "01 Membership Fee.csv");
  EXPECT_EQ(all[10].fileName, "11 State Province Sales Taxes.csv");
  bool quoted = false;
  for (int tab = 1; tab <= 14; ++tab) {
    const TabCsv& t = all[static_cast<std::size_t>(tab - 1)];
    EXPECT_EQ(t.tab, tab);
    EXPECT_EQ(t.caption, FeeTab(tab).caption);
    ASSERT_EQ(t.error, "") << tab;
    quoted = quoted || t.csv.find('"') != std::string::npos;

    c.ClickTab(tab);
    ASSERT_EQ(c.state().CurrentTab, tab);
    const Rows rows = ReadCsv(t.csv);
    const std::size_t records = doc.records[static_cast<std::size_t>(tab)];
    ASSERT_EQ(rows.size(), records + 1) << tab;
    ASSERT_GT(c.grid().Rows(), static_cast<int>(records));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      std::vector<std::string> shown = c.Row(static_cast<int>(r));
      if (r == 0) {
        for (std::string& heading : shown) heading = TrimBlanks(heading);
      }
      ASSERT_EQ(rows[r], shown) << "tab " << tab << " row " << r;
    }
    EXPECT_EQ(c.Row(static_cast<int>(records) + 1), std::vector<std::string>(rows[0].size(), ""));
  }
  EXPECT_TRUE(quoted) << "amounts over 1,000 and the dates hold commas";
  EXPECT_TRUE(c.host.messages.empty());
}

}  // namespace
}  // namespace harnolfees::viewtest
