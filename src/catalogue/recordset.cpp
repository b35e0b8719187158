#include "harnolfees/recordset.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include "catalogue/field_value.hpp"

namespace harnolfees {

namespace {

using detail::CompareTextNoCase;
using detail::WithoutTrailingBlanks;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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

std::size_t RecordSet::NameHash::operator()(std::string_view name) const noexcept {
  std::size_t hash = 14695981039346656037ull;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 1099511628211ull;
  }
  return hash;
}

bool RecordSet::NameEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  return detail::TextEqualsNoCase(a, b);
}

struct RecordSet::Impl {
  struct Record {
    std::vector<Value> values;
    std::vector<Value> committed;  // the values before a pending change
    bool deleted = false;
    bool pendingAdd = false;
    bool pendingChange = false;
    bool inView = false;
  };

  static constexpr std::ptrdiff_t kBeforeFirst = -1;

  // Insertion order; deleted records stay as tombstones until the next
  // MoveFirst, Filter or Sort so that the cursor and the view stay valid while
  // a caller deletes as it walks.
  std::vector<Record> records;
  std::size_t tombstones = 0;
  std::size_t pending = 0;
  // The visiting order: indexes into records of the visible ones.
  std::vector<std::uint32_t> view;
  std::size_t visibleLive = 0;
  std::ptrdiff_t pos = kBeforeFirst;

  std::vector<Clause> filter;
  std::vector<SortKey> sort;

  bool AtRecord() const { return pos >= 0 && static_cast<std::size_t>(pos) < view.size(); }
  bool OnLiveRecord() const { return AtRecord() && !records[view[pos]].deleted; }

  void Reset() {
    records.clear();
    view.clear();
    tombstones = 0;
    pending = 0;
    visibleLive = 0;
    pos = kBeforeFirst;
  }

  void Remove(Record& r) {
    if (r.pendingAdd || r.pendingChange) --pending;
    if (r.inView) --visibleLive;
    r.deleted = true;
    r.pendingAdd = r.pendingChange = false;
    r.inView = false;
    r.values.clear();
    r.values.shrink_to_fit();
    r.committed.clear();
    r.committed.shrink_to_fit();
    ++tombstones;
  }

