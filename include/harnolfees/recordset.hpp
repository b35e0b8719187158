// An in-memory, disconnected record set: declared typed fields, a cursor, an
// optional filter and sort, and pending additions and changes that Update
// commits.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "harnolfees/runtime.hpp"

namespace harnolfees {

enum class FieldType { SmallInt, Integer, Single, Double, Currency, Date, Char, VarChar };

// The record-set component's own type names ("adSmallInt", ...), for messages.
const char* FieldTypeName(FieldType type);

inline constexpr int kFieldAttributeUnspecified = -1;
inline constexpr int kFieldAttributeUnknownUpdatable = 8;

struct FieldDef {
  std::string name;
  FieldType type;
  int size = 0;  // declared size of text fields
  int attributes = kFieldAttributeUnspecified;
};

class RecordSet;

namespace detail {
class RecordSetLoader;
}

// The proxy returned by Fields(name): rs.Fields("Term").value() and
// rs.Fields("Term").setValue(...).
class FieldRef {
 public:
  FieldRef(RecordSet& rs, int index) : rs_(&rs), index_(index) {}
  Value value() const;
  void setValue(const Value& v) const;
  const FieldDef& Def() const;
  int Index() const { return index_; }

 private:
  RecordSet* rs_;
  int index_;
};

class RecordSet {
 public:
  static constexpr int kStateClosed = 0;
  static constexpr int kStateOpen = 1;

  explicit RecordSet(std::string name);
  ~RecordSet();
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  const std::string& Name() const { return name_; }

  // Declares a field; only before Open.
  void AppendField(std::string name, FieldType type, int size = 0,
                   int attributes = kFieldAttributeUnspecified);
  const std::vector<FieldDef>& FieldDefs() const { return fields_; }
  // Precomputed, case-insensitive name lookup. -1 when not declared.
  int FindFieldIndex(std::string_view name) const;
  // As FindFieldIndex, but throws ControlError(kItemNotFound) naming the field
  // and the record set.
  int FieldIndex(std::string_view name) const;

  void Open();
  int State() const { return open_ ? kStateOpen : kStateClosed; }
  void Close();

  // While the record set is closed, the cursor, record and Clear operations
  // throw ControlError(kOperationNotAllowed); the declarations, Filter, Sort,
  // HasCurrentRecord, HasPending, CancelPending and ForEachRecord work and see
  // no records.

  // Records visible under the current filter.
  long RecordCount() const;
  // EOF is a C macro, so the cursor tests are IsBOF and IsEOF.
  bool IsBOF() const;
  bool IsEOF() const;
  // False at BOF or EOF and on a record just deleted.
  bool HasCurrentRecord() const;
  void MoveFirst();
  // Throws ControlError(kNoCurrentRecord) when EOF is already True.
  void MoveNext();

  void AddNew();
  void Update();
  // Removes the current record. The cursor stays where the record was, with
  // no current record, so that MoveNext reaches the record that followed it.
  void Delete();

  FieldRef Fields(std::string_view name) { return FieldRef(*this, FieldIndex(name)); }
  // Values are handed out as copies: the records are not stored as Values,
  // and a copy cannot change under its reader when the cursor moves.
  Value GetValue(int fieldIndex) const;
  // Converts the value to the field's type; throws ControlError naming the
  // value and the type when it does not convert.
  void SetValue(int fieldIndex, const Value& value);
  Value GetValue(std::string_view name) const { return GetValue(FieldIndex(name)); }
  void SetValue(std::string_view name, const Value& value) { SetValue(FieldIndex(name), value); }

  // Criteria: clauses joined by "and", each "Field = value" where value is a
  // number or a text between single quotes (a quote inside the text is
  // written twice); values are compared after conversion to the field's type.
  // Texts compare without regard to letter case, and adChar values without
  // their trailing blanks (they are stored unpadded). The empty text removes
  // the filter. The filter and the sort order are applied when they are set;
  // records added afterwards join the end of the visiting order and changed
  // records keep their place until Filter or Sort is set again, so that the
  // n-th record from MoveFirst stays the same record between two settings.
  void SetFilter(std::string_view criteria);
  const std::string& Filter() const { return filterText_; }

  // Moves to the first visible record matching "Field = value", from the
  // current record (or from the first record when fromFirst), or to EOF.
  void Find(std::string_view criteria, bool fromFirst = false);

  // "Field [ASC|DESC], Field [ASC|DESC], ..."; the empty text removes it.
  void SetSort(std::string_view sort);
  const std::string& Sort() const { return sortText_; }

  // Discards every pending addition and change, restoring committed values.
  // Returns whether anything was pending. The cursor moves to BOF/EOF when its
  // record is discarded.
  bool CancelPending();
  bool HasPending() const;

  // Deletes every record, pending ones and those hidden by the filter included;
  // the filter and the sort stay. Leaves BOF and EOF True.
  void Clear();

  // Visits every record, pending ones included, in the sort order (insertion
  // order when no sort is set) with no filter applied. Changes no cursor,
  // filter or sort; the visitor must not change the record set.
  void ForEachRecord(const std::function<void(const std::vector<Value>&)>& visit) const;
  // Visits the records that MoveFirst and MoveNext visit, in their order and
  // under the filter; with a sort, in the order SetSort(sort) would give them.
  // Changes no cursor, filter or sort; the visitor must not change the record
  // set. A sort naming no field of the set throws as SetSort does.
  void ForEachVisible(const std::function<void(const std::vector<Value>&)>& visit,
                      std::string_view sort = {}) const;

 private:
  friend class FieldRef;
  friend class detail::RecordSetLoader;
  std::string name_;
  std::vector<FieldDef> fields_;
  // Case-blind field lookup without lower-casing the name looked up: open
  // addressing over a power-of-two table of (hash, field) pairs, rebuilt when
  // a field is declared.
  static std::uint64_t NameHash(std::string_view name) noexcept;
  struct NameSlot {
    std::uint64_t hash = 0;
    int field = -1;
  };
  std::vector<NameSlot> nameSlots_;
  bool open_ = false;
  std::string filterText_;
  std::string sortText_;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace harnolfees
