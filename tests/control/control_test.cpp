#include "harnolfees/control.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::FakeFetcher;
using testing::FakeHost;
using testing::FakeTransfer;

struct Control {
  FakeHost host;
  FakeTransfer* transfer = nullptr;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  explicit Control(std::optional<VersionInfo> version = std::nullopt) {
    host.version = version;
    auto t = std::make_unique<FakeTransfer>();
    transfer = t.get();
    ctl =
        std::make_unique<HarnolFeesCtlCenter>(host, std::move(t), std::make_unique<FakeFetcher>());
  }
  Surface& s() { return ctl->surface(); }
};

TEST(StartUp, ShowsTheEmptyFirstTabInBrowsingMode) {
  Control c;
  const ControlState& st = c.ctl->state();
  EXPECT_EQ(st.CurrentTab, 1);
  EXPECT_EQ(st.ClubID, 0);
  EXPECT_FALSE(st.ViewMode);
  for (int tab = 1; tab <= kTabCount; ++tab) {
    EXPECT_EQ(st.SavedGridRow[static_cast<std::size_t>(tab)], 1) << tab;
    EXPECT_EQ(st.TabEntryMode[static_cast<std::size_t>(tab)], 0) << tab;
  }
  Surface& s = c.s();
  EXPECT_EQ(s.tabFees.Tag(), "0");
  EXPECT_EQ(s.tabFees.SelectedIndex(), 1);
  ASSERT_EQ(s.tabFees.captions.size(), 14u);
  EXPECT_EQ(s.tabFees.captions[0], "Membership  Fee");
  EXPECT_EQ(s.tabFees.captions[13], "Local Sales Taxes");
  EXPECT_EQ(s.lblVersionNo.Caption(), "Version 2.0.3");
  s.DTPicker1[0].SetFocus();
  EXPECT_EQ(c.host.LastFocus(), "DTPicker1(0)") << "focus moves are reported to the host";

  const Grid& g = s.grdFees;
  EXPECT_EQ(g.Rows(), 25);
  EXPECT_EQ(g.Cols(), 6);
  EXPECT_EQ(g.Row(), 1);
  const std::vector<int> widths{1317, 1476, 1317, 1804, 1558, 1558};
  for (int col = 0; col < 6; ++col) {
    EXPECT_EQ(g.TextMatrix(0, col), GridHeadings(1, col));
    EXPECT_EQ(g.ColWidth(col), widths[static_cast<std::size_t>(col)]) << "column " << col;
    EXPECT_EQ(g.TextMatrix(1, col), "");
  }
  // The entry form of tab 1 is captioned and read-only.
  EXPECT_EQ(s.lblField[0].Caption(), "Effective Date");
  EXPECT_EQ(s.lblField[5].Caption(), "Royalty Reserve (%)");
  EXPECT_EQ(s.lblField[6].Caption(), "");
  EXPECT_TRUE(s.txtField[5].Visible());
  EXPECT_FALSE(s.txtField[5].Enabled());
  EXPECT_FALSE(s.txtField[6].Visible());
  EXPECT_TRUE(s.DTPicker1[0].Visible());
  EXPECT_TRUE(s.cboTerm.Visible());
  EXPECT_FALSE(s.chkTravel.Visible());
  EXPECT_TRUE(c.host.messages.empty());
  for (int i = 1; i <= kRecordSetCount; ++i) {
    const RecordSet& rs = c.ctl->recordSets()(i);
    EXPECT_EQ(rs.State(), RecordSet::kStateOpen) << i;
    EXPECT_EQ(rs.RecordCount(), 0) << i;
    EXPECT_TRUE(rs.IsBOF() && rs.IsEOF()) << i;
  }
}

TEST(StartUp, VersionLabelShowsPlainDecimalNumbers) {
  Control c(VersionInfo{10, 12, 105});
  EXPECT_EQ(c.s().lblVersionNo.Caption(), "Version 10.12.105");
}

TEST(StartUp, WithoutNetworkComponentsTheControlStillStarts) {
  // No transfer or fetch given: the control makes its own, or goes without.
  FakeHost host;
  HarnolFeesCtlCenter ctl(host);
  EXPECT_EQ(ctl.surface().lblVersionNo.Caption(), "Version 2.0.3");
  EXPECT_EQ(ctl.surface().grdFees.TextMatrix(0, 0), "Effective Date");
}

// Counts cancels where the test can still read them after the control, and
// the transfer it owns, are gone.
struct CountingTransfer : FakeTransfer {
  explicit CountingTransfer(int& cancelsOut) : out(cancelsOut) {}
  void Cancel() override {
    FakeTransfer::Cancel();
    ++out;
  }
  int& out;
};

