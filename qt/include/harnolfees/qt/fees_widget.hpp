// HarnolFeesWidget: the fee-maintenance control as a Qt 6 widget. Every
// surface component of the control is a real widget that mirrors its model
// both ways; the host members are forwarded to the control.
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

// Shows a message box and returns the answer (msgbox::kAnswerOk, kAnswerYes,
// kAnswerNo). The default presenter is a modal QMessageBox; tests inject their
// own so that nothing blocks.
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
  void LoadData(const std::string& url, std::int16_t center, const std::string& serverDate);
  void PopulateComboBox(const std::string& text);
  void SetClubID(std::int16_t center);
  void StringParameter(const std::string& fieldSeparator, const std::string& recordSeparator,
                       const std::string& tableSeparator, const std::string& nullDetector);
  bool ViewMode() const;
  void SetViewMode(bool viewMode);

  void SetMessagePresenter(MessagePresenter presenter);
  HarnolFeesCtlCenter& control() { return *control_; }

  // Twips to logical pixels: 15 twips a pixel at 96 dpi; Qt applies the
  // screen's device pixel ratio to logical pixels itself.
  static int Px(int twips) { return (twips + 7) / 15; }

 signals:
  // Every message box the control showed, after the operator answered it.
  void messageShown(const QString& prompt, const QString& title, int answer);

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

  void BuildWidgets();
  void MirrorAll();
  void Place(QWidget* widget, const Component& model);
  // Runs an operator notification; nothing it raises may reach the toolkit.
  void Guard(const std::function<void()>& action);
  void RefreshGrid();
  void SyncTextBox(int index);
  void SyncDatePicker(int index);
  void SyncComboBox(QComboBox* box, const ComboBox& model);
  void SyncCheckBox(QCheckBox* box, const CheckBox& model);
  void SyncButton(QPushButton* button, const CommandButton& model);
  void SyncTabs();
  void DrainEvents();

  EventQueue queue_;
  MessagePresenter presenter_;
  bool overrideCursor_ = false;
  bool syncing_ = false;  // true while a model change is being copied to a widget
  std::unique_ptr<HarnolFeesCtlCenter> control_;

  QWidget* tabRows_ = nullptr;
  bool gridRefreshQueued_ = false;
  QFrame* panel_ = nullptr;
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
};

}  // namespace harnolfees::qt
