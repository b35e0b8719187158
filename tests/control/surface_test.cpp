#include "harnolfees/surface.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harnolfees {
namespace {

// Records every notification a component raises.
struct Changes {
  std::vector<std::string> seen;
  void Watch(Component& c) {
    c.Observe([this](const Component&, std::string_view p) { seen.emplace_back(p); });
  }
};

TEST(GridModel, StartsWithTheShapeAndPlaceOfTheLayout) {
  Grid g("grdFees");
  EXPECT_EQ(g.Rows(), 25);
  EXPECT_EQ(g.Cols(), 6);
  EXPECT_EQ(g.Row(), 1);
  EXPECT_EQ(g.Rect(), (TwipsRect{60, 105, 8295, 1695}));
  EXPECT_EQ(g.Width(), 8295);
  EXPECT_EQ(g.Height(), 1695);
  EXPECT_EQ(g.TextMatrix(24, 5), "");
}

TEST(GridModel, RefusesRowsAndCellsOutsideItsShapeWithClearErrors) {
  Grid g("grdFees");
  try {
    g.SetRow(25);
    FAIL() << "row 25 of 25 rows was accepted";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number(), errc::kInvalidPropertyValue);
    EXPECT_NE(e.description().find("grdFees.Row 25"), std::string::npos) << e.description();
  }
  EXPECT_THROW(g.SetRow(-1), ControlError);
  EXPECT_EQ(g.Row(), 1);
  try {
    g.SetTextMatrix(1, 6, "x");
    FAIL() << "column 6 of 6 columns was accepted";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number(), errc::kSubscriptOutOfRange);
    EXPECT_NE(e.description().find("TextMatrix(1, 6)"), std::string::npos) << e.description();
  }
  EXPECT_THROW((void)g.TextMatrix(25, 0), ControlError);
  EXPECT_THROW(g.SetColWidth(6, 100), ControlError);
  EXPECT_THROW(g.SetRows(0), ControlError);
  EXPECT_THROW(g.SetRowSel(30), ControlError);
}

TEST(GridModel, ReshapingKeepsTheCellsThatRemain) {
  Grid g("grdFees");
  g.SetTextMatrix(2, 1, "b");
  g.SetTextMatrix(2, 5, "gone");
  g.SetCols(3);
  EXPECT_EQ(g.TextMatrix(2, 1), "b");
  g.SetCols(7);
  EXPECT_EQ(g.TextMatrix(2, 1), "b");
  EXPECT_EQ(g.TextMatrix(2, 5), "");
  g.SetRows(40);
  EXPECT_EQ(g.TextMatrix(2, 1), "b");
  g.SetRow(39);
  g.SetRows(10);
  EXPECT_EQ(g.Row(), 9) << "the current row stays inside the grid";
}

TEST(GridModel, ClearErasesEveryTextButKeepsShapeAndRow) {
  Grid g("grdFees");
  g.SetTextMatrix(0, 0, "Effective Date");
  g.SetTextMatrix(3, 2, "x");
  g.SetRow(3);
  g.SetCol(2);
  EXPECT_EQ(g.Text(), "x");
  g.Clear();
  EXPECT_EQ(g.TextMatrix(0, 0), "");
  EXPECT_EQ(g.Text(), "");
  EXPECT_EQ(g.Row(), 3);
  EXPECT_EQ(g.Rows(), 25);
  EXPECT_EQ(g.Cols(), 6);
}

TEST(GridModel, NotifiesOnlyRealChanges) {
  Grid g("grdFees");
  Changes changes;
  changes.Watch(g);
  g.SetTextMatrix(1, 1, "a");
  g.SetTextMatrix(1, 1, "a");
  g.SetRow(1);
  g.SetColWidth(0, 960);
  g.Clear();
  g.Clear();
  EXPECT_EQ(changes.seen, (std::vector<std::string>{"TextMatrix", "TextMatrix"}));
}

TEST(ComponentModel, ObserversCanBeRemoved) {
  Label l("lblField(1)");
  int calls = 0;
  int id = l.Observe([&](const Component& c, std::string_view p) {
    EXPECT_EQ(c.Name(), "lblField(1)");
    EXPECT_EQ(p, "Caption");
    ++calls;
  });
  l.SetCaption("Term (Months)");
  l.Unobserve(id);
  l.SetCaption("other");
  EXPECT_EQ(calls, 1);
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
  try {
    p.SetValue(DateTime::FromParts(2005, 3, 16));
    FAIL() << "a date after MaxDate was accepted";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number(), errc::kInvalidPropertyValue);
    EXPECT_EQ(e.description(), "Invalid property value");
  }
  EXPECT_EQ(p.Value(), mar15);
  EXPECT_THROW(p.SetMinDate(DateTime::FromParts(2006, 1, 1)), ControlError);
  EXPECT_THROW(p.SetMaxDate(DateTime::FromParts(2003, 1, 1)), ControlError);
  EXPECT_EQ(p.MinDate(), jan15);
  EXPECT_EQ(p.MaxDate(), next);
}

