// A tab's grid as CSV text, for every host: the editor's File menu, the
// headless driver, and any program that embeds the control.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace harnolfees {

class HarnolFeesCtlCenter;

// Tab `tab` (1 to 14) as the grid shows it, in RFC 4180 CSV: UTF-8 without a
// byte-order mark, every line ended by CR LF. The first line holds the
// column headings without their trailing blanks, then one line per record
// with the cell texts exactly as the grid shows them, in the grid's order
// (tab 8 without the travel option sorted and without its last column, as
// in the grid). A field is quoted when it holds a comma, a quote, CR or LF;
// a quote inside it is written twice.
//
// The tab is rendered apart from the control: the current tab, the grid,
// the entry form, the lists' selections, the record sets' cursors, filters
// and sorts all stay as they are, so it may be called at any time, even
// while the control waits for the answer to a save (a change waiting for
// that answer shows as written).
//
// Fails as the grid's rendering of that tab would, with the same
// ControlError: a Null where a text is shown, an identifier beyond its
// list, a bank account whose type is unknown. A tab outside 1 to 14 throws
// ControlError(kSubscriptOutOfRange). Nothing is changed either way.
//
// On the thread that runs the control, like every member of the control.
std::string ExportTabCsv(const HarnolFeesCtlCenter& control, int tab);

struct TabCsv {
  int tab = 0;
  std::string caption;   // the tab's caption as the tab strip shows it
  std::string fileName;  // "01 Membership Fee.csv": a safe file name for it
  std::string csv;       // as ExportTabCsv; empty when the tab failed
  std::string error;     // why the tab could not be rendered; empty when it was
};

// Every tab, 1 to 14 in order, as ExportTabCsv gives it. A tab that fails is
// reported in its `error` and the others still come. Same thread and the
// same promise to change nothing as ExportTabCsv.
std::vector<TabCsv> ExportAllTabsCsv(const HarnolFeesCtlCenter& control);

// One CSV field as RFC 4180 writes it (quoted only when it must be).
std::string CsvField(std::string_view text);

}  // namespace harnolfees
