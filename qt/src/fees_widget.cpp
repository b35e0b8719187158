#include "harnolfees/qt/fees_widget.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <map>

#include "grid_model.hpp"

namespace harnolfees::qt {

namespace {

QDate ToQDate(const DateTime& d) { return QDate(d.Year(), d.Month(), d.Day()); }

DateTime FromQDate(const QDate& d) { return DateTime::FromParts(d.year(), d.month(), d.day()); }

QColor ColorFor(SystemColor c, const QPalette& palette) {
  return c == SystemColor::WindowBackground ? palette.color(QPalette::Active, QPalette::Base)
                                            : palette.color(QPalette::Active, QPalette::Button);
}

void SetBackground(QWidget* w, SystemColor c) {
  QPalette p = w->palette();
  QColor color = ColorFor(c, QApplication::palette());
  if (p.color(QPalette::Base) == color) return;
  p.setColor(QPalette::Base, color);
  w->setPalette(p);
}

int DefaultPresenter(QWidget* parent, const std::string& prompt, int buttons,
                     const std::string& title) {
  QMessageBox box(parent);
  box.setText(QString::fromStdString(prompt));
  box.setWindowTitle(title.empty() ? QApplication::applicationName()
                                   : QString::fromStdString(title));
  switch (buttons & 0x70) {
    case msgbox::kCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case msgbox::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case msgbox::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case msgbox::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
  }
  if ((buttons & 0x0F) == msgbox::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? msgbox::kAnswerYes : msgbox::kAnswerNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return msgbox::kAnswerOk;
}

// The tab strip: the 14 captions in rows of checkable buttons, so that every
// caption is readable within the band above the entry panel.
class TabRows : public QWidget {
 public:
  explicit TabRows(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(1);
    group_->setExclusive(true);
  }
  void SetCaptions(const std::vector<std::string>& captions) {
    if (!buttons_.empty()) return;
    auto* layout = static_cast<QGridLayout*>(this->layout());
    const int perRow = 4;
    for (std::size_t i = 0; i < captions.size(); ++i) {
      auto* b = new QToolButton(this);
      b->setText(QString::fromStdString(captions[i]));
      b->setCheckable(true);
      b->setToolButtonStyle(Qt::ToolButtonTextOnly);
      b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
      b->setObjectName(QString("tabFees(%1)").arg(i + 1));
      group_->addButton(b, static_cast<int>(i) + 1);
      layout->addWidget(b, static_cast<int>(i) / perRow, static_cast<int>(i) % perRow);
      buttons_.push_back(b);
    }
  }
  void Select(int index) {
    if (index >= 1 && index <= static_cast<int>(buttons_.size()))
      buttons_[index - 1]->setChecked(true);
  }
  QButtonGroup* group() { return group_; }
  QAbstractButton* button(int index) { return buttons_.at(index - 1); }

 private:
  QButtonGroup* group_;
  std::vector<QAbstractButton*> buttons_;
};

}  // namespace

HarnolFeesWidget::HarnolFeesWidget(QWidget* parent, std::unique_ptr<Transfer> transfer,
                                   std::unique_ptr<DocumentFetcher> fetcher)
    : QWidget(parent) {
  presenter_ = [this](const std::string& prompt, int buttons, const std::string& title) {
    return DefaultPresenter(this, prompt, buttons, title);
  };
  control_ = std::make_unique<HarnolFeesCtlCenter>(static_cast<HostServices&>(*this),
                                                   std::move(transfer), std::move(fetcher));
  BuildWidgets();
  MirrorAll();
}

HarnolFeesWidget::~HarnolFeesWidget() {
  for (auto& [component, id] : observations_) component->Unobserve(id);
  observations_.clear();
  // Closing the window moves the focus; no notification may reach a control
  // that is being torn down.
  for (QLineEdit* edit : texts_)
    if (edit) edit->removeEventFilter(this);
  // The widgets read the control's models until they are gone.
  delete panel_;
  delete tabRows_;
  delete gridModel_;
  control_.reset();  // tear-down while the host services still exist
  if (overrideCursor_) QApplication::restoreOverrideCursor();
}

// ---- Host members ----

std::string HarnolFeesWidget::urlEncode(const std::string& theData) const {
  return control_->urlEncode(theData);
}

void HarnolFeesWidget::LoadData(const std::string& url, std::int16_t center,
                                const std::string& serverDate) {
  control_->LoadData(url, center, serverDate);
}

void HarnolFeesWidget::PopulateComboBox(const std::string& text) {
  control_->PopulateComboBox(text);
}

void HarnolFeesWidget::SetClubID(std::int16_t center) { control_->SetClubID(center); }

void HarnolFeesWidget::StringParameter(const std::string& fieldSeparator,
                                       const std::string& recordSeparator,
                                       const std::string& tableSeparator,
                                       const std::string& nullDetector) {
  control_->StringParameter(fieldSeparator, recordSeparator, tableSeparator, nullDetector);
}

bool HarnolFeesWidget::ViewMode() const { return control_->GetViewMode(); }

void HarnolFeesWidget::SetViewMode(bool viewMode) { control_->SetViewMode(viewMode); }

void HarnolFeesWidget::SetMessagePresenter(MessagePresenter presenter) {
  presenter_ = std::move(presenter);
}

// ---- Host services ----

int HarnolFeesWidget::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  // A busy cursor must not hide behind a question to the operator.
  bool hadCursor = overrideCursor_;
  if (hadCursor) QApplication::restoreOverrideCursor();
  int answer = presenter_ ? presenter_(prompt, buttons, title) : msgbox::kAnswerOk;
  if (hadCursor) QApplication::setOverrideCursor(Qt::WaitCursor);
  emit messageShown(QString::fromStdString(prompt), QString::fromStdString(title), answer);
  return answer;
}

void HarnolFeesWidget::SetMousePointer(int pointer) {
  if (pointer == pointer::kHourglass && !overrideCursor_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    overrideCursor_ = true;
  } else if (pointer == pointer::kDefault && overrideCursor_) {
    QApplication::restoreOverrideCursor();
    overrideCursor_ = false;
  }
}

void HarnolFeesWidget::DoEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  // Blocks briefly on the transfer notifications instead of spinning.
  queue_.RunPending(std::chrono::milliseconds(10));
}

