// The fast reader of the load document: the document is checked, parsed and
// digested a batch at a time as it arrives, the digests applied in document
// order. reference_reader.cpp states the same rules plainly.
#include "loading/load_reader.hpp"

#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/fee_kind.hpp"
#include "catalogue/field_value.hpp"
#include "catalogue/row_store.hpp"
#include "harnolfees/control.hpp"
#include "loading/load_document.hpp"
#include "runtime/decimal_text.hpp"

namespace harnolfees {

namespace loading {

std::string Quoted(std::string_view text) {
  constexpr std::size_t kShown = 60;
  if (text.size() <= kShown) return "'" + std::string(text) + "'";
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return "'" + std::string(text.substr(0, cut)) + "...' (" + std::to_string(text.size()) +
         " bytes)";
}

std::int32_t AccessLevelIdentifier(std::string_view idText, std::string_view description,
                                   const RegionalSettings& regional) {
  const std::optional<double> id = ParseNumber(idText, regional);
  if (!id) {
    throw ControlError(errc::kTypeMismatch, "Type mismatch: the identifier " + Quoted(idText) +
                                                " of access level " + Quoted(description) +
                                                " is not a number");
  }
  try {
    return RoundToInt32(*id);
  } catch (const ControlError&) {
    throw ControlError(errc::kOverflow, "Overflow: the identifier " + Quoted(idText) +
                                            " of access level " + Quoted(description) +
                                            " is beyond the range of an identifier");
  }
}

}  // namespace loading

namespace {

using loading::Quoted;

std::string_view TrimXmlSpace(std::string_view text) {
  auto space = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// ---- The document's canonical forms, typed on the spot ----
//
// The server writes dates as yyyy-mm-ddThh:mm:ss, numbers as plain decimals
// and integers as plain digits. Such a text is turned into the field's type
// here, giving exactly the value that the record set's own conversion gives
// it, only without the general parse that a large schedule would otherwise
// run hundreds of thousands of times. Every other text goes to the record
// set as text, to be converted or refused there.

// Whether text[at] is a digit, for a place known to be inside the text.
bool DigitAt(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at] - '0') <= 9;
}

int TwoDigits(std::string_view text, std::size_t at) {
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// The months of the dates read so far, one place for each month of the
// year, by their "yyyy-mm-" bytes: a schedule's dates crowd into few months,
// and the day count of a month's first day is the costly part of a date.
struct MonthMemo {
  struct Month {
    std::uint64_t key = 0;  // no date's bytes are all zero
    std::int32_t firstDay = 0;
    int days = 0;
  };
  Month months[12];
};

// A date's day count and second of the day.
struct DatePlace {
  std::int32_t day = 0, second = 0;
};

std::optional<DatePlace> CanonicalDate(std::string_view t, MonthMemo& memo) {
  if (t.size() != 10 && t.size() != 19) return std::nullopt;
  if (!DigitAt(t, 0) || !DigitAt(t, 1) || !DigitAt(t, 2) || !DigitAt(t, 3) || t[4] != '-' ||
      !DigitAt(t, 5) || !DigitAt(t, 6) || t[7] != '-' || !DigitAt(t, 8) || !DigitAt(t, 9)) {
    return std::nullopt;
  }
  int hour = 0, minute = 0, second = 0;
  if (t.size() == 19) {
    if (t[10] != 'T' || !DigitAt(t, 11) || !DigitAt(t, 12) || t[13] != ':' || !DigitAt(t, 14) ||
        !DigitAt(t, 15) || t[16] != ':' || !DigitAt(t, 17) || !DigitAt(t, 18)) {
      return std::nullopt;
    }
    hour = TwoDigits(t, 11);
    minute = TwoDigits(t, 14);
    second = TwoDigits(t, 17);
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  const int month = TwoDigits(t, 5);
  if (month < 1 || month > 12) return std::nullopt;
  std::uint64_t key;
  std::memcpy(&key, t.data(), sizeof key);
  MonthMemo::Month& m = memo.months[month - 1];
  if (key != m.key) {
    const int year = TwoDigits(t, 0) * 100 + TwoDigits(t, 2);
    const std::optional<DateTime> first = DateTime::TryFromParts(year, month, 1);
    if (!first) return std::nullopt;
    m = {key, first->DaySerial(), DateTime::DaysInMonth(year, month)};
  }
  const int day = TwoDigits(t, 8);
  if (day < 1 || day > m.days) return std::nullopt;
  return DatePlace{m.firstDay + day - 1, hour * 3600 + minute * 60 + second};
}

// "[-]digits[.digits]" with at most `maxDecimals` decimals and 15 digits in
// all; the sign, the digits and the decimals' count are reported.
struct PlainDecimal {
  bool negative = false;
  std::int64_t digits = 0;  // all digits, the decimals included
  int decimals = 0;
};

std::optional<PlainDecimal> ReadPlainDecimal(std::string_view t, int maxDecimals) {
  PlainDecimal d;
  const char* p = t.data();
  const char* const end = p + t.size();
  if (p != end && *p == '-') {
    d.negative = true;
    ++p;
  }
  // The digits are gathered unsigned, so that a text of too many digits
  // only wraps before it is refused.
  std::uint64_t digits = 0;
  const char* const integerStart = p;
  while (p != end && static_cast<unsigned char>(*p - '0') <= 9) digits = digits * 10 + (*p++ - '0');
  const auto integerDigits = static_cast<std::size_t>(p - integerStart);
  std::size_t decimals = 0;
  if (p != end && *p == '.') {
    const char* const fractionStart = ++p;
    while (p != end && static_cast<unsigned char>(*p - '0') <= 9) {
      digits = digits * 10 + (*p++ - '0');
    }
    decimals = static_cast<std::size_t>(p - fractionStart);
  }
  if (p != end || integerDigits + decimals == 0 || integerDigits + decimals > 15 ||
      decimals > static_cast<std::size_t>(maxDecimals)) {
    return std::nullopt;
  }
  d.digits = static_cast<std::int64_t>(digits);
  d.decimals = static_cast<int>(decimals);
  return d;
}

// The cell of a field from its text in the server's canonical form (a date
// yyyy-mm-ddThh:mm:ss, a plain decimal or whole number, a text that fits),
// made directly; false for any other text, which the record set's own
// conversion then reads or refuses.
bool CanonicalCell(const FieldDef& def, std::string_view text, std::vector<std::string>& texts,
                   MonthMemo& month, detail::LoadedValue& out) {
  using detail::RowStore;
  switch (def.type) {
    case FieldType::Date:
      if (std::optional<DatePlace> d = CanonicalDate(text, month)) {
        out.cell = RowStore::EncodeDate(d->day, d->second);
        return true;
      }
      return false;
    case FieldType::SmallInt:
    case FieldType::Integer:
      if (std::optional<PlainDecimal> d = ReadPlainDecimal(text, 0); d && d->digits < 1000000000) {
        const std::int64_t v = d->negative ? -d->digits : d->digits;
        if (def.type == FieldType::SmallInt && (v < -32768 || v > 32767)) return false;
        out.cell = RowStore::EncodeWhole(v);
        return true;
      }
      return false;
    case FieldType::Currency:
      if (std::optional<PlainDecimal> d = ReadPlainDecimal(text, 4)) {
        std::int64_t units = d->digits;
        for (int k = d->decimals; k < 4; ++k) units *= 10;
        out.cell = RowStore::EncodeWhole(d->negative ? -units : units);
        return true;
      }
      return false;
    case FieldType::Single:
    case FieldType::Double:
      // Correctly rounded, as the general number conversion is; fifteen
      // digits stay far inside the range of a Single.
      if (std::optional<PlainDecimal> d = ReadPlainDecimal(text, 15)) {
        // Fifteen digits and as many decimals are well inside the exact
        // conversion's bounds.
        double v =
            *detail::ShortDecimalToDouble(static_cast<std::uint64_t>(d->digits), -d->decimals);
        if (d->negative) v = -v;
        out.cell = def.type == FieldType::Single ? RowStore::EncodeSingle(static_cast<float>(v))
                                                 : RowStore::EncodeReal(v);
        return true;
      }
      return false;
    case FieldType::Char:
    case FieldType::VarChar:
      // No text has more characters than bytes.
      if (def.size <= 0 || text.size() <= static_cast<std::size_t>(def.size)) {
        out.text = static_cast<std::int32_t>(texts.size());
        texts.emplace_back(text);
        return true;
      }
      return false;
  }
  return false;
}

// Whether the name of an element of a parsed batch is `known`. Names are
// short, and the batch's zero padding lets the compare read as far as the
// known name reaches without first finding where the element's name ends.
bool SameName(const char* name, const std::string& known) {
  const std::size_t n = known.size() + 1;  // the terminating NUL included
  if (n > loading::kBatchPadding) return known == name;
  return loading::EqualBytes(name, known.c_str(), n);
}

}  // namespace

namespace {

// What one batch of the document's root children becomes off the UI thread:
// the values of its records, converted for their fields, and the texts of
// its lists, in document order. A fault
// stands where the reading of the document would have met it, so that what
// came before it is loaded as it would have been.
struct LoadDigest final : loading::LoadDocument::Digest {
  enum class Kind : std::uint8_t {
    kRecord,
    kTerms,
    kContractTypes,
    kCreditTypes,
    kAprTypes,
    kAccessLevel,
    kShowTravelOption,
    kHideTravelOption,
    kFault,
  };
  struct Item {
    Kind kind = Kind::kFault;
    bool faulted = false;  // a record's fault, met after its values
    int recordSet = 0;
    std::uint32_t firstCell = 0, cellCount = 0;  // a record's values
    std::uint32_t firstText = 0, textCount = 0;  // a list's texts
  };
  std::vector<Item> items;
  std::vector<detail::LoadedValue> cells;
  std::vector<std::string> texts;
  // The reading of a batch stops at its first fault, which belongs to the
  // last item.
  std::exception_ptr fault;
};

// Makes the digests. It only reads the record sets' field declarations,
// which stay as they are while a load runs, so two threads may use it at
// once.
class LoadDigester {
 public:
  explicit LoadDigester(const FeeRecordSets& sets) : sets_(sets) {}

  std::unique_ptr<loading::LoadDocument::Digest> operator()(pugi::xml_node first,
                                                            std::size_t bytes) const {
    auto digest = std::make_unique<LoadDigest>();
    // A value takes twenty bytes of the document or more ("<Term>1</Term>"
    // and the line around it), so the values rarely outgrow this.
    digest->cells.reserve(bytes / 20);
    Batch batch{*digest, {}, {}, {}, {}, {}};
    for (pugi::xml_node node = first; node; node = node.next_sibling()) {
      try {
        if (!DigestRootChild(batch, node)) break;
      } catch (...) {
        digest->items.push_back(LoadDigest::Item{});  // a fault of its own
        digest->fault = std::current_exception();
        break;
      }
    }
    return digest;
  }

 private:
  // The record-set field behind the k-th child of a record element, as last
  // seen: documents repeat their field order, so a name compare usually
  // replaces the field lookup.
  using FieldMemo = std::vector<std::pair<std::string, int>>;
  static constexpr std::size_t kMemoPositions = 32;

  struct Batch {
    LoadDigest& digest;
    std::string scratch;
    FieldMemo memos[kRecordSetCount + 1];
    std::vector<std::pair<int, int>> keys[kRecordSetCount + 1];
    bool keysKnown[kRecordSetCount + 1] = {};
    MonthMemo month;
  };

  using Kind = LoadDigest::Kind;

  // Returns false once the batch holds a fault: nothing after it is read.
  bool DigestRootChild(Batch& b, pugi::xml_node node) const {
    const char* name = node.name();
    // Most children are records; the first letter spares them the list names.
    switch (name[0]) {
      case 'T':
        // Record elements start with T too.
        if (name[1] == 'E' && std::strcmp(name, "TERM") == 0) return DigestTerms(b, node);
        break;
      case 'C':
        if (std::strcmp(name, "CTYPE") == 0)
          return DigestDescriptions(b, node, Kind::kContractTypes);
        break;
      case 'B':
        if (std::strcmp(name, "BVALUE") == 0)
          return DigestDescriptions(b, node, Kind::kCreditTypes);
        break;
      case 'A':
        if (std::strcmp(name, "APRTYPE") == 0) return DigestDescriptions(b, node, Kind::kAprTypes);
        if (std::strcmp(name, "ACCESSLEVEL") == 0) return DigestTerms(b, node, Kind::kAccessLevel);
        break;
      case 'S':
        if (std::strcmp(name, "SHOWTravelOption") == 0) return Mark(b, Kind::kShowTravelOption);
        break;
      case 'H':
        if (std::strcmp(name, "HIDETravelOption") == 0) return Mark(b, Kind::kHideTravelOption);
        break;
      default:
        break;
    }
    const double number = loading::RecordSetNumber(name);
    if (number < 1) return true;
    if (number > kRecordSetCount) {
      throw ControlError(errc::kSubscriptOutOfRange,
                         "Subscript out of range: the load document's element <" +
                             std::string(std::string_view(name).substr(0, 60)) +
                             "> names a record set beyond the last one (15)");
    }
    return DigestRecord(b, static_cast<int>(number), node);
  }

  static bool Mark(Batch& b, Kind kind) {
    LoadDigest::Item item;
    item.kind = kind;
    b.digest.items.push_back(std::move(item));
    return true;
  }

  static LoadDigest::Item& StartList(Batch& b, Kind kind) {
    LoadDigest::Item item;
    item.kind = kind;
    item.firstText = static_cast<std::uint32_t>(b.digest.texts.size());
    b.digest.items.push_back(std::move(item));
    return b.digest.items.back();
  }

  // Every part of the element is one item of the list.
  static bool DigestTerms(Batch& b, pugi::xml_node node, Kind kind = Kind::kTerms) {
    LoadDigest::Item& item = StartList(b, kind);
    loading::ForEachPartText(node, b.scratch,
                             [&](std::string_view text) { b.digest.texts.emplace_back(text); });
    item.textCount = static_cast<std::uint32_t>(b.digest.texts.size()) - item.firstText;
    return true;
  }

  // Only the texts of Description children become items; an identifier
  // child is there for the server's own use, the position being the key.
  static bool DigestDescriptions(Batch& b, pugi::xml_node node, Kind kind) {
    LoadDigest::Item& item = StartList(b, kind);
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (std::strcmp(child.name(), "Description") != 0) continue;
      loading::ForEachPartText(child, b.scratch,
                               [&](std::string_view text) { b.digest.texts.emplace_back(text); });
    }
    item.textCount = static_cast<std::uint32_t>(b.digest.texts.size()) - item.firstText;
    return true;
  }

  static int FieldIndex(const RecordSet& rs, FieldMemo& memo, std::size_t position,
                        const char* name) {
    if (position < memo.size() && SameName(name, memo[position].first)) {
      return memo[position].second;
    }
    const int index = rs.FieldIndex(name);  // an undeclared field is an error
    if (position < kMemoPositions) {
      if (memo.size() <= position) memo.resize(position + 1);
      memo[position] = {name, index};
    }
    return index;
  }

  bool DigestRecord(Batch& b, int n, pugi::xml_node element) const {
    const RecordSet& rs = sets_(n);
    const std::vector<FieldDef>& defs = rs.FieldDefs();
    FieldMemo& memo = b.memos[n];
    LoadDigest& d = b.digest;
    LoadDigest::Item item;
    item.kind = Kind::kRecord;
    item.recordSet = n;
    item.firstCell = static_cast<std::uint32_t>(d.cells.size());
    try {
      std::size_t position = 0;
      for (pugi::xml_node field = element.first_child(); field;
           field = field.next_sibling(), ++position) {
        // Text between the fields has no name and gives no value.
        const char* name = field.name();
        if (*name == '\0') continue;
        auto part = [&](std::string_view raw) {
          // A document written with line breaks around its values still
          // holds the values themselves.
          const std::string_view text = TrimXmlSpace(raw);
          if (text.empty()) return;
          const int index = FieldIndex(rs, memo, position, name);
          const FieldDef& def = defs[static_cast<std::size_t>(index)];
          detail::LoadedValue cell;
          cell.field = index;
          if (CanonicalCell(def, text, d.texts, b.month, cell)) {
            d.cells.push_back(cell);
          } else {
            d.cells.push_back(detail::RecordSetLoader::Make(
                rs, index, detail::ConvertForField(def, Value(std::string(text)), rs.Name()),
                d.texts));
          }
        };
        if (const char* value = field.value(); *value != '\0') {
          part(std::string_view(value, loading::BatchTextLength(value)));
        }
        for (pugi::xml_node child = field.first_child(); child; child = child.next_sibling()) {
          part(loading::NodeText(child, b.scratch));
        }
      }
      CopyServerKeys(b, n, rs, item.firstCell);
    } catch (...) {
      d.fault = std::current_exception();
      item.faulted = true;
    }
    item.cellCount = static_cast<std::uint32_t>(d.cells.size()) - item.firstCell;
    d.items.push_back(item);
    return !item.faulted;
  }

  // The server's keys of a record are copies of its date and, for some fee
  // kinds, of its type or its access level and travel flag, made once the
  // record's own values are in.
  void CopyServerKeys(Batch& b, int n, const RecordSet& rs, std::uint32_t firstCell) const {
    std::vector<std::pair<int, int>>& keys = b.keys[n];
    if (!b.keysKnown[n]) {
      auto add = [&](std::string_view from, std::string_view to) {
        keys.emplace_back(rs.FieldIndex(from), rs.FieldIndex(to));
      };
      if (n <= kTabCount) {
        for (const ServerKey& key : FeeKindOf(n).serverKeys) add(key.field, key.copy);
      }
      b.keysKnown[n] = true;
    }
    std::vector<detail::LoadedValue>& cells = b.digest.cells;
    const std::vector<FieldDef>& defs = rs.FieldDefs();
    for (const auto& [from, to] : keys) {
      // The field's last value in the record; a field the record does not
      // give stays Null, and so does its copy.
      std::size_t last = cells.size();
      for (std::size_t k = cells.size(); k > firstCell; --k) {
        if (cells[k - 1].field == from) {
          last = k - 1;
          break;
        }
      }
      const FieldDef& toDef = defs[static_cast<std::size_t>(to)];
      if (last == cells.size()) {
        cells.push_back(detail::RecordSetLoader::Make(rs, to, Value(), b.digest.texts));
      } else if (cells[last].text == detail::LoadedValue::kCell &&
                 defs[static_cast<std::size_t>(from)].type == toDef.type) {
        detail::LoadedValue copy = cells[last];
        copy.field = to;
        cells.push_back(copy);
      } else {
        const Value value = detail::RecordSetLoader::ValueOf(rs, cells[last], b.digest.texts);
        cells.push_back(detail::RecordSetLoader::Make(
            rs, to, detail::ConvertForField(toDef, value, rs.Name()), b.digest.texts));
      }
    }
  }

  const FeeRecordSets& sets_;
};

}  // namespace

namespace {

// Reads the children of the load document's root into the target.
struct LoadReader {
  explicit LoadReader(const loading::LoadTarget& target) : c(target) {}

