#include "harnolfees/recordset.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>

#include "catalogue/field_value.hpp"
#include "catalogue/row_store.hpp"

namespace harnolfees {

namespace {

using detail::CompareTextNoCase;
using detail::WithoutTrailingBlanks;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

struct Clause {
  int field = 0;
  Value constant;
};

struct SortKey {
  int field = 0;
  bool descending = false;
};

}  // namespace

std::uint64_t RecordSet::NameHash(std::string_view name) noexcept {
  // Eight characters at a time; setting bit 5 of every byte folds the letter
  // case of letters, and a collision that it causes for other characters is
  // settled by comparing the names.
  constexpr std::uint64_t kFold = 0x2020202020202020ull;
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t hash = name.size() * kMul;
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, name.data() + i, 8);
    hash = (hash ^ (chunk | kFold)) * kMul;
    hash ^= hash >> 29;
  }
  if (i < name.size()) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, name.data() + i, name.size() - i);
    hash = (hash ^ (chunk | kFold)) * kMul;
    hash ^= hash >> 29;
  }
  return hash;
}

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         (std::memcmp(a.data(), b.data(), a.size()) == 0 || detail::TextEqualsNoCase(a, b));
}

}  // namespace

struct RecordSet::Impl {
  using RowId = detail::RowStore::RowId;
  static constexpr std::ptrdiff_t kBeforeFirst = -1;

  // Rows in insertion order; deleted rows stay as tombstones until MoveFirst,
  // Filter or Sort drops them, so that the cursor and the view stay valid
  // while a caller deletes as it walks.
  detail::RowStore store;
  // The visiting order: the visible rows.
  std::vector<RowId> view;
  std::size_t visibleLive = 0;
  std::ptrdiff_t pos = kBeforeFirst;

  std::vector<Clause> filter;
  std::vector<SortKey> sort;
  // The record set was emptied while a sort was in force: the records added
  // since (a load's) are ordered by it at the next MoveFirst. Records added
  // to a sorted set that was not emptied keep their places until the sort is
  // set again, so that the n-th record stays the one a grid row shows.
  bool unsorted = false;

  bool AtRecord() const { return pos >= 0 && static_cast<std::size_t>(pos) < view.size(); }
  bool OnLiveRecord() const { return AtRecord() && !store.Deleted(view[pos]); }
  RowId Current() const { return view[static_cast<std::size_t>(pos)]; }

  void Reset(const std::vector<FieldDef>& fields) {
    store.Reset(fields);
    view.clear();
    visibleLive = 0;
    pos = kBeforeFirst;
  }

  void Clear() {
    store.Clear();
    view.clear();
    visibleLive = 0;
    pos = kBeforeFirst;
    unsorted = !sort.empty();
  }

  void Remove(RowId row) {
    if (store.InView(row)) --visibleLive;
    store.Remove(row);
  }

  // Drops the tombstones; the relative order of the live rows, in storage and
  // in the view, is unchanged. Only called where the cursor is reset.
  void Compact() {
    if (store.Tombstones() == 0) return;
    std::vector<RowId> newId = store.Compact();
    std::vector<RowId> newView;
    newView.reserve(visibleLive);
    for (RowId old : view) {
      if (newId[old] != detail::RowStore::kNoRow) newView.push_back(newId[old]);
    }
    view = std::move(newView);
  }

  bool Matches(RowId row) const {
    for (const Clause& c : filter) {
      if (!store.Equals(row, c.field, c.constant)) return false;
    }
    return true;
  }

