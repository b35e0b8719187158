#include "catalogue/row_store.hpp"

#include <sys/mman.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <variant>

#include "catalogue/field_value.hpp"

namespace harnolfees::detail {

namespace {

std::int64_t ToSigned(std::uint64_t w) { return static_cast<std::int64_t>(w); }

std::int32_t DaysOf(std::uint64_t w) { return static_cast<std::int32_t>(w >> 32); }
std::int32_t SecondsOf(std::uint64_t w) { return static_cast<std::int32_t>(w & 0xFFFFFFFFu); }

float DecodeFloat(std::uint64_t w) { return std::bit_cast<float>(static_cast<std::uint32_t>(w)); }

}  // namespace

void RowStore::Reset(const std::vector<FieldDef>& fields) {
  types_.clear();
  for (const FieldDef& f : fields) types_.push_back(f.type);
  fieldCount_ = static_cast<int>(types_.size());
  stride_ = types_.size() + (types_.size() + 63) / 64;
  Clear();
}

void RowStore::Clear() {
  chunks_.clear();
  capacity_ = 0;
  flags_.clear();
  backups_.clear();
  texts_.clear();
  freeTexts_.clear();
  tombstones_ = 0;
  pending_ = 0;
}

void RowStore::FreeChunk::operator()(std::uint64_t* p) const noexcept { std::free(p); }

void RowStore::AddChunk() {
  const std::size_t rows = std::size_t{kFirstChunkRows} << chunks_.size();
  std::size_t bytes = rows * stride_ * sizeof(std::uint64_t);
  void* memory = nullptr;
#ifdef MADV_HUGEPAGE
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes >= kHugePage) {
    bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    memory = std::aligned_alloc(kHugePage, bytes);
    if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);
  }
#endif
  if (memory == nullptr) memory = std::malloc(bytes);
  if (memory == nullptr) throw std::bad_alloc();
  chunks_.emplace_back(static_cast<std::uint64_t*>(memory));
  capacity_ += rows;
}

RowStore::RowId RowStore::Append() {
  if (flags_.size() >= kNoRow - 1) {
    throw ControlError(errc::kOperationNotAllowed, "The record set cannot hold more records");
  }
  auto row = static_cast<RowId>(flags_.size());
  if (row == capacity_) AddChunk();
  flags_.push_back(kPendingAdd);
  // Every row starts with all fields Null. A row is cleared as it is added,
  // while its writing follows, rather than a whole chunk of cold memory
  // when the chunk is taken.
  std::memset(RowPtr(row), 0, stride_ * sizeof(std::uint64_t));
  ++pending_;
  return row;
}

void RowStore::SetInView(RowId row, bool inView) {
  if (inView) {
    flags_[row] |= kInView;
  } else {
    flags_[row] &= static_cast<std::uint8_t>(~kInView);
  }
}

std::uint64_t RowStore::NewText(std::string text) {
  if (!freeTexts_.empty()) {
    std::uint64_t slot = freeTexts_.back();
    freeTexts_.pop_back();
    texts_[slot] = std::move(text);
    return slot;
  }
  texts_.push_back(std::move(text));
  return texts_.size() - 1;
}

void RowStore::FreeText(std::uint64_t slot) {
  texts_[slot].clear();
  texts_[slot].shrink_to_fit();
  freeTexts_.push_back(slot);
}

void RowStore::Write(RowId row, int field, Value value) {
  std::uint64_t* w = RowPtr(row);
  if ((flags_[row] & (kPendingAdd | kPendingChange)) == 0) {
    backups_[row].assign(w, w + stride_);
    flags_[row] |= kPendingChange;
    ++pending_;
  }
  const bool wasPresent = Present(w, field);
  if (IsTextField(field)) {
    // A slot that the committed copy still refers to must not be reused.
    bool shared = false;
    if (wasPresent && (flags_[row] & kPendingChange) != 0) {
      const std::vector<std::uint64_t>& backup = backups_.at(row);
      shared = Present(backup.data(), field) && backup[field] == w[field];
    }
    if (value.IsNull()) {
      if (wasPresent && !shared) FreeText(w[field]);
      SetPresent(w, field, false);
      return;
    }
    std::string text = std::get<std::string>(std::move(value).storage());
    if (wasPresent && !shared) {
      texts_[w[field]] = std::move(text);
    } else {
      w[field] = NewText(std::move(text));
    }
    SetPresent(w, field, true);
    return;
  }
  if (value.IsNull()) {
    SetPresent(w, field, false);
    return;
  }
  w[field] = Encode(types_[field], value);
  SetPresent(w, field, true);
}