  // Drops the tombstones; the relative order of the live records, in storage
  // and in the view, is unchanged. Only called where the cursor is reset.
  void Compact() {
    if (tombstones == 0) return;
    std::vector<std::uint32_t> newIndex(records.size(), std::numeric_limits<std::uint32_t>::max());
    std::vector<Record> kept;
    kept.reserve(records.size() - tombstones);
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].deleted) continue;
      newIndex[i] = static_cast<std::uint32_t>(kept.size());
      kept.push_back(std::move(records[i]));
    }
    records = std::move(kept);
    std::vector<std::uint32_t> newView;
    newView.reserve(visibleLive);
    for (std::uint32_t old : view) {
      if (newIndex[old] != std::numeric_limits<std::uint32_t>::max()) {
        newView.push_back(newIndex[old]);
      }
    }
    view = std::move(newView);
    tombstones = 0;
  }

  bool Matches(const std::vector<FieldDef>& fields, const Record& r) const {
    for (const Clause& c : filter) {
      if (!detail::FieldEquals(fields[c.field], r.values[c.field], c.constant)) return false;
    }
    return true;
  }

  // Orders the given record indexes by the sort keys, keeping insertion order
  // among equals. Keys are copied into compact columns first so that the
  // comparisons do not chase each record's storage.
  void SortIndexes(const std::vector<FieldDef>& fields, std::vector<std::uint32_t>& indexes) const {
    if (sort.empty() || indexes.size() < 2) return;
    struct Cell {
      bool null = true;
      std::int64_t whole = 0;
      double real = 0;
      std::string_view text;
    };
    enum class Kind { Whole, Real, Text };
    const std::size_t n = indexes.size();
    std::vector<std::vector<Cell>> columns(sort.size(), std::vector<Cell>(n));
    std::vector<Kind> kinds(sort.size());
    for (std::size_t k = 0; k < sort.size(); ++k) {
      const FieldDef& def = fields[sort[k].field];
      switch (def.type) {
        case FieldType::Single:
        case FieldType::Double:
          kinds[k] = Kind::Real;
          break;
        case FieldType::Char:
        case FieldType::VarChar:
          kinds[k] = Kind::Text;
          break;
        default:
          kinds[k] = Kind::Whole;
      }
      for (std::size_t i = 0; i < n; ++i) {
        const Value& v = records[indexes[i]].values[sort[k].field];
        Cell& cell = columns[k][i];
        const auto& s = v.storage();
        cell.null = false;
        if (const auto* a = std::get_if<std::int16_t>(&s)) {
          cell.whole = *a;
        } else if (const auto* b = std::get_if<std::int32_t>(&s)) {
          cell.whole = *b;
        } else if (const auto* c = std::get_if<float>(&s)) {
          cell.real = *c;
        } else if (const auto* d = std::get_if<double>(&s)) {
          cell.real = *d;
        } else if (const auto* m = std::get_if<Money>(&s)) {
          cell.whole = m->Units();
        } else if (const auto* t = std::get_if<DateTime>(&s)) {
          cell.whole = std::int64_t{t->DaySerial()} * 86400 + t->SecondOfDay();
        } else if (const auto* x = std::get_if<std::string>(&s)) {
          cell.text = def.type == FieldType::Char ? WithoutTrailingBlanks(*x) : *x;
        } else {
          cell.null = true;
        }
      }
    }
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      for (std::size_t k = 0; k < sort.size(); ++k) {
        const Cell& x = columns[k][a];
        const Cell& y = columns[k][b];
        int c = 0;
        if (x.null || y.null) {
          c = x.null == y.null ? 0 : (x.null ? -1 : 1);
        } else if (kinds[k] == Kind::Whole) {
          c = x.whole == y.whole ? 0 : (x.whole < y.whole ? -1 : 1);
        } else if (kinds[k] == Kind::Real) {
          c = x.real == y.real ? 0 : (x.real < y.real ? -1 : 1);
        } else {
          c = CompareTextNoCase(x.text, y.text);
        }
        if (c != 0) return sort[k].descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<std::uint32_t> sorted(n);
    for (std::size_t i = 0; i < n; ++i) sorted[i] = indexes[order[i]];
    indexes = std::move(sorted);
  }

  // Applies the filter and the sort afresh and moves to the first record.
  void Recompute(const std::vector<FieldDef>& fields) {
    Compact();
    view.clear();
    for (std::size_t i = 0; i < records.size(); ++i) {
      Record& r = records[i];
      r.inView = Matches(fields, r);
      if (r.inView) view.push_back(static_cast<std::uint32_t>(i));
    }
    SortIndexes(fields, view);
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
  int index = static_cast<int>(fields_.size());
  fields_.push_back(FieldDef{name, type, size, attributes});
  fieldIndex_.emplace(std::move(name), index);
}

int RecordSet::FindFieldIndex(std::string_view name) const {
  auto it = fieldIndex_.find(name);
  return it == fieldIndex_.end() ? -1 : it->second;
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
  impl_->Reset();
  open_ = true;
}

void RecordSet::Close() {
  if (!open_) ThrowClosed(name_);
  impl_->Reset();
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
  if (d.tombstones * 2 > d.records.size()) d.Compact();
  d.pos = 0;
  while (d.AtRecord() && d.records[d.view[d.pos]].deleted) ++d.pos;
}

void RecordSet::MoveNext() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (d.pos >= 0 && static_cast<std::size_t>(d.pos) >= d.view.size()) {
    throw ControlError(errc::kNoCurrentRecord, "Cannot move past the last record of " +
                                                   InRecordSet(name_) + ": EOF is already True");
  }
  ++d.pos;
  while (d.AtRecord() && d.records[d.view[d.pos]].deleted) ++d.pos;
}