  // Orders the rows by the sort keys, keeping insertion order among equals.
  // Keys are copied into compact columns first so that the comparisons do not
  // chase each row's storage.
  void SortRows(std::vector<RowId>& rows) const { SortRows(rows, sort); }
  void SortRows(std::vector<RowId>& rows, const std::vector<SortKey>& keys) const {
    if (keys.empty() || rows.size() < 2) return;
    using Cell = detail::RowStore::SortCell;
    const std::size_t n = rows.size();
    std::vector<std::vector<Cell>> columns(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
      columns[k].reserve(n);
      for (RowId row : rows) columns[k].push_back(store.KeyOf(row, keys[k].field));
    }
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    // The cells of one column share a type, so the parts that type leaves at
    // zero compare equal and the comparison falls through to the right part.
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      for (std::size_t k = 0; k < keys.size(); ++k) {
        const Cell& x = columns[k][a];
        const Cell& y = columns[k][b];
        int c = 0;
        if (x.null || y.null) {
          c = x.null == y.null ? 0 : (x.null ? -1 : 1);
        } else if (x.whole != y.whole) {
          c = x.whole < y.whole ? -1 : 1;
        } else if (x.real != y.real) {
          c = x.real < y.real ? -1 : 1;
        } else {
          c = CompareTextNoCase(x.text, y.text);
        }
        if (c != 0) return keys[k].descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<RowId> sorted(n);
    for (std::size_t i = 0; i < n; ++i) sorted[i] = rows[order[i]];
    rows = std::move(sorted);
  }

  // Applies the filter and the sort afresh and moves to the first record.
  void Recompute() {
    Compact();
    view.clear();
    for (std::size_t i = 0; i < store.Size(); ++i) {
      auto row = static_cast<RowId>(i);
      bool visible = Matches(row);
      store.SetInView(row, visible);
      if (visible) view.push_back(row);
    }
    SortRows(view);
    unsorted = false;
    visibleLive = view.size();
    pos = 0;
  }
};

RecordSet::RecordSet(std::string name) : name_(std::move(name)), impl_(std::make_unique<Impl>()) {}
RecordSet::~RecordSet() = default;

namespace {

std::string InRecordSet(const std::string& name) { return "record set " + name; }

}  // namespace

void RecordSet::AppendField(std::string name, FieldType type, int size, int attributes) {
  if (open_) {
    throw ControlError(
        errc::kOperationNotAllowed,
        "Field '" + name + "' cannot be declared while " + InRecordSet(name_) + " is open");
  }
  if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameChar)) {
    throw ControlError(errc::kInvalidProcedureCall,
                       "'" + name + "' is not a valid field name for " + InRecordSet(name_));
  }
  if (FindFieldIndex(name) >= 0) {
    throw ControlError(errc::kInvalidProcedureCall,
                       "Field '" + name + "' is already declared in " + InRecordSet(name_));
  }
  if ((type == FieldType::Char || type == FieldType::VarChar) && size <= 0) {
    throw ControlError(
        errc::kInvalidPropertyValue,
        "Text field '" + name + "' needs a declared size above 0 in " + InRecordSet(name_));
  }
  fields_.push_back(FieldDef{std::move(name), type, size, attributes});
  std::size_t tableSize = 8;
  while (tableSize < fields_.size() * 2) tableSize *= 2;
  nameSlots_.assign(tableSize, NameSlot{});
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    std::uint64_t hash = NameHash(fields_[f].name);
    std::size_t i = hash & (tableSize - 1);
    while (nameSlots_[i].field >= 0) i = (i + 1) & (tableSize - 1);
    nameSlots_[i] = NameSlot{hash, static_cast<int>(f)};
  }
}

int RecordSet::FindFieldIndex(std::string_view name) const {
  if (nameSlots_.empty()) return -1;
  const std::uint64_t hash = NameHash(name);
  const std::size_t mask = nameSlots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const NameSlot& slot = nameSlots_[i];
    if (slot.field < 0) return -1;
    if (slot.hash == hash && SameName(fields_[static_cast<std::size_t>(slot.field)].name, name)) {
      return slot.field;
    }
  }
}

int RecordSet::FieldIndex(std::string_view name) const {
  int index = FindFieldIndex(name);
  if (index < 0) {
    throw ControlError(errc::kItemNotFound, "Field '" + std::string(name) +
                                                "' is not declared in " + InRecordSet(name_));
  }
  return index;
}