void HarnolFeesWidget::ProcessPendingEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  queue_.RunPending(std::chrono::milliseconds(0));
}

void HarnolFeesWidget::PostEvent(std::function<void()> event) {
  queue_.Post(std::move(event));
  QMetaObject::invokeMethod(
      this, [this] { DrainEvents(); }, Qt::QueuedConnection);
}

void HarnolFeesWidget::DrainEvents() { queue_.RunPending(std::chrono::milliseconds(0)); }

void HarnolFeesWidget::FocusMoved(std::string_view component) {
  QWidget* target = findChild<QWidget*>(QString::fromUtf8(component.data(), component.size()));
  if (target && target->isVisible() && target->isEnabled()) target->setFocus(Qt::OtherFocusReason);
}

// ---- Building and mirroring ----

void HarnolFeesWidget::Place(QWidget* widget, const Component& model) {
  const TwipsRect& r = model.Rect();
  widget->setGeometry(Px(r.left), Px(r.top), Px(r.width), Px(r.height));
}

void HarnolFeesWidget::BuildWidgets() {
  Surface& s = control_->surface();
  setObjectName("HarnolFeesCtlCenter");
  setFixedSize(Px(8670), Px(6540));
  // The layout's twips were made for a small dialog font.
  QFont small = font();
  small.setPointSizeF(7.5);
  setFont(small);

  auto* tabs = new TabRows(this);
  tabs->setObjectName("tabFees");
  tabs->setGeometry(0, 0, Px(8655), Px(s.picMain.Rect().top));
  tabs->SetCaptions(s.tabFees.captions);
  connect(tabs->group(), &QButtonGroup::idClicked, this, [this](int id) {
    Surface& sf = control_->surface();
    sf.tabFees.SetSelectedIndex(id);
    Guard([&sf] { sf.tabFees.Click(); });
    SyncTabs();
  });
  tabRows_ = tabs;

  panel_ = new QFrame(this);
  panel_->setObjectName("picMain");
  panel_->setFrameShape(QFrame::StyledPanel);
  Place(panel_, s.picMain);

  gridModel_ = new GridModel(s.grdFees, this);
  grid_ = new QTableView(panel_);
  grid_->setObjectName("grdFees");
  grid_->setModel(gridModel_);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->setDefaultSectionSize(20);
  grid_->verticalHeader()->setVisible(false);
  grid_->horizontalHeader()->setHighlightSections(false);
  Place(grid_, s.grdFees);
  connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (syncing_ || !current.isValid()) return;
            Grid& g = control_->surface().grdFees;
            try {
              g.SetRow(current.row() + 1);
              g.SetCol(current.column());
            } catch (const std::exception&) {
            }
          });

  for (int i = 0; i < 3; ++i) {
    auto* picker = new QDateEdit(panel_);
    picker->setObjectName(QString("DTPicker1(%1)").arg(i));
    picker->setDisplayFormat("MMM dd, yyyy");
    picker->setCalendarPopup(true);
    Place(picker, s.DTPicker1[i]);
    connect(picker, &QDateEdit::dateChanged, this, [this, i](const QDate& date) {
      if (syncing_) return;
      try {
        control_->surface().DTPicker1[i].SetValue(FromQDate(date));
      } catch (const std::exception&) {
        SyncDatePicker(i);  // the picker refuses it, like a real one
      }
    });
    pickers_.push_back(picker);
  }

  labels_.resize(8);
  texts_.resize(8, nullptr);
  for (int i = 0; i < 8; ++i) {
    labels_[i] = new QLabel(panel_);
    labels_[i]->setObjectName(QString("lblField(%1)").arg(i));
    Place(labels_[i], s.lblField[i]);
    if (i == 0) continue;
    auto* edit = new QLineEdit(panel_);
    edit->setObjectName(QString("txtField(%1)").arg(i));
    Place(edit, s.txtField[i]);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
      if (!syncing_) control_->surface().txtField[i].SetText(text.toStdString());
    });
    texts_[i] = edit;
  }

  auto makeCombo = [this](ComboBox& model) {
    auto* box = new QComboBox(panel_);
    box->setObjectName(QString::fromStdString(model.Name()));
    Place(box, model);
    connect(box, qOverload<int>(&QComboBox::activated), this, [this, &model](int index) {
      if (syncing_) return;
      try {
        model.SetListIndex(index);
      } catch (const std::exception&) {
      }
    });
    return box;
  };
  cboAccessLevel_ = makeCombo(s.cboAccessLevel);
  cboBanckAccType_ = makeCombo(s.cboBanckAccType);
  cboTerm_ = makeCombo(s.cboTerm);
  cboAPRType_ = makeCombo(s.cboAPRType);
  cboType_ = makeCombo(s.cboType);
  cboBitwise_ = makeCombo(s.cboBitwise);

  auto makeCheck = [this](CheckBox& model) {
    auto* box = new QCheckBox(QString::fromStdString(model.caption), panel_);
    box->setObjectName(QString::fromStdString(model.Name()));
    Place(box, model);
    connect(box, &QCheckBox::clicked, this, [this, &model](bool checked) {
      if (!syncing_) Guard([&model, checked] { model.SetValue(checked ? 1 : 0); });
    });
    return box;
  };
  chkTravel_ = makeCheck(s.chkTravel);
  chkDT_ = makeCheck(s.chkDT);

  auto makeButton = [this](CommandButton& model) {
    auto* button = new QPushButton(panel_);
    button->setObjectName(QString::fromStdString(model.Name()));
    Place(button, model);
    connect(button, &QPushButton::clicked, this,
            [this, &model] { Guard([&model] { model.Click(); }); });
    return button;
  };
  cmdAdd_ = makeButton(s.cmdAdd);
  cmdEdit_ = makeButton(s.cmdEdit);
  cmdDelete_ = makeButton(s.cmdDelete);

  version_ = new QLabel(panel_);
  version_->setObjectName("lblVersionNo");
  Place(version_, s.lblVersionNo);

  // The keyboard follows the slots: left column, right column, then the buttons.
  std::vector<QWidget*> order{pickers_[0], cboAccessLevel_, cboBanckAccType_, texts_[1],
                              cboTerm_,    cboAPRType_,     cboType_,         texts_[2],
                              cboBitwise_, texts_[3],       texts_[4],        pickers_[1],
                              texts_[5],   pickers_[2],     texts_[6],        chkDT_,
                              chkTravel_,  cmdAdd_,         cmdEdit_,         cmdDelete_};
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

  auto* save = new QShortcut(QKeySequence(Qt::Key_Return), this);
  save->setContext(Qt::WidgetWithChildrenShortcut);
  auto* saveEnter = new QShortcut(QKeySequence(Qt::Key_Enter), this);
  saveEnter->setContext(Qt::WidgetWithChildrenShortcut);
  auto saveAction = [this] {
    CommandButton& add = control_->surface().cmdAdd;
    if (add.Visible() && add.Enabled() && add.Caption() == kCaptionSave)
      Guard([&add] { add.Click(); });
  };
  connect(save, &QShortcut::activated, this, saveAction);
  connect(saveEnter, &QShortcut::activated, this, saveAction);
  auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancel->setContext(Qt::WidgetWithChildrenShortcut);
  connect(cancel, &QShortcut::activated, this, [this] {
    CommandButton& edit = control_->surface().cmdEdit;
    if (edit.Visible() && edit.Enabled() && edit.Caption() == kCaptionCancel)
      Guard([&edit] { edit.Click(); });
  });

  // Mirror every later model change.
  auto watch = [this](Component& c, std::function<void()> sync) {
    int id = c.Observe([this, sync](const Component&, std::string_view) {
      bool was = syncing_;
      syncing_ = true;
      sync();
      syncing_ = was;
    });
    observations_.emplace_back(&c, id);
  };
  watch(s.tabFees, [this] { SyncTabs(); });
  watch(s.grdFees, [this] {
    if (gridRefreshQueued_) return;
    gridRefreshQueued_ = true;
    // Many cell writes become one refresh on the next pass of the event loop.
    QTimer::singleShot(0, this, [this] { RefreshGrid(); });
  });
  for (int i = 0; i < 3; ++i) watch(s.DTPicker1[i], [this, i] { SyncDatePicker(i); });
  for (int i = 0; i < 8; ++i) {
    watch(s.lblField[i], [this, i] {
      labels_[i]->setText(QString::fromStdString(control_->surface().lblField[i].Caption()));
    });
    if (i > 0) watch(s.txtField[i], [this, i] { SyncTextBox(i); });
  }
  std::vector<std::pair<QComboBox*, ComboBox*>> combos{{cboTerm_, &s.cboTerm},
                                                       {cboType_, &s.cboType},
                                                       {cboBitwise_, &s.cboBitwise},
                                                       {cboAPRType_, &s.cboAPRType},
                                                       {cboAccessLevel_, &s.cboAccessLevel},
                                                       {cboBanckAccType_, &s.cboBanckAccType}};
  for (auto [box, model] : combos) watch(*model, [this, box, model] { SyncComboBox(box, *model); });
  watch(s.chkTravel, [this] { SyncCheckBox(chkTravel_, control_->surface().chkTravel); });
  watch(s.chkDT, [this] { SyncCheckBox(chkDT_, control_->surface().chkDT); });
  watch(s.cmdAdd, [this] { SyncButton(cmdAdd_, control_->surface().cmdAdd); });
  watch(s.cmdEdit, [this] { SyncButton(cmdEdit_, control_->surface().cmdEdit); });
  watch(s.cmdDelete, [this] { SyncButton(cmdDelete_, control_->surface().cmdDelete); });
  watch(s.lblVersionNo, [this] {
    version_->setText(QString::fromStdString(control_->surface().lblVersionNo.Caption()));
  });
  watch(s.picMain, [this] { Place(panel_, control_->surface().picMain); });
}