  // Empties what the control shows once the document has proved to be one
  // element tree, then fills it from the document.
  void Read(loading::LoadDocument& document) {
    document.Read(
        [&] {
          c.sets.EmptyAll();
          c.surface.cboAccessLevel.Clear();
          return document.RootHasChildNodes();
        },
        [this](loading::LoadDocument::Digest& digest) { Apply(static_cast<LoadDigest&>(digest)); });
  }

 private:
  using Kind = LoadDigest::Kind;

  void Apply(LoadDigest& d) {
    for (LoadDigest::Item& item : d.items) {
      switch (item.kind) {
        case Kind::kRecord:
          ApplyRecord(d, item);
          break;
        case Kind::kTerms:
          AddTexts(d, item, c.surface.cboTerm);
          break;
        case Kind::kContractTypes:
          AddTexts(d, item, c.surface.cboType);
          break;
        case Kind::kCreditTypes:
          AddTexts(d, item, c.surface.cboBitwise);
          break;
        case Kind::kAprTypes:
          AddTexts(d, item, c.surface.cboAPRType);
          break;
        case Kind::kAccessLevel:
          ApplyAccessLevel(d, item);
          break;
        case Kind::kShowTravelOption:
          c.showTravelOption = true;
          break;
        case Kind::kHideTravelOption:
          c.showTravelOption = false;
          break;
        case Kind::kFault:
          std::rethrow_exception(d.fault);
      }
    }
  }

