#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/view_fixture.hpp"

namespace harnolfees::viewtest {

// A control that knows the server's date, as after a load.
struct Loaded : Control {
  // An empty address stores the center and the date and fetches nothing.
  Loaded() { ctl->LoadData("", 12, "03/15/2004"); }

  void ExpectBrowsingForm(int tab) {
    Surface& f = s();
    EXPECT_EQ(f.tabFees.Tag(), "0") << "tab " << tab;
    EXPECT_EQ(f.cmdAdd.Caption(), "&Add");
    EXPECT_EQ(f.cmdEdit.Caption(), "&Edit");
    EXPECT_TRUE(f.cmdDelete.Enabled());
    for (int i = 1; i <= 7; ++i) {
      const TextBox& box = f.txtField[static_cast<std::size_t>(i)];
      EXPECT_FALSE(box.Enabled()) << "tab " << tab << " box " << i;
      EXPECT_EQ(box.BackColor(), SystemColor::ButtonFace) << "tab " << tab << " box " << i;
    }
    EXPECT_FALSE(f.DTPicker1[0].Enabled());
    EXPECT_EQ(f.DTPicker1[0].Value(), D(2004, 3, 15));
  }
};

namespace {

TEST(TabSwitch, ClickingTheShownTabOnlyHidesTheAccessList) {
  Loaded c;
  c.Renewal(D(2004, 1, 1), "Gold", 1, 1.0, 0.5);
  c.ClickTab(8);
  ASSERT_TRUE(c.s().cboAccessLevel.Visible());
  c.grid().SetTextMatrix(5, 0, "not re-rendered");
  c.host.ClearRecords();
  c.ClickTab(8);
  EXPECT_FALSE(c.s().cboAccessLevel.Visible());
  EXPECT_EQ(c.grid().TextMatrix(5, 0), "not re-rendered");
  EXPECT_EQ(c.state().CurrentTab, 8);
  EXPECT_TRUE(c.host.messages.empty());
}

TEST(TabSwitch, AnAddLeftHalfwayIsTakenUpAgainWithItsTexts) {
  Loaded c;
  Surface& s = c.s();
  EXPECT_EQ(c.state().ServerDate, "3/15/2004");
  c.ClickTab(2);
  c.ExpectBrowsingForm(2);
  s.cmdAdd.Click();
  ASSERT_EQ(s.tabFees.Tag(), "1");
  s.txtField[1].SetText("150");
  c.ClickTab(3);
  EXPECT_EQ(c.state().TabEntryMode[2], 1);
  EXPECT_EQ(c.state().SavedFieldTexts[2][1], "150");
  c.ExpectBrowsingForm(3);
  EXPECT_EQ(s.txtField[1].Text(), "");

  c.ClickTab(2);
  EXPECT_EQ(s.tabFees.Tag(), "1");
  EXPECT_EQ(s.cmdAdd.Caption(), "&Save");
  EXPECT_EQ(s.cmdEdit.Caption(), "&Cancel");
  EXPECT_FALSE(s.cmdDelete.Enabled());
  EXPECT_EQ(s.txtField[1].Text(), "150");
  EXPECT_TRUE(s.txtField[1].Enabled());
  EXPECT_EQ(s.txtField[1].BackColor(), SystemColor::WindowBackground);
  EXPECT_TRUE(c.state().IsAdding);
  EXPECT_TRUE(c.host.messages.empty());
}

TEST(TabSwitch, ARememberedAddSurvivesManySwitches) {
  Loaded c;
  Surface& s = c.s();
  Control::Fill(s.cboTerm, {"12", "24", "36"});
  s.cmdAdd.Click();
  s.cboTerm.SetListIndex(1);
  s.txtField[1].SetText("1,250.00");
  for (int tab : {4, 9, 12, 8}) c.ClickTab(tab);
  EXPECT_EQ(c.state().SavedFieldTexts[1][2], "1") << "the term's position travels in its box";
  c.ClickTab(1);
  EXPECT_EQ(s.tabFees.Tag(), "1");
  EXPECT_EQ(s.cboTerm.ListIndex(), 1);
  EXPECT_EQ(s.cboTerm.Text(), "24");
  EXPECT_EQ(s.txtField[1].Text(), "1,250.00");
}

TEST(TabSwitch, AnEditLeftHalfwayGetsItsListChoicesBack) {
  Loaded c;
  Surface& s = c.s();
  Control::Fill(s.cboType, {"Standard", "Premium"});
  Control::Fill(s.cboBitwise, {"Good", "Fair", "Poor"});
  c.Add(7, {{"Effectivity", D(2004, 1, 1)},
            {"BetaReserve", 0.1},
            {"ContractType", 1.0},
            {"CreditTypeBitwiseValue", 3.0}});
  c.ClickTab(7);
  c.grid().SetRow(1);
  s.cmdEdit.Click();
  ASSERT_EQ(s.tabFees.Tag(), "2");
  ASSERT_EQ(s.cboBitwise.ListIndex(), 2);
  c.ClickTab(1);
  EXPECT_EQ(c.state().TabEntryMode[7], 2);
  EXPECT_EQ(c.state().SavedFieldTexts[7][2], "1");
  EXPECT_EQ(c.state().SavedFieldTexts[7][3], "3");
  EXPECT_FALSE(s.cboType.Visible());
  EXPECT_FALSE(s.cboBitwise.Visible());

  s.cboBitwise.SetListIndex(0);  // anything in between is forgotten
  c.ClickTab(7);
  EXPECT_EQ(s.tabFees.Tag(), "2");
  EXPECT_EQ(s.cboType.ListIndex(), 1);
  EXPECT_EQ(s.cboBitwise.ListIndex(), 2);
  EXPECT_EQ(s.txtField[3].Text(), "3");
  EXPECT_FALSE(c.state().IsAdding);
}

TEST(TabSwitch, TheAccessLevelAndTravelTickAreSetAfreshOnTheRenewalTab) {
  Loaded c;
  Surface& s = c.s();
  s.cboAccessLevel.AddItem("Gold");
  s.cboAccessLevel.SetItemData(0, 1);
  s.cboAccessLevel.AddItem("Silver");
  s.cboAccessLevel.SetItemData(1, 2);
  c.ClickTab(8);
  s.cmdAdd.Click();
  ASSERT_EQ(s.cboAccessLevel.Text(), "Gold");
  s.cboAccessLevel.SetListIndex(1);
  s.txtField[2].SetText("300.00");
  s.txtField[3].SetText("40.000");
  c.ClickTab(6);
  EXPECT_FALSE(s.cboAccessLevel.Visible());
  EXPECT_FALSE(s.chkTravel.Visible());
  c.ClickTab(8);
  EXPECT_EQ(s.tabFees.Tag(), "1");
  EXPECT_EQ(s.txtField[2].Text(), "300.00");
  EXPECT_EQ(s.txtField[3].Text(), "40.000");
  EXPECT_EQ(s.cboAccessLevel.Text(), "Gold");
  EXPECT_TRUE(s.cboAccessLevel.Visible());
}

TEST(TabSwitch, InViewModeOnlyTheRenewalTabShowsItsControls) {
  Control c("<R><SHOWTravelOption/></R>");
  c.ctl->LoadData("http://fees.example/", 12, "03/15/2004");
  ASSERT_TRUE(c.state().ShowTravelOption);
  c.Renewal(D(2004, 1, 1), "Gold", 1, 1.0, 0.5, 1);
  c.ctl->SetViewMode(true);
  Surface& s = c.s();
  for (int tab : {2, 1, 5, 6, 7, 8, 9, 10, 14, 8}) {
    c.ClickTab(tab);
    for (const ComboBox* box :
         {&s.cboTerm, &s.cboAPRType, &s.cboType, &s.cboBitwise, &s.cboBanckAccType}) {
      EXPECT_FALSE(box->Visible()) << box->Name() << " on tab " << tab;
    }
    EXPECT_EQ(s.cboAccessLevel.Visible(), tab == 8) << tab;
    EXPECT_EQ(s.chkTravel.Visible(), tab == 8) << tab;
    EXPECT_FALSE(s.chkTravel.Enabled());
    EXPECT_FALSE(s.chkDT.Visible());
  }
}

TEST(TabSwitch, TheBankTabShowsItsClosingTickUncheckedAndTheDatePickersHidden) {
  Loaded c;
  Surface& s = c.s();
  c.ClickTab(9);
  EXPECT_TRUE(s.cboBanckAccType.Visible());
  EXPECT_EQ(s.cboBanckAccType.ListIndex(), -1);
  EXPECT_TRUE(s.chkDT.Visible());
  EXPECT_EQ(s.chkDT.Value(), 0);
  EXPECT_FALSE(s.chkDT.Enabled());
  EXPECT_FALSE(s.DTPicker1[1].Visible());
  EXPECT_FALSE(s.DTPicker1[2].Visible());

  // A tick left behind is undone on the way back, closing picker and all.
  s.cmdAdd.Click();
  s.chkDT.SetValue(1);
  ASSERT_TRUE(s.DTPicker1[2].Visible());
  c.ClickTab(10);
  EXPECT_FALSE(s.chkDT.Visible());
  EXPECT_FALSE(s.DTPicker1[1].Visible());
  EXPECT_FALSE(s.DTPicker1[2].Visible());
  c.ClickTab(9);
  EXPECT_EQ(s.tabFees.Tag(), "1");
  EXPECT_EQ(s.chkDT.Value(), 0);
  EXPECT_FALSE(s.DTPicker1[2].Visible());
}

TEST(TabSwitch, FailuresAreShownAndTheStepsDoneStayDone) {
  Loaded c;
  c.Account(3, D(2004, 1, 1));
  c.host.ClearRecords();
  EXPECT_NO_THROW(c.ClickTab(9));
  ASSERT_EQ(c.host.messages.size(), 1u);
  EXPECT_EQ(c.host.messages[0].buttons, 0);
  EXPECT_EQ(c.host.messages[0].title, "");
  EXPECT_EQ(c.state().CurrentTab, 9);
  EXPECT_EQ(c.s().tabFees.Tag(), "0");
}

TEST(EntryFields, WhileAddingTheyOpenAndTheDateTakesTheFocus) {
  Loaded c;
  Surface& s = c.s();
  c.ClickTab(3);
  s.cmdAdd.Click();
  c.host.focus.clear();
  c.ctl->SetViewMode(false);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(s.txtField[static_cast<std::size_t>(i)].Enabled()) << i;
    EXPECT_EQ(s.txtField[static_cast<std::size_t>(i)].BackColor(), SystemColor::WindowBackground);
  }
  EXPECT_FALSE(s.txtField[5].Visible());
  EXPECT_FALSE(s.txtField[5].Enabled()) << "a hidden box stays closed";
  EXPECT_EQ(c.host.focus, (std::vector<std::string>{"DTPicker1(0)"}));
}

}  // namespace
}  // namespace harnolfees::viewtest