std::uint64_t RowStore::Encode(FieldType type, const Value& value) {
  const auto& s = value.storage();
  switch (type) {
    case FieldType::SmallInt:
      return EncodeWhole(std::get<std::int16_t>(s));
    case FieldType::Integer:
      return EncodeWhole(std::get<std::int32_t>(s));
    case FieldType::Single:
      return EncodeSingle(std::get<float>(s));
    case FieldType::Double:
      return EncodeReal(std::get<double>(s));
    case FieldType::Currency:
      return EncodeWhole(std::get<Money>(s).Units());
    case FieldType::Date: {
      const DateTime& d = std::get<DateTime>(s);
      return EncodeDate(d.DaySerial(), d.SecondOfDay());
    }
    case FieldType::Char:
    case FieldType::VarChar:
      break;
  }
  return 0;
}

Value RowStore::Decode(FieldType type, std::uint64_t cell) {
  switch (type) {
    case FieldType::SmallInt:
      return Value(static_cast<std::int16_t>(ToSigned(cell)));
    case FieldType::Integer:
      return Value(static_cast<std::int32_t>(ToSigned(cell)));
    case FieldType::Single:
      return Value(DecodeFloat(cell));
    case FieldType::Double:
      return Value(std::bit_cast<double>(cell));
    case FieldType::Currency:
      return Value(Money::FromUnits(ToSigned(cell)));
    case FieldType::Date:
      return Value(DateTime::FromSerial(DaysOf(cell), SecondsOf(cell)));
    case FieldType::Char:
    case FieldType::VarChar:
      break;
  }
  return Value();
}

void RowStore::Read(RowId row, int field, Value& out) const {
  const std::uint64_t* w = RowPtr(row);
  if (!Present(w, field)) {
    out = Value();
    return;
  }
  if (IsTextField(field)) {
    out = Value(texts_[w[field]]);
  } else {
    out = Decode(types_[field], w[field]);
  }
}

bool RowStore::Equals(RowId row, int field, const Value& constant) const {
  const std::uint64_t* w = RowPtr(row);
  if (!Present(w, field) || constant.IsNull()) return false;
  const std::uint64_t cell = w[field];
  const auto& c = constant.storage();
  switch (types_[field]) {
    case FieldType::SmallInt:
    case FieldType::Integer: {
      const auto* k = std::get_if<double>(&c);
      return k && static_cast<double>(ToSigned(cell)) == *k;
    }
    case FieldType::Double: {
      const auto* k = std::get_if<double>(&c);
      return k && std::bit_cast<double>(cell) == *k;
    }
    case FieldType::Single: {
      const auto* k = std::get_if<float>(&c);
      return k && DecodeFloat(cell) == *k;
    }
    case FieldType::Currency: {
      const auto* k = std::get_if<Money>(&c);
      return k && ToSigned(cell) == k->Units();
    }
    case FieldType::Date: {
      const auto* k = std::get_if<DateTime>(&c);
      return k && DaysOf(cell) == k->DaySerial() && SecondsOf(cell) == k->SecondOfDay();
    }
    case FieldType::Char:
    case FieldType::VarChar: {
      const auto* k = std::get_if<std::string>(&c);
      if (!k) return false;
      std::string_view text = texts_[cell];
      if (types_[field] == FieldType::Char) text = WithoutTrailingBlanks(text);
      return TextEqualsNoCase(text, *k);
    }
  }
  return false;
}

