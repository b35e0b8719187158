// Tab switching with a per-tab memory of the entry form: a tab left in the
// middle of an add or edit gets its mode and typed texts back on return.
#include <exception>
#include <string>

#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

constexpr int kBankAccountTab = 9;
constexpr int kTravelTab = 8;

std::size_t At(int index) { return static_cast<std::size_t>(index); }

// A remembered combo index, written as decimal text when the tab was left.
int IndexFromText(const std::string& text, const RegionalSettings& rs) {
  return RoundToInt16(TextToNumber(text, rs));
}

}  // namespace

void HarnolFeesCtlCenter::RememberTabOnLeaving(int tab) {
  Surface& s = surface_;
  state_.TabEntryMode[At(tab)] = RoundToInt16(TextToNumber(s.tabFees.Tag(), *regional_));

  // Combo selections travel in the text boxes under them.
  auto& txt = s.txtField;
  switch (tab) {
    case 1:
      txt[2].SetText(std::to_string(s.cboTerm.ListIndex()));
      break;
    case 5:
      txt[2].SetText(std::to_string(s.cboAPRType.ListIndex()));
      break;
    case 6:
      txt[2].SetText(std::to_string(s.cboType.ListIndex()));
      break;
    case 7:
      txt[2].SetText(std::to_string(s.cboType.ListIndex()));
      txt[3].SetText(std::to_string(s.cboBitwise.ListIndex() + 1));
      break;
    case kBankAccountTab:
      txt[1].SetText(std::to_string(s.cboBanckAccType.ListIndex()));
      break;
    default:
      break;
  }
  for (int i = 1; i <= 7; ++i) state_.SavedFieldTexts[At(tab)][At(i)] = txt[At(i)].Text();
  state_.SavedGridRow[At(tab)] = static_cast<std::int16_t>(s.grdFees.Row());
}

void HarnolFeesCtlCenter::RestoreTabTexts(int tab) {
  Surface& s = surface_;
  auto& txt = s.txtField;
  for (int i = 1; i <= 7; ++i) txt[At(i)].SetText(state_.SavedFieldTexts[At(tab)][At(i)]);
  switch (tab) {
    case 1:
      s.cboTerm.SetListIndex(IndexFromText(txt[2].Text(), *regional_));
      break;
    case 5:
      s.cboAPRType.SetListIndex(IndexFromText(txt[2].Text(), *regional_));
      break;
    case 6:
      s.cboType.SetListIndex(IndexFromText(txt[2].Text(), *regional_));
      break;
    case 7:
      s.cboType.SetListIndex(IndexFromText(txt[2].Text(), *regional_));
      s.cboBitwise.SetListIndex(IndexFromText(txt[3].Text(), *regional_) - 1);
      break;
    case kBankAccountTab:
      s.cboBanckAccType.SetListIndex(IndexFromText(txt[1].Text(), *regional_));
      break;
    default:
      break;
  }
}

void HarnolFeesCtlCenter::ShowTabCombos(int tab) {
  Surface& s = surface_;
  const bool editable = !state_.ViewMode;
  auto showIf = [](ComboBox& combo, bool shown) {
    if (shown) combo.SetListIndex(-1);
    combo.SetVisible(shown);
  };
  showIf(s.cboTerm, tab == 1 && editable);
  showIf(s.cboAPRType, tab == 5 && editable);
  showIf(s.cboType, (tab == 6 || tab == 7) && editable);
  showIf(s.cboBitwise, tab == 7 && editable);
  if (tab == kBankAccountTab && editable) {
    s.cboBanckAccType.SetVisible(true);
    s.cboBanckAccType.SetListIndex(-1);
    s.chkDT.SetVisible(true);
    // Unticking runs the check box's handler, which hides the closing date.
    s.chkDT.SetValue(0);
    s.chkDT.SetEnabled(false);
  } else {
    s.cboBanckAccType.SetVisible(false);
    s.DTPicker1[1].SetVisible(false);
    s.DTPicker1[2].SetVisible(false);
    s.chkDT.SetVisible(false);
  }
}

void HarnolFeesCtlCenter::tabFees_Click() {
  // While a statement waits for the server, a tab change would start or
  // re-enter an edit inside that wait; it is set aside.
  if (state_.Submitting) return;

  // Everything below counts as this handler's own work: a check box it
  // changes reports its errors here.
  ++dispatchDepth_;
  struct DepthGuard {
    int& depth;
    ~DepthGuard() { --depth; }
  } guard{dispatchDepth_};

  Surface& s = surface_;
  try {
    s.cboAccessLevel.SetVisible(false);
    const int selected = s.tabFees.SelectedIndex();
    if (selected == state_.CurrentTab) return;

    RememberTabOnLeaving(state_.CurrentTab);

    state_.CurrentTab = static_cast<std::int16_t>(selected);
    s.tabFees.SetTag(kModeBrowsing);
    s.cmdAdd.SetCaption(kCaptionAdd);
    s.cmdEdit.SetCaption(kCaptionEdit);
    s.cmdDelete.SetEnabled(true);

    ShowTabCombos(selected);

    if (selected == kTravelTab) {
      s.cboAccessLevel.SetVisible(true);
      if (state_.ShowTravelOption) {
        s.chkTravel.SetVisible(true);
        s.chkTravel.SetEnabled(false);
      } else {
        s.chkTravel.SetEnabled(false);
        s.chkTravel.SetVisible(false);
      }
    } else {
      s.chkTravel.SetEnabled(false);
      s.chkTravel.SetVisible(false);
    }

    switch (state_.TabEntryMode[At(selected)]) {
      case 0:
        FillGrid(selected);
        for (int i = 1; i <= 7; ++i) {
          s.txtField[At(i)].SetEnabled(false);
          s.txtField[At(i)].SetBackColor(SystemColor::ButtonFace);
        }
        if (selected == kTravelTab) {
          s.cboAccessLevel.SetEnabled(false);
          s.cboAccessLevel.SetBackColor(SystemColor::ButtonFace);
          s.cboAccessLevel.SetListIndex(-1);
        } else {
          s.cboAccessLevel.SetEnabled(false);
          s.cboAccessLevel.SetVisible(false);
        }
        InitDatePicker(state_.ServerDate, 0);
        s.DTPicker1[0].SetEnabled(false);
        break;
      case 1:
        FillGrid(selected);
        cmdAdd_Click();
        RestoreTabTexts(selected);
        break;
      case 2:
        FillGrid(selected);
        cmdEdit_Click();
        RestoreTabTexts(selected);
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    host_.MsgBox(e.what(), msgbox::kOk, "");
  }
}

}  // namespace harnolfees
