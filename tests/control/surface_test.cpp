#include "harnolfees/surface.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::ControlErrorOf;

TEST(GridModel, RefusesRowsAndCellsOutsideItsShapeAndReshapesKeepingCells) {
  Grid g("grdFees");
  auto [number, text] = ControlErrorOf([&] { g.SetRow(25); });
  EXPECT_EQ(number, errc::kInvalidPropertyValue);
  EXPECT_NE(text.find("grdFees.Row 25"), std::string::npos) << text;
  EXPECT_THROW(g.SetRow(-1), ControlError);
  EXPECT_EQ(g.Row(), 1);
  std::tie(number, text) = ControlErrorOf([&] { g.SetTextMatrix(1, 6, "x"); });
  EXPECT_EQ(number, errc::kSubscriptOutOfRange);
  EXPECT_NE(text.find("TextMatrix(1, 6)"), std::string::npos) << text;
  EXPECT_THROW((void)g.TextMatrix(25, 0), ControlError);
  EXPECT_THROW(g.SetColWidth(6, 100), ControlError);
  EXPECT_THROW(g.SetRows(0), ControlError);
  EXPECT_THROW(g.SetRowSel(30), ControlError);
  // Reshaping keeps the cells that remain; Clear keeps the shape.
  g.SetTextMatrix(2, 1, "b");
  g.SetTextMatrix(2, 5, "gone");
  g.SetCol(5);
  g.SetCols(3);
  EXPECT_EQ(g.Col(), 2) << "the current column stays inside the grid";
  g.SetCols(7);
  EXPECT_EQ(g.TextMatrix(2, 1), "b");
  EXPECT_EQ(g.TextMatrix(2, 5), "");
  g.SetRows(40);
  g.SetRow(2);
  g.SetCol(1);
  EXPECT_EQ(g.Text(), "b");
  g.Clear();
  EXPECT_EQ(g.Text(), "");
  EXPECT_EQ(g.Row(), 2);
  EXPECT_EQ(g.Rows(), 40);
  EXPECT_EQ(g.Cols(), 7);
  g.SetRow(39);
  g.SetRows(10);
  EXPECT_EQ(g.Row(), 9) << "the current row stays inside the grid";
}

TEST(GridModel, NotifiesOnlyRealChanges) {
  Grid g("grdFees");
  std::vector<std::string> seen;
  g.Observe([&](const Component&, std::string_view p) { seen.emplace_back(p); });
  g.SetTextMatrix(1, 1, "a");
  g.SetTextMatrix(1, 1, "a");
  g.SetRow(1);
  g.SetColWidth(0, 960);
  g.Clear();
  g.Clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"TextMatrix", "TextMatrix"}));
}

TEST(DatePickerModel, RefusesValuesOutsideItsRangeAndBoundsThatCross) {
  DatePicker p("DTPicker1(0)");
  const DateTime jan15 = DateTime::FromParts(2004, 1, 15);
  const DateTime mar15 = DateTime::FromParts(2004, 3, 15);
  const DateTime next = DateTime::FromParts(2005, 3, 15);
  p.SetMaxDate(next);
  p.SetMinDate(jan15);
  p.SetValue(mar15);
  EXPECT_EQ(p.Value(), mar15);
  EXPECT_EQ(ControlErrorOf([&] { p.SetValue(DateTime::FromParts(2005, 3, 16)); }),
            std::make_pair(errc::kInvalidPropertyValue, std::string("Invalid property value")));
  EXPECT_EQ(p.Value(), mar15);
  EXPECT_THROW(p.SetMinDate(DateTime::FromParts(2006, 1, 1)), ControlError);
  EXPECT_THROW(p.SetMaxDate(DateTime::FromParts(2003, 1, 1)), ControlError);
  EXPECT_EQ(p.MinDate(), jan15);
  EXPECT_EQ(p.MaxDate(), next);
  // A range that moves past the value takes the value along: widen, then
  // raise the lower bound, as the date set-up does.
  p.SetMaxDate(DateTime::FromParts(2011, 3, 15));
  p.SetMinDate(DateTime::FromParts(2010, 1, 15));
  EXPECT_EQ(p.Value(), DateTime::FromParts(2010, 1, 15));
  // The bounds are inclusive: a value on either bound, and a range of one day.
  p.SetValue(DateTime::FromParts(2011, 3, 15));
  p.SetValue(DateTime::FromParts(2010, 1, 15));
  p.SetMaxDate(DateTime::FromParts(2010, 1, 15));
  p.SetMinDate(DateTime::FromParts(2010, 1, 15));
  EXPECT_EQ(p.MinDate(), p.MaxDate());
}

