#include "harnolfees/qt/fees_widget.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

#include "grid_model.hpp"

namespace harnolfees::qt {

namespace {

// Twips to logical pixels: 15 twips a pixel at 96 dpi.
int Px(int twips) { return (twips + 7) / 15; }

QDate ToQDate(const DateTime& d) { return QDate(d.Year(), d.Month(), d.Day()); }

DateTime FromQDate(const QDate& d) { return DateTime::FromParts(d.year(), d.month(), d.day()); }

void SetBackground(QWidget* w, SystemColor c) {
  const QPalette app = QApplication::palette();
  const QColor color = c == SystemColor::WindowBackground
                           ? app.color(QPalette::Active, QPalette::Base)
                           : app.color(QPalette::Active, QPalette::Button);
  QPalette p = w->palette();
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
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? msgbox::kAnswerYes : msgbox::kAnswerNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return msgbox::kAnswerOk;
}

// A text box whose selection is the control's: the got-focus notification
// selects the whole text, so that typing replaces it. The selection is made
// once, when the focus arrives (after the click that brought it, for a
// mouse), and never again while the operator types.
class TextBoxEdit : public QLineEdit {
 public:
  TextBoxEdit(QWidget* parent, std::function<void()> gotFocus, std::function<void()> lostFocus,
              std::function<std::pair<int, int>()> selection)
      : QLineEdit(parent),
        gotFocus_(std::move(gotFocus)),
        lostFocus_(std::move(lostFocus)),
        selection_(std::move(selection)) {}

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    byMouse_ = event->reason() == Qt::MouseFocusReason;
    if (gotFocus_) gotFocus_();
    ApplySelection();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    byMouse_ = false;
    // A pop-up of this window takes the focus only for a while.
    if (event->reason() != Qt::PopupFocusReason && lostFocus_) lostFocus_();
  }
  void mousePressEvent(QMouseEvent* event) override {
    QLineEdit::mousePressEvent(event);
    // The press that brought the focus placed the cursor; the selection the
    // focus made stands.
    if (byMouse_) ApplySelection();
    byMouse_ = false;
  }
  void keyPressEvent(QKeyEvent* event) override {
    byMouse_ = false;
    QLineEdit::keyPressEvent(event);
  }

 private:
  void ApplySelection() {
    auto [start, length] = selection_();
    if (length > 0) setSelection(start, length);
  }

  std::function<void()> gotFocus_, lostFocus_;
  std::function<std::pair<int, int>()> selection_;
  bool byMouse_ = false;
};

}  // namespace

// The tab strip: the 14 captions as a band of checkable buttons, every fee
// kind one click away. A tab with unfinished work shows in bold with a mark.
class TabRows : public QWidget {
 public:
  explicit TabRows(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    group_->setExclusive(true);
  }
  void SetCaptions(const std::vector<std::string>& captions) {
    if (!buttons_.empty()) return;
    auto* layout = static_cast<QGridLayout*>(this->layout());
    const int perRow = (static_cast<int>(captions.size()) + 1) / 2;
    for (std::size_t i = 0; i < captions.size(); ++i) {
      auto* b = new QToolButton(this);
      // A caption is shown as it is: an ampersand is no mnemonic here.
      b->setText(QString::fromStdString(captions[i]).replace("&", "&&"));
      b->setCheckable(true);
      b->setToolButtonStyle(Qt::ToolButtonTextOnly);
      b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
      b->setFocusPolicy(Qt::NoFocus);
      b->setObjectName(QString("tabFees(%1)").arg(i + 1));
      group_->addButton(b, static_cast<int>(i) + 1);
      layout->addWidget(b, static_cast<int>(i) / perRow, static_cast<int>(i) % perRow);
      buttons_.push_back(b);
    }
  }
  void Select(int index) {
    if (index >= 1 && index <= static_cast<int>(buttons_.size()))
      buttons_[static_cast<std::size_t>(index - 1)]->setChecked(true);
  }
  void MarkUnfinished(const std::vector<int>& tabs) {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
      const bool marked =
          std::find(tabs.begin(), tabs.end(), static_cast<int>(i) + 1) != tabs.end();
      QAbstractButton* b = buttons_[i];
      if (b->property("unfinished").toBool() == marked) continue;
      b->setProperty("unfinished", marked);
      QFont f = b->font();
      f.setBold(marked);
      f.setItalic(marked);
      b->setFont(f);
      b->setToolTip(marked ? tr("This tab holds an add or edit that is not saved yet") : QString());
    }
  }
  QButtonGroup* group() { return group_; }
  int count() const { return static_cast<int>(buttons_.size()); }

 private:
  QButtonGroup* group_;
  std::vector<QAbstractButton*> buttons_;
};