void HarnolFeesWidget::MirrorAll() {
  Surface& s = control_->surface();
  syncing_ = true;
  SyncTabs();
  for (int i = 0; i < 3; ++i) SyncDatePicker(i);
  for (int i = 0; i < 8; ++i) {
    labels_[i]->setText(QString::fromStdString(s.lblField[i].Caption()));
    if (i > 0) SyncTextBox(i);
  }
  SyncComboBox(cboTerm_, s.cboTerm);
  SyncComboBox(cboType_, s.cboType);
  SyncComboBox(cboBitwise_, s.cboBitwise);
  SyncComboBox(cboAPRType_, s.cboAPRType);
  SyncComboBox(cboAccessLevel_, s.cboAccessLevel);
  SyncComboBox(cboBanckAccType_, s.cboBanckAccType);
  SyncCheckBox(chkTravel_, s.chkTravel);
  SyncCheckBox(chkDT_, s.chkDT);
  SyncButton(cmdAdd_, s.cmdAdd);
  SyncButton(cmdEdit_, s.cmdEdit);
  SyncButton(cmdDelete_, s.cmdDelete);
  version_->setText(QString::fromStdString(s.lblVersionNo.Caption()));
  syncing_ = false;
  RefreshGrid();
}

void HarnolFeesWidget::RefreshGrid() {
  gridRefreshQueued_ = false;
  const Grid& g = control_->surface().grdFees;
  bool was = syncing_;
  syncing_ = true;
  Place(grid_, g);
  gridModel_->Refresh();
  for (int c = 0; c < g.Cols(); ++c) grid_->setColumnWidth(c, Px(g.ColWidth(c)));
  if (g.Row() >= 1) grid_->setCurrentIndex(gridModel_->index(g.Row() - 1, g.Col()));
  syncing_ = was;
}

