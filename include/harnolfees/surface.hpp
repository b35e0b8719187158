// Plain C++ models of the control's surface components. The control drives
// them; a toolkit front end mirrors them through their change notifications
// and forwards the operator's input back through their notification hooks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "harnolfees/runtime.hpp"

namespace harnolfees {

// System colours as the host writes them.
enum class SystemColor : std::uint32_t {
  WindowBackground = 0x80000005u,
  ButtonFace = 0x8000000Fu,
};
std::string SystemColorText(SystemColor c);  // "&H80000005"

struct TwipsRect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// Base of every component: a name ("txtField(3)"), a placement in twips and
// change observers. Observers receive the component and the property name
// that changed ("Text", "Visible", "TextMatrix", ...).
class Component {
 public:
  using Observer = std::function<void(const Component&, std::string_view property)>;
  explicit Component(std::string name) : name_(std::move(name)) {}
  virtual ~Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& Name() const { return name_; }
  const TwipsRect& Rect() const { return rect_; }
  void SetRect(TwipsRect r) {
    if (r == rect_) return;
    rect_ = r;
    Notify("Rect");
  }
  // Returns an id for Unobserve.
  int Observe(Observer o);
  void Unobserve(int id);

 protected:
  void Notify(std::string_view property) const;

 private:
  std::string name_;
  TwipsRect rect_;
  std::vector<std::pair<int, Observer>> observers_;
  int nextObserverId_ = 1;
};

// Components that can take the focus report it through the surface's focus
// sink, so the host moves the real focus and can log it.
using FocusSink = std::function<void(const Component&)>;

class Focusable : public Component {
 public:
  using Component::Component;
  void SetFocusSink(FocusSink* sink) { sink_ = sink; }
  void SetFocus();

 private:
  FocusSink* sink_ = nullptr;
};

class TabStrip : public Component {
 public:
  using Component::Component;
  std::vector<std::string> captions;  // 14 captions, set at start-up
  int SelectedIndex() const { return selectedIndex_; }
  // Selecting does not click; the host or driver raises the click itself.
  void SetSelectedIndex(int index);
  const std::string& Tag() const { return tag_; }
  void SetTag(std::string tag);
  std::function<void()> onClick;
  void Click() {
    if (onClick) onClick();
  }

 private:
  int selectedIndex_ = 1;
  std::string tag_;
};

// A flexible grid: Rows x Cols cells, row 0 fixed (the heading row).
class Grid : public Focusable {
 public:
  explicit Grid(std::string name);
  int Rows() const { return rows_; }
  void SetRows(int rows);
  // Room for this many rows, so that growing to them row by row moves no
  // cell; changes nothing that shows.
  void ReserveRows(int rows);
  int Cols() const { return cols_; }
  void SetCols(int cols);
  int Row() const { return row_; }
  void SetRow(int row);  // throws ControlError(kInvalidPropertyValue) out of range
  int Col() const { return col_; }
  void SetCol(int col);
  int RowSel() const { return rowSel_; }
  void SetRowSel(int row);
  // The current cell's text.
  const std::string& Text() const { return TextMatrix(row_, col_); }
  const std::string& TextMatrix(int row, int col) const;
  void SetTextMatrix(int row, int col, std::string text);
  int ColWidth(int col) const;
  void SetColWidth(int col, int twips);
  // Erases every cell text, header row included; keeps Rows, Cols and Row.
  void Clear();
  int Width() const { return Rect().width; }
  int Height() const { return Rect().height; }
  void SetHeight(int twips) {
    auto r = Rect();
    r.height = twips;
    SetRect(r);
  }

 private:
  int rows_ = 25, cols_ = 6, row_ = 1, col_ = 0, rowSel_ = 1;
  std::vector<std::string> cells_;  // rows_ * cols_, row-major
  std::vector<int> colWidths_;
};

class DatePicker : public Focusable {
 public:
  explicit DatePicker(std::string name);
  const DateTime& Value() const { return value_; }
  // Throws ControlError(kInvalidPropertyValue) outside MinDate..MaxDate.
  void SetValue(const DateTime& d);
  const DateTime& MinDate() const { return min_; }
  const DateTime& MaxDate() const { return max_; }
  // Throw when the new bound would cross the other one.
  void SetMinDate(const DateTime& d);
  void SetMaxDate(const DateTime& d);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  const std::string& Tag() const { return tag_; }
  void SetTag(std::string t);

