// Tabs as CSV text, rendered into a grid of their own so that the control's
// grid, form, lists and record-set cursors stay as they are.
#include "harnolfees/export.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/control.hpp"
#include "view/grid_rows.hpp"

namespace harnolfees {

namespace {

// The names behind identifiers, read without selecting anything: the item
// texts of the lists, and the account types visited in their order.
class ListLookups {
 public:
  ListLookups(const Surface& s, const RecordSet& accountTypes, const RegionalSettings& rs)
      : s_(s), accountTypes_(accountTypes), rs_(rs) {}
  std::string AprType(int position) const { return ItemText(s_.cboAPRType, position); }
  std::string ContractType(int position) const { return ItemText(s_.cboType, position); }
  std::string CreditType(int position) const { return ItemText(s_.cboBitwise, position); }
  // The first account type, in the set's order, whose identifier reads as
  // `type`; the same that a search from the first record finds.
  std::string AccountType(const std::string& type) {
    if (!typesRead_) ReadAccountTypes();
    for (const auto& [id, description] : types_) {
      if (!id.IsNull() && id.ToText(rs_) == type) return description.ToText(rs_);
    }
    view::ThrowUnknownAccountType(type);
  }

 private:
  // Selecting -1 selects nothing and reads as the empty text; any other
  // position beyond the list fails as selecting it would.
  static std::string ItemText(const ComboBox& combo, int position) {
    if (position == -1) return {};
    return combo.List(position);
  }
  void ReadAccountTypes() {
    const int id = accountTypes_.FieldIndex("BankAccountTypeID");
    const int description = accountTypes_.FieldIndex("Description");
    accountTypes_.ForEachVisible([&](const std::vector<Value>& record) {
      types_.emplace_back(record[static_cast<std::size_t>(id)],
                          record[static_cast<std::size_t>(description)]);
    });
    typesRead_ = true;
  }

  const Surface& s_;
  const RecordSet& accountTypes_;
  const RegionalSettings& rs_;
  bool typesRead_ = false;
  std::vector<std::pair<Value, Value>> types_;
};

// The headings and the record rows of a tab, rendered into `grid`. Returns
// the number of records rendered.
int RenderTab(const HarnolFeesCtlCenter& control, int tab, Grid& grid) {
  const bool showTravel = control.state().ShowTravelOption;
  const RecordSet& set = control.recordSets()(tab);
  const FeeKind& kind = FeeKindOf(tab);
  const int n = kind.ShownColumnCount(showTravel);
  grid.SetCols(n);
  for (int c = 0; c < n; ++c) grid.SetTextMatrix(0, c, GridHeadings(tab, c));

  const view::RowFields f = view::FieldsOfTab(set, kind);
  const std::vector<Value>* record = nullptr;
  const view::CellFormats fmt(control.regional(), set, [&record](int field) -> const Value& {
    return (*record)[static_cast<std::size_t>(field)];
  });
  ListLookups lookups(control.surface(), control.recordSets()(kBankAccountTypesRecordSet),
                      control.regional());
  int r = 1;
  grid.ReserveRows(static_cast<int>(std::min<long>(set.RecordCount() + 2, INT32_MAX)));
  set.ForEachVisible(
      [&](const std::vector<Value>& values) {
        if (grid.Rows() < r + 1) grid.SetRows(r + 1);
        record = &values;
        view::WriteRecordRow(grid, r, kind, f, fmt, lookups, showTravel);
        ++r;
      },
      showTravel ? "" : kind.sortWithoutTravel);
  return r - 1;
}

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string FileNameOf(int tab, const std::string& caption) {
  char number[8];
  std::snprintf(number, sizeof number, "%02d", tab);
  std::string name = number;
  bool blank = true;  // the number is followed by one blank
  for (unsigned char c : caption) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c >= 0x80;
    if (keep) {
      if (blank) name += ' ';
      blank = false;
      name += static_cast<char>(c);
    } else {
      blank = true;
    }
  }
  return name + ".csv";
}

}  // namespace

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string ExportTabCsv(const HarnolFeesCtlCenter& control, int tab) {
  FeeTab(tab);  // a tab outside 1 to 14 fails here
  Grid grid("grdFees");
  const int records = RenderTab(control, tab, grid);

  std::string out;
  auto line = [&](int row, bool heading) {
    for (int c = 0; c < grid.Cols(); ++c) {
      if (c > 0) out += ',';
      out +=
          CsvField(heading ? TrimTrailingBlanks(grid.TextMatrix(row, c)) : grid.TextMatrix(row, c));
    }
    out += "\r\n";
  };
  line(0, true);
  for (int r = 1; r <= records; ++r) line(r, false);
  return out;
}

std::vector<TabCsv> ExportAllTabsCsv(const HarnolFeesCtlCenter& control) {
  std::vector<TabCsv> tabs;
  tabs.reserve(kTabCount);
  for (int tab = 1; tab <= kTabCount; ++tab) {
    TabCsv t;
    t.tab = tab;
    t.caption = FeeTab(tab).caption;
    t.fileName = FileNameOf(tab, t.caption);
    try {
      t.csv = ExportTabCsv(control, tab);
    } catch (const std::exception& e) {
      t.error = e.what();
    }
    tabs.push_back(std::move(t));
  }
  return tabs;
}

}  // namespace harnolfees