namespace {

[[noreturn]] void ThrowClosed(const std::string& name) {
  throw ControlError(errc::kOperationNotAllowed,
                     "Operation is not allowed when " + InRecordSet(name) + " is closed");
}

}  // namespace

void RecordSet::Open() {
  if (open_) {
    throw ControlError(errc::kOperationNotAllowed,
                       "Operation is not allowed when " + InRecordSet(name_) + " is open");
  }
  if (fields_.empty()) {
    throw ControlError(errc::kOperationNotAllowed,
                       InRecordSet(name_) + " cannot be opened without declared fields");
  }
  impl_->Reset(fields_);
  open_ = true;
}

void RecordSet::Close() {
  if (!open_) ThrowClosed(name_);
  impl_->Reset(fields_);
  open_ = false;
}

long RecordSet::RecordCount() const {
  if (!open_) ThrowClosed(name_);
  return static_cast<long>(impl_->visibleLive);
}

bool RecordSet::IsBOF() const {
  if (!open_) ThrowClosed(name_);
  return impl_->visibleLive == 0 || impl_->pos < 0;
}

bool RecordSet::IsEOF() const {
  if (!open_) ThrowClosed(name_);
  return impl_->visibleLive == 0 ||
         (impl_->pos >= 0 && static_cast<std::size_t>(impl_->pos) >= impl_->view.size());
}

bool RecordSet::HasCurrentRecord() const { return open_ && impl_->OnLiveRecord(); }

void RecordSet::MoveFirst() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  // Dropping tombstones keeps the order of the live records, so the n-th
  // record from here is the one it was before.
  if (d.unsorted) {
    d.Compact();
    d.SortRows(d.view);
    d.unsorted = false;
  } else if (d.store.Tombstones() * 2 > d.store.Size()) {
    d.Compact();
  }
  d.pos = 0;
  while (d.AtRecord() && d.store.Deleted(d.Current())) ++d.pos;
}

void RecordSet::MoveNext() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (d.pos >= 0 && static_cast<std::size_t>(d.pos) >= d.view.size()) {
    throw ControlError(errc::kNoCurrentRecord, "Cannot move past the last record of " +
                                                   InRecordSet(name_) + ": EOF is already True");
  }
  ++d.pos;
  while (d.AtRecord() && d.store.Deleted(d.Current())) ++d.pos;
}

void RecordSet::AddNew() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  Impl::RowId row = d.store.Append();
  d.store.SetInView(row, true);
  d.view.push_back(row);
  ++d.visibleLive;
  d.pos = static_cast<std::ptrdiff_t>(d.view.size()) - 1;
}

namespace {

[[noreturn]] void ThrowNoCurrent(const std::string& name, std::string_view action) {
  throw ControlError(errc::kNoCurrentRecord,
                     std::string(action) + ": " + InRecordSet(name) +
                         " has no current record (BOF or EOF is True, or the record was deleted)");
}

}  // namespace

void RecordSet::Update() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (!d.OnLiveRecord()) ThrowNoCurrent(name_, "Update");
  d.store.Commit(d.Current());
}

void RecordSet::Delete() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (!d.OnLiveRecord()) ThrowNoCurrent(name_, "Delete");
  // The cursor stays on the deleted record so that MoveNext reaches the one
  // that followed it.
  d.Remove(d.Current());
}

void RecordSet::Clear() {
  if (!open_) ThrowClosed(name_);
  impl_->Clear();
}

Value RecordSet::GetValue(int fieldIndex) const {
  if (!open_) ThrowClosed(name_);
  if (fieldIndex < 0 || static_cast<std::size_t>(fieldIndex) >= fields_.size()) {
    throw ControlError(errc::kItemNotFound, "Field number " + std::to_string(fieldIndex) +
                                                " is not declared in " + InRecordSet(name_));
  }
  const Impl& d = *impl_;
  if (!d.OnLiveRecord()) {
    ThrowNoCurrent(name_, "Reading field '" + fields_[fieldIndex].name + "'");
  }
  Value out;
  d.store.Read(d.Current(), fieldIndex, out);
  return out;
}

