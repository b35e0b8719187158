// Tab switching: a tab left in the middle of an add or edit gets its mode and
// typed texts back on return (view/tab_memory.hpp).
#include <exception>
#include <string>

#include "catalogue/fee_kind.hpp"
#include "control/dispatch.hpp"
#include "harnolfees/control.hpp"
#include "view/tab_memory.hpp"

namespace harnolfees {

namespace {

std::size_t At(int index) { return static_cast<std::size_t>(index); }

}  // namespace

void HarnolFeesCtlCenter::tabFees_Click() {
  // While a statement waits for the server, a tab change would start or
  // re-enter an edit inside that wait; it is set aside.
  if (state_.Submitting) return;

  // Everything below counts as this handler's own work: a check box it
  // changes reports its errors here.
  control::Dispatch::Scope handling{*dispatch_};

  Surface& s = surface_;
  view::TabMemory memory{state_, surface_, *regional_};
  try {
    s.cboAccessLevel.SetVisible(false);
    const int selected = s.tabFees.SelectedIndex();
    if (selected == state_.CurrentTab) return;

    memory.Remember(state_.CurrentTab);

    state_.CurrentTab = static_cast<std::int16_t>(selected);
    s.tabFees.SetTag(kModeBrowsing);
    s.cmdAdd.SetCaption(kCaptionAdd);
    s.cmdEdit.SetCaption(kCaptionEdit);
    s.cmdDelete.SetEnabled(true);

    memory.ShowCombos(selected);
    const bool accessLevel = FeeKindOf(selected).accessLevel;

    if (accessLevel) {
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
        if (accessLevel) {
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
        memory.Restore(selected);
        break;
      case 2:
        FillGrid(selected);
        cmdEdit_Click();
        memory.Restore(selected);
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    host_.MsgBox(e.what(), msgbox::kOk, "");
  }
}

}  // namespace harnolfees
