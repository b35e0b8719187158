#include "view/tab_memory.hpp"

#include <string>

#include "catalogue/fee_kind.hpp"

namespace harnolfees::view {

namespace {

std::size_t At(int index) { return static_cast<std::size_t>(index); }

// A remembered combo index, written as decimal text when the tab was left.
int IndexFromText(const std::string& text, const RegionalSettings& rs) {
  return RoundToInt16(TextToNumber(text, rs));
}

}  // namespace

void TabMemory::Remember(int tab) {
  Surface& s = surface;
  state.TabEntryMode[At(tab)] = RoundToInt16(TextToNumber(s.tabFees.Tag(), regional));

  // Combo selections travel in the text boxes under them.
  auto& txt = s.txtField;
  for (const ComboOverlay& c : FeeKindOf(tab).combos) {
    txt[At(c.slot)].SetText(std::to_string((s.*c.box).ListIndex() + c.rememberedOffset));
  }
  for (int i = 1; i <= 7; ++i) state.SavedFieldTexts[At(tab)][At(i)] = txt[At(i)].Text();
  state.SavedGridRow[At(tab)] = static_cast<std::int16_t>(s.grdFees.Row());
}

void TabMemory::Restore(int tab) {
  Surface& s = surface;
  auto& txt = s.txtField;
  for (int i = 1; i <= 7; ++i) txt[At(i)].SetText(state.SavedFieldTexts[At(tab)][At(i)]);
  for (const ComboOverlay& c : FeeKindOf(tab).combos) {
    (s.*c.box).SetListIndex(IndexFromText(txt[At(c.slot)].Text(), regional) - c.rememberedOffset);
  }
}

void TabMemory::ShowCombos(int tab) {
  Surface& s = surface;
  const FeeKind& kind = FeeKindOf(tab);
  const bool editable = !state.ViewMode;
  for (ComboBox Surface::*box : kOverlaidBoxes) {
    const bool shown = editable && kind.Overlay(box) != nullptr;
    if (shown) (s.*box).SetListIndex(-1);
    (s.*box).SetVisible(shown);
  }
  if (kind.accountDates && editable) {
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

}  // namespace harnolfees::view