RowStore::SortCell RowStore::KeyOf(RowId row, int field) const {
  const std::uint64_t* w = RowPtr(row);
  SortCell key;
  if (!Present(w, field)) return key;
  key.null = false;
  const std::uint64_t cell = w[field];
  switch (types_[field]) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Currency:
      key.whole = ToSigned(cell);
      break;
    case FieldType::Date:
      key.whole = std::int64_t{DaysOf(cell)} * 86400 + SecondsOf(cell);
      break;
    case FieldType::Single:
      key.real = DecodeFloat(cell);
      break;
    case FieldType::Double:
      key.real = std::bit_cast<double>(cell);
      break;
    case FieldType::Char:
      key.text = WithoutTrailingBlanks(texts_[cell]);
      break;
    case FieldType::VarChar:
      key.text = texts_[cell];
      break;
  }
  return key;
}

void RowStore::ReleaseBackupTexts(const std::uint64_t* row,
                                  const std::vector<std::uint64_t>& backup) {
  for (int f = 0; f < fieldCount_; ++f) {
    if (!IsTextField(f) || !Present(backup.data(), f)) continue;
    if (!Present(row, f) || row[f] != backup[f]) FreeText(backup[f]);
  }
}

void RowStore::Commit(RowId row) {
  std::uint8_t& flags = flags_[row];
  if ((flags & (kPendingAdd | kPendingChange)) == 0) return;
  if ((flags & kPendingChange) != 0) {
    auto it = backups_.find(row);
    ReleaseBackupTexts(RowPtr(row), it->second);
    backups_.erase(it);
  }
  flags &= static_cast<std::uint8_t>(~(kPendingAdd | kPendingChange));
  --pending_;
}

void RowStore::CancelChange(RowId row) {
  std::uint8_t& flags = flags_[row];
  if ((flags & kPendingChange) == 0) return;
  auto it = backups_.find(row);
  std::uint64_t* w = RowPtr(row);
  const std::vector<std::uint64_t>& backup = it->second;
  for (int f = 0; f < fieldCount_; ++f) {
    if (!IsTextField(f) || !Present(w, f)) continue;
    if (!Present(backup.data(), f) || backup[f] != w[f]) FreeText(w[f]);
  }
  std::memcpy(w, backup.data(), stride_ * sizeof(std::uint64_t));
  backups_.erase(it);
  flags &= static_cast<std::uint8_t>(~kPendingChange);
  --pending_;
}

void RowStore::Remove(RowId row) {
  std::uint8_t& flags = flags_[row];
  if ((flags & kDeleted) != 0) return;
  std::uint64_t* w = RowPtr(row);
  if ((flags & kPendingChange) != 0) {
    auto it = backups_.find(row);
    ReleaseBackupTexts(w, it->second);
    backups_.erase(it);
  }
  for (int f = 0; f < fieldCount_; ++f) {
    if (IsTextField(f) && Present(w, f)) FreeText(w[f]);
  }
  std::memset(w, 0, stride_ * sizeof(std::uint64_t));
  if ((flags & (kPendingAdd | kPendingChange)) != 0) --pending_;
  flags = kDeleted;
  ++tombstones_;
}

std::vector<RowStore::RowId> RowStore::Compact() {
  std::vector<RowId> newId(flags_.size(), kNoRow);
  if (tombstones_ == 0) {
    for (std::size_t i = 0; i < newId.size(); ++i) newId[i] = static_cast<RowId>(i);
    return newId;
  }
  std::vector<Chunk> oldChunks = std::move(chunks_);
  std::vector<std::uint8_t> oldFlags = std::move(flags_);
  chunks_.clear();
  capacity_ = 0;
  flags_.clear();
  flags_.reserve(oldFlags.size() - tombstones_);
  std::unordered_map<RowId, std::vector<std::uint64_t>> oldBackups = std::move(backups_);
  backups_.clear();
  for (std::size_t i = 0; i < oldFlags.size(); ++i) {
    if ((oldFlags[i] & kDeleted) != 0) continue;
    auto row = static_cast<RowId>(flags_.size());
    if (row == capacity_) AddChunk();
    const std::uint64_t* from = Locate(oldChunks, stride_, static_cast<RowId>(i));
    std::memcpy(RowPtr(row), from, stride_ * sizeof(std::uint64_t));
    flags_.push_back(oldFlags[i]);
    newId[i] = row;
    if ((oldFlags[i] & kPendingChange) != 0) {
      backups_[row] = std::move(oldBackups.at(static_cast<RowId>(i)));
    }
  }
  tombstones_ = 0;
  return newId;
}

}  // namespace harnolfees::detail
