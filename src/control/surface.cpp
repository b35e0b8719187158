// The component models of the control's surface. Setters notify their
// observers only when a value really changes: a toolkit front end mirrors
// every notification, and a grid rebuild writes thousands of cells.
#include "harnolfees/surface.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

namespace harnolfees {

namespace {

// The description the host runtime gives a refused property value; the
// date pickers use it unchanged, as the date set-up shows it to the operator
// with the error's number.
constexpr const char* kInvalidPropertyValue = "Invalid property value";

[[noreturn]] void ThrowInvalidValue(const std::string& detail) {
  throw ControlError(errc::kInvalidPropertyValue,
                     std::string(kInvalidPropertyValue) + " (" + detail + ")");
}

// Characters, not bytes: texts are UTF-8 and selections count characters.
int CharacterCount(std::string_view text) {
  int n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

template <typename T>
bool Assign(T& field, T value) {
  if (field == value) return false;
  field = std::move(value);
  return true;
}

}  // namespace

std::string SystemColorText(SystemColor c) {
  return c == SystemColor::WindowBackground ? "&H80000005" : "&H8000000F";
}

// ---- Component ----

int Component::Observe(Observer o) {
  int id = nextObserverId_++;
  observers_.emplace_back(id, std::move(o));
  return id;
}

void Component::Unobserve(int id) {
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void Component::Notify(std::string_view property) const {
  // By index: an observer may add or remove observers while it runs.
  for (std::size_t i = 0; i < observers_.size(); ++i) {
    Observer o = observers_[i].second;
    o(*this, property);
  }
}

void Focusable::SetFocus() {
  if (sink_ != nullptr && *sink_) (*sink_)(*this);
}

// ---- TabStrip ----

void TabStrip::SetSelectedIndex(int index) {
  if (index < 1 || index > static_cast<int>(captions.size())) {
    ThrowInvalidValue(Name() + " has no tab " + std::to_string(index));
  }
  if (Assign(selectedIndex_, index)) Notify("SelectedIndex");
}

void TabStrip::SetTag(std::string tag) {
  if (Assign(tag_, std::move(tag))) Notify("Tag");
}

// ---- Grid ----

namespace {
constexpr int kDefaultColWidth = 960;
}

Grid::Grid(std::string name)
    : Focusable(std::move(name)),
      cells_(static_cast<std::size_t>(rows_ * cols_)),
      colWidths_(static_cast<std::size_t>(cols_), kDefaultColWidth) {
  SetRect({60, 105, 8295, 1695});
}

void Grid::SetRows(int rows) {
  if (rows < 1) {
    ThrowInvalidValue(Name() + ".Rows must keep the heading row, not " + std::to_string(rows));
  }
  if (rows == rows_) return;
  cells_.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols_));
  rows_ = rows;
  row_ = std::min(row_, rows_ - 1);
  rowSel_ = std::min(rowSel_, rows_ - 1);
  Notify("Rows");
}

void Grid::ReserveRows(int rows) {
  if (rows > 0) cells_.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols_));
}

void Grid::SetCols(int cols) {
  if (cols < 1) {
    ThrowInvalidValue(Name() + ".Cols must be at least 1, not " + std::to_string(cols));
  }
  if (cols == cols_) return;
  std::vector<std::string> cells(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols));
  const int kept = std::min(cols, cols_);
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < kept; ++c) {
      cells[static_cast<std::size_t>(r * cols + c)] =
          std::move(cells_[static_cast<std::size_t>(r * cols_ + c)]);
    }
  }
  cells_ = std::move(cells);
  cols_ = cols;
  colWidths_.resize(static_cast<std::size_t>(cols), kDefaultColWidth);
  col_ = std::min(col_, cols_ - 1);
  Notify("Cols");
}

void Grid::SetRow(int row) {
  if (row < 0 || row >= rows_) {
    ThrowInvalidValue(Name() + ".Row " + std::to_string(row) + " is outside 0 to " +
                      std::to_string(rows_ - 1));
  }
  // Moving the current row collapses the selection onto it.
  const bool changed = Assign(row_, row);
  const bool selChanged = Assign(rowSel_, row);
  if (changed) Notify("Row");
  if (selChanged) Notify("RowSel");
}

void Grid::SetCol(int col) {
  if (col < 0 || col >= cols_) {
    ThrowInvalidValue(Name() + ".Col " + std::to_string(col) + " is outside 0 to " +
                      std::to_string(cols_ - 1));
  }
  if (Assign(col_, col)) Notify("Col");
}

