// The fee-maintenance control of one franchise center.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/host.hpp"
#include "harnolfees/runtime.hpp"
#include "harnolfees/surface.hpp"

namespace harnolfees {

// Entry modes, held as text in tabFees.Tag.
inline constexpr const char* kModeBrowsing = "0";
inline constexpr const char* kModeAdding = "1";
inline constexpr const char* kModeEditing = "2";

inline constexpr const char* kCaptionAdd = "&Add";
inline constexpr const char* kCaptionSave = "&Save";
inline constexpr const char* kCaptionEdit = "&Edit";
inline constexpr const char* kCaptionCancel = "&Cancel";
inline constexpr const char* kCaptionDelete = "&Delete";

// The control's state for its whole life. Public so that hosts, the driver's
// dump and the tests can read it; only the control writes it.
struct ControlState {
  std::int16_t CurrentTab = 1;
  std::int16_t ClubID = 0;
  bool ViewMode = false;
  std::string FieldSeparator, RecordSeparator, TableSeparator, NullDetector;
  std::string BaseURL;
  std::string ServerDate;
  std::string LastStatement;
  bool DeletePending = false;
  bool ShowTravelOption = false;
  bool IsAdding = false;
  std::string EditOldEffectivity;
  std::string EditOldType;
  // Per-tab memory, index 1..14 (0 unused).
  std::array<std::int16_t, kTabCount + 1> SavedGridRow{};
  std::array<std::int16_t, kTabCount + 1> TabEntryMode{};
  std::array<std::array<std::string, 8>, kTabCount + 1> SavedFieldTexts{};  // slots 1..7

  // Set while SubmitStatement waits: operator actions that arrive meanwhile
  // are set aside.
  bool Submitting = false;
  // The tab whose record set holds the pending change of a save the server
  // refused (0 when none); the next save or a cancel discards it.
  std::int16_t RefusedPendingTab = 0;
};

namespace control {
class Dispatch;
}

class HarnolFeesCtlCenter {
 public:
  // Every member runs on the user-interface thread (the host's), which is
  // also where the transfer's notifications arrive (HostServices::PostEvent).
  // "Shows" means a message box through HostServices::MsgBox.

  // Creates the record sets and the surface, wires the surface's hooks and
  // shows tab 1 with an empty grid. The transfer and fetcher default to
  // libcurl; a control without them still shows data but cannot load or
  // save. Never throws: a start-up failure is shown.
  explicit HarnolFeesCtlCenter(HostServices& host, std::unique_ptr<Transfer> transfer = nullptr,
                               std::unique_ptr<DocumentFetcher> fetcher = nullptr);
  // Closes the record sets and cancels a transfer under way; a notification
  // still queued for the control is disconnected. Never throws.
  ~HarnolFeesCtlCenter();
  HarnolFeesCtlCenter(const HarnolFeesCtlCenter&) = delete;
  HarnolFeesCtlCenter& operator=(const HarnolFeesCtlCenter&) = delete;

  // ---- Host members, in their order ----
  // The form encoding of `theData` as the server page reads it
  // (Windows-1252, "%XX"); a character Windows-1252 lacks encodes as "%3F".
  std::string urlEncode(const std::string& theData) const;
  // Loads the schedule of center `piNewClubID` from `ptURL` +
  // "TermFeesAX.asp?Center=N" and shows the current tab; `ptServerDate` is
  // the server's today. An unfinished add or edit is discarded first. An
  // empty URL only keeps the values. A document that cannot be fetched or is
  // not one element tree leaves the schedule shown as it was; a fault inside
  // it leaves what came before loaded. Either is shown, never thrown
  // (LastLoadSucceeded tells). Blocks while the document arrives.
  void LoadData(std::string ptURL, std::int16_t piNewClubID, std::string ptServerDate);
  // Fills the term, contract type and credit type lists from delimited text
  // (StringParameter's separators). Never throws; what was added stays.
  void PopulateComboBox(const std::string& ptCmbPopulate);
  // Keeps the center that statements name. Never throws.
  void SetClubID(std::int16_t piNewClubID);
  // Always returns nothing (the empty Variant); keeps the separators.
  void StringParameter(const std::string& ptFieldSeparator, const std::string& ptRecordSeparator,
                       const std::string& ptTableSeparator, const std::string& ptNullDetector);
  bool GetViewMode() const { return state_.ViewMode; }
  // View mode hides the entry form and its buttons and gives the grid their
  // room; leaving it shows them again for the current tab. A failure is
  // shown, never thrown.
  void SetViewMode(bool pbNewViewMode);

  // ---- Operator notifications ----
  // The surface's hooks call these through the control's dispatch, which
  // shows any failure; called directly they throw ControlError. The three
  // buttons and the tab strip do nothing while a statement waits (Busy).
  //
  // Shows the tab selected on the tab strip, keeping what the tab left held
  // and putting back what the shown tab held when it was left.
  void tabFees_Click();
  // Add: opens the entry form for a new record. Save: checks the entry by
  // the current fee kind's save rule and submits its statement; a refusal
  // is shown with the focus on the field to correct.
  void cmdAdd_Click();
  // Edit: opens the entry form on the selected grid row. Cancel: ends the
  // add or edit; nothing is sent.
  void cmdEdit_Click();
  // Deletes the selected record after the operator confirms; only records
  // added (and confirmed by the server) while the control is open.
  void cmdDelete_Click();
  // Selects the whole text of text box `index` (1..7).
  void txtField_GotFocus(int index);
  // Reformats a number in text box `index` (1..7) to its column's decimals.
  void txtField_LostFocus(int index);
  // Shows or hides the bank account's closing date with its check box.
  void chkDT_Click();
  // The transfer's state changed: a completed reply confirms the statement
  // (empty reply) or is shown as the server's refusal; an error is shown.
  // The host is told through HostServices::ExchangeSettled. Never throws.
  void OnTransferStateChanged(int state);