 private:
  DateTime value_, min_, max_;
  bool visible_ = false, enabled_ = true;
  std::string tag_;
};

class TextBox : public Focusable {
 public:
  using Focusable::Focusable;
  const std::string& Text() const { return text_; }
  void SetText(std::string t);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  SystemColor BackColor() const { return back_; }
  void SetBackColor(SystemColor c);
  int SelStart() const { return selStart_; }
  void SetSelStart(int v);
  int SelLength() const { return selLength_; }
  void SetSelLength(int v);
  // Operator input: the host calls these; the control installs the handlers.
  std::function<void()> onGotFocus, onLostFocus;

 private:
  std::string text_;
  bool visible_ = true, enabled_ = true;
  SystemColor back_ = SystemColor::WindowBackground;
  int selStart_ = 0, selLength_ = 0;
};

class Label : public Component {
 public:
  using Component::Component;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c);

 private:
  std::string caption_;
};

// A drop-down list: items with item data, a selection by index.
class ComboBox : public Focusable {
 public:
  using Focusable::Focusable;
  void Clear();
  void AddItem(std::string text);
  int NewIndex() const { return newIndex_; }
  int ListCount() const { return static_cast<int>(items_.size()); }
  // Throw ControlError(kInvalidPropertyValue) for an index out of range.
  const std::string& List(int index) const;
  std::int32_t ItemData(int index) const;
  void SetItemData(int index, std::int32_t data);
  int ListIndex() const { return listIndex_; }
  void SetListIndex(int index);  // -1 selects nothing
  // The selected item's text, "" when nothing is selected.
  const std::string& Text() const;
  // Selects the first item with exactly this text; a text that no item has
  // selects nothing.
  void SetText(std::string_view text);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  SystemColor BackColor() const { return back_; }
  void SetBackColor(SystemColor c);

 private:
  struct Item {
    std::string text;
    std::int32_t data = 0;
  };
  std::vector<Item> items_;
  int listIndex_ = -1, newIndex_ = -1;
  bool visible_ = false, enabled_ = true;
  SystemColor back_ = SystemColor::ButtonFace;
};

class CheckBox : public Component {
 public:
  using Component::Component;
  std::string caption;
  int Value() const { return value_; }
  // Raises onClick when the value changes, whoever changes it.
  void SetValue(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  std::function<void()> onClick;

 private:
  int value_ = 0;
  bool visible_ = false, enabled_ = true;
};

class CommandButton : public Component {
 public:
  using Component::Component;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string c);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  std::function<void()> onClick;
  void Click() {
    if (onClick) onClick();
  }

 private:
  std::string caption_;
  bool visible_ = true, enabled_ = true;
};

class PictureBox : public Component {
 public:
  using Component::Component;
  int Height() const { return Rect().height; }
};

// Every component of the control, with the placements of its layout.
struct Surface {
  Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  TabStrip tabFees{"tabFees"};
  PictureBox picMain{"picMain"};
  Grid grdFees{"grdFees"};
  std::array<Label, 8> lblField{Label{"lblField(0)"}, Label{"lblField(1)"}, Label{"lblField(2)"},
                                Label{"lblField(3)"}, Label{"lblField(4)"}, Label{"lblField(5)"},
                                Label{"lblField(6)"}, Label{"lblField(7)"}};
  // Element 0 exists only to keep indices natural; it is never shown.
  std::array<TextBox, 8> txtField{TextBox{"txtField(0)"}, TextBox{"txtField(1)"},
                                  TextBox{"txtField(2)"}, TextBox{"txtField(3)"},
                                  TextBox{"txtField(4)"}, TextBox{"txtField(5)"},
                                  TextBox{"txtField(6)"}, TextBox{"txtField(7)"}};
  std::array<DatePicker, 3> DTPicker1{DatePicker{"DTPicker1(0)"}, DatePicker{"DTPicker1(1)"},
                                      DatePicker{"DTPicker1(2)"}};
  ComboBox cboTerm{"cboTerm"}, cboType{"cboType"}, cboBitwise{"cboBitwise"},
      cboAPRType{"cboAPRType"}, cboAccessLevel{"cboAccessLevel"},
      cboBanckAccType{"cboBanckAccType"};
  CheckBox chkTravel{"chkTravel"}, chkDT{"chkDT"};
  CommandButton cmdAdd{"cmdAdd"}, cmdEdit{"cmdEdit"}, cmdDelete{"cmdDelete"};
  Label lblVersionNo{"lblVersionNo"};

  // Where SetFocus on any focusable component is reported.
  FocusSink focusSink;

  // Lookup by name for hosts and drivers: "cboTerm", "txtField(3)", ...
  // nullptr when there is no such component.
  Component* Find(std::string_view name);
  ComboBox* FindComboBox(std::string_view name);
  CheckBox* FindCheckBox(std::string_view name);
  CommandButton* FindButton(std::string_view name);
};

}  // namespace harnolfees