void Grid::SetRowSel(int row) {
  if (row < 0 || row >= rows_) {
    ThrowInvalidValue(Name() + ".RowSel " + std::to_string(row) + " is outside 0 to " +
                      std::to_string(rows_ - 1));
  }
  if (Assign(rowSel_, row)) Notify("RowSel");
}

namespace {
[[noreturn]] void ThrowCellOutOfRange(const std::string& name, int row, int col, int rows,
                                      int cols) {
  throw ControlError(errc::kSubscriptOutOfRange,
                     "Subscript out of range (" + name + ".TextMatrix(" + std::to_string(row) +
                         ", " + std::to_string(col) + ") outside " + std::to_string(rows) +
                         " rows and " + std::to_string(cols) + " columns)");
}
}  // namespace

const std::string& Grid::TextMatrix(int row, int col) const {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) {
    ThrowCellOutOfRange(Name(), row, col, rows_, cols_);
  }
  return cells_[static_cast<std::size_t>(row * cols_ + col)];
}

void Grid::SetTextMatrix(int row, int col, std::string text) {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) {
    ThrowCellOutOfRange(Name(), row, col, rows_, cols_);
  }
  if (Assign(cells_[static_cast<std::size_t>(row * cols_ + col)], std::move(text))) {
    Notify("TextMatrix");
  }
}

int Grid::ColWidth(int col) const {
  if (col < 0 || col >= cols_) {
    throw ControlError(errc::kSubscriptOutOfRange,
                       "Subscript out of range (" + Name() + ".ColWidth(" + std::to_string(col) +
                           ") outside " + std::to_string(cols_) + " columns)");
  }
  return colWidths_[static_cast<std::size_t>(col)];
}

void Grid::SetColWidth(int col, int twips) {
  if (col < 0 || col >= cols_) {
    throw ControlError(errc::kSubscriptOutOfRange,
                       "Subscript out of range (" + Name() + ".ColWidth(" + std::to_string(col) +
                           ") outside " + std::to_string(cols_) + " columns)");
  }
  if (twips < 0) {
    ThrowInvalidValue(Name() + ".ColWidth cannot be " + std::to_string(twips));
  }
  if (Assign(colWidths_[static_cast<std::size_t>(col)], twips)) Notify("ColWidth");
}

void Grid::Clear() {
  bool changed = false;
  for (auto& cell : cells_) {
    if (!cell.empty()) {
      cell.clear();
      changed = true;
    }
  }
  if (changed) Notify("TextMatrix");
}

// ---- DatePicker ----

DatePicker::DatePicker(std::string name)
    : Focusable(std::move(name)),
      // The picker's own limits; the date set-up narrows them around the
      // server's date.
      min_(DateTime::FromParts(1601, 1, 1)),
      max_(DateTime::FromParts(9999, 12, 31)) {}

void DatePicker::SetValue(const DateTime& d) {
  if (d < min_ || d > max_) throw ControlError(errc::kInvalidPropertyValue, kInvalidPropertyValue);
  if (Assign(value_, d)) Notify("Value");
}

void DatePicker::SetMinDate(const DateTime& d) {
  if (d > max_) throw ControlError(errc::kInvalidPropertyValue, kInvalidPropertyValue);
  if (!Assign(min_, d)) return;
  Notify("MinDate");
  // The shown date follows the range, as the platform picker does.
  if (value_ < min_) {
    value_ = min_;
    Notify("Value");
  }
}

void DatePicker::SetMaxDate(const DateTime& d) {
  if (d < min_) throw ControlError(errc::kInvalidPropertyValue, kInvalidPropertyValue);
  if (!Assign(max_, d)) return;
  Notify("MaxDate");
  if (value_ > max_) {
    value_ = max_;
    Notify("Value");
  }
}

void DatePicker::SetVisible(bool v) {
  if (Assign(visible_, v)) Notify("Visible");
}

void DatePicker::SetEnabled(bool v) {
  if (Assign(enabled_, v)) Notify("Enabled");
}

void DatePicker::SetTag(std::string t) {
  if (Assign(tag_, std::move(t))) Notify("Tag");
}

// ---- TextBox ----

void TextBox::SetText(std::string t) {
  if (!Assign(text_, std::move(t))) return;
  Notify("Text");
  // A new text puts the caret at its start, as the platform text box does.
  if (Assign(selStart_, 0)) Notify("SelStart");
  if (Assign(selLength_, 0)) Notify("SelLength");
}

void TextBox::SetVisible(bool v) {
  if (Assign(visible_, v)) Notify("Visible");
}

void TextBox::SetEnabled(bool v) {
  if (Assign(enabled_, v)) Notify("Enabled");
}

void TextBox::SetBackColor(SystemColor c) {
  if (Assign(back_, c)) Notify("BackColor");
}