HarnolFeesWidget::HarnolFeesWidget(QWidget* parent, std::unique_ptr<Transfer> transfer,
                                   std::unique_ptr<DocumentFetcher> fetcher)
    : QWidget(parent) {
  presenter_ = [this](const std::string& prompt, int buttons, const std::string& title) {
    return DefaultPresenter(this, prompt, buttons, title);
  };
  control_ = std::make_unique<HarnolFeesCtlCenter>(static_cast<HostServices&>(*this),
                                                   std::move(transfer), std::move(fetcher));
  BuildWidgets();
  LayOutForm();
  WatchModels();
  MirrorAll();
  setFocusProxy(grid_);
}

HarnolFeesWidget::~HarnolFeesWidget() {
  for (auto& [component, id] : observations_) component->Unobserve(id);
  observations_.clear();
  // Closing the window moves the focus; no notification may reach a control
  // that is being torn down.
  for (QLineEdit* edit : texts_)
    if (edit) edit->removeEventFilter(this);
  delete form_;
  form_ = nullptr;
  delete grid_;
  grid_ = nullptr;
  delete tabRows_;
  delete gridModel_;
  control_.reset();  // tear-down while the host services still exist
  if (overrideCursor_) QApplication::restoreOverrideCursor();
}

// ---- Host members ----

std::string HarnolFeesWidget::urlEncode(const std::string& theData) const {
  return control_->urlEncode(theData);
}

