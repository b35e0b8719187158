// The common save procedure: field tests, normalisation, and the end that
// every save rule shares.
#include "editing/save_common.hpp"

#include <cmath>

#include "harnolfees/encoding.hpp"

namespace harnolfees {
namespace editing {

std::string NumberEntry::FractionText() const { return NumberToText(Fraction()); }

void Refuse(HostServices& host, const std::string& message, Focusable* focus) {
  host.MsgBox(message, kRefusalButtons, kValidationTitle);
  if (focus != nullptr) focus->SetFocus();
}

bool PassesFieldTests(HostServices& host, const RegionalSettings& rs, const std::string& text,
                      const FieldRule& rule, Focusable& focus) {
  if (text.empty()) {
    Refuse(host, rule.emptyMessage, &focus);
    return false;
  }
  if (!IsNumeric(text, rs)) {
    Refuse(host, rule.invalidMessage, &focus);
    return false;
  }
  switch (rule.kind) {
    case FieldKind::Amount:
      if (ExceedsCurrencyRange(text, rs)) {
        Refuse(host, rule.thirdMessage, &focus);
        return false;
      }
      break;
    case FieldKind::Percentage:
      if (AbsoluteValue(text, rs) > 100) {
        Refuse(host, rule.thirdMessage, &focus);
        return false;
      }
      break;
    case FieldKind::Count:
      break;
  }
  return true;
}

double AbsoluteValue(const std::string& text, const RegionalSettings& rs) {
  return std::fabs(TextToNumber(text, rs));
}

NumberEntry Normalise(const std::string& text, const RegionalSettings& rs) {
  NumberEntry entry;
  entry.text = NumberToText(AbsoluteValue(text, rs));
  // The number read back from the replaced text, so that the fractions and
  // comparisons that follow agree with what is stored and sent.
  entry.value = TextToNumber(entry.text);
  return entry;
}

std::string TruncateToChars(std::string_view text, int maxChars) {
  std::size_t pos = 0;
  int chars = 0;
  while (pos < text.size()) {
    if (chars == maxChars) return std::string(text.substr(0, pos));
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = 1;
    if (lead >= 0xF0) {
      len = 4;
    } else if (lead >= 0xE0) {
      len = 3;
    } else if (lead >= 0xC0) {
      len = 2;
    }
    pos += len;
    ++chars;
  }
  return std::string(text);
}

std::string TravelBitText(const Value& flag) {
  if (flag.IsNull()) return "0";
  return flag.ToDouble() != 0.0 ? "1" : "0";
}

void SelectPositionOrNothing(ComboBox& box, int position) {
  box.SetListIndex(position >= 0 && position < box.ListCount() ? position : -1);
}

}  // namespace editing

using editing::kRefusalButtons;

bool editing::StatementCanBeSent(HostServices& host, const std::string& statement,
                                 const char* title) {
  if (IsWindows1252Encodable(statement)) return true;
  host.MsgBox(editing::kNotEncodableMessage, editing::kRefusalButtons, title);
  return false;
}

void editing::PositionOnGridRow(const Grid& grid, RecordSet& rs) {
  rs.MoveFirst();
  const int row = grid.Row();
  for (int count = 1; count <= row - 1; ++count) {
    if (!rs.IsEOF()) rs.MoveNext();
  }
}

}  // namespace harnolfees