TEST(DatePickerModel, ValueFollowsARangeThatMovesPastIt) {
  DatePicker p("DTPicker1(0)");
  p.SetValue(DateTime::FromParts(2004, 3, 15));
  // Widen first, then raise the lower bound, as the date set-up does.
  p.SetMaxDate(DateTime::FromParts(2011, 3, 15));
  p.SetMinDate(DateTime::FromParts(2010, 1, 15));
  EXPECT_EQ(p.Value(), DateTime::FromParts(2010, 1, 15));
}

TEST(ComboBoxModel, HoldsItemsWithDataAndASelection) {
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
  try {
    c.SetListIndex(2);
    FAIL() << "index 2 of 2 items was accepted";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number(), errc::kInvalidPropertyValue);
    EXPECT_NE(e.description().find("cboAccessLevel has no item 2"), std::string::npos);
  }
  EXPECT_THROW(c.SetListIndex(-2), ControlError);
  EXPECT_THROW((void)c.List(5), ControlError);
  EXPECT_THROW((void)c.ItemData(-1), ControlError);
  c.Clear();
  EXPECT_EQ(c.ListCount(), 0);
  EXPECT_EQ(c.NewIndex(), -1);
}

TEST(ComboBoxModel, WritingTextSelectsTheFirstExactMatchOrNothing) {
  ComboBox c("cboType");
  for (const char* t : {"Standard", "Gold", "Gold", "Premium"}) c.AddItem(t);
  c.SetText("Gold");
  EXPECT_EQ(c.ListIndex(), 1);
  c.SetText("gold");
  EXPECT_EQ(c.ListIndex(), -1);
  c.SetListIndex(3);
  c.SetText("Gold ");
  EXPECT_EQ(c.ListIndex(), -1);
}

TEST(CheckBoxModel, ClickRunsWheneverTheValueChanges) {
  CheckBox c("chkDT");
  int clicks = 0;
  c.onClick = [&] { ++clicks; };
  c.SetValue(1);
  c.SetValue(1);
  c.SetValue(0);
  EXPECT_EQ(clicks, 2);
  EXPECT_THROW(c.SetValue(3), ControlError);
  EXPECT_EQ(c.Value(), 0);
}

TEST(TextBoxModel, SelectionStaysInsideTheText) {
  TextBox t("txtField(1)");
  t.SetText("1,234.50");
  t.SetSelStart(0);
  t.SetSelLength(100);
  EXPECT_EQ(t.SelLength(), 8);
  t.SetSelStart(20);
  EXPECT_EQ(t.SelStart(), 8);
  EXPECT_EQ(t.SelLength(), 0);
  EXPECT_THROW(t.SetSelLength(-1), ControlError);
  t.SetSelStart(2);
  t.SetText("x");
  EXPECT_EQ(t.SelStart(), 0) << "a new text puts the caret at its start";
}

TEST(SurfaceLayout, PlacesEveryComponentOfTheForm) {
  Surface s;
  EXPECT_EQ(s.tabFees.Rect(), (TwipsRect{0, 0, 8655, 6525}));
  EXPECT_EQ(s.picMain.Rect(), (TwipsRect{0, 1200, 8415, 5175}));
  EXPECT_EQ(s.picMain.Height(), 5175);
  EXPECT_EQ(s.grdFees.Rect(), (TwipsRect{60, 105, 8295, 1695}));
  EXPECT_EQ(s.lblField[0].Rect(), (TwipsRect{120, 2925, 2265, 195}));
  EXPECT_EQ(s.lblField[7].Rect(), (TwipsRect{4590, 3960, 1335, 255}));
  EXPECT_EQ(s.DTPicker1[0].Rect(), (TwipsRect{2280, 2850, 1440, 315}));
  EXPECT_EQ(s.txtField[4].Rect(), (TwipsRect{6240, 2880, 1440, 300}));
  EXPECT_EQ(s.txtField[7].Rect(), (TwipsRect{6240, 3960, 735, 285}));
  EXPECT_EQ(s.cboAccessLevel.Rect(), (TwipsRect{2280, 3240, 2190, 315}));
  EXPECT_EQ(s.cboBitwise.Rect(), (TwipsRect{2280, 3960, 2190, 315}));
  EXPECT_EQ(s.DTPicker1[2].Rect(), (TwipsRect{6240, 3600, 1440, 300}));
  EXPECT_EQ(s.chkDT.Rect(), (TwipsRect{7725, 3630, 225, 240}));
  EXPECT_EQ(s.chkTravel.Rect(), (TwipsRect{4560, 3960, 1695, 375}));
  EXPECT_EQ(s.chkTravel.caption, "Travel Membership");
  EXPECT_EQ(s.cmdAdd.Rect(), (TwipsRect{3945, 4755, 1455, 375}));
  EXPECT_EQ(s.cmdAdd.Caption(), "&Add");
  EXPECT_EQ(s.cmdEdit.Caption(), "&Edit");
  EXPECT_EQ(s.cmdDelete.Caption(), "&Delete");
  EXPECT_EQ(s.cmdDelete.Rect(), (TwipsRect{6960, 4740, 1335, 375}));
  EXPECT_EQ(s.lblVersionNo.Rect(), (TwipsRect{120, 4920, 2565, 195}));
}