bool HarnolFeesWidget::LoadData(const std::string& url, std::int16_t center,
                                const std::string& serverDate) {
  control_->LoadData(url, center, serverDate);
  return control_->LastLoadSucceeded();
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

bool HarnolFeesWidget::SaveUnfinishedWork() { return control_->SaveUnfinishedWork(); }

void HarnolFeesWidget::DiscardUnfinishedWork() { control_->DiscardUnfinishedWork(); }

void HarnolFeesWidget::SetMessagePresenter(MessagePresenter presenter) {
  presenter_ = std::move(presenter);
}

// ---- Host services ----

int HarnolFeesWidget::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  // A busy cursor must not hide behind a question to the operator.
  const bool hadCursor = overrideCursor_;
  if (hadCursor) QApplication::restoreOverrideCursor();
  const int answer = presenter_ ? presenter_(prompt, buttons, title) : msgbox::kAnswerOk;
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

void HarnolFeesWidget::BusyChanged(bool busy) {
  // The control sets operator actions aside while it waits; the window
  // takes none, so that it never shows a state the control does not have.
  if (busy) {
    QWidget* focus = QApplication::focusWidget();
    focusBeforeBusy_ = focus && isAncestorOf(focus) ? focus : nullptr;
  }
  tabRows_->setEnabled(!busy);
  grid_->setEnabled(!busy);
  form_->setEnabled(!busy);
  if (!busy && focusBeforeBusy_) {
    if (focusBeforeBusy_->isVisible() && focusBeforeBusy_->isEnabled())
      focusBeforeBusy_->setFocus(Qt::OtherFocusReason);
    focusBeforeBusy_ = nullptr;
  }
  emit busyChanged(busy);
}

void HarnolFeesWidget::ExchangeSettled(const ExchangeOutcome& o) {
  const QString kind = o.tab >= 1 && o.tab <= kTabCount
                           ? QString::fromStdString(FeeTab(o.tab).caption).simplified()
                           : QString();
  const QString date = QString::fromStdString(o.effectiveDate);
  const QString detail = QString::fromStdString(o.detail);
  switch (o.kind) {
    case ExchangeOutcome::Kind::Saved:
      emit outcome(tr("Saved %1 effective %2").arg(kind, date));
      break;
    case ExchangeOutcome::Kind::Deleted:
      emit outcome(tr("Deleted %1 effective %2").arg(kind, date));
      break;
    case ExchangeOutcome::Kind::Refused:
      emit outcome(tr("The server refused the change: %1").arg(detail));
      break;
    case ExchangeOutcome::Kind::Failed:
      emit outcome(detail);
      break;
  }
}

void HarnolFeesWidget::UnfinishedWorkChanged() {
  tabRows_->MarkUnfinished(control_->UnfinishedTabs());
  emit unfinishedWorkChanged();
}

// ---- Building and mirroring ----

void HarnolFeesWidget::BuildWidgets() {
  Surface& s = control_->surface();
  setObjectName("HarnolFeesCtlCenter");

  tabRows_ = new TabRows(this);
  tabRows_->setObjectName("tabFees");
  tabRows_->SetCaptions(s.tabFees.captions);
  auto showTab = [this](int id) {
    Surface& sf = control_->surface();
    if (!control_->Busy() && id != sf.tabFees.SelectedIndex()) {
      sf.tabFees.SetSelectedIndex(id);
      Guard([&sf] { sf.tabFees.Click(); });
    }
    SyncTabs();
  };
  connect(tabRows_->group(), &QButtonGroup::idClicked, this, showTab);
  // Ctrl+Tab and Ctrl+PgDn go to the next fee kind, with Shift or PgUp back.
  auto step = [this, showTab](int delta) {
    const int n = tabRows_->count();
    const int at = control_->surface().tabFees.SelectedIndex();
    showTab((at - 1 + delta + n) % n + 1);
  };
  for (auto [keys, delta] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
                             std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
                             std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
                             std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}}) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [step, d = delta] { step(d); });
  }

  gridModel_ = new GridModel(s.grdFees, this);
  grid_ = new QTableView(this);
  grid_->setObjectName("grdFees");
  grid_->setModel(gridModel_);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setTabKeyNavigation(false);
  grid_->setWordWrap(false);
  grid_->setAlternatingRowColors(true);
  grid_->verticalHeader()->setVisible(false);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
  grid_->horizontalHeader()->setHighlightSections(false);
  grid_->horizontalHeader()->setStretchLastSection(false);
  grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid_->installEventFilter(this);
  connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (syncing_ || !current.isValid()) return;
            Grid& g = control_->surface().grdFees;
            try {
              g.SetRow(current.row() + 1);
              g.SetCol(current.column());
            } catch (const std::exception&) {
              // A row the grid no longer has: the next refresh puts it right.
            }
          });
  connect(grid_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) ClickIfShown(control_->surface().cmdEdit, kCaptionEdit);
  });

  form_ = new QFrame(this);
  form_->setObjectName("picMain");
  form_->setFrameShape(QFrame::StyledPanel);

  for (int i = 0; i < 3; ++i) {
    auto* picker = new QDateEdit(form_);
    picker->setObjectName(QString("DTPicker1(%1)").arg(i));
    picker->setDisplayFormat("MMM dd, yyyy");
    picker->setCalendarPopup(true);
    picker->installEventFilter(this);
    // The calendar takes the keys while it is open: Enter chooses the day
    // shown, Escape closes it.
    picker->calendarWidget()->window()->installEventFilter(this);
    connect(picker, &QDateEdit::dateChanged, this, [this, i](const QDate& date) {
      if (syncing_) return;
      try {
        control_->surface().DTPicker1[static_cast<std::size_t>(i)].SetValue(FromQDate(date));
      } catch (const std::exception&) {
        SyncDatePicker(i);  // the picker refuses it, like a real one
      }
    });
    pickers_.push_back(picker);
  }

  labels_.resize(8);
  texts_.resize(8, nullptr);
  for (int i = 0; i < 8; ++i) {
    labels_[static_cast<std::size_t>(i)] = new QLabel(form_);
    labels_[static_cast<std::size_t>(i)]->setObjectName(QString("lblField(%1)").arg(i));
    if (i == 0) continue;
    TextBox& model = s.txtField[static_cast<std::size_t>(i)];
    auto* edit = new TextBoxEdit(
        form_, [this, i] { Guard([this, i] { control_->txtField_GotFocus(i); }); },
        [this, i] { Guard([this, i] { control_->txtField_LostFocus(i); }); },
        [&model] { return std::make_pair(model.SelStart(), model.SelLength()); });
    edit->setObjectName(QString("txtField(%1)").arg(i));
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this, &model](const QString& text) {
      if (syncing_) return;
      bool was = syncing_;
      syncing_ = true;  // the widget already shows it
      model.SetText(text.toStdString());
      syncing_ = was;
    });
    texts_[static_cast<std::size_t>(i)] = edit;
  }

  auto makeCombo = [this](ComboBox& model) {
    auto* box = new QComboBox(form_);
    box->setObjectName(QString::fromStdString(model.Name()));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    box->installEventFilter(this);
    connect(box, &QComboBox::activated, this, [this, &model](int index) {
      if (syncing_) return;
      Guard([&model, index] { model.SetListIndex(index); });
    });
    return box;
  };
  cboTerm_ = makeCombo(s.cboTerm);
  cboType_ = makeCombo(s.cboType);
  cboBitwise_ = makeCombo(s.cboBitwise);
  cboAPRType_ = makeCombo(s.cboAPRType);
  cboAccessLevel_ = makeCombo(s.cboAccessLevel);
  cboBanckAccType_ = makeCombo(s.cboBanckAccType);

  auto makeCheck = [this](CheckBox& model) {
    auto* box = new QCheckBox(QString::fromStdString(model.caption), form_);
    box->setObjectName(QString::fromStdString(model.Name()));
    box->installEventFilter(this);
    connect(box, &QCheckBox::clicked, this, [this, &model](bool checked) {
      if (syncing_) return;
      Guard([&model, checked] { model.SetValue(checked ? 1 : 0); });
    });
    return box;
  };
  chkTravel_ = makeCheck(s.chkTravel);
  chkDT_ = makeCheck(s.chkDT);

  auto makeButton = [this](CommandButton& model) {
    auto* button = new QPushButton(form_);
    button->setObjectName(QString::fromStdString(model.Name()));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this,
            [this, &model] { Guard([&model] { model.Click(); }); });
    return button;
  };
  cmdAdd_ = makeButton(s.cmdAdd);
  cmdEdit_ = makeButton(s.cmdEdit);
  cmdDelete_ = makeButton(s.cmdDelete);

  version_ = new QLabel(form_);
  version_->setObjectName("lblVersionNo");
  version_->setEnabled(false);
}

