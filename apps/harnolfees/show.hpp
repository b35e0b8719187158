// `harnolfees show`: a center's schedule as plain text tables, the quick look
// a person wants without a window.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "harnolfees/surface.hpp"
#include "runner.hpp"

namespace harnolfees::driver {

struct ShowOptions {
  std::string url;
  std::int16_t center = 0;
  std::optional<int> tab;  // all 14 tabs when absent
  std::string serverDate;  // today when empty
  bool csv = false;        // CSV (RFC 4180) instead of text tables
};

// Loads the center and prints the grid of the chosen tab, or of every tab
// under its caption. Message boxes go to `err` as text. Returns 0, or 1 when
// the load reported a failure (what did load is still printed).
//
// As CSV, one tab is its CSV alone; every tab is 14 blocks, each opened by
// the line "# N CAPTION" and closed by an empty line, all lines ended by
// CR LF. A tab that cannot be rendered keeps its opening line, its failure
// goes to `err` and the result is 1.
int RunShow(const ShowOptions& options, std::ostream& out, std::ostream& err,
            NetworkFactories network = {});

// The grid as an aligned table: rows 0 to the last row with any text, columns
// as wide as their widest cell, headings without their trailing blanks, a
// rule under the headings, numeric columns aligned right.
std::string FormatGridTable(const Grid& grid);

// Columns a text takes on a terminal: one per character, two for wide East
// Asian characters, none for combining marks; an invalid byte counts one.
std::size_t DisplayWidth(std::string_view text);

// Today as mm/dd/yyyy, the server date a show uses by default.
std::string TodayAsServerDate();

}  // namespace harnolfees::driver
