// The 14 fee kinds (tabs) and the 15 record sets of the control.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "harnolfees/recordset.hpp"

namespace harnolfees {

inline constexpr int kTabCount = 14;
inline constexpr int kRecordSetCount = 15;
inline constexpr int kMaxGridColumns = 7;
inline constexpr int kBankAccountTypesRecordSet = 15;

struct FeeTabInfo {
  std::string caption;    // tab strip caption
  std::string tableName;  // database table of its statements
  int salesTaxType = 0;   // 1..5 for tabs 10..14, else 0
  int gridColumnCount = 0;
  std::array<std::string, kMaxGridColumns> headings;  // trailing blanks kept
};

// Throws ControlError(kSubscriptOutOfRange) for a tab outside 1..14.
const FeeTabInfo& FeeTab(int tab);
int GridColumnCount(int tab);
// Throws for a tab outside 1..14 or a column outside 0..6.
const std::string& GridHeadings(int tab, int column);

// The control's record sets, reached by index 1..15; any other index throws
// ControlError(kSubscriptOutOfRange).
class FeeRecordSets {
 public:
  // Creates the 15 record sets with their declared fields (closed).
  FeeRecordSets();
  RecordSet& operator()(int index);
  const RecordSet& operator()(int index) const;
  // Opens every record set.
  void OpenAll();
  // Closes the open ones, releasing their records; the objects stay, closed.
  void CloseAll();
  // Deletes every record of every record set; filter and sort stay.
  void EmptyAll();

 private:
  std::array<std::unique_ptr<RecordSet>, kRecordSetCount> sets_;
};

}  // namespace harnolfees