void HarnolFeesWidget::SyncTabs() {
  static_cast<TabRows*>(tabRows_)->Select(control_->surface().tabFees.SelectedIndex());
}

void HarnolFeesWidget::SyncTextBox(int index) {
  const TextBox& m = control_->surface().txtField[index];
  QLineEdit* e = texts_[index];
  QString text = QString::fromStdString(m.Text());
  if (e->text() != text) e->setText(text);
  e->setVisible(m.Visible());
  e->setEnabled(m.Enabled());
  e->setReadOnly(!m.Enabled());
  SetBackground(e, m.BackColor());
  if (m.SelLength() > 0 && e->hasFocus()) e->setSelection(m.SelStart(), m.SelLength());
}

void HarnolFeesWidget::SyncDatePicker(int index) {
  const DatePicker& m = control_->surface().DTPicker1[index];
  QDateEdit* e = pickers_[index];
  bool was = syncing_;
  syncing_ = true;
  if (m.MinDate() <= m.MaxDate()) e->setDateRange(ToQDate(m.MinDate()), ToQDate(m.MaxDate()));
  e->setDate(ToQDate(m.Value()));
  e->setVisible(m.Visible());
  e->setEnabled(m.Enabled());
  syncing_ = was;
}

void HarnolFeesWidget::SyncComboBox(QComboBox* box, const ComboBox& m) {
  bool same = box->count() == m.ListCount();
  for (int i = 0; same && i < m.ListCount(); ++i)
    same = box->itemText(i).toStdString() == m.List(i);
  if (!same) {
    box->clear();
    for (int i = 0; i < m.ListCount(); ++i) box->addItem(QString::fromStdString(m.List(i)));
  }
  box->setCurrentIndex(m.ListIndex());
  box->setVisible(m.Visible());
  box->setEnabled(m.Enabled());
  SetBackground(box, m.BackColor());
}