void RecordSet::SetValue(int fieldIndex, const Value& value) {
  if (!open_) ThrowClosed(name_);
  if (fieldIndex < 0 || static_cast<std::size_t>(fieldIndex) >= fields_.size()) {
    throw ControlError(errc::kItemNotFound, "Field number " + std::to_string(fieldIndex) +
                                                " is not declared in " + InRecordSet(name_));
  }
  Impl& d = *impl_;
  if (!d.OnLiveRecord()) {
    ThrowNoCurrent(name_, "Writing field '" + fields_[fieldIndex].name + "'");
  }
  // Convert before touching the record: a refused value leaves it as it was.
  Value converted = detail::ConvertForField(fields_[fieldIndex], value, name_);
  d.store.Write(d.Current(), fieldIndex, std::move(converted));
}

namespace {

bool HoldsText(FieldType type) { return type == FieldType::Char || type == FieldType::VarChar; }

}  // namespace

detail::LoadedValue detail::RecordSetLoader::Make(const RecordSet& rs, int field, Value value,
                                                  std::vector<std::string>& texts) {
  LoadedValue loaded;
  loaded.field = field;
  const FieldType type = rs.fields_[static_cast<std::size_t>(field)].type;
  if (value.IsNull()) {
    loaded.text = LoadedValue::kNull;
  } else if (HoldsText(type)) {
    loaded.text = static_cast<std::int32_t>(texts.size());
    texts.push_back(std::get<std::string>(std::move(value).storage()));
  } else {
    loaded.cell = detail::RowStore::Encode(type, value);
  }
  return loaded;
}

Value detail::RecordSetLoader::ValueOf(const RecordSet& rs, const LoadedValue& loaded,
                                       const std::vector<std::string>& texts) {
  if (loaded.text == LoadedValue::kNull) return Value();
  if (loaded.text >= 0) return Value(texts[static_cast<std::size_t>(loaded.text)]);
  return detail::RowStore::Decode(rs.fields_[static_cast<std::size_t>(loaded.field)].type,
                                  loaded.cell);
}

void detail::RecordSetLoader::Append(RecordSet& rs, std::span<const LoadedValue> values,
                                     std::vector<std::string>& texts, bool commit) {
  rs.AddNew();
  RecordSet::Impl& d = *rs.impl_;
  const RecordSet::Impl::RowId row = d.Current();
  std::uint64_t* cells = d.store.PendingRow(row);
  for (const LoadedValue& v : values) {
    if (v.text == LoadedValue::kCell) {
      d.store.WriteCell(cells, v.field, v.cell);
    } else if (v.text == LoadedValue::kNull) {
      d.store.Write(row, v.field, Value());
    } else {
      d.store.Write(row, v.field, Value(std::move(texts[static_cast<std::size_t>(v.text)])));
    }
  }
  if (commit) d.store.Commit(row);
}

