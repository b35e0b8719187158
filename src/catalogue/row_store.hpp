// The storage behind a record set: every record is a row of 64-bit cells, one
// per field, followed by presence bits (a clear bit is Null). Texts live in a
// shared pool and a cell holds their slot. Rows are kept in fixed chunks so
// that a row never moves while the record set grows, and a record with a
// pending change keeps a copy of its committed row. Chunk k holds
// kFirstChunkRows << k rows: a small schedule stays small, and the chunks of a
// large one are big enough to be backed by huge pages, which spares most of
// the page faults of filling it.
//
// A row costs a tenth of a row of Values, which is what lets a large schedule
// be filled without the allocator and the page faults dominating.
#pragma once

#include <bit>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "harnolfees/recordset.hpp"
#include "harnolfees/runtime.hpp"

namespace harnolfees::detail {

class RowStore {
 public:
  using RowId = std::uint32_t;
  static constexpr RowId kNoRow = 0xFFFFFFFFu;

  // A field value reduced for ordering: integers, money and dates as whole
  // numbers, floating point as real, texts as text.
  struct SortCell {
    bool null = true;
    std::int64_t whole = 0;
    double real = 0;
    std::string_view text;
  };

  // Fixes the layout and drops every row.
  void Reset(const std::vector<FieldDef>& fields);
  // Drops every row, keeping the layout.
  void Clear();

  std::size_t Size() const { return flags_.size(); }
  std::size_t Tombstones() const { return tombstones_; }
  std::size_t PendingCount() const { return pending_; }

  // A new row, every field Null, pending until Commit.
  RowId Append();
  bool Deleted(RowId row) const { return (flags_[row] & kDeleted) != 0; }
  bool PendingAdd(RowId row) const { return (flags_[row] & kPendingAdd) != 0; }
  bool PendingChange(RowId row) const { return (flags_[row] & kPendingChange) != 0; }
  bool InView(RowId row) const { return (flags_[row] & kInView) != 0; }
  void SetInView(RowId row, bool inView);

  // Writes a value already converted to the field's type (or Null). The first
  // write to a committed row keeps a copy of it for CancelChange.
  void Write(RowId row, int field, Value value);
  // Writes a cell made by Encode to a field that does not hold text, in a
  // row that is a pending addition (no committed copy to keep).
  void WriteCell(RowId row, int field, std::uint64_t cell) { WriteCell(RowPtr(row), field, cell); }
  // The same for many cells of one row: its place found once.
  std::uint64_t* PendingRow(RowId row) { return RowPtr(row); }
  void WriteCell(std::uint64_t* pendingRow, int field, std::uint64_t cell) {
    pendingRow[field] = cell;
    SetPresent(pendingRow, field, true);
  }
  // The cell of a value already converted to a field type other than text,
  // and back.
  static std::uint64_t Encode(FieldType type, const Value& value);
  // The cells of the types, made directly: whole numbers (SmallInt, Integer,
  // and Currency in ten-thousandths), Double, Single and Date.
  static std::uint64_t EncodeWhole(std::int64_t v) { return static_cast<std::uint64_t>(v); }
  static std::uint64_t EncodeReal(double v) { return std::bit_cast<std::uint64_t>(v); }
  static std::uint64_t EncodeSingle(float v) { return std::bit_cast<std::uint32_t>(v); }
  static std::uint64_t EncodeDate(std::int32_t days, std::int32_t seconds) {
    return (std::uint64_t{static_cast<std::uint32_t>(days)} << 32) |
           static_cast<std::uint32_t>(seconds);
  }
  static Value Decode(FieldType type, std::uint64_t cell);
  void Read(RowId row, int field, Value& out) const;
  bool IsNull(RowId row, int field) const { return !Present(RowPtr(row), field); }
  // Equality with a constant made by ConvertForComparison.
  bool Equals(RowId row, int field, const Value& constant) const;
  SortCell KeyOf(RowId row, int field) const;

  // Makes the pending addition or change of the row permanent.
  void Commit(RowId row);
  // Restores the committed values of a row with a pending change.
  void CancelChange(RowId row);
  // Turns the row into a tombstone.
  void Remove(RowId row);
  // Drops the tombstones; returns the new id of every old row (kNoRow for the
  // dropped ones). The order of the remaining rows is kept.
  std::vector<RowId> Compact();

 private:
  static constexpr std::uint8_t kDeleted = 1;
  static constexpr std::uint8_t kPendingAdd = 2;
  static constexpr std::uint8_t kPendingChange = 4;
  static constexpr std::uint8_t kInView = 8;
  static constexpr std::uint32_t kFirstChunkShift = 6;
  static constexpr std::uint32_t kFirstChunkRows = 1u << kFirstChunkShift;

  struct FreeChunk {
    void operator()(std::uint64_t* p) const noexcept;
  };
  using Chunk = std::unique_ptr<std::uint64_t[], FreeChunk>;

  static const std::uint64_t* Locate(const std::vector<Chunk>& chunks, std::size_t stride,
                                     RowId row) {
    // Rows before chunk k: kFirstChunkRows * (2^k - 1).
    const std::uint32_t q = (row >> kFirstChunkShift) + 1;
    const int k = std::bit_width(q) - 1;
    const std::uint32_t first = ((1u << k) - 1) << kFirstChunkShift;
    return chunks[static_cast<std::size_t>(k)].get() + (row - first) * stride;
  }
  std::uint64_t* RowPtr(RowId row) {
    return const_cast<std::uint64_t*>(Locate(chunks_, stride_, row));
  }
  const std::uint64_t* RowPtr(RowId row) const { return Locate(chunks_, stride_, row); }
  bool Present(const std::uint64_t* row, int field) const {
    return (row[fieldCount_ + field / 64] >> (field % 64)) & 1u;
  }
  void SetPresent(std::uint64_t* row, int field, bool present) const {
    std::uint64_t bit = std::uint64_t{1} << (field % 64);
    if (present) {
      row[fieldCount_ + field / 64] |= bit;
    } else {
      row[fieldCount_ + field / 64] &= ~bit;
    }
  }
  bool IsTextField(int field) const {
    return types_[field] == FieldType::Char || types_[field] == FieldType::VarChar;
  }
  std::uint64_t NewText(std::string text);
  void FreeText(std::uint64_t slot);
  // Frees the text slots of the committed copy that the row no longer uses.
  void ReleaseBackupTexts(const std::uint64_t* row, const std::vector<std::uint64_t>& backup);
  void AddChunk();

  std::vector<FieldType> types_;
  int fieldCount_ = 0;
  std::size_t stride_ = 0;
  std::vector<Chunk> chunks_;
  std::size_t capacity_ = 0;  // rows the chunks hold
  std::vector<std::uint8_t> flags_;
  std::unordered_map<RowId, std::vector<std::uint64_t>> backups_;
  std::deque<std::string> texts_;  // a deque never moves its texts as it grows
  std::vector<std::uint64_t> freeTexts_;
  std::size_t tombstones_ = 0;
  std::size_t pending_ = 0;
};

}  // namespace harnolfees::detail