void HarnolFeesWidget::LayOutForm() {
  // The form keeps the control's arrangement of slots: where each input
  // stands on the control's panel says in which cell it goes (left or right
  // half, beside the label at its height). Sizes follow the font.
  Surface& s = control_->surface();
  const int split = s.picMain.Rect().width / 2;
  auto half = [split](const TwipsRect& r) { return r.left >= split ? 1 : 0; };
  std::map<std::pair<int, int>, int> rowOfLabel;  // (half, top) -> row
  std::vector<std::vector<int>> tops(2);
  for (const Label& label : s.lblField) tops[half(label.Rect())].push_back(label.Rect().top);
  for (auto& column : tops) std::sort(column.begin(), column.end());
  auto rowNear = [&tops](int h, int top) {
    const auto& column = tops[static_cast<std::size_t>(h)];
    int best = 0;
    for (int r = 0; r < static_cast<int>(column.size()); ++r) {
      if (std::abs(column[r] - top) < std::abs(column[best] - top)) best = r;
    }
    return best;
  };

  auto* grid = new QGridLayout();
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  std::map<std::pair<int, int>, QHBoxLayout*> cells;
  auto cell = [&](int h, int row) {
    auto& c = cells[{h, row}];
    if (!c) {
      c = new QHBoxLayout();
      c->setSpacing(6);
      grid->addLayout(c, row, h * 3 + 1);
    }
    return c;
  };
  for (int i = 0; i < 8; ++i) {
    const TwipsRect& r = s.lblField[static_cast<std::size_t>(i)].Rect();
    grid->addWidget(labels_[static_cast<std::size_t>(i)], rowNear(half(r), r.top), half(r) * 3);
  }
  std::vector<std::pair<QWidget*, const Component*>> inputs;
  for (int i = 0; i < 3; ++i)
    inputs.emplace_back(pickers_[static_cast<std::size_t>(i)],
                        &s.DTPicker1[static_cast<std::size_t>(i)]);
  for (int i = 1; i < 8; ++i)
    inputs.emplace_back(texts_[static_cast<std::size_t>(i)],
                        &s.txtField[static_cast<std::size_t>(i)]);
  inputs.insert(inputs.end(), {{cboTerm_, &s.cboTerm},
                               {cboType_, &s.cboType},
                               {cboBitwise_, &s.cboBitwise},
                               {cboAPRType_, &s.cboAPRType},
                               {cboAccessLevel_, &s.cboAccessLevel},
                               {cboBanckAccType_, &s.cboBanckAccType},
                               {chkDT_, &s.chkDT},
                               {chkTravel_, &s.chkTravel}});
  std::stable_sort(inputs.begin(), inputs.end(), [](const auto& a, const auto& b) {
    return a.second->Rect().left < b.second->Rect().left;
  });
  const int charWidth = fontMetrics().averageCharWidth();
  for (auto& [widget, model] : inputs) {
    const TwipsRect& r = model->Rect();
    // The control's widths are for a small dialog font; 8 twips a character.
    if (!qobject_cast<QCheckBox*>(widget))
      widget->setMinimumWidth(
          std::max(widget->minimumSizeHint().width(), r.width / 100 * charWidth));
    cell(half(r), rowNear(half(r), r.top))->addWidget(widget);
  }
  for (auto& [key, layout] : cells) layout->addStretch(1);
  grid->setColumnMinimumWidth(2, 16);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(4, 1);

  auto* buttons = new QHBoxLayout();
  buttons->addWidget(version_);
  buttons->addStretch(1);
  buttons->addWidget(cmdAdd_);
  buttons->addWidget(cmdEdit_);
  buttons->addWidget(cmdDelete_);

  auto* formLayout = new QVBoxLayout(form_);
  formLayout->setContentsMargins(8, 6, 8, 6);
  formLayout->addLayout(grid);
  formLayout->addLayout(buttons);
  form_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);
  outer->setSpacing(4);
  outer->addWidget(tabRows_);
  outer->addWidget(grid_, 1);
  outer->addWidget(form_);

  // The keyboard follows the slots: the grid, the left column, the right
  // column, then the buttons.
  std::vector<QWidget*> order{grid_};
  for (auto& entry : inputs) order.push_back(entry.first);
  std::stable_sort(order.begin() + 1, order.end(), [&](QWidget* a, QWidget* b) {
    auto key = [&](QWidget* w) {
      for (auto& [widget, model] : inputs)
        if (widget == w)
          return std::make_tuple(half(model->Rect()),
                                 rowNear(half(model->Rect()), model->Rect().top),
                                 model->Rect().left);
      return std::make_tuple(2, 0, 0);
    };
    return key(a) < key(b);
  });
  order.insert(order.end(), {cmdAdd_, cmdEdit_, cmdDelete_});
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void HarnolFeesWidget::WatchModels() {
  Surface& s = control_->surface();
  // A combo box or date picker drawn where a text box stands covers it: the
  // box then carries the control's bookkeeping only and is not shown.
  auto overlaps = [](const TwipsRect& a, const TwipsRect& b) {
    return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
           b.top < a.top + a.height;
  };
  std::vector<const Component*> covering{&s.cboTerm,      &s.cboType,        &s.cboBitwise,
                                         &s.cboAPRType,   &s.cboAccessLevel, &s.cboBanckAccType,
                                         &s.DTPicker1[1], &s.DTPicker1[2]};
  overlays_.assign(8, {});
  for (int i = 1; i < 8; ++i) {
    for (const Component* c : covering) {
      if (overlaps(c->Rect(), s.txtField[static_cast<std::size_t>(i)].Rect()))
        overlays_[static_cast<std::size_t>(i)].push_back(c);
    }
  }
  auto resyncCovered = [this] {
    for (int i = 1; i < 8; ++i) {
      if (!overlays_[static_cast<std::size_t>(i)].empty()) SyncTextBox(i, "Visible");
    }
  };
  auto watch = [this](Component& c, std::function<void(std::string_view)> sync) {
    int id = c.Observe([this, sync](const Component&, std::string_view property) {
      bool was = syncing_;
      syncing_ = true;
      sync(property);
      syncing_ = was;
    });
    observations_.emplace_back(&c, id);
  };
  watch(s.tabFees, [this](std::string_view) { SyncTabs(); });
  watch(s.grdFees, [this](std::string_view) {
    if (gridRefreshQueued_) return;
    gridRefreshQueued_ = true;
    // Many cell writes become one refresh on the next pass of the event loop.
    QTimer::singleShot(0, this, [this] { RefreshGrid(); });
  });
  for (int i = 0; i < 3; ++i)
    watch(s.DTPicker1[static_cast<std::size_t>(i)], [this, i, resyncCovered](std::string_view) {
      SyncDatePicker(i);
      resyncCovered();
    });
  for (int i = 0; i < 8; ++i) {
    watch(s.lblField[static_cast<std::size_t>(i)], [this, i](std::string_view) {
      labels_[static_cast<std::size_t>(i)]->setText(QString::fromStdString(
          control_->surface().lblField[static_cast<std::size_t>(i)].Caption()));
    });
    if (i > 0) {
      watch(s.txtField[static_cast<std::size_t>(i)],
            [this, i](std::string_view property) { SyncTextBox(i, property); });
    }
  }
  std::vector<std::pair<QComboBox*, ComboBox*>> combos{{cboTerm_, &s.cboTerm},
                                                       {cboType_, &s.cboType},
                                                       {cboBitwise_, &s.cboBitwise},
                                                       {cboAPRType_, &s.cboAPRType},
                                                       {cboAccessLevel_, &s.cboAccessLevel},
                                                       {cboBanckAccType_, &s.cboBanckAccType}};
  for (auto [box, model] : combos)
    watch(*model, [this, box = box, model = model, resyncCovered](std::string_view) {
      SyncComboBox(box, *model);
      resyncCovered();
    });
  watch(s.chkTravel,
        [this](std::string_view) { SyncCheckBox(chkTravel_, control_->surface().chkTravel); });
  watch(s.chkDT, [this](std::string_view) { SyncCheckBox(chkDT_, control_->surface().chkDT); });
  watch(s.cmdAdd, [this](std::string_view) { SyncButton(cmdAdd_, control_->surface().cmdAdd); });
  watch(s.cmdEdit, [this](std::string_view) { SyncButton(cmdEdit_, control_->surface().cmdEdit); });
  watch(s.cmdDelete,
        [this](std::string_view) { SyncButton(cmdDelete_, control_->surface().cmdDelete); });
  watch(s.lblVersionNo, [this](std::string_view) {
    version_->setText(QString::fromStdString(control_->surface().lblVersionNo.Caption()));
  });
}

