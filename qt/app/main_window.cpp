#include "main_window.hpp"

#include <QAction>
#include <QDate>
#include <QMenuBar>
#include <QStatusBar>
#include <QTime>
#include <QToolBar>
#include <QUrl>

namespace harnolfees::qt {

QString AddressWithoutCredentials(const QString& url) {
  return QUrl(url).toDisplayString(QUrl::RemoveUserInfo);
}

MainWindow::MainWindow(EditorSettings settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(std::move(settings)),
      fees_(new HarnolFeesWidget(this)),
      centerLabel_(new QLabel(this)),
      addressLabel_(new QLabel(this)),
      outcomeLabel_(new QLabel(this)) {
  setWindowTitle("HarnolFeesCenter");
  setCentralWidget(fees_);
  auto* reload = new QAction("&Reload", this);
  reload->setShortcut(QKeySequence::Refresh);
  connect(reload, &QAction::triggered, this, &MainWindow::Reload);
  menuBar()->addMenu("&Center")->addAction(reload);
  addToolBar("Center")->addAction(reload);
  statusBar()->addWidget(centerLabel_);
  statusBar()->addWidget(addressLabel_, 1);
  statusBar()->addPermanentWidget(outcomeLabel_);
  connect(fees_, &HarnolFeesWidget::messageShown, this,
          [this](const QString& prompt, const QString& title, int) {
            ShowOutcome((title.isEmpty() ? QString() : title + ": ") + prompt.simplified());
          });
  fees_->SetViewMode(settings_.viewMode);
  UpdateStatus();
}

void MainWindow::Reload() {
  if (settings_.url.isEmpty()) {
    ShowOutcome("No server address: start with --url");
    return;
  }
  QString date = settings_.serverDate.isEmpty() ? QDate::currentDate().toString("M/d/yyyy")
                                                : settings_.serverDate;
  outcomeLabel_->clear();
  fees_->LoadData(settings_.url.toStdString(), static_cast<std::int16_t>(settings_.center),
                  date.toStdString());
  if (outcomeLabel_->text().isEmpty())
    ShowOutcome(QString("Loaded at %1").arg(QTime::currentTime().toString("HH:mm:ss")));
  UpdateStatus();
}

void MainWindow::ShowOutcome(const QString& text) { outcomeLabel_->setText(text); }

void MainWindow::UpdateStatus() {
  centerLabel_->setText(QString("Center %1").arg(settings_.center));
  addressLabel_->setText(AddressWithoutCredentials(settings_.url));
}

}  // namespace harnolfees::qt