TEST(ListAndCheckBoxModels, ItemsDataSelectionByTextAndClicksOnChange) {
  ComboBox c("cboAccessLevel");
  c.AddItem("Gold");
  EXPECT_EQ(c.NewIndex(), 0);
  c.SetItemData(c.NewIndex(), 3);
  c.AddItem("Silver");
  EXPECT_EQ(c.NewIndex(), 1);
  EXPECT_EQ(c.ListCount(), 2);
  EXPECT_EQ(c.ItemData(0), 3);
  EXPECT_EQ(c.List(1), "Silver");
  EXPECT_EQ(c.ListIndex(), -1);
  EXPECT_EQ(c.Text(), "");
  c.SetListIndex(1);
  EXPECT_EQ(c.Text(), "Silver");
  c.SetListIndex(-1);
  EXPECT_EQ(c.Text(), "");
  const auto [number, text] = ControlErrorOf([&] { c.SetListIndex(2); });
  EXPECT_EQ(number, errc::kInvalidPropertyValue);
  EXPECT_NE(text.find("cboAccessLevel has no item 2"), std::string::npos) << text;
  EXPECT_THROW(c.SetListIndex(-2), ControlError);
  EXPECT_THROW((void)c.List(5), ControlError);
  EXPECT_THROW((void)c.ItemData(-1), ControlError);
  c.Clear();
  EXPECT_EQ(c.ListCount(), 0);
  EXPECT_EQ(c.NewIndex(), -1);
  // Writing a text selects the first exact match, or nothing.
  for (const char* t : {"Standard", "Gold", "Gold", "Premium"}) c.AddItem(t);
  c.SetText("Gold");
  EXPECT_EQ(c.ListIndex(), 1);
  c.SetText("gold");
  EXPECT_EQ(c.ListIndex(), -1);
  c.SetListIndex(3);
  c.SetText("Gold ");
  EXPECT_EQ(c.ListIndex(), -1);
  // A check box's click runs whenever its value changes.
  CheckBox check("chkDT");
  int clicks = 0;
  check.onClick = [&] { ++clicks; };
  check.SetValue(1);
  check.SetValue(1);
  check.SetValue(0);
  EXPECT_EQ(clicks, 2);
  EXPECT_THROW(check.SetValue(3), ControlError);
  EXPECT_EQ(check.Value(), 0);
}

// Places and finds every component of the form by name; focus goes through
// the sink.
TEST(SurfaceLayout, PlacesAndFindsEveryComponentAndFocusesThroughTheSink) {
  Surface s;
  const std::vector<std::pair<const char*, TwipsRect>> places{
      {"tabFees", {0, 0, 8655, 6525}},           {"picMain", {0, 1200, 8415, 5175}},
      {"grdFees", {60, 105, 8295, 1695}},        {"lblField(0)", {120, 2925, 2265, 195}},
      {"lblField(7)", {4590, 3960, 1335, 255}},  {"DTPicker1(0)", {2280, 2850, 1440, 315}},
      {"txtField(4)", {6240, 2880, 1440, 300}},  {"txtField(7)", {6240, 3960, 735, 285}},
      {"cboBitwise", {2280, 3960, 2190, 315}},   {"cboAccessLevel", {2280, 3240, 2190, 315}},
      {"DTPicker1(2)", {6240, 3600, 1440, 300}}, {"chkDT", {7725, 3630, 225, 240}},
      {"chkTravel", {4560, 3960, 1695, 375}},    {"cmdAdd", {3945, 4755, 1455, 375}},
      {"cmdDelete", {6960, 4740, 1335, 375}},    {"lblVersionNo", {120, 4920, 2565, 195}}};
  for (const auto& [name, rect] : places) {
    const Component* c = s.Find(name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_EQ(c->Rect(), rect) << name;
  }
  EXPECT_EQ(s.chkTravel.caption, "Travel Membership");
  EXPECT_EQ(s.Find("txtField(3)"), &s.txtField[3]);
  EXPECT_EQ(s.Find("DTPicker1(2)"), &s.DTPicker1[2]);
  EXPECT_EQ(s.FindComboBox("cboTerm"), &s.cboTerm);
  EXPECT_EQ(s.FindComboBox("cboBanckAccType"), &s.cboBanckAccType);
  EXPECT_EQ(s.FindCheckBox("chkDT"), &s.chkDT);
  EXPECT_EQ(s.FindButton("cmdDelete"), &s.cmdDelete);
  EXPECT_EQ(s.FindComboBox("cmdAdd"), nullptr) << "a button is no combo box";
  for (const char* name : {"txtField(0)", "txtField(8)", "cboNothing"})
    EXPECT_EQ(s.Find(name), nullptr) << name;
  std::vector<std::string> moved;
  s.focusSink = [&](const Component& c) { moved.push_back(c.Name()); };
  s.DTPicker1[0].SetFocus();
  s.txtField[5].SetFocus();
  s.cboBanckAccType.SetFocus();
  EXPECT_EQ(moved, (std::vector<std::string>{"DTPicker1(0)", "txtField(5)", "cboBanckAccType"}));
}

}  // namespace
}  // namespace harnolfees