void HarnolFeesWidget::MirrorAll() {
  Surface& s = control_->surface();
  syncing_ = true;
  SyncTabs();
  for (int i = 0; i < 3; ++i) SyncDatePicker(i);
  for (int i = 0; i < 8; ++i) {
    labels_[static_cast<std::size_t>(i)]->setText(
        QString::fromStdString(s.lblField[static_cast<std::size_t>(i)].Caption()));
    if (i > 0) SyncTextBox(i, "Text");
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
  if (!grid_) return;
  const Grid& g = control_->surface().grdFees;
  bool was = syncing_;
  syncing_ = true;
  gridModel_->Refresh();
  {
    // Headings and cells are never cut: a column is as wide as the
    // control's width, its heading and the cells of the first rows need.
    QHeaderView* header = grid_->horizontalHeader();
    const QFontMetrics cellMetrics = grid_->fontMetrics();
    const int rows = std::min(gridModel_->rowCount(), 200);
    for (int c = 0; c < g.Cols(); ++c) {
      const QString heading = gridModel_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
      int width =
          std::max(Px(g.ColWidth(c)), header->fontMetrics().horizontalAdvance(heading) + 24);
      for (int r = 0; r < rows; ++r)
        width = std::max(
            width, cellMetrics.horizontalAdvance(
                       gridModel_->data(gridModel_->index(r, c), Qt::DisplayRole).toString()) +
                       12);
      grid_->setColumnWidth(c, g.ColWidth(c) == 0 ? 0 : width);
      grid_->setColumnHidden(c, g.ColWidth(c) == 0);
    }
  }
  if (g.Row() >= 1 && g.Row() - 1 < gridModel_->rowCount()) {
    const QModelIndex index = gridModel_->index(g.Row() - 1, std::max(0, g.Col()));
    if (grid_->currentIndex() != index)
      grid_->selectionModel()->setCurrentIndex(
          index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid_->scrollTo(index);
  }
  syncing_ = was;
}

void HarnolFeesWidget::SyncTabs() { tabRows_->Select(control_->surface().tabFees.SelectedIndex()); }

void HarnolFeesWidget::SyncTextBox(int index, std::string_view property) {
  const TextBox& m = control_->surface().txtField[static_cast<std::size_t>(index)];
  QLineEdit* e = texts_[static_cast<std::size_t>(index)];
  if (property == "Text") {
    // The widget's own typing reaches here too, with the same text: the
    // cursor and selection the operator has stay.
    const QString text = QString::fromStdString(m.Text());
    if (e->text() != text) e->setText(text);
  } else if (property == "SelStart" || property == "SelLength") {
    // Only the control's own selection (the got-focus handler) is copied.
    if (e->hasFocus() && m.SelLength() > 0) e->setSelection(m.SelStart(), m.SelLength());
  }
  e->setVisible(m.Visible() && !Covered(index));
  e->setEnabled(m.Enabled());
  e->setReadOnly(!m.Enabled());
  SetBackground(e, m.BackColor());
}

bool HarnolFeesWidget::Covered(int index) const {
  for (const Component* overlay : overlays_[static_cast<std::size_t>(index)]) {
    if (const auto* combo = dynamic_cast<const ComboBox*>(overlay); combo && combo->Visible())
      return true;
    if (const auto* picker = dynamic_cast<const DatePicker*>(overlay); picker && picker->Visible())
      return true;
  }
  return false;
}

void HarnolFeesWidget::SyncDatePicker(int index) {
  const DatePicker& m = control_->surface().DTPicker1[static_cast<std::size_t>(index)];
  QDateEdit* e = pickers_[static_cast<std::size_t>(index)];
  bool was = syncing_;
  syncing_ = true;
  if (m.MinDate() <= m.MaxDate()) e->setDateRange(ToQDate(m.MinDate()), ToQDate(m.MaxDate()));
  if (e->date() != ToQDate(m.Value())) e->setDate(ToQDate(m.Value()));
  // A calendar left open over a picker that closes would stay drawn.
  if ((!m.Visible() || !m.Enabled()) && e->calendarWidget() &&
      e->calendarWidget()->window() != window() && e->calendarWidget()->window()->isVisible())
    e->calendarWidget()->window()->hide();
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
  if (box->currentIndex() != m.ListIndex()) box->setCurrentIndex(m.ListIndex());
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

// ---- Keyboard ----

void HarnolFeesWidget::ClickIfShown(CommandButton& button, const char* caption) {
  if (button.Visible() && button.Enabled() && button.Caption() == caption)
    Guard([&button] { button.Click(); });
}

bool HarnolFeesWidget::FormKey(int key) {
  Surface& s = control_->surface();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (s.cmdAdd.Caption() != kCaptionSave) return false;
    ClickIfShown(s.cmdAdd, kCaptionSave);
    return true;
  }
  if (key == Qt::Key_Escape) {
    if (s.cmdEdit.Caption() != kCaptionCancel) return false;
    if (control_->EntryModified()) {
      const int answer = presenter_
                             ? presenter_("Discard what you typed on this tab?",
                                          msgbox::kYesNo + msgbox::kQuestion, "HarnolFeesCenter")
                             : msgbox::kAnswerNo;
      if (answer != msgbox::kAnswerYes) return true;
    }
    ClickIfShown(s.cmdEdit, kCaptionCancel);
    return true;
  }
  return false;
}

bool HarnolFeesWidget::GridKey(int key, Qt::KeyboardModifiers modifiers) {
  Surface& s = control_->surface();
  if (key == Qt::Key_C && modifiers == Qt::ControlModifier) {
    CopySelectedRows();
    return true;
  }
  if (modifiers != Qt::NoModifier && modifiers != Qt::KeypadModifier) return false;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (s.cmdAdd.Caption() == kCaptionSave) return FormKey(key);
    ClickIfShown(s.cmdEdit, kCaptionEdit);
    return true;
  }
  if (key == Qt::Key_Delete) {
    ClickIfShown(s.cmdDelete, kCaptionDelete);
    return true;
  }
  if (key == Qt::Key_Escape) return FormKey(key);
  return false;
}

QString HarnolFeesWidget::SelectedRowsAsText() const {
  const Grid& g = control_->surface().grdFees;
  QStringList lines;
  auto line = [&g](int row) {
    QStringList cells;
    for (int c = 0; c < g.Cols(); ++c) {
      if (g.ColWidth(c) == 0) continue;
      QString text = QString::fromStdString(g.TextMatrix(row, c)).trimmed();
      text.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
      cells << text;
    }
    return cells.join('\t');
  };
  lines << line(0);
  std::set<int> rows;
  for (const QModelIndex& index : grid_->selectionModel()->selectedRows()) rows.insert(index.row());
  if (rows.empty() && grid_->currentIndex().isValid()) rows.insert(grid_->currentIndex().row());
  for (int r : rows)
    if (r + 1 < g.Rows()) lines << line(r + 1);
  return lines.join('\n') + '\n';
}

void HarnolFeesWidget::CopySelectedRows() const {
  QApplication::clipboard()->setText(SelectedRowsAsText());
}

bool HarnolFeesWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    for (QDateEdit* picker : pickers_) {
      if (watched == picker->calendarWidget()->window())
        picker->calendarWidget()->setFocus(Qt::PopupFocusReason);
    }
  }
  if (event->type() != QEvent::KeyPress || !control_) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == grid_)
    return GridKey(key->key(), key->modifiers()) || QWidget::eventFilter(watched, event);
  // Keys of the form's own inputs; a pop-up (a list or a calendar) is a
  // window of its own and keeps Enter and Escape for itself.
  if (QApplication::activePopupWidget()) return QWidget::eventFilter(watched, event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  if (mods == Qt::NoModifier && FormKey(key->key())) return true;
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