TEST(TearDown, CancelsTheIdleTransferOnceWithoutAnyMessage) {
  FakeHost host;
  int cancels = 0;
  {
    HarnolFeesCtlCenter ctl(host, std::make_unique<CountingTransfer>(cancels),
                            std::make_unique<FakeFetcher>());
    EXPECT_EQ(cancels, 0);
  }
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(host.messages.empty());
}

TEST(HostMembers, ClubIdAndStringParameterOnlyStoreTheirValues) {
  Control c;
  c.ctl->SetClubID(12);
  EXPECT_EQ(c.ctl->state().ClubID, 12);
  c.ctl->StringParameter("|", "~", "^", "NULL");
  const ControlState& st = c.ctl->state();
  EXPECT_EQ(st.FieldSeparator, "|");
  EXPECT_EQ(st.RecordSeparator, "~");
  EXPECT_EQ(st.TableSeparator, "^");
  EXPECT_EQ(st.NullDetector, "NULL");
  c.ctl->StringParameter("", "", "", "");
  EXPECT_EQ(c.ctl->state().FieldSeparator, "");
  EXPECT_TRUE(c.host.messages.empty());
  EXPECT_EQ(c.s().grdFees.TextMatrix(0, 0), "Effective Date");
}

TEST(ViewModeSwitch, ReadOnlyHidesTheFormAndGivesTheGrid1000TwipsMore) {
  Control c;
  Surface& s = c.s();
  c.ctl->SetViewMode(false);
  const int editableHeight = s.grdFees.Height();
  EXPECT_EQ(editableHeight, 5175 - 3000);
  c.ctl->SetViewMode(true);
  EXPECT_TRUE(c.ctl->GetViewMode());
  EXPECT_EQ(s.grdFees.Height(), editableHeight + 1000);
  for (int i = 1; i <= 6; ++i) EXPECT_FALSE(s.txtField[static_cast<std::size_t>(i)].Visible());
  for (int i = 0; i <= 6; ++i) EXPECT_EQ(s.lblField[static_cast<std::size_t>(i)].Caption(), "");
  EXPECT_FALSE(s.DTPicker1[0].Visible());
  for (const CommandButton* b : {&s.cmdAdd, &s.cmdEdit, &s.cmdDelete}) EXPECT_FALSE(b->Visible());
  for (const ComboBox* b : {&s.cboTerm, &s.cboAPRType, &s.cboType, &s.cboBitwise}) {
    EXPECT_FALSE(b->Visible()) << b->Name();
  }
  EXPECT_EQ(s.grdFees.Width(), 8295) << "nothing changes the grid's width";

  c.ctl->SetViewMode(false);
  EXPECT_FALSE(c.ctl->GetViewMode());
  EXPECT_EQ(s.grdFees.Height(), editableHeight);
  EXPECT_EQ(s.lblField[2].Caption(), "Term (Months)");
  EXPECT_TRUE(s.txtField[5].Visible());
  EXPECT_TRUE(s.DTPicker1[0].Visible());
  for (const CommandButton* b : {&s.cmdAdd, &s.cmdEdit, &s.cmdDelete}) EXPECT_TRUE(b->Visible());
  EXPECT_TRUE(s.cboTerm.Visible());
}

// Tab 7 shows both of its lists; the tabs without lists show none.
TEST(ViewModeSwitch, ShowsOnlyTheListsOfTheTabShown) {
  Control c;
  Surface& s = c.s();
  c.ctl->SetViewMode(true);
  s.tabFees.SetSelectedIndex(7);
  s.tabFees.Click();
  c.ctl->SetViewMode(false);
  EXPECT_EQ(c.ctl->state().CurrentTab, 7);
  EXPECT_TRUE(s.cboType.Visible());
  EXPECT_TRUE(s.cboBitwise.Visible());
  EXPECT_FALSE(s.cboTerm.Visible());
  EXPECT_FALSE(s.cboAPRType.Visible());

  for (int tab : {2, 3, 4, 8, 9, 10, 14}) {
    c.ctl->SetViewMode(true);
    s.tabFees.SetSelectedIndex(tab);
    s.tabFees.Click();
    c.ctl->SetViewMode(false);
    for (const ComboBox* b : {&s.cboTerm, &s.cboAPRType, &s.cboType, &s.cboBitwise}) {
      EXPECT_FALSE(b->Visible()) << b->Name() << " on tab " << tab;
    }
  }
}

}  // namespace
}  // namespace harnolfees
