// Load documents of any size for the benchmarks and the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace harnolfees::testing {

struct GeneratedDocument {
  std::string xml;
  // Records per record set, index 1 to 15 (0 unused).
  std::array<std::size_t, 16> records{};
  // The member access levels it carries.
  std::size_t accessLevels = 0;
};

// Bank account types are numbered from 1 and stored as 16-bit numbers.
inline constexpr std::size_t kMaxAccountTypes = 32767;

// A load document of center 12 with the lookup lists and `records` records
// spread evenly over the 15 record sets (a bank account type first, so that
// every bank account's type exists; past kMaxAccountTypes types their share
// goes to the bank accounts). Values are realistic: ISO 8601 dates,
// percentages as fractions, money as plain decimals. The same seed gives the
// same document. About 200 bytes per record.
//
// With `onlySet` from 1 to 14, every record goes to that record set instead
// (after one bank account type when it is 9): one tab of any length.
GeneratedDocument GenerateLoadDocument(std::size_t records, std::uint32_t seed = 1,
                                       int onlySet = 0);

}  // namespace harnolfees::testing
