// What every save rule shares: the tests of number fields, the normalisation
// of accepted numbers, the refusal messages and the plan by which a rule
// writes its record and submits its statement.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "harnolfees/control.hpp"

namespace harnolfees {

namespace editing {

inline constexpr const char* kValidationTitle = "Centers";
inline constexpr const char* kRowTitle = "Harnol";
inline constexpr const char* kDeletionTitle = "Terms Fees";
inline constexpr const char* kCrLf = "\r\n";
inline constexpr int kRefusalButtons = msgbox::kOk + msgbox::kInformation;

// The server page reads statements in Windows-1252; a character outside it
// would reach the database changed.
inline constexpr const char* kNotEncodableMessage =
    "The entry holds characters that cannot be sent to the server. Please use only the "
    "characters of the Western European (Windows-1252) character set.";

// A save or delete of a record whose key the server has not confirmed yet
// would address no row, or the wrong one.
inline constexpr const char* kUnconfirmedEditMessage =
    "This record cannot be saved yet: the server has not confirmed it. Please reload the data "
    "before you change it.";
inline constexpr const char* kUnconfirmedDeleteMessage =
    "This record cannot be deleted yet: the server has not confirmed its addition. Please "
    "reload the data before you delete it.";

// The arguments of ValidateEffectiveDate, named for what they mean at a call.
// Where the focus goes when the date is refused: the effective date's picker
// (text boxes go by their index, 1..7).
inline constexpr int kFocusEffectiveDate = 0;
// The caption that asks for the duplicate check: the effective date. Any
// other caption (a bank account's opened or closed date) only requires the
// date and formats it.
inline constexpr const char* kCheckDuplicateDate = "";
// A date that no tab's records are searched for (with another caption).
inline constexpr int kNoTab = 0;
// The type key of a fee kind that is keyed by its date alone.
inline constexpr int kNoTypeKey = 0;
// The access level and travel flag that only the renewal fee's check reads;
// every other fee kind passes these.
inline constexpr int kAccessLevelUnused = 3;
inline constexpr int kTravelUnused = 0;

enum class FieldKind { Amount, Percentage, Count };

struct FieldRule {
  FieldKind kind;
  std::string emptyMessage;
  std::string invalidMessage;
  // "too large" for an amount, the range message for a percentage; unused
  // for a count.
  std::string thirdMessage;
};

// An accepted number: the text of its absolute value and the number that
// text stands for. Every later step uses these, never the typed text.
struct NumberEntry {
  std::string text;
  double value = 0;
  // Percentages are kept and sent as fractions (12.5 becomes 0.125).
  double Fraction() const { return value / 100; }
  std::string FractionText() const;
};

// A validation refusal: the information box titled "Centers", then the
// focus on the control to correct.
void Refuse(HostServices& host, const std::string& message, Focusable* focus);

// Runs the tests of the field's kind in order; the first that fails is
// reported with Refuse and the result is false.
bool PassesFieldTests(HostServices& host, const RegionalSettings& rs, const std::string& text,
                      const FieldRule& rule, Focusable& focus);

// The absolute value of a number text that passed its tests, as the default
// number-to-text conversion writes it (-3.50 becomes 3.5, 1,250.00 becomes
// 1250).
NumberEntry Normalise(const std::string& text, const RegionalSettings& rs);

// The absolute value of a text that passed the numeric test, before it is
// normalised; comparisons between fields use it.
double AbsoluteValue(const std::string& text, const RegionalSettings& rs);

// The first `maxChars` characters of a UTF-8 text (never splitting one).
std::string TruncateToChars(std::string_view text, int maxChars);

// "1" when a travel flag or travel bit is set (any non-zero number), else
// "0": the server keeps the flag as a bit.
std::string TravelBitText(const Value& flag);

// Selects the item at a position of a list, or nothing when the position
// names no item.
void SelectPositionOrNothing(ComboBox& box, int position);

// Refuses a statement that the server page cannot receive unchanged
// (outside Windows-1252), with a message box titled `title`.
bool StatementCanBeSent(HostServices& host, const std::string& statement, const char* title);

// Moves the cursor of the record set to the record of the grid's current row.
void PositionOnGridRow(const Grid& grid, RecordSet& rs);

// What a save rule hands to the common end of the procedure.
struct SavePlan {
  int tab = 0;
  // The INSERT of a new record.
  std::function<std::string()> insertStatement;
  // The UPDATE of the record under the cursor, read from its old-key fields;
  // nullopt when the record lacks the server's key (the rule has said so).
  std::function<std::optional<std::string>(RecordSet&)> updateStatement;
  // Writes the tab's fields into the current record, in the tab's order;
  // `adding` tells a new record from an edited one.
  std::function<void(RecordSet&, bool adding)> writeFields;
};

}  // namespace editing

}  // namespace harnolfees