namespace {

[[noreturn]] void ThrowBadCriteria(std::string_view criteria, const std::string& setName,
                                   std::string_view why) {
  throw ControlError(errc::kInvalidProcedureCall,
                     "The criteria \"" + std::string(criteria) + "\" are not valid for " +
                         InRecordSet(setName) + ": " + std::string(why));
}

void SkipBlanks(std::string_view text, std::size_t& i) {
  while (i < text.size() && IsBlank(text[i])) ++i;
}

std::vector<Clause> ParseCriteria(std::string_view criteria, const RecordSet& rs) {
  std::vector<Clause> clauses;
  std::size_t i = 0;
  const std::string_view text = criteria;
  for (;;) {
    SkipBlanks(text, i);
    std::string_view name;
    if (i < text.size() && text[i] == '[') {
      std::size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) ThrowBadCriteria(criteria, rs.Name(), "missing ']'");
      name = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      std::size_t start = i;
      while (i < text.size() && IsNameChar(text[i])) ++i;
      name = text.substr(start, i - start);
    }
    if (name.empty()) ThrowBadCriteria(criteria, rs.Name(), "a field name is expected");
    Clause clause;
    clause.field = rs.FieldIndex(name);
    SkipBlanks(text, i);
    if (i >= text.size() || text[i] != '=') {
      ThrowBadCriteria(criteria, rs.Name(), "'=' is expected after the field name");
    }
    ++i;
    SkipBlanks(text, i);
    Value literal;
    if (i < text.size() && text[i] == '\'') {
      std::string quoted;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == '\'') {
          if (i + 1 < text.size() && text[i + 1] == '\'') {
            quoted += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        quoted += text[i++];
      }
      if (!closed) ThrowBadCriteria(criteria, rs.Name(), "a quoted value is not closed");
      literal = Value(std::move(quoted));
    } else {
      std::size_t start = i;
      while (i < text.size() && !IsBlank(text[i])) ++i;
      std::string_view token = text.substr(start, i - start);
      std::optional<double> number = token.empty() ? std::nullopt : ParseNumber(token);
      if (!number) {
        ThrowBadCriteria(criteria, rs.Name(),
                         "a value must be a number or a text in single quotes");
      }
      literal = Value(*number);
    }
    clause.constant =
        detail::ConvertForComparison(rs.FieldDefs()[clause.field], literal, rs.Name());
    clauses.push_back(std::move(clause));
    SkipBlanks(text, i);
    if (i >= text.size()) break;
    if (text.size() - i > 3 && detail::TextEqualsNoCase(text.substr(i, 3), "and") &&
        IsBlank(text[i + 3])) {
      i += 3;
      continue;
    }
    ThrowBadCriteria(criteria, rs.Name(), "clauses must be joined by 'and'");
  }
  return clauses;
}

std::vector<SortKey> ParseSort(std::string_view text, const RecordSet& rs) {
  auto refuse = [&](const std::string& why) {
    throw ControlError(errc::kInvalidProcedureCall, "The sort order \"" + std::string(text) +
                                                        "\" is not valid for " +
                                                        InRecordSet(rs.Name()) + ": " + why);
  };
  std::vector<SortKey> keys;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string_view piece = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    std::vector<std::string_view> words;
    std::size_t i = 0;
    for (;;) {
      SkipBlanks(piece, i);
      if (i >= piece.size()) break;
      std::size_t wordStart = i;
      while (i < piece.size() && !IsBlank(piece[i])) ++i;
      words.push_back(piece.substr(wordStart, i - wordStart));
    }
    if (words.empty()) refuse("a field name is missing");
    SortKey key;
    key.field = rs.FieldIndex(words[0]);
    if (words.size() > 2) refuse("expected ASC or DESC after '" + std::string(words[0]) + "'");
    if (words.size() == 2) {
      if (detail::TextEqualsNoCase(words[1], "DESC")) {
        key.descending = true;
      } else if (!detail::TextEqualsNoCase(words[1], "ASC")) {
        refuse("expected ASC or DESC after '" + std::string(words[0]) + "'");
      }
    }
    keys.push_back(key);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return keys;
}

bool IsAllBlank(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

}  // namespace

void RecordSet::SetFilter(std::string_view criteria) {
  std::vector<Clause> clauses;
  if (!IsAllBlank(criteria)) clauses = ParseCriteria(criteria, *this);
  impl_->filter = std::move(clauses);
  filterText_ = IsAllBlank(criteria) ? std::string() : std::string(criteria);
  if (open_) impl_->Recompute();
}