void TextBox::SetSelStart(int v) {
  if (v < 0) ThrowInvalidValue(Name() + ".SelStart cannot be " + std::to_string(v));
  v = std::min(v, CharacterCount(text_));
  if (Assign(selStart_, v)) Notify("SelStart");
  if (selStart_ + selLength_ > CharacterCount(text_)) {
    selLength_ = CharacterCount(text_) - selStart_;
    Notify("SelLength");
  }
}

void TextBox::SetSelLength(int v) {
  if (v < 0) ThrowInvalidValue(Name() + ".SelLength cannot be " + std::to_string(v));
  v = std::min(v, CharacterCount(text_) - selStart_);
  if (Assign(selLength_, v)) Notify("SelLength");
}

// ---- Label ----

void Label::SetCaption(std::string c) {
  if (Assign(caption_, std::move(c))) Notify("Caption");
}

// ---- ComboBox ----

void ComboBox::Clear() {
  const bool hadItems = !items_.empty();
  items_.clear();
  newIndex_ = -1;
  if (hadItems) Notify("List");
  if (Assign(listIndex_, -1)) Notify("ListIndex");
}

void ComboBox::AddItem(std::string text) {
  items_.push_back({std::move(text), 0});
  newIndex_ = static_cast<int>(items_.size()) - 1;
  Notify("List");
}

namespace {
[[noreturn]] void ThrowNoItem(const std::string& name, int index, int count) {
  ThrowInvalidValue(name + " has no item " + std::to_string(index) + "; it holds " +
                    std::to_string(count) + " items");
}
}  // namespace

const std::string& ComboBox::List(int index) const {
  if (index < 0 || index >= ListCount()) ThrowNoItem(Name(), index, ListCount());
  return items_[static_cast<std::size_t>(index)].text;
}

std::int32_t ComboBox::ItemData(int index) const {
  if (index < 0 || index >= ListCount()) ThrowNoItem(Name(), index, ListCount());
  return items_[static_cast<std::size_t>(index)].data;
}

void ComboBox::SetItemData(int index, std::int32_t data) {
  if (index < 0 || index >= ListCount()) ThrowNoItem(Name(), index, ListCount());
  if (Assign(items_[static_cast<std::size_t>(index)].data, data)) Notify("ItemData");
}

void ComboBox::SetListIndex(int index) {
  if (index < -1 || index >= ListCount()) ThrowNoItem(Name(), index, ListCount());
  if (Assign(listIndex_, index)) Notify("ListIndex");
}

const std::string& ComboBox::Text() const {
  static const std::string kNothing;
  return listIndex_ < 0 ? kNothing : items_[static_cast<std::size_t>(listIndex_)].text;
}

void ComboBox::SetText(std::string_view text) {
  int found = -1;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].text == text) {
      found = static_cast<int>(i);
      break;
    }
  }
  if (Assign(listIndex_, found)) Notify("ListIndex");
}

void ComboBox::SetVisible(bool v) {
  if (Assign(visible_, v)) Notify("Visible");
}

void ComboBox::SetEnabled(bool v) {
  if (Assign(enabled_, v)) Notify("Enabled");
}

void ComboBox::SetBackColor(SystemColor c) {
  if (Assign(back_, c)) Notify("BackColor");
}

// ---- CheckBox ----

void CheckBox::SetValue(int v) {
  if (v != 0 && v != 1) {
    ThrowInvalidValue(Name() + ".Value must be 0 or 1, not " + std::to_string(v));
  }
  if (!Assign(value_, v)) return;
  Notify("Value");
  if (onClick) onClick();
}

void CheckBox::SetVisible(bool v) {
  if (Assign(visible_, v)) Notify("Visible");
}

void CheckBox::SetEnabled(bool v) {
  if (Assign(enabled_, v)) Notify("Enabled");
}

// ---- CommandButton ----

void CommandButton::SetCaption(std::string c) {
  if (Assign(caption_, std::move(c))) Notify("Caption");
}

void CommandButton::SetVisible(bool v) {
  if (Assign(visible_, v)) Notify("Visible");
}

void CommandButton::SetEnabled(bool v) {
  if (Assign(enabled_, v)) Notify("Enabled");
}

// ---- Surface ----

