#include "show.hpp"

#include <algorithm>
#include <ctime>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/export.hpp"
#include "harnolfees/runtime.hpp"
#include "json.hpp"

namespace harnolfees::driver {

namespace {

bool IsCombining(char32_t cp) {
  return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) ||
         (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x20D0 && cp <= 0x20FF) ||
         (cp >= 0xFE20 && cp <= 0xFE2F) || cp == 0x200B || cp == 0x200D;
}

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
         (cp >= 0x3041 && cp <= 0x33FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
         (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
         (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

// A cell's text as one table cell: line breaks and tabs inside it would
// break the alignment, so they show as blanks.
std::string CellText(const std::string& text) {
  std::string out = text;
  std::replace_if(
      out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  return out;
}

void Pad(std::string& line, std::size_t count) { line.append(count, ' '); }

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8At(text, i, cp);
    if (length == 0) {
      ++width;
      ++i;
      continue;
    }
    i += length;
    if (IsCombining(cp)) continue;
    width += IsWide(cp) ? 2 : 1;
  }
  return width;
}

std::string FormatGridTable(const Grid& grid) {
  const int cols = grid.Cols();
  int lastRow = 0;
  for (int r = grid.Rows() - 1; r > 0; --r) {
    bool blank = true;
    for (int c = 0; c < cols && blank; ++c) blank = grid.TextMatrix(r, c).empty();
    if (!blank) {
      lastRow = r;
      break;
    }
  }
  if (grid.Rows() == 0 || cols == 0) return {};

  std::vector<std::vector<std::string>> cells(static_cast<std::size_t>(lastRow) + 1);
  std::vector<std::size_t> widths(static_cast<std::size_t>(cols), 0);
  std::vector<bool> numeric(static_cast<std::size_t>(cols), true);
  std::vector<bool> hasData(static_cast<std::size_t>(cols), false);
  for (int r = 0; r <= lastRow; ++r) {
    auto& row = cells[static_cast<std::size_t>(r)];
    for (int c = 0; c < cols; ++c) {
      std::string text = CellText(grid.TextMatrix(r, c));
      if (r == 0) text = TrimTrailingBlanks(std::move(text));
      const auto ci = static_cast<std::size_t>(c);
      widths[ci] = std::max(widths[ci], DisplayWidth(text));
      if (r > 0 && !text.empty()) {
        hasData[ci] = true;
        if (!IsNumeric(text)) numeric[ci] = false;
      }
      row.push_back(std::move(text));
    }
  }

  std::string out;
  auto appendRow = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) line += "  ";
      const std::size_t fill = widths[c] - DisplayWidth(row[c]);
      if (numeric[c] && hasData[c]) {
        Pad(line, fill);
        line += row[c];
      } else {
        line += row[c];
        Pad(line, fill);
      }
    }
    out += TrimTrailingBlanks(std::move(line));
    out += '\n';
  };
  appendRow(cells[0]);
  std::string rule;
  for (std::size_t c = 0; c < widths.size(); ++c) {
    if (c > 0) rule += "  ";
    rule.append(widths[c], '-');
  }
  out += TrimTrailingBlanks(std::move(rule));
  out += '\n';
  for (std::size_t r = 1; r < cells.size(); ++r) appendRow(cells[r]);
  return out;
}

std::string TodayAsServerDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[48];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900);
  return text;
}

int RunShow(const ShowOptions& options, std::ostream& out, std::ostream& err,
            NetworkFactories network) {
  EventOutput silent(nullptr);
  HeadlessHost host(silent, &err);
  if (!network.fetcher) network.fetcher = [] { return MakeCurlFetcher(); };
  if (!network.transfer) {
    network.transfer = [](HostServices& h) { return MakeCurlTransfer(h); };
  }
  int status = kExitOk;
  try {
    auto fetcher = std::make_unique<LoggingFetcher>(silent, network.fetcher);
    auto transfer =
        std::make_unique<LoggingTransfer>(silent, [&] { return network.transfer(host); });
    HarnolFeesCtlCenter control(host, std::move(transfer), std::move(fetcher));
    const int messagesBefore = host.messageCount();
    control.LoadData(options.url, options.center,
                     options.serverDate.empty() ? TodayAsServerDate() : options.serverDate);
    host.RunPendingNow();
    // The load tells its failures only through message boxes.
    if (host.messageCount() != messagesBefore) status = kExitInternal;

    const int first = options.tab.value_or(1);
    const int last = options.tab.value_or(kTabCount);
    if (options.csv) {
      for (int tab = first; tab <= last; ++tab) {
        if (!options.tab) out << "# " << tab << ' ' << FeeTab(tab).caption << "\r\n";
        try {
          out << ExportTabCsv(control, tab);
        } catch (const std::exception& e) {
          err << "harnolfees show: tab " << tab << ": " << e.what() << '\n';
          status = kExitInternal;
        }
        if (!options.tab) out << "\r\n";
        out.flush();
      }
      return status;
    }
    for (int tab = first; tab <= last; ++tab) {
      control.FillGridContained(tab);
      if (!options.tab) {
        if (tab > first) out << '\n';
        out << FeeTab(tab).caption << '\n';
      }
      out << FormatGridTable(control.surface().grdFees);
      out.flush();
    }
  } catch (const std::exception& e) {
    err << "harnolfees show: " << e.what() << '\n';
    return kExitInternal;
  } catch (...) {
    err << "harnolfees show: internal failure\n";
    return kExitInternal;
  }
  return status;
}

}  // namespace harnolfees::driver