void RecordSet::Find(std::string_view criteria, bool fromFirst) {
  if (!open_) ThrowClosed(name_);
  std::vector<Clause> clauses = ParseCriteria(criteria, *this);
  if (clauses.size() != 1) {
    ThrowBadCriteria(criteria, name_, "a search takes a single 'Field = value' clause");
  }
  Impl& d = *impl_;
  const Clause& c = clauses.front();
  std::size_t i = 0;
  if (!fromFirst && d.pos > 0) i = static_cast<std::size_t>(d.pos);
  for (; i < d.view.size(); ++i) {
    Impl::RowId row = d.view[i];
    if (!d.store.Deleted(row) && d.store.Equals(row, c.field, c.constant)) {
      d.pos = static_cast<std::ptrdiff_t>(i);
      return;
    }
  }
  d.pos = static_cast<std::ptrdiff_t>(d.view.size());
}

void RecordSet::SetSort(std::string_view sort) {
  std::vector<SortKey> keys;
  if (!IsAllBlank(sort)) keys = ParseSort(sort, *this);
  impl_->sort = std::move(keys);
  sortText_ = IsAllBlank(sort) ? std::string() : std::string(sort);
  if (open_) impl_->Recompute();
}

bool RecordSet::CancelPending() {
  if (!open_) return false;
  Impl& d = *impl_;
  if (d.store.PendingCount() == 0) return false;
  bool currentDiscarded = false;
  for (std::size_t i = 0; i < d.store.Size(); ++i) {
    auto row = static_cast<Impl::RowId>(i);
    if (d.store.PendingAdd(row)) {
      if (d.AtRecord() && d.Current() == row) currentDiscarded = true;
      d.Remove(row);
    } else if (d.store.PendingChange(row)) {
      d.store.CancelChange(row);
    }
  }
  if (currentDiscarded) d.pos = static_cast<std::ptrdiff_t>(d.view.size());
  return true;
}

bool RecordSet::HasPending() const { return open_ && impl_->store.PendingCount() > 0; }

void RecordSet::ForEachRecord(const std::function<void(const std::vector<Value>&)>& visit) const {
  if (!open_) return;
  const Impl& d = *impl_;
  std::vector<Impl::RowId> all;
  all.reserve(d.store.Size() - d.store.Tombstones());
  for (std::size_t i = 0; i < d.store.Size(); ++i) {
    auto row = static_cast<Impl::RowId>(i);
    if (!d.store.Deleted(row)) all.push_back(row);
  }
  d.SortRows(all);
  std::vector<Value> values(fields_.size());
  for (Impl::RowId row : all) {
    for (std::size_t f = 0; f < values.size(); ++f) {
      d.store.Read(row, static_cast<int>(f), values[f]);
    }
    visit(values);
  }
}

void RecordSet::ForEachVisible(const std::function<void(const std::vector<Value>&)>& visit,
                               std::string_view sort) const {
  if (!open_) return;
  const Impl& d = *impl_;
  std::vector<Impl::RowId> rows;
  if (IsAllBlank(sort)) {
    rows.reserve(d.visibleLive);
    for (Impl::RowId row : d.view) {
      if (!d.store.Deleted(row)) rows.push_back(row);
    }
  } else {
    const std::vector<SortKey> keys = ParseSort(sort, *this);
    for (std::size_t i = 0; i < d.store.Size(); ++i) {
      auto row = static_cast<Impl::RowId>(i);
      if (!d.store.Deleted(row) && d.Matches(row)) rows.push_back(row);
    }
    d.SortRows(rows, keys);
  }
  std::vector<Value> values(fields_.size());
  for (Impl::RowId row : rows) {
    for (std::size_t f = 0; f < values.size(); ++f) {
      d.store.Read(row, static_cast<int>(f), values[f]);
    }
    visit(values);
  }
}

Value FieldRef::value() const { return rs_->GetValue(index_); }
void FieldRef::setValue(const Value& v) const { rs_->SetValue(index_, v); }
const FieldDef& FieldRef::Def() const { return rs_->fields_.at(static_cast<std::size_t>(index_)); }

}  // namespace harnolfees
