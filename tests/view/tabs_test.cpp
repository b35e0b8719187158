#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/view_fixture.hpp"

namespace harnolfees::viewtest {

namespace {

TEST(TabSwitch, FailuresAreShownAndTheStepsDoneStayDone) {
  Control c;
  // An empty address stores the center and the date and fetches nothing.
  c.ctl->LoadData("", 12, "03/15/2004");
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
  Control c;
  c.ctl->LoadData("", 12, "03/15/2004");
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
