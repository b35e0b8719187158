// Field entry: selection on entry, number formats on exit, the closed-date
// check box and the date pickers' set-up.
#include <gtest/gtest.h>

#include "loading/loading_fixture.hpp"

namespace harnolfees::testing {
namespace {

class FieldEntryTest : public LoadingTest {
 protected:
  // Types into a box the way an operator does, and returns what it shows.
  std::string Type(int index, const std::string& text) {
    control->txtField_GotFocus(index);
    surface().txtField[static_cast<std::size_t>(index)].SetText(text);
    control->txtField_LostFocus(index);
    return surface().txtField[static_cast<std::size_t>(index)].Text();
  }
};

TEST_F(FieldEntryTest, EnteringABoxSelectsItsWholeText) {
  TextBox& box = surface().txtField[1];
  box.SetText("1,234.50");
  box.SetSelStart(3);
  control->txtField_GotFocus(1);
  EXPECT_EQ(box.SelStart(), 0);
  EXPECT_EQ(box.SelLength(), 8);

  box.SetText("D\u00e9p\u00f4t \U0001F600");  // characters, not bytes
  control->txtField_GotFocus(1);
  EXPECT_EQ(box.SelLength(), 7);

  box.SetText("");
  control->txtField_GotFocus(1);
  EXPECT_EQ(box.SelLength(), 0);
}

TEST_F(FieldEntryTest, LeavingABoxFormatsItsNumberWithTheColumnsDecimals) {
  LoadSample();
  // Tab 1: money with the regional default, percentages with 3 decimals.
  EXPECT_EQ(Type(1, "1234.5"), "1,234.50");
  EXPECT_EQ(Type(3, "5"), "5.000");
  EXPECT_EQ(Type(4, " 75 "), "75.00");
  EXPECT_EQ(Type(5, "-0.0625"), "-0.063");
  EXPECT_EQ(Type(2, "7"), "7");  // under the term list: never
  // Not numbers: left as typed.
  EXPECT_EQ(Type(1, "abc"), "abc");
  EXPECT_EQ(Type(1, ""), "");
  EXPECT_EQ(Type(1, "12abc"), "12abc");

  ClickTab(2);
  EXPECT_EQ(Type(4, "1e3"), "1,000.00");
  ClickTab(5);
  EXPECT_EQ(Type(1, "18.99"), "18.990");
  EXPECT_EQ(Type(2, "1"), "1");
  ClickTab(7);
  EXPECT_EQ(Type(1, "10"), "10.000");
  EXPECT_EQ(Type(3, "2"), "2");
  ClickTab(8);
  EXPECT_EQ(Type(1, "3"), "3");  // under the access levels: never
  EXPECT_EQ(Type(2, "99"), "99.00");
  EXPECT_EQ(Type(3, "60"), "60.000");
  ClickTab(9);
  for (int index = 1; index <= 7; ++index) EXPECT_EQ(Type(index, "1234"), "1234") << index;
  for (int tab = 10; tab <= 14; ++tab) {
    ClickTab(tab);
    EXPECT_EQ(Type(1, "7.25"), "7.250000") << tab;
    EXPECT_EQ(Type(3, "1,000"), "1,000.000000") << tab;
    EXPECT_EQ(Type(4, "7.25"), "7.25") << tab;
  }
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

TEST_F(FieldEntryTest, InitDatePickerSetsTheRangeAroundTheDate) {
  DatePicker& picker = surface().DTPicker1[1];
  control->InitDatePicker("3/15/2004", 1);
  EXPECT_EQ(picker.MinDate(), Date(2004, 1, 15));
  EXPECT_EQ(picker.MaxDate(), Date(2005, 3, 15));
  EXPECT_EQ(picker.Value(), Date(2004, 3, 15));
  EXPECT_TRUE(picker.Visible());

  // A day the target month lacks becomes its last day.
  control->InitDatePicker("2004-02-29", 1);
  EXPECT_EQ(picker.MaxDate(), Date(2005, 2, 28));
  EXPECT_EQ(picker.MinDate(), Date(2003, 12, 29));
  control->InitDatePicker("Apr 30, 2004", 1);
  EXPECT_EQ(picker.MinDate(), Date(2004, 2, 29));
  EXPECT_EQ(picker.MaxDate(), Date(2005, 4, 30));
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

TEST_F(FieldEntryTest, InitDatePickerMovesTheBoundsSoThatTheyNeverCross) {
  DatePicker& picker = surface().DTPicker1[0];
  std::vector<std::string> changes;
  picker.Observe([&](const Component&, std::string_view property) {
    if (property == "MinDate" || property == "MaxDate") changes.emplace_back(property);
    EXPECT_LE(picker.MinDate(), picker.MaxDate());
  });
  control->InitDatePicker("3/15/2004", 0);
  changes.clear();

  control->InitDatePicker("3/15/2010", 0);  // later: widen the top first
  EXPECT_EQ(changes, (std::vector<std::string>{"MaxDate", "MinDate"}));
  EXPECT_EQ(picker.MinDate(), Date(2010, 1, 15));
  changes.clear();

  control->InitDatePicker("3/15/2004", 0);  // earlier than MinDate: lower the bottom first
  EXPECT_EQ(changes, (std::vector<std::string>{"MinDate", "MaxDate"}));
  EXPECT_EQ(picker.MaxDate(), Date(2005, 3, 15));
  EXPECT_EQ(picker.Value(), Date(2004, 3, 15));
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

TEST_F(FieldEntryTest, InitDatePickerReportsANonDateAndLeavesThePickerAlone) {
  DatePicker& picker = surface().DTPicker1[2];
  control->InitDatePicker("3/15/2004", 2);
  picker.SetVisible(false);

  control->InitDatePicker("next Tuesday", 2);

  ASSERT_EQ(host.messages.size(), 1u);
  const std::string& prompt = host.messages[0].prompt;
  EXPECT_EQ(prompt.rfind(std::to_string(errc::kTypeMismatch) + " ", 0), 0u) << prompt;
  EXPECT_NE(prompt.find("next Tuesday"), std::string::npos) << prompt;
  EXPECT_EQ(host.messages[0].buttons, 0);
  EXPECT_EQ(host.messages[0].title, "");
  EXPECT_EQ(picker.Value(), Date(2004, 3, 15));
  EXPECT_EQ(picker.MinDate(), Date(2004, 1, 15));
  EXPECT_FALSE(picker.Visible());
}

TEST_F(FieldEntryTest, CheckingTheClosedDateBoxShowsThePicker) {
  LoadSample();  // the server date is 3/15/2004
  DatePicker& closed = surface().DTPicker1[2];

  // Not adding and no stored closed date: the server date.
  surface().chkDT.SetValue(1);
  EXPECT_TRUE(closed.Visible());
  EXPECT_EQ(closed.Value(), Date(2004, 3, 15));

  surface().chkDT.SetValue(0);
  EXPECT_FALSE(closed.Visible());
  EXPECT_FALSE(surface().txtField[6].Enabled());

  // An edited account's stored closed date, blanks around it.
  closed.SetTag("  Jul 04, 2004 ");
  surface().chkDT.SetValue(1);
  EXPECT_TRUE(closed.Visible());
  EXPECT_EQ(closed.Value(), Date(2004, 7, 4));
  EXPECT_EQ(closed.MaxDate(), Date(2005, 7, 4));

  surface().chkDT.SetValue(0);
  closed.SetTag("   ");
  surface().chkDT.SetValue(1);
  EXPECT_EQ(closed.Value(), Date(2004, 3, 15));
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

TEST_F(FieldEntryTest, CheckingWhileAddingIgnoresAStoredClosedDate) {
  LoadSample();
  ClickTab(9);
  surface().DTPicker1[2].SetTag("Jul 04, 2004");
  control->cmdAdd_Click();
  ASSERT_TRUE(state().IsAdding);

  surface().chkDT.SetValue(1);

  EXPECT_TRUE(surface().DTPicker1[2].Visible());
  EXPECT_EQ(surface().DTPicker1[2].Value(), Date(2004, 3, 15));
}

}  // namespace
}  // namespace harnolfees::testing
