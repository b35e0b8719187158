// HarnolFeesWidget: the fee-maintenance control as a Qt 6 widget.
//
// Every surface component of the control is a real widget that mirrors its
// model both ways; the host members are forwarded to the control. The widget
// lays the components out itself: the tab strip on top, the grid taking all
// the room the window gains, the entry form below it. The control's own
// texts, statements and state are never changed by the layout.
//
// Everything runs on the GUI thread. Nothing the control raises reaches Qt:
// errors end in the control's message boxes.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harnolfees/control.hpp"
#include "harnolfees/host.hpp"

class QTableView;
class QDateEdit;
class QLineEdit;
class QLabel;
class QComboBox;
class QCheckBox;
class QPushButton;
class QFrame;

namespace harnolfees::qt {

class GridModel;
class TabRows;

// Shows a message box and returns the answer (msgbox::kAnswerOk, kAnswerYes,
// kAnswerNo). The default presenter is a modal QMessageBox.
using MessagePresenter =
    std::function<int(const std::string& prompt, int buttons, const std::string& title)>;

class HarnolFeesWidget : public QWidget, private HostServices {
  Q_OBJECT

 public:
  explicit HarnolFeesWidget(QWidget* parent = nullptr, std::unique_ptr<Transfer> transfer = nullptr,
                            std::unique_ptr<DocumentFetcher> fetcher = nullptr);
  ~HarnolFeesWidget() override;

  // ---- Host members ----
  std::string urlEncode(const std::string& theData) const;
  // Loads a center; returns whether the schedule was loaded (a failure was
  // shown in the control's message box).
  bool LoadData(const std::string& url, std::int16_t center, const std::string& serverDate);
  void PopulateComboBox(const std::string& text);
  void SetClubID(std::int16_t center);
  void StringParameter(const std::string& fieldSeparator, const std::string& recordSeparator,
                       const std::string& tableSeparator, const std::string& nullDetector);
  bool ViewMode() const;
  void SetViewMode(bool viewMode);

  // ---- Unfinished work ----
  // Tabs (1..14) holding an add or edit not yet saved.
  std::vector<int> UnfinishedTabs() const { return control_->UnfinishedTabs(); }
  // Saves each unfinished tab in turn; false, with the refused tab shown,
  // when one is refused.
  bool SaveUnfinishedWork();
  // Ends every unfinished add or edit without saving.
  void DiscardUnfinishedWork();
  bool Busy() const { return control_->Busy(); }

  void SetMessagePresenter(MessagePresenter presenter);
  HarnolFeesCtlCenter& control() { return *control_; }
  const HarnolFeesCtlCenter& control() const { return *control_; }

  // The selected grid rows with their headings as tab-separated text.
  QString SelectedRowsAsText() const;

 signals:
  // Every message box the control showed, after the operator answered it.
  void messageShown(const QString& prompt, const QString& title, int answer);
  // The unfinished tabs changed.
  void unfinishedWorkChanged();
  // A statement went out (true) or its wait ended (false).
  void busyChanged(bool busy);
  // What became of a statement, in words for a status line.
  void outcome(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // HostServices
  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  void SetMousePointer(int pointer) override;
  void DoEvents() override;
  void ProcessPendingEvents() override;
  void PostEvent(std::function<void()> event) override;
  void FocusMoved(std::string_view component) override;
  void BusyChanged(bool busy) override;
  void ExchangeSettled(const ExchangeOutcome& outcome) override;
  void UnfinishedWorkChanged() override;

  void BuildWidgets();
  void LayOutForm();
  void WatchModels();
  void MirrorAll();
  // Runs an operator notification; nothing it raises may reach the toolkit.
  void Guard(const std::function<void()>& action);
  void RefreshGrid();
  void SyncTextBox(int index, std::string_view property);
  // Whether a shown combo box or date picker stands over text box `index`.
  bool Covered(int index) const;
  void SyncDatePicker(int index);
  void SyncComboBox(QComboBox* box, const ComboBox& model);
  void SyncCheckBox(QCheckBox* box, const CheckBox& model);
  void SyncButton(QPushButton* button, const CommandButton& model);
  void SyncTabs();
  void DrainEvents();
  // Keys of the entry form: Enter saves, Escape cancels (asking first when
  // something was typed). Returns whether the key was used.
  bool FormKey(int key);
  bool GridKey(int key, Qt::KeyboardModifiers modifiers);
  void ClickIfShown(CommandButton& button, const char* caption);
  void CopySelectedRows() const;

  EventQueue queue_;
  MessagePresenter presenter_;
  bool overrideCursor_ = false;
  bool syncing_ = false;  // true while a model change is being copied to a widget
  std::unique_ptr<HarnolFeesCtlCenter> control_;

  TabRows* tabRows_ = nullptr;
  bool gridRefreshQueued_ = false;
  QFrame* form_ = nullptr;
  QTableView* grid_ = nullptr;
  GridModel* gridModel_ = nullptr;
  std::vector<QDateEdit*> pickers_;
  std::vector<QLineEdit*> texts_;  // index 1..7; 0 unused
  std::vector<QLabel*> labels_;    // 0..7
  QLabel* version_ = nullptr;
  QComboBox *cboTerm_ = nullptr, *cboType_ = nullptr, *cboBitwise_ = nullptr,
            *cboAPRType_ = nullptr, *cboAccessLevel_ = nullptr, *cboBanckAccType_ = nullptr;
  QCheckBox *chkTravel_ = nullptr, *chkDT_ = nullptr;
  QPushButton *cmdAdd_ = nullptr, *cmdEdit_ = nullptr, *cmdDelete_ = nullptr;
  std::vector<std::pair<Component*, int>> observations_;
  QWidget* focusBeforeBusy_ = nullptr;
  std::vector<std::vector<const Component*>> overlays_;  // per text box, 1..7
};

}  // namespace harnolfees::qt
