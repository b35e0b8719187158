#include "main_window.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenuBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "harnolfees/export.hpp"

namespace harnolfees::qt {

QString AddressWithoutCredentials(const QString& url) {
  return QString::fromStdString(harnolfees::AddressWithoutCredentials(url.toStdString()));
}

namespace {

bool WriteFile(const QString& path, const std::string& bytes, QString& error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace

MainWindow::MainWindow(EditorSettings settings, QWidget* parent, std::unique_ptr<Transfer> transfer,
                       std::unique_ptr<DocumentFetcher> fetcher)
    : QMainWindow(parent),
      settings_(std::move(settings)),
      fees_(new HarnolFeesWidget(nullptr, std::move(transfer), std::move(fetcher))),
      notLoaded_(new QFrame(this)),
      notLoadedText_(new QLabel(notLoaded_)),
      retry_(new QPushButton(tr("&Retry"), notLoaded_)),
      centerLabel_(new QLabel(this)),
      outcomeLabel_(new QLabel(this)) {
  setObjectName("MainWindow");
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  notLoaded_->setObjectName("notLoaded");
  retry_->setObjectName("retry");
  notLoaded_->setFrameShape(QFrame::StyledPanel);
  auto* banner = new QHBoxLayout(notLoaded_);
  notLoadedText_->setWordWrap(true);
  banner->addWidget(notLoadedText_, 1);
  banner->addWidget(retry_);
  connect(retry_, &QPushButton::clicked, this, &MainWindow::Load);
  layout->addWidget(notLoaded_);
  layout->addWidget(fees_, 1);
  setCentralWidget(central);

  auto* file = menuBar()->addMenu(tr("&File"));
  auto* open = file->addAction(tr("&Open center..."), this, &MainWindow::OpenCenter);
  open->setShortcut(QKeySequence::Open);
  auto* reload = file->addAction(tr("&Reload"), this, &MainWindow::Reload);
  reload->setShortcut(QKeySequence(Qt::Key_F5));
  file->addSeparator();
  file->addAction(tr("E&xport tab as CSV..."), this, &MainWindow::ExportTab);
  file->addAction(tr("Export a&ll tabs..."), this, &MainWindow::ExportAllTabs);
  file->addSeparator();
  auto* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  auto* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&About"), this, [this] {
    const VersionInfo v = LibraryVersion();
    QMessageBox::about(
        this, tr("About HarnolFeesCenter"),
        tr("HarnolFeesCenter %1.%2.%3\nFee server: %4")
            .arg(v.major)
            .arg(v.minor)
            .arg(v.revision)
            .arg(settings_.url.isEmpty() ? tr("none") : AddressWithoutCredentials(settings_.url)));
  });

  outcomeLabel_->setObjectName("outcome");
  statusBar()->addWidget(outcomeLabel_, 1);
  statusBar()->addPermanentWidget(centerLabel_);
  connect(fees_, &HarnolFeesWidget::outcome, this, &MainWindow::ShowOutcome);
  connect(
      fees_, &HarnolFeesWidget::messageShown, this,
      [this](const QString& prompt, const QString&, int) { lastMessage_ = prompt.simplified(); });
  connect(fees_, &HarnolFeesWidget::busyChanged, this, [this](bool busy) {
    menuBar()->setEnabled(!busy);
    if (busy) ShowOutcome(tr("Saving…"));
  });
  connect(fees_, &HarnolFeesWidget::unfinishedWorkChanged, this, [this] {
    // A new add or edit makes the last outcome old news.
    const std::vector<int> tabs = fees_->UnfinishedTabs();
    const int current = fees_->control().state().CurrentTab;
    if (std::find(tabs.begin(), tabs.end(), current) != tabs.end()) outcomeLabel_->clear();
    UpdateTitle();
  });

