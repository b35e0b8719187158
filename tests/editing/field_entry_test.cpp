// Field entry: selection on entry, number formats on exit (the plain format of
// every tab's boxes is in the tab scenarios), the closed-date check box and the
// date pickers' set-up.
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

// The plain formats of every tab's boxes are in the tab scenarios; here the
// edges: texts that are no numbers, blanks, rounding, exponents, separators,
// and the boxes without decimals (under a list, or of a text column).
TEST_F(FieldEntryTest, LeavingABoxFormatsItsNumberWithTheColumnsDecimals) {
  LoadSample();
  EXPECT_EQ(Type(4, " 75 "), "75.00");
  EXPECT_EQ(Type(5, "-0.0625"), "-0.063");
  for (const char* text : {"abc", "", "12abc"}) EXPECT_EQ(Type(1, text), text);
  Tab(2);
  EXPECT_EQ(Type(4, "1e3"), "1,000.00");
  for (int tab = 10; tab <= 14; ++tab) {
    Tab(tab);
    EXPECT_EQ(Type(3, "1,000"), "1,000.000000") << tab;
  }
  // Never: the boxes under the lists and those of columns without decimals.
  for (const auto& [tab, index] : std::vector<std::pair<int, int>>{
           {1, 2}, {1, 6}, {2, 5}, {4, 2}, {5, 2}, {6, 2}, {7, 3}, {8, 1}, {8, 4}, {12, 4}}) {
    Tab(tab);
    EXPECT_EQ(Type(index, "1234.5"), "1234.5") << tab << " " << index;
  }
  Tab(9);
  for (int index = 1; index <= 7; ++index) EXPECT_EQ(Type(index, "1234"), "1234") << index;
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

// The plain range (two months back, a year on) is in the load_document
// scenario's dumps.
TEST_F(FieldEntryTest, InitDatePickerSetsTheRangeAroundTheDate) {
  DatePicker& picker = surface().DTPicker1[1];
  // A day the target month lacks becomes its last day.
  control->InitDatePicker("2004-02-29", 1);
  EXPECT_EQ(picker.MaxDate(), Date(2005, 2, 28));
  EXPECT_EQ(picker.MinDate(), Date(2003, 12, 29));
  EXPECT_TRUE(picker.Visible());
  control->InitDatePicker("Apr 30, 2004", 1);
  EXPECT_EQ(picker.MinDate(), Date(2004, 2, 29));
  EXPECT_EQ(picker.MaxDate(), Date(2005, 4, 30));
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;

  // A text that is no date is reported; the picker is left alone.
  picker.SetVisible(false);
  control->InitDatePicker("next Tuesday", 1);
  ASSERT_EQ(host.messages.size(), 1u);
  const std::string& prompt = host.messages[0].prompt;
  EXPECT_EQ(prompt.rfind(std::to_string(errc::kTypeMismatch) + " ", 0), 0u) << prompt;
  EXPECT_NE(prompt.find("next Tuesday"), std::string::npos) << prompt;
  EXPECT_EQ(host.messages[0].buttons, 0);
  EXPECT_EQ(host.messages[0].title, "");
  EXPECT_EQ(picker.Value(), Date(2004, 4, 30));
  EXPECT_EQ(picker.MinDate(), Date(2004, 2, 29));
  EXPECT_FALSE(picker.Visible());
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

  // While adding, a stored closed date is ignored.
  surface().chkDT.SetValue(0);
  Tab(9);
  closed.SetTag("Jul 04, 2004");
  control->cmdAdd_Click();
  ASSERT_TRUE(state().IsAdding);
  surface().chkDT.SetValue(1);
  EXPECT_TRUE(closed.Visible());
  EXPECT_EQ(closed.Value(), Date(2004, 3, 15));
}

}  // namespace
}  // namespace harnolfees::testing