void HarnolFeesWidget::SyncCheckBox(QCheckBox* box, const CheckBox& m) {
  box->setChecked(m.Value() != 0);
  box->setVisible(m.Visible());
  box->setEnabled(m.Enabled());
}

void HarnolFeesWidget::SyncButton(QPushButton* button, const CommandButton& m) {
  button->setText(QString::fromStdString(m.Caption()));
  button->setVisible(m.Visible());
  button->setEnabled(m.Enabled());
}

bool HarnolFeesWidget::eventFilter(QObject* watched, QEvent* event) {
  if (control_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
    for (int i = 1; i < 8; ++i) {
      if (watched != texts_[i]) continue;
      if (event->type() == QEvent::FocusIn) {
        Guard([this, i] { control_->txtField_GotFocus(i); });
        // Typing replaces the whole content, as the got-focus notification set.
        const TextBox& m = control_->surface().txtField[i];
        QTimer::singleShot(0, texts_[i],
                           [edit = texts_[i], start = m.SelStart(), length = m.SelLength()] {
                             if (edit->hasFocus()) edit->setSelection(start, length);
                           });
      } else {
        Guard([this, i] { control_->txtField_LostFocus(i); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void HarnolFeesWidget::Guard(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    MsgBox(e.what(), msgbox::kOk, "");
  }
}

}  // namespace harnolfees::qt