  fees_->SetViewMode(settings_.viewMode);
  SetLoaded(false, settings_.url.isEmpty()
                       ? tr("No fee server is set. Use File > Open center... or start with --url.")
                       : tr("The center has not been loaded yet."));
  QSettings stored;
  if (!restoreGeometry(stored.value("geometry").toByteArray())) resize(1024, 720);
  setMinimumSize(800, 600);
  UpdateTitle();
  fees_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::SetLoaded(bool loaded, const QString& why) {
  loaded_ = loaded;
  notLoaded_->setVisible(!loaded);
  notLoadedText_->setText(why);
  fees_->setEnabled(loaded);
  retry_->setEnabled(!settings_.url.isEmpty());
}

void MainWindow::Load() {
  if (settings_.url.isEmpty()) {
    SetLoaded(false, tr("No fee server is set. Use File > Open center... or start with --url."));
    return;
  }
  const QString date = settings_.serverDate.isEmpty() ? QDate::currentDate().toString("M/d/yyyy")
                                                      : settings_.serverDate;
  lastMessage_.clear();
  // The load adds the lists' items to what the combo boxes hold; emptied
  // first, a reload shows each item once. A failed load leaves the form
  // without input until a load succeeds.
  fees_->PopulateComboBox("");
  ShowOutcome(tr("Loading center %1…").arg(settings_.center));
  const bool ok = fees_->LoadData(settings_.url.toStdString(),
                                  static_cast<std::int16_t>(settings_.center), date.toStdString());
  if (ok) {
    SetLoaded(true, {});
    ShowOutcome(tr("Center %1 loaded").arg(settings_.center));
    fees_->setFocus(Qt::OtherFocusReason);
  } else {
    SetLoaded(false, tr("Center %1 could not be loaded from %2. %3")
                         .arg(settings_.center)
                         .arg(AddressWithoutCredentials(settings_.url))
                         .arg(lastMessage_));
    ShowOutcome(tr("Loading failed"));
  }
  UpdateTitle();
}

bool MainWindow::ResolveUnfinishedWork(const QString& action) {
  if (fees_->Busy()) return false;
  const std::vector<int> tabs = fees_->UnfinishedTabs();
  if (tabs.empty()) return true;
  QStringList names;
  for (int tab : tabs) names << QString::fromStdString(FeeTab(tab).caption).simplified();
  QMessageBox box(QMessageBox::Warning, tr("Unsaved changes"),
                  tr("These tabs hold changes that are not saved: %1.\n\nSave them before %2?")
                      .arg(names.join(", "), action),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setObjectName("unsavedQuestion");
  box.setDefaultButton(QMessageBox::Save);
  switch (box.exec()) {
    case QMessageBox::Save:
      if (!fees_->SaveUnfinishedWork()) {
        ShowOutcome(tr("Not all changes were saved; %1 was stopped").arg(action));
        return false;
      }
      return true;
    case QMessageBox::Discard:
      fees_->DiscardUnfinishedWork();
      return true;
    default:
      return false;
  }
}

void MainWindow::Reload() {
  if (!ResolveUnfinishedWork(tr("reloading"))) return;
  Load();
}

void MainWindow::OpenCenter() {
  if (!ResolveUnfinishedWork(tr("opening another center"))) return;
  bool ok = false;
  QString url = settings_.url;
  if (url.isEmpty()) {
    url = QInputDialog::getText(this, tr("Open center"), tr("Fee server address:"),
                                QLineEdit::Normal, "http://127.0.0.1:8080/", &ok);
    if (!ok || url.trimmed().isEmpty()) return;
  }
  const int center = QInputDialog::getInt(this, tr("Open center"), tr("Center number:"),
                                          settings_.center, 0, 32767, 1, &ok);
  if (!ok) return;
  settings_.url = url.trimmed();
  settings_.center = center;
  QSettings stored;
  stored.setValue("url", AddressWithoutCredentials(settings_.url));
  stored.setValue("center", settings_.center);
  Load();
}

void MainWindow::ExportTab() {
  const int tab = fees_->control().state().CurrentTab;
  const QString caption = QString::fromStdString(FeeTab(tab).caption).simplified();
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Export tab as CSV"), QDir::home().filePath(caption + ".csv"), tr("CSV (*.csv)"));
  if (!path.isEmpty()) ExportTabTo(tab, path);
}

bool MainWindow::ExportTabTo(int tab, const QString& path) {
  const QString caption = QString::fromStdString(FeeTab(tab).caption).simplified();
  QString error;
  try {
    if (WriteFile(path, ExportTabCsv(fees_->control(), tab), error)) {
      ShowOutcome(tr("Exported %1 to %2").arg(caption, path));
      return true;
    }
  } catch (const std::exception& e) {
    error = QString::fromStdString(e.what());
  }
  ShowOutcome(tr("Could not export %1 to %2: %3").arg(caption, path, error));
  return false;
}

void MainWindow::ExportAllTabs() {
  const QString dir =
      QFileDialog::getExistingDirectory(this, tr("Export all tabs to folder"), QDir::homePath());
  if (!dir.isEmpty()) ExportAllTabsTo(dir);
}

bool MainWindow::ExportAllTabsTo(const QString& dir) {
  int written = 0;
  QStringList failed;
  for (const TabCsv& tab : ExportAllTabsCsv(fees_->control())) {
    const QString path = QDir(dir).filePath(QString::fromStdString(tab.fileName));
    QString error = QString::fromStdString(tab.error);
    if (error.isEmpty() && WriteFile(path, tab.csv, error)) {
      ++written;
    } else {
      failed << tr("%1 (%2)").arg(QString::fromStdString(tab.caption), error);
    }
  }
  ShowOutcome(failed.isEmpty() ? tr("Exported %1 tabs to %2").arg(written).arg(dir)
                               : tr("Exported %1 tabs to %2; not exported: %3")
                                     .arg(written)
                                     .arg(dir, failed.join("; ")));
  return failed.isEmpty();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!ResolveUnfinishedWork(tr("closing"))) {
    event->ignore();
    return;
  }
  QSettings().setValue("geometry", saveGeometry());
  event->accept();
}

void MainWindow::ShowOutcome(const QString& text) { outcomeLabel_->setText(text); }

void MainWindow::UpdateTitle() {
  const bool unfinished = !fees_->UnfinishedTabs().empty();
  setWindowTitle(settings_.url.isEmpty()
                     ? tr("HarnolFeesCenter[*]")
                     : tr("Center %1 — HarnolFeesCenter[*]").arg(settings_.center));
  setWindowModified(unfinished);
  centerLabel_->setText(settings_.url.isEmpty()
                            ? tr("No server")
                            : tr("Center %1 at %2")
                                  .arg(settings_.center)
                                  .arg(AddressWithoutCredentials(settings_.url)));
}

}  // namespace harnolfees::qt