  // ---- Shared operations ----
  // Renders the record set of `tab` (1..14) into the grid and, outside view
  // mode, captions the entry form. Throws ControlError for a bad tab or a
  // record the grid cannot show (the cells written so far stay).
  void FillGrid(int tab);
  // Captions and shows the entry form's fields for `tab`. Throws
  // ControlError for a bad tab.
  void ShowEntryFields(int tab);
  // FillGrid for callers without error handling of their own: a failure is
  // shown in a message box with its description and contained.
  void FillGridContained(int tab);
  // Sets date picker `index` (0..2) to `dateText`, its range two months
  // back to a year ahead, and shows it. A failure is shown, never thrown.
  void InitDatePicker(const std::string& dateText, int index);
  // The date `dateText` as mm/dd/yyyy for a statement, or "" when refused
  // (shown, with the focus on the picker (focusIndex 0) or text box
  // focusIndex). With an empty caption it is the effective date and must not
  // duplicate another record of `tab` with the same key: the type `typeKey`,
  // or for the renewal fee the access level and travel flag; the record
  // under edit (oldEffectivity, oldType) is no duplicate. Any other caption
  // only requires a date. Throws ControlError for a text that is no date.
  std::string ValidateEffectiveDate(const std::string& dateText, int focusIndex,
                                    const std::string& oldEffectivity, const std::string& oldType,
                                    int tab, int typeKey, std::string caption, int accessLevel,
                                    int travel);
  // Ends an add or edit after its save: the form closes and the grid is
  // rendered again (a failure shown).
  void ReturnToBrowsing();
  // The position of the bank account type whose text is `text` (blanks and
  // case aside); 0 when none is.
  int FindAccountTypeIndex(const std::string& text) const;
  // Posts `statement` to the server page and waits, letting the host run its
  // events, until the transfer ends; OnTransferStateChanged takes the reply.
  // A statement Windows-1252 cannot carry is refused (shown) and not sent.
  // Does nothing while another statement waits.
  void SubmitStatement(const std::string& statement);
  // Fills the bank account type list from record set 15. Throws
  // ControlError for a type without a description.
  void FillBankAccountTypes();

  // ---- Unfinished work, for hosts that guard the operator's typing ----
  // All on the user-interface thread; none of them throws.
  //
  // The tabs (1..14, ascending) that hold an add or edit not yet saved: the
  // current tab by its entry mode, the others by what leaving them kept.
  std::vector<int> UnfinishedTabs() const;
  // Whether the entry form differs from what the current add or edit began
  // with; false while browsing.
  bool EntryModified() const;
  // Saves each unfinished tab in turn, showing it and pressing Save as the
  // operator would. Stops at the first tab whose save is refused (by the
  // checks or the server), leaving that tab shown, and returns false; true
  // when no unfinished work is left. Does nothing while a statement waits.
  bool SaveUnfinishedWork();
  // Ends every unfinished add or edit as Cancel would; nothing is sent.
  void DiscardUnfinishedWork();
  // Whether a statement is on its way to the server page.
  bool Busy() const { return state_.Submitting; }
  // What the last failed transfer reported, naming the address without
  // credentials; empty before any failure.
  const std::string& LastTransferFailure() const { return lastTransferFailure_; }
  // Whether the last LoadData loaded a schedule; false before any, and after
  // one that failed (its failure was shown in a message box).
  bool LastLoadSucceeded() const { return lastLoadSucceeded_; }

  // ---- Access for hosts, the driver and tests ----
  const ControlState& state() const { return state_; }
  Surface& surface() { return surface_; }
  const Surface& surface() const { return surface_; }
  FeeRecordSets& recordSets() { return recordSets_; }
  const FeeRecordSets& recordSets() const { return recordSets_; }
  HostServices& host() { return host_; }
  const RegionalSettings& regional() const { return *regional_; }

 private:
  // The dispatch of the surface's notifications and the control's own
  // bookkeeping (src/control/dispatch.hpp). The units behind this facade
  // (the entry workflow, the save rules, the reply handling, the loader)
  // share the members below by reference.
  std::unique_ptr<control::Dispatch> dispatch_;
  std::string lastTransferFailure_;
  bool lastLoadSucceeded_ = false;

  HostServices& host_;
  const RegionalSettings* regional_ = &RegionalSettings::UnitedStates();
  ControlState state_;
  Surface surface_;
  FeeRecordSets recordSets_;
  std::unique_ptr<Transfer> Inet1_;
  std::unique_ptr<DocumentFetcher> fetcher_;
};

// The correspondence between combo-box positions and type identifiers, used
// by every place that needs it. APR types and credit types: the identifier v
// stands at position v - 1; the item at position p stands for p + 1; no
// selection (-1) stands for 0. Contract types: the identifier is the position.
int AprOrCreditTypeIdForPosition(int position);
int PositionForAprOrCreditTypeId(int id);
inline int ContractTypeIdForPosition(int position) { return position; }
inline int PositionForContractTypeId(int id) { return id; }

}  // namespace harnolfees