TEST(SurfaceLayout, OnlyTheTermListShowsAmongTheOverlaysAtStart) {
  Surface s;
  EXPECT_TRUE(s.cboTerm.Visible());
  for (const ComboBox* c :
       {&s.cboType, &s.cboBitwise, &s.cboAPRType, &s.cboAccessLevel, &s.cboBanckAccType}) {
    EXPECT_FALSE(c->Visible()) << c->Name();
  }
  for (const ComboBox* c : {&s.cboTerm, &s.cboType, &s.cboBitwise, &s.cboAPRType, &s.cboAccessLevel,
                            &s.cboBanckAccType}) {
    EXPECT_EQ(c->BackColor(), SystemColor::ButtonFace) << c->Name();
  }
  EXPECT_FALSE(s.DTPicker1[1].Visible());
  EXPECT_FALSE(s.DTPicker1[2].Visible());
  EXPECT_FALSE(s.chkDT.Visible());
  EXPECT_FALSE(s.chkTravel.Visible());
  EXPECT_EQ(SystemColorText(SystemColor::ButtonFace), "&H8000000F");
  EXPECT_EQ(SystemColorText(SystemColor::WindowBackground), "&H80000005");
}

TEST(SurfaceLayout, FindsComponentsByName) {
  Surface s;
  EXPECT_EQ(s.Find("txtField(3)"), &s.txtField[3]);
  EXPECT_EQ(s.Find("DTPicker1(2)"), &s.DTPicker1[2]);
  EXPECT_EQ(s.Find("lblField(0)"), &s.lblField[0]);
  EXPECT_EQ(s.Find("grdFees"), &s.grdFees);
  EXPECT_EQ(s.FindComboBox("cboTerm"), &s.cboTerm);
  EXPECT_EQ(s.FindComboBox("cboBanckAccType"), &s.cboBanckAccType);
  EXPECT_EQ(s.FindCheckBox("chkDT"), &s.chkDT);
  EXPECT_EQ(s.FindButton("cmdDelete"), &s.cmdDelete);
  EXPECT_EQ(s.FindComboBox("cmdAdd"), nullptr) << "a button is no combo box";
  EXPECT_EQ(s.Find("txtField(0)"), nullptr);
  EXPECT_EQ(s.Find("txtField(8)"), nullptr);
  EXPECT_EQ(s.Find("cboNothing"), nullptr);
}

TEST(SurfaceLayout, FocusGoesThroughTheSink) {
  Surface s;
  std::vector<std::string> moved;
  s.focusSink = [&](const Component& c) { moved.push_back(c.Name()); };
  s.DTPicker1[0].SetFocus();
  s.txtField[5].SetFocus();
  s.cboBanckAccType.SetFocus();
  EXPECT_EQ(moved, (std::vector<std::string>{"DTPicker1(0)", "txtField(5)", "cboBanckAccType"}));
}

TEST(SurfaceLayout, TabStripSelectsOnlyItsTabs) {
  Surface s;
  s.tabFees.captions.assign(14, "x");
  s.tabFees.SetSelectedIndex(14);
  EXPECT_EQ(s.tabFees.SelectedIndex(), 14);
  EXPECT_THROW(s.tabFees.SetSelectedIndex(15), ControlError);
  EXPECT_THROW(s.tabFees.SetSelectedIndex(0), ControlError);
  int clicks = 0;
  s.tabFees.onClick = [&] { ++clicks; };
  s.tabFees.Click();
  EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace harnolfees
