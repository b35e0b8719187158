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

class HarnolFeesCtlCenter {
 public:
  // Start-up runs here. The transfer and fetcher default to libcurl.
  explicit HarnolFeesCtlCenter(HostServices& host, std::unique_ptr<Transfer> transfer = nullptr,
                               std::unique_ptr<DocumentFetcher> fetcher = nullptr);
  // Tear-down runs here.
  ~HarnolFeesCtlCenter();
  HarnolFeesCtlCenter(const HarnolFeesCtlCenter&) = delete;
  HarnolFeesCtlCenter& operator=(const HarnolFeesCtlCenter&) = delete;

  // ---- Host members, in their order ----
  std::string urlEncode(const std::string& theData) const;
  void LoadData(std::string ptURL, std::int16_t piNewClubID, std::string ptServerDate);
  void PopulateComboBox(const std::string& ptCmbPopulate);
  void SetClubID(std::int16_t piNewClubID);
  // Always returns nothing (the empty Variant); keeps the separators.
  void StringParameter(const std::string& ptFieldSeparator, const std::string& ptRecordSeparator,
                       const std::string& ptTableSeparator, const std::string& ptNullDetector);
  bool GetViewMode() const { return state_.ViewMode; }
  void SetViewMode(bool pbNewViewMode);

  // ---- Operator notifications (the surface's hooks call these) ----
  void tabFees_Click();
  void cmdAdd_Click();
  void cmdEdit_Click();
  void cmdDelete_Click();
  void txtField_GotFocus(int index);
  void txtField_LostFocus(int index);
  void chkDT_Click();
  void OnTransferStateChanged(int state);

  // ---- Shared operations ----
  void FillGrid(int tab);
  void ShowEntryFields(int tab);
  // FillGrid for callers without error handling of their own: a failure is
  // shown in a message box with its description and contained.
  void FillGridContained(int tab);
  void InitDatePicker(const std::string& dateText, int index);
  std::string ValidateEffectiveDate(const std::string& dateText, int focusIndex,
                                    const std::string& oldEffectivity, const std::string& oldType,
                                    int tab, int typeKey, std::string caption, int accessLevel,
                                    int travel);
  void ReturnToBrowsing();
  int FindAccountTypeIndex(const std::string& text) const;
  void SubmitStatement(const std::string& statement);
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
  // Each subsystem's private members, implemented in its own source folder.
  // --- control (src/control) ---
  void StartUp();
  void TearDown();
  void WireSurface();
  // Runs a notification of the surface. An error is shown in a message box
  // and goes no further, since no error may reach the host. A check box
  // notification raised by the control's own code while a handler runs (the
  // handler changed its Value) lets the error reach that handler instead.
  void Dispatch(const std::function<void()>& handler, bool raisedByCode = false);
  int dispatchDepth_ = 0;
  // Tells the host when the unfinished tabs changed since it was last told.
  void NoteUnfinishedWork();
  std::vector<int> reportedUnfinished_;
  // What the entry form held when the current add or edit began.
  struct EntrySnapshot {
    std::array<std::string, 8> texts;
    std::array<int, 6> combos{};
    std::array<DateTime, 3> dates{};
    std::array<int, 2> checks{};
    friend bool operator==(const EntrySnapshot&, const EntrySnapshot&) = default;
  };
  EntrySnapshot TakeEntrySnapshot() const;
  EntrySnapshot entryStart_;
  std::string lastTransferFailure_;
  bool lastLoadSucceeded_ = false;
  // --- loading (src/loading) ---
  // Reads the children of the load document's root into the lists and the
  // record sets; a nested class, so that it reaches the control's state.
  struct LoadReader;
  // --- view (src/view) ---
  // The per-tab memory of the entry form: what leaving a tab keeps, and what
  // coming back to it in the middle of an add or edit puts back.
  void RememberTabOnLeaving(int tab);
  void RestoreTabTexts(int tab);
  void ShowTabCombos(int tab);
  // --- editing (src/editing) ---
  // The halves of the two dual-purpose buttons and the deletion.
  void BeginAdd();
  void SaveEntry();
  void BeginEdit();
  void CancelEntry();
  void DeleteSelectedRecord();
  // The per-tab controls of the entry form at each turn of the workflow.
  enum class EntryTurn { Add, Edit, Cancel, BackToBrowsing };
  void PrepareTabControls(EntryTurn turn, int row);
  // Discards the pending change of a save that the server did not accept,
  // so that neither the grid nor a later confirmation takes it for real.
  void DiscardRefusedChange();
  // The save rules of the fee kinds.
  void SaveMembershipFee();
  void SaveValuePlusFee(int tab);
  void SaveRenewalOptionFee();
  void SaveFinancingTerm(int tab);
  void SaveMembershipRenewalFee();
  void SaveBankAccount();
  void SaveSalesTax(int tab);
  // The end of the common save procedure: the statement is built and checked
  // before the record set is touched, then the record is written and the
  // statement submitted. Returns whether it was submitted.
  struct SavePlan;
  bool FinishSave(const SavePlan& plan);
  // Moves the cursor of the record set to the record of the selected grid row.
  void PositionOnGridRow(RecordSet& rs) const;
  // Shows the record about to be deleted in the entry form.
  void RefillEntryForm(int tab, RecordSet& rs);
  // Refuses a statement that the server page cannot receive unchanged.
  bool StatementCanBeSent(const std::string& statement, const char* title);
  // --- exchange (src/exchange) ---
  // Reads the whole reply of a completed transfer, yielding between pieces.
  std::string ReadTransferReply();
  // The server accepted the statement: commit the deletion or the save.
  void ConfirmStatement();
  // The statement did not go through: remember a save's pending change so
  // that the next save or a cancel discards it.
  void NoteUnconfirmedSave();
  // Counts the notifications handled, so that a wait that ends without one
  // (a transfer cancelled under it) still restores the pointer.
  std::uint64_t transferNotifications_ = 0;

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
