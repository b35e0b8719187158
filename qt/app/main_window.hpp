// The editor window: the fee control, its menus and a status line that says
// what happened last. Work not yet saved is never dropped without asking.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <functional>

#include "harnolfees/qt/fees_widget.hpp"

class QPushButton;
class QFrame;

namespace harnolfees::qt {

struct EditorSettings {
  QString url;
  int center = 0;
  QString serverDate;  // empty: today
  bool viewMode = false;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(EditorSettings settings, QWidget* parent = nullptr,
                      std::unique_ptr<Transfer> transfer = nullptr,
                      std::unique_ptr<DocumentFetcher> fetcher = nullptr);
  HarnolFeesWidget& fees() { return *fees_; }
  QString StatusText() const { return outcomeLabel_->text(); }
  bool Loaded() const { return loaded_; }

 public slots:
  // Reloads the center, asking first about unfinished work.
  void Reload();
  // Asks for another center and loads it, asking first about unfinished work.
  void OpenCenter();
  void ExportTab();
  void ExportAllTabs();
  // The same without a file dialog; false, with the reason in the status
  // line, when a file could not be written.
  bool ExportTabTo(int tab, const QString& path);
  bool ExportAllTabsTo(const QString& dir);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Save, Discard or Cancel when tabs hold unfinished work; returns whether
  // the caller may go on.
  bool ResolveUnfinishedWork(const QString& action);
  void Load();
  void ShowOutcome(const QString& text);
  void UpdateTitle();
  void SetLoaded(bool loaded, const QString& why);

  EditorSettings settings_;
  HarnolFeesWidget* fees_;
  QFrame* notLoaded_;
  QLabel* notLoadedText_;
  QPushButton* retry_;
  QLabel* centerLabel_;
  QLabel* outcomeLabel_;
  bool loaded_ = false;
  QString lastMessage_;
};

// The address as it may be shown: without user name or password.
QString AddressWithoutCredentials(const QString& url);

}  // namespace harnolfees::qt
