// The editor window: the fee control, a Reload action and a status bar.
#pragma once

#include <QLabel>
#include <QMainWindow>

#include "harnolfees/qt/fees_widget.hpp"

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
  explicit MainWindow(EditorSettings settings, QWidget* parent = nullptr);
  HarnolFeesWidget& fees() { return *fees_; }

 public slots:
  void Reload();

 private:
  void ShowOutcome(const QString& text);
  void UpdateStatus();

  EditorSettings settings_;
  HarnolFeesWidget* fees_;
  QLabel* centerLabel_;
  QLabel* addressLabel_;
  QLabel* outcomeLabel_;
};

// The address as it may be shown: without user name or password.
QString AddressWithoutCredentials(const QString& url);

}  // namespace harnolfees::qt
