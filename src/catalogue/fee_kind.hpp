// Everything that varies from one fee kind (tab) to another, in one entry
// per tab: the workflow, the entry form, the tab memory, the grid, the
// submission and the deletion read it instead of asking which tab they are
// on. Changing a fee kind means changing its entry here (and its save rule's
// texts in src/editing, which the entry names).
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/surface.hpp"

namespace harnolfees {

// How the position of a combo box's item stands for the identifier that the
// record keeps.
enum class IdentifierRule {
  // The item's text is the value (the term in months).
  Text,
  // The identifier is the position (contract types).
  Position,
  // The identifier v stands at position v - 1; no selection stands for 0
  // (APR types, credit types).
  PositionPlusOne,
  // The identifier is the item's data; the record shows the item's text
  // (bank account types).
  ItemData,
};

// A combo box that lies over a text box of the entry form and stands in for
// it while the operator adds or edits.
struct ComboOverlay {
  ComboBox Surface::*box;
  int slot;  // the text box under it, 1..7
  IdentifierRule rule;
  const char* field;  // the record field that holds the identifier
  // What leaving the tab writes into the slot: the list position plus this.
  int rememberedOffset = 0;
  // An edit starts with nothing selected when the slot is empty, instead of
  // looking for an item with an empty text.
  bool clearWhenEmpty = false;
};

// How a grid cell (and the export) shows a record's field.
enum class CellFormat {
  Number,        // regional number, as many decimals as it has
  Text,          // as stored; Null is an error
  Percent3,      // fraction shown as percent, 3 decimals
  Percent6,      // fraction shown as percent, 6 decimals
  AprType,       // identifier shown as the APR type's name
  ContractType,  // identifier shown as the contract type's name
  CreditType,    // identifier shown as the credit type's name
  AccountType,   // identifier shown as the bank account type's description
  Date,          // Mmm dd yyyy
  Closed,        // a text that holds a date, or nothing
};

struct GridColumn {
  const char* field;
  CellFormat format;
};

// How the entry form shows a field of the record about to be deleted.
enum class RefillFormat {
  Amount,      // regional number
  Percent,     // fraction shown as percent, 3 decimals
  Plain,       // as stored
  Date,        // a date, or a text that holds one
  ComboText,   // the overlaid combo box selects the item with this text
  ComboItem,   // the overlaid combo box selects the item at the identifier's position
  AccountType  // the account types' description of the identifier
};

struct RefillField {
  int slot;
  const char* field;
  RefillFormat format;
};

// A field copied into another once the server holds the record, so that a
// later edit or delete addresses the server's row by the values it knows.
struct ServerKey {
  const char* field;
  const char* copy;
  // The clause the DELETE adds for this key, followed by the copy's value;
  // nullptr for the effective date, which every DELETE names first.
  const char* deleteClause = nullptr;
  // The copy is the server's bit (1 or 0) of a flag kept as -1 or 0.
  bool asBit = false;
};

// The save rule that each fee kind's Save runs (src/editing/save_*.cpp).
enum class SaveRule {
  MembershipFee,
  ValuePlusFee,
  ValuePlusRenewalFee,
  RenewalOptionFee,
  BetaApr,
  BetaProcessingFee,
  BetaReserve,
  MembershipRenewalFee,
  BankAccount,
  SalesTax,
};

// A number text box that is not reformatted when the operator leaves it.
inline constexpr int kNotReformatted = -2;
// Reformatted with the regional number of decimals.
inline constexpr int kRegionalDecimals = -1;

struct FeeKind {
  int tab = 0;
  const FeeTabInfo* info = nullptr;  // caption, table, headings
  // The grid's columns after the effective date (column 0), in order.
  std::vector<GridColumn> columns;
  // What the entry form shows of a record about to be deleted.
  std::vector<RefillField> refill;
  // The combo boxes over the entry form's text boxes, in the order they are
  // prepared.
  std::vector<ComboOverlay> combos;
  // The decimals each text box (1..7) gets when left, or kNotReformatted.
  std::array<int, 8> decimals{kNotReformatted, kNotReformatted, kNotReformatted, kNotReformatted,
                              kNotReformatted, kNotReformatted, kNotReformatted, kNotReformatted};
  // The server's key, effective date first.
  std::vector<ServerKey> serverKeys;
  // The field copied into OldType (the type that keys the record beside its
  // date), or nullptr when the kind has no OldType.
  const char* oldTypeField = nullptr;
  // The combo box whose item names the type in a duplicate-date message.
  ComboBox Surface::*typeNames = nullptr;
  // The head of the DELETE, up to the quote that opens the date.
  const char* deleteHead = "";
  SaveRule save = SaveRule::MembershipFee;

  // The renewal fee: the access level box and the travel flag, its column
  // (left out, and the grid sorted by sortWithoutTravel, when the travel
  // option is off), and the reopening that follows a deletion.
  bool accessLevel = false;
  int travelColumn = -1;
  const char* sortWithoutTravel = "";
  // The bank account: opened and closed dates with the closing check box.
  bool accountDates = false;

  // The combo overlay on a box, or nullptr.
  const ComboOverlay* Overlay(ComboBox Surface::*box) const;
  // The overlay whose identifier is the OldType, or nullptr.
  const ComboOverlay* TypeOverlay() const;
  // The number of grid columns shown, with the travel option on or off.
  int ShownColumnCount(bool showTravelOption) const;
};

// The entry of a tab 1..14; throws ControlError(kSubscriptOutOfRange) for
// any other tab.
const FeeKind& FeeKindOf(int tab);

// The combo boxes that overlay text boxes on some tab, in the order the
// entry form shows and hides them.
inline constexpr std::array<ComboBox Surface::*, 4> kOverlaidBoxes{
    &Surface::cboTerm, &Surface::cboAPRType, &Surface::cboType, &Surface::cboBitwise};

// The identifier a combo box's position stands for, and back, under a rule.
int IdentifierForPosition(IdentifierRule rule, int position);
int PositionForIdentifier(IdentifierRule rule, int id);

}  // namespace harnolfees
