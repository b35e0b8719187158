#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/view_fixture.hpp"

namespace harnolfees::viewtest {
namespace {

using Cells = std::vector<std::string>;

TEST(GridBankAccounts, AnAccountWithoutItsTypeIsReportedAndContained) {
  Control c;
  // An empty address stores the center and the date and fetches nothing.
  c.ctl->LoadData("", 12, "03/15/2004");
  c.Add(15, {{"BankAccountTypeID", std::int32_t{1}}, {"Description", "Checking"}});
  c.Account(1, D(2004, 1, 1));
  c.Account(7, D(2004, 1, 2));
  c.s().lblField[1].SetCaption("stale");
  EXPECT_NO_THROW(c.ctl->FillGridContained(9));
  ASSERT_EQ(c.host.messages.size(), 1u);
  EXPECT_NE(c.host.messages[0].prompt.find("7"), std::string::npos) << c.host.messages[0].prompt;
  EXPECT_EQ(c.host.messages[0].buttons, 0);
  EXPECT_EQ(c.host.messages[0].title, "");
  // The first account was shown; the form was not captioned.
  EXPECT_EQ(c.grid().TextMatrix(1, 1), "Checking");
  EXPECT_EQ(c.grid().TextMatrix(2, 1), "");
  EXPECT_EQ(c.s().lblField[1].Caption(), "");
  EXPECT_THROW(c.ctl->FillGrid(9), ControlError) << "the rendering itself reports to its caller";
  // A tab switch shows the failure too, and the steps done stay done.
  EXPECT_NO_THROW(c.ClickTab(9));
  ASSERT_EQ(c.host.messages.size(), 2u);
  EXPECT_EQ(c.host.messages[1].buttons, 0);
  EXPECT_EQ(c.host.messages[1].title, "");
  EXPECT_EQ(c.state().CurrentTab, 9);
  EXPECT_EQ(c.s().tabFees.Tag(), "0");
}

// Null amounts and dates show empty; a Null text stops the rendering there.
TEST(GridFailures, ANullTextOrAnUnknownListPositionStopsTheRendering) {
  Control c;
  c.Add(1, {{"Term", std::int16_t{12}}});
  c.Add(1, {{"Effectivity", D(2004, 2, 1)}});
  c.ctl->FillGridContained(1);
  ASSERT_EQ(c.host.messages.size(), 1u);
  EXPECT_NE(c.host.messages[0].prompt.find("Invalid use of Null"), std::string::npos);
  EXPECT_NE(c.host.messages[0].prompt.find("Term"), std::string::npos);
  EXPECT_EQ(c.Row(1), (Cells{"", "", "12", "", "", ""}));

  Control::Fill(c.s().cboType, {"Standard", "Premium"});
  c.Add(6,
        {{"Effectivity", D(2004, 1, 1)}, {"BetaProcessingFee", 1.0}, {"BetaContractTypeID", 5.0}});
  c.ctl->FillGridContained(6);
  ASSERT_EQ(c.host.messages.size(), 2u);
  EXPECT_NE(c.host.messages[1].prompt.find("cboType has no item 5"), std::string::npos)
      << c.host.messages[1].prompt;
  EXPECT_EQ(c.s().cboType.ListIndex(), -1);
}

TEST(GridRows, RowsOnlyGrow) {
  Control c;
  for (int i = 0; i < 30; ++i)
    c.Add(4, {{"Effectivity", D(2000 + i, 1, 1)}, {"RenewalOptionFee", 10.0 * i}});
  for (int i = 0; i < 3; ++i)
    c.Add(2, {{"Effectivity", D(2010 + i, 1, 1)},
              {"ValuePlusFee", 1.0},
              {"CenterPortion", 1.0},
              {"HarnolPortion", 1.0},
              {"HealthFee", 1.0}});
  c.ctl->FillGrid(4);
  EXPECT_EQ(c.grid().Rows(), 32);
  EXPECT_EQ(c.grid().TextMatrix(30, 0), "Jan 01, 2029");
  EXPECT_EQ(c.grid().TextMatrix(31, 0), "");
  c.ctl->FillGrid(2);
  EXPECT_EQ(c.grid().Rows(), 32);
  EXPECT_EQ(c.grid().TextMatrix(3, 0), "Jan 01, 2012");
  for (int r = 4; r <= 31; ++r) EXPECT_EQ(c.Row(r), (Cells(5, ""))) << r;
  // An empty set keeps every row, blank.
  c.ctl->FillGrid(3);
  EXPECT_EQ(c.grid().Rows(), 32);
  EXPECT_EQ(c.Row(1), (Cells(5, "")));
  EXPECT_EQ(c.grid().TextMatrix(0, 1), "Value Plus Renewal Fee ($)");
}

TEST(GridWidths, LongHeadingsWidenTheirColumns) {
  Control c;
  // The even share of 8295 twips, or 82 twips a heading character.
  const std::pair<int, std::vector<int>> cases[] = {
      {2, {1580, 1580, 1580, 1580, 1580}},
      {3, {1580, 2132, 1580, 1580, 1580}},
      {5, {2633, 2633, 2633}},
      {7, {1975, 1975, 1975, 1975}},
      {9, {1148, 1148, 1312, 1312, 1476, 1129, 1129}},
      {12, {1975, 1975, 1975, 1975}},
  };
  for (const auto& [tab, widths] : cases) {
    c.ctl->FillGrid(tab);
    EXPECT_EQ(c.Widths(), widths) << "tab " << tab;
  }
}

TEST(EntryFields, CaptionEachTabsSlotsWithItsHeadings) {
  Control c;
  Surface& s = c.s();
  for (int tab = 1; tab <= kTabCount; ++tab) {
    c.ctl->FillGrid(tab);
    const int n = GridColumnCount(tab);
    for (int i = 0; i <= 7; ++i) {
      const bool used = i < n && !(tab == 8 && i == 4);
      EXPECT_EQ(s.lblField[static_cast<std::size_t>(i)].Caption(),
                used ? GridHeadings(tab, i) : std::string())
          << "tab " << tab << " slot " << i;
      if (i > 0) {
        const TextBox& box = s.txtField[static_cast<std::size_t>(i)];
        EXPECT_EQ(box.Visible(), used) << "tab " << tab << " slot " << i;
        EXPECT_FALSE(box.Enabled()) << "browsing leaves the boxes read-only";
      }
    }
    EXPECT_TRUE(s.DTPicker1[0].Visible());
    EXPECT_EQ(s.cboAccessLevel.Visible(), tab == 8);
  }
  EXPECT_EQ(s.lblField[6].Caption(), "");
  c.ctl->FillGrid(9);
  EXPECT_EQ(s.lblField[6].Caption(), "Closed       ");
  EXPECT_TRUE(c.host.focus.empty()) << "browsing moves no focus";
}

}  // namespace
}  // namespace harnolfees::viewtest