void RecordSet::AddNew() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (d.records.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
    throw ControlError(errc::kOperationNotAllowed, InRecordSet(name_) + " is full");
  }
  Impl::Record r;
  r.values.resize(fields_.size());
  r.pendingAdd = true;
  r.inView = true;
  d.records.push_back(std::move(r));
  d.view.push_back(static_cast<std::uint32_t>(d.records.size() - 1));
  ++d.visibleLive;
  ++d.pending;
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
  Impl::Record& r = d.records[d.view[d.pos]];
  if (r.pendingAdd || r.pendingChange) {
    --d.pending;
    r.pendingAdd = r.pendingChange = false;
    r.committed.clear();
    r.committed.shrink_to_fit();
  }
}

void RecordSet::Delete() {
  if (!open_) ThrowClosed(name_);
  Impl& d = *impl_;
  if (!d.OnLiveRecord()) ThrowNoCurrent(name_, "Delete");
  // The cursor stays on the deleted record so that MoveNext reaches the one
  // that followed it.
  d.Remove(d.records[d.view[d.pos]]);
}

void RecordSet::Clear() {
  if (!open_) ThrowClosed(name_);
  impl_->Reset();
}

const Value& RecordSet::GetValue(int fieldIndex) const {
  if (!open_) ThrowClosed(name_);
  if (fieldIndex < 0 || static_cast<std::size_t>(fieldIndex) >= fields_.size()) {
    throw ControlError(errc::kItemNotFound, "Field number " + std::to_string(fieldIndex) +
                                                " is not declared in " + InRecordSet(name_));
  }
  const Impl& d = *impl_;
  if (!d.OnLiveRecord()) {
    ThrowNoCurrent(name_, "Reading field '" + fields_[fieldIndex].name + "'");
  }
  return d.records[d.view[d.pos]].values[fieldIndex];
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
  Impl::Record& r = d.records[d.view[d.pos]];
  if (!r.pendingAdd && !r.pendingChange) {
    r.committed = r.values;
    r.pendingChange = true;
    ++d.pending;
  }
  r.values[fieldIndex] = std::move(converted);
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
  if (open_) impl_->Recompute(fields_);
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
    const Impl::Record& r = d.records[d.view[i]];
    if (!r.deleted && detail::FieldEquals(fields_[c.field], r.values[c.field], c.constant)) {
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
  if (open_) impl_->Recompute(fields_);
}

bool RecordSet::CancelPending() {
  if (!open_) return false;
  Impl& d = *impl_;
  if (d.pending == 0) return false;
  bool currentDiscarded = false;
  for (std::size_t i = 0; i < d.records.size(); ++i) {
    Impl::Record& r = d.records[i];
    if (r.pendingAdd) {
      if (d.AtRecord() && d.view[d.pos] == i) currentDiscarded = true;
      d.Remove(r);
    } else if (r.pendingChange) {
      r.values = std::move(r.committed);
      r.committed.clear();
      r.pendingChange = false;
      --d.pending;
    }
  }
  if (currentDiscarded) d.pos = static_cast<std::ptrdiff_t>(d.view.size());
  return true;
}

bool RecordSet::HasPending() const { return open_ && impl_->pending > 0; }

void RecordSet::ForEachRecord(const std::function<void(const std::vector<Value>&)>& visit) const {
  if (!open_) return;
  const Impl& d = *impl_;
  std::vector<std::uint32_t> all;
  all.reserve(d.records.size() - d.tombstones);
  for (std::size_t i = 0; i < d.records.size(); ++i) {
    if (!d.records[i].deleted) all.push_back(static_cast<std::uint32_t>(i));
  }
  d.SortIndexes(fields_, all);
  for (std::uint32_t i : all) visit(d.records[i].values);
}

const Value& FieldRef::value() const { return rs_->GetValue(index_); }
void FieldRef::setValue(const Value& v) const { rs_->SetValue(index_, v); }
const FieldDef& FieldRef::Def() const { return rs_->fields_.at(static_cast<std::size_t>(index_)); }

}  // namespace harnolfees
