// The small helps of the entry form while the operator types: whole-text
// selection on entry, number reformatting on exit, the closed-date check box
// and the date pickers' set-up. None of them validates anything; the saves do.
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "catalogue/fee_kind.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

// The length of a text as the text box counts it: in characters, not bytes.
int TextBoxLength(const std::string& text) {
  int characters = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++characters;
  }
  return characters;
}

TextBox& TextField(Surface& surface, int index) {
  if (index < 1 || index > 7) {
    throw ControlError(errc::kSubscriptOutOfRange, "Subscript out of range: there is no txtField(" +
                                                       std::to_string(index) + ")");
  }
  return surface.txtField[static_cast<std::size_t>(index)];
}

}  // namespace

void HarnolFeesCtlCenter::txtField_GotFocus(int index) {
  TextBox& box = TextField(surface_, index);
  box.SetSelStart(0);
  box.SetSelLength(TextBoxLength(box.Text()));
}

void HarnolFeesCtlCenter::txtField_LostFocus(int index) {
  TextBox& box = TextField(surface_, index);
  if (!IsNumeric(box.Text(), *regional_)) return;
  const int tab = state_.CurrentTab;
  if (tab < 1 || tab > kTabCount) return;
  // The decimals of the grid column that the box edits, percentages typed as
  // percent; a box under a combo box or holding text is left as it is.
  const int decimals = FeeKindOf(tab).decimals[static_cast<std::size_t>(index)];
  if (decimals == kNotReformatted) return;
  const std::optional<double> number = ParseNumber(box.Text(), *regional_);
  if (!number) return;
  box.SetText(FormatNumber(*number, decimals, *regional_));
}

void HarnolFeesCtlCenter::chkDT_Click() {
  DatePicker& closed = surface_.DTPicker1[2];
  if (surface_.chkDT.Value() == 1) {
    if (state_.IsAdding) {
      InitDatePicker(state_.ServerDate, 2);
    } else if (TrimBlanks(closed.Tag()).empty()) {
      InitDatePicker(state_.ServerDate, 2);
    } else {
      // A copy: the set-up may change the picker that holds the text.
      const std::string stored = closed.Tag();
      InitDatePicker(stored, 2);
    }
  } else {
    closed.SetVisible(false);
    surface_.txtField[6].SetEnabled(false);
  }
}

void HarnolFeesCtlCenter::InitDatePicker(const std::string& dateText, int index) {
  try {
    if (index < 0 || index > 2) {
      throw ControlError(
          errc::kSubscriptOutOfRange,
          "Subscript out of range: there is no DTPicker1(" + std::to_string(index) + ")");
    }
    DatePicker& picker = surface_.DTPicker1[static_cast<std::size_t>(index)];
    const DateTime d = TextToDate(dateText, *regional_);
    const DateTime latest = d.DateOnly().AddYears(1);
    const DateTime earliest = d.DateOnly().AddMonths(-2);
    // The picker refuses a range whose bounds cross, so the bound that moves
    // away from the other one goes first.
    if (picker.MinDate() > latest) {
      picker.SetMinDate(earliest);
      picker.SetMaxDate(latest);
    } else {
      picker.SetMaxDate(latest);
      picker.SetMinDate(earliest);
    }
    picker.SetValue(d);
    picker.SetVisible(true);
  } catch (const ControlError& e) {
    host_.MsgBox(std::to_string(e.number()) + " " + e.description(), msgbox::kOk, "");
  } catch (const std::bad_alloc&) {
    host_.MsgBox("7 Out of memory", msgbox::kOk, "");
  } catch (const std::exception& e) {
    host_.MsgBox(std::to_string(errc::kInvalidProcedureCall) + " " + e.what(), msgbox::kOk, "");
  }
}

}  // namespace harnolfees