  static void AddTexts(LoadDigest& d, const LoadDigest::Item& item, ComboBox& box) {
    for (std::uint32_t k = 0; k < item.textCount; ++k) {
      box.AddItem(std::move(d.texts[item.firstText + k]));
    }
  }

  void ApplyAccessLevel(LoadDigest& d, const LoadDigest::Item& item) {
    if (item.textCount == 0) {
      throw ControlError(errc::kDocument,
                         "The load document's ACCESSLEVEL element is empty; it needs two children: "
                         "the access level's description, then its identifier");
    }
    ComboBox& box = c.surface.cboAccessLevel;
    const std::string& description = d.texts[item.firstText];
    box.AddItem(description);
    if (item.textCount < 2) {
      throw ControlError(errc::kDocument, "The load document's ACCESSLEVEL element for " +
                                              Quoted(description) +
                                              " has one child; it needs a second one holding the "
                                              "access level's identifier");
    }
    const std::string_view idText = d.texts[item.firstText + 1];
    box.SetItemData(box.NewIndex(),
                    loading::AccessLevelIdentifier(idText, description, c.regional));
  }

  void ApplyRecord(LoadDigest& d, const LoadDigest::Item& item) {
    detail::RecordSetLoader::Append(
        c.sets(item.recordSet),
        std::span<const detail::LoadedValue>(d.cells).subspan(item.firstCell, item.cellCount),
        d.texts, !item.faulted);
    if (item.faulted) std::rethrow_exception(d.fault);
  }

  const loading::LoadTarget& c;
};

}  // namespace

bool loading::ReadLoadDocument(DocumentFetcher& fetcher, const std::string& address,
                               const LoadTarget& target) {
  const LoadDigester digester(target.sets);
  const LoadDocument::Digester digest = std::cref(digester);
  LoadDocument document(RedactCredentials(address), digest);
  fetcher.FetchInto(address, document);
  LoadReader(target).Read(document);
  return document.RootHasChildNodes();
}

bool loading::ReadLoadDocument(std::string_view bytes, const std::string& shownAddress,
                               const LoadTarget& target) {
  const LoadDigester digester(target.sets);
  const LoadDocument::Digester digest = std::cref(digester);
  LoadDocument document(shownAddress, digest);
  document.Expect(bytes.size());
  document.Receive(bytes);
  LoadReader(target).Read(document);
  return document.RootHasChildNodes();
}

}  // namespace harnolfees