Surface::Surface() {
  tabFees.SetRect({0, 0, 8655, 6525});
  tabFees.captions.assign(14, std::string());
  picMain.SetRect({0, 1200, 8415, 5175});

  // Positions inside the entry panel, slot by slot: label, then input.
  static constexpr TwipsRect kLabels[8] = {{120, 2925, 2265, 195},  {120, 3270, 2265, 255},
                                           {120, 3600, 2265, 255},  {120, 3960, 2265, 255},
                                           {4590, 2925, 1500, 255}, {4590, 3240, 1500, 255},
                                           {4590, 3600, 1500, 255}, {4590, 3960, 1335, 255}};
  static constexpr TwipsRect kInputs[8] = {{2280, 2850, 1440, 315}, {2280, 3210, 1440, 300},
                                           {2280, 3600, 1440, 285}, {2280, 3960, 1440, 300},
                                           {6240, 2880, 1440, 300}, {6270, 3225, 1440, 300},
                                           {6270, 3600, 1440, 300}, {6240, 3960, 735, 285}};
  for (int i = 0; i < 8; ++i) {
    lblField[static_cast<std::size_t>(i)].SetRect(kLabels[i]);
    if (i > 0) txtField[static_cast<std::size_t>(i)].SetRect(kInputs[i]);
  }
  txtField[0].SetVisible(false);
  txtField[0].SetEnabled(false);

  DTPicker1[0].SetRect(kInputs[0]);
  DTPicker1[1].SetRect({6240, 3225, 1440, 300});
  DTPicker1[2].SetRect({6240, 3600, 1440, 300});
  // The effective date shows from the start, read-only while browsing; the
  // bank-account pickers appear only while adding or editing an account.
  DTPicker1[0].SetVisible(true);
  for (auto& picker : DTPicker1) picker.SetEnabled(false);

  cboAccessLevel.SetRect({2280, 3240, 2190, 315});
  cboBanckAccType.SetRect({2280, 3240, 1950, 315});
  cboTerm.SetRect({2280, 3600, 1440, 315});
  cboAPRType.SetRect({2280, 3600, 1950, 315});
  cboType.SetRect({2280, 3600, 1950, 315});
  cboBitwise.SetRect({2280, 3960, 2190, 315});
  for (ComboBox* combo :
       {&cboTerm, &cboType, &cboBitwise, &cboAPRType, &cboAccessLevel, &cboBanckAccType}) {
    combo->SetBackColor(SystemColor::ButtonFace);
    combo->SetEnabled(false);
    combo->SetVisible(false);
  }
  cboTerm.SetVisible(true);

  chkTravel.SetRect({4560, 3960, 1695, 375});
  chkTravel.caption = "Travel Membership";
  chkDT.SetRect({7725, 3630, 225, 240});
  chkTravel.SetVisible(false);
  chkDT.SetVisible(false);
  chkDT.SetEnabled(false);

  cmdAdd.SetRect({3945, 4755, 1455, 375});
  cmdAdd.SetCaption("&Add");
  cmdEdit.SetRect({5520, 4740, 1335, 375});
  cmdEdit.SetCaption("&Edit");
  cmdDelete.SetRect({6960, 4740, 1335, 375});
  cmdDelete.SetCaption("&Delete");

  lblVersionNo.SetRect({120, 4920, 2565, 195});

  for (auto& box : txtField) box.SetFocusSink(&focusSink);
  for (auto& picker : DTPicker1) picker.SetFocusSink(&focusSink);
  grdFees.SetFocusSink(&focusSink);
  for (ComboBox* combo :
       {&cboTerm, &cboType, &cboBitwise, &cboAPRType, &cboAccessLevel, &cboBanckAccType}) {
    combo->SetFocusSink(&focusSink);
  }
}

Component* Surface::Find(std::string_view name) {
  auto matches = [name](const Component& c) { return SameNameIgnoringCase(c.Name(), name); };
  for (Component* c : std::initializer_list<Component*>{
           &tabFees, &picMain, &grdFees, &cboTerm, &cboType, &cboBitwise, &cboAPRType,
           &cboAccessLevel, &cboBanckAccType, &chkTravel, &chkDT, &cmdAdd, &cmdEdit, &cmdDelete,
           &lblVersionNo}) {
    if (matches(*c)) return c;
  }
  for (auto& label : lblField) {
    if (matches(label)) return &label;
  }
  // txtField(0) only keeps the indices natural; the control has no such box.
  for (std::size_t i = 1; i < txtField.size(); ++i) {
    if (matches(txtField[i])) return &txtField[i];
  }
  for (auto& picker : DTPicker1) {
    if (matches(picker)) return &picker;
  }
  return nullptr;
}

ComboBox* Surface::FindComboBox(std::string_view name) {
  return dynamic_cast<ComboBox*>(Find(name));
}

CheckBox* Surface::FindCheckBox(std::string_view name) {
  return dynamic_cast<CheckBox*>(Find(name));
}

CommandButton* Surface::FindButton(std::string_view name) {
  return dynamic_cast<CommandButton*>(Find(name));
}

}  // namespace harnolfees
