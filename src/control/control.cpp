// The control's lifecycle and the members its host calls.
#include "harnolfees/control.hpp"

#include <exception>
#include <string>
#include <utility>

#include "catalogue/fee_kind.hpp"
#include "control/dispatch.hpp"

namespace harnolfees {

namespace {

// Buttons value of a plain box: only OK, no icon.
constexpr int kPlainBox = msgbox::kOk;

// Grid height below the panel top in editable mode leaves room for the entry
// form; view mode shows no form and gives the grid 1000 twips more.
constexpr int kFormAllowanceEditable = 3000;
constexpr int kFormAllowanceViewMode = 2000;

}  // namespace

HarnolFeesCtlCenter::HarnolFeesCtlCenter(HostServices& host, std::unique_ptr<Transfer> transfer,
                                         std::unique_ptr<DocumentFetcher> fetcher)
    : dispatch_(std::make_unique<control::Dispatch>(*this, host)),
      host_(host),
      Inet1_(std::move(transfer)),
      fetcher_(std::move(fetcher)) {
  // The network components are only needed for a load or a save; a host
  // without them still gets a working control that can show its data.
  if (!Inet1_) {
    try {
      Inet1_ = MakeCurlTransfer(host_);
    } catch (const std::exception&) {
      Inet1_.reset();
    }
  }
  if (!fetcher_) {
    try {
      fetcher_ = MakeCurlFetcher();
    } catch (const std::exception&) {
      fetcher_.reset();
    }
  }
  // The surface's notifications reach the handlers through the dispatch.
  Surface& s = surface_;
  s.tabFees.onClick = [this] { dispatch_->Run([this] { tabFees_Click(); }); };
  s.cmdAdd.onClick = [this] { dispatch_->Run([this] { cmdAdd_Click(); }); };
  s.cmdEdit.onClick = [this] { dispatch_->Run([this] { cmdEdit_Click(); }); };
  s.cmdDelete.onClick = [this] { dispatch_->Run([this] { cmdDelete_Click(); }); };
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    box.onGotFocus = [this, i] { dispatch_->Run([this, i] { txtField_GotFocus(i); }); };
    box.onLostFocus = [this, i] { dispatch_->Run([this, i] { txtField_LostFocus(i); }); };
  }
  s.chkDT.onClick = [this] { dispatch_->Run([this] { chkDT_Click(); }, true); };
  s.focusSink = [this](const Component& c) { host_.FocusMoved(c.Name()); };
  if (Inet1_) {
    Inet1_->onStateChanged = [this](int state) {
      dispatch_->Run([this, state] { OnTransferStateChanged(state); });
    };
  }

  try {
    // The record sets already hold their declared fields; opening them and
    // the per-tab grid rows complete their creation.
    recordSets_.OpenAll();
    for (int tab = 1; tab <= kTabCount; ++tab) {
      state_.SavedGridRow[static_cast<std::size_t>(tab)] = 1;
    }
    state_.CurrentTab = 1;
    surface_.tabFees.SetTag(kModeBrowsing);
    surface_.tabFees.captions.resize(kTabCount);
    for (int tab = 1; tab <= kTabCount; ++tab) {
      surface_.tabFees.captions[static_cast<std::size_t>(tab - 1)] = FeeTab(tab).caption;
    }
    surface_.tabFees.SetSelectedIndex(state_.CurrentTab);
    const VersionInfo v = host_.Version();
    surface_.lblVersionNo.SetCaption("Version " + std::to_string(v.major) + "." +
                                     std::to_string(v.minor) + "." + std::to_string(v.revision));
  } catch (const std::exception& e) {
    // Creation must never fail towards the host.
    host_.MsgBox(e.what(), kPlainBox, "");
    return;
  }
  FillGridContained(state_.CurrentTab);
}

HarnolFeesCtlCenter::~HarnolFeesCtlCenter() {
  try {
    recordSets_.CloseAll();
  } catch (...) {
    // Tear-down goes on whatever a record set says.
  }
  if (Inet1_) {
    try {
      Inet1_->Cancel();
    } catch (...) {
      // The control is going: a transfer that could not be cancelled can
      // report to nobody, since the notification is cut off below.
    }
    // A notification queued before the cancel must not reach a destroyed
    // control.
    Inet1_->onStateChanged = nullptr;
  }
}

void HarnolFeesCtlCenter::SetClubID(std::int16_t piNewClubID) { state_.ClubID = piNewClubID; }

void HarnolFeesCtlCenter::StringParameter(const std::string& ptFieldSeparator,
                                          const std::string& ptRecordSeparator,
                                          const std::string& ptTableSeparator,
                                          const std::string& ptNullDetector) {
  // Kept for the combo-box lists, whose delimited text uses the field and
  // table separators.
  state_.FieldSeparator = ptFieldSeparator;
  state_.RecordSeparator = ptRecordSeparator;
  state_.TableSeparator = ptTableSeparator;
  state_.NullDetector = ptNullDetector;
}

void HarnolFeesCtlCenter::SetViewMode(bool pbNewViewMode) {
  state_.ViewMode = pbNewViewMode;
  Surface& s = surface_;
  try {
    if (!pbNewViewMode) {
      ShowEntryFields(state_.CurrentTab);
      s.cmdAdd.SetVisible(true);
      s.cmdEdit.SetVisible(true);
      s.cmdDelete.SetVisible(true);
      const FeeKind& kind = FeeKindOf(state_.CurrentTab);
      for (ComboBox Surface::*box : kOverlaidBoxes) {
        if (kind.Overlay(box) != nullptr) (s.*box).SetVisible(true);
      }
      s.grdFees.SetHeight(s.picMain.Height() - kFormAllowanceEditable);
    } else {
      for (int i = 1; i <= 6; ++i) s.txtField[static_cast<std::size_t>(i)].SetVisible(false);
      for (int i = 0; i <= 6; ++i) s.lblField[static_cast<std::size_t>(i)].SetCaption("");
      s.DTPicker1[0].SetVisible(false);
      s.cmdAdd.SetVisible(false);
      s.cmdEdit.SetVisible(false);
      s.cmdDelete.SetVisible(false);
      s.cboTerm.SetVisible(false);
      s.cboAPRType.SetVisible(false);
      s.cboType.SetVisible(false);
      s.cboBitwise.SetVisible(false);
      s.grdFees.SetHeight(s.picMain.Height() - kFormAllowanceViewMode);
    }
  } catch (const std::exception& e) {
    // A host member reports nothing to its host.
    host_.MsgBox(e.what(), kPlainBox, "");
  }
}

}  // namespace harnolfees
