// LoadData: the host's request to show the fee schedule of one center.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harnolfees/control.hpp"
#include "loading/load_document.hpp"

namespace harnolfees {

namespace {

constexpr const char* kLoadPage = "TermFeesAX.asp?Center=";

// A piece of document text quoted in a message, kept short.
std::string Quoted(std::string_view text) {
  constexpr std::size_t kShown = 60;
  if (text.size() <= kShown) return "'" + std::string(text) + "'";
  std::size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return "'" + std::string(text.substr(0, cut)) + "...' (" + std::to_string(text.size()) +
         " bytes)";
}

// A message box must stay readable when an error quotes a very long value:
// the middle of such a description gives way.
std::string Readable(std::string description) {
  constexpr std::size_t kKeep = 300;
  if (description.size() <= 2 * kKeep + 100) return description;
  std::size_t head = kKeep, tail = description.size() - kKeep;
  while (head > 0 && (static_cast<unsigned char>(description[head]) & 0xC0) == 0x80) --head;
  while (tail < description.size() &&
         (static_cast<unsigned char>(description[tail]) & 0xC0) == 0x80) {
    ++tail;
  }
  return description.substr(0, head) + " [... " + std::to_string(tail - head) +
         " bytes left out ...] " + description.substr(tail);
}

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

bool Digits(std::string_view text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return false;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

int Number(std::string_view text, std::size_t from, std::size_t count) {
  int n = 0;
  for (std::size_t i = from; i < from + count; ++i) n = n * 10 + (text[i] - '0');
  return n;
}

std::optional<DateTime> CanonicalDate(std::string_view t) {
  if (t.size() != 10 && t.size() != 19) return std::nullopt;
  if (!Digits(t, 0, 4) || t[4] != '-' || !Digits(t, 5, 2) || t[7] != '-' || !Digits(t, 8, 2)) {
    return std::nullopt;
  }
  int hour = 0, minute = 0, second = 0;
  if (t.size() == 19) {
    if (t[10] != 'T' || !Digits(t, 11, 2) || t[13] != ':' || !Digits(t, 14, 2) || t[16] != ':' ||
        !Digits(t, 17, 2)) {
      return std::nullopt;
    }
    hour = Number(t, 11, 2);
    minute = Number(t, 14, 2);
    second = Number(t, 17, 2);
  }
  return DateTime::TryFromParts(Number(t, 0, 4), Number(t, 5, 2), Number(t, 8, 2), hour, minute,
                                second);
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
  std::size_t i = 0;
  if (i < t.size() && t[i] == '-') {
    d.negative = true;
    ++i;
  }
  int count = 0;
  bool point = false, any = false;
  for (; i < t.size(); ++i) {
    const char ch = t[i];
    if (ch >= '0' && ch <= '9') {
      if (++count > 15) return std::nullopt;
      d.digits = d.digits * 10 + (ch - '0');
      any = true;
      if (point && ++d.decimals > maxDecimals) return std::nullopt;
    } else if (ch == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  return d;
}

Value TypedValue(FieldType type, std::string_view text) {
  switch (type) {
    case FieldType::Date:
      if (std::optional<DateTime> d = CanonicalDate(text)) return Value(*d);
      break;
    case FieldType::SmallInt:
    case FieldType::Integer:
      if (std::optional<PlainDecimal> d = ReadPlainDecimal(text, 0); d && d->digits < 1000000000) {
        const auto v = static_cast<std::int32_t>(d->negative ? -d->digits : d->digits);
        if (type == FieldType::Integer) return Value(v);
        if (v >= -32768 && v <= 32767) return Value(static_cast<std::int16_t>(v));
      }
      break;
    case FieldType::Currency:
      if (std::optional<PlainDecimal> d = ReadPlainDecimal(text, 4)) {
        std::int64_t units = d->digits;
        for (int k = d->decimals; k < 4; ++k) units *= 10;
        return Value(Money::FromUnits(d->negative ? -units : units));
      }
      break;
    case FieldType::Single:
    case FieldType::Double:
      // Correctly rounded, as the general number conversion is.
      if (ReadPlainDecimal(text, 15)) {
        double v = 0;
        const char* end = text.data() + text.size();
        if (auto [ptr, ec] = std::from_chars(text.data(), end, v);
            ec == std::errc() && ptr == end) {
          return Value(v);
        }
      }
      break;
    case FieldType::Char:
    case FieldType::VarChar:
      break;
  }
  return Value(std::string(text));
}

}  // namespace

struct HarnolFeesCtlCenter::LoadReader {
  explicit LoadReader(HarnolFeesCtlCenter& control) : c(control) {}

  void Read(loading::LoadDocument& document) {
    document.ForEachRootChild([this](pugi::xml_node node) { ReadRootChild(node); });
  }

 private:
  // The record-set field behind the k-th child of a record element, as last
  // seen: documents repeat their field order, so a name compare usually
  // replaces the field lookup.
  struct FieldMemo {
    std::vector<std::pair<std::string, int>> byPosition;
  };
  static constexpr std::size_t kMemoPositions = 32;

  void ReadRootChild(pugi::xml_node node) {
    const char* name = node.name();
    // Most children are records; the first letter spares them the list names.
    switch (name[0]) {
      case 'T':
        if (std::strcmp(name, "TERM") == 0) return ReadTerms(node);
        break;
      case 'C':
        if (std::strcmp(name, "CTYPE") == 0) return ReadDescriptions(node, c.surface_.cboType);
        break;
      case 'B':
        if (std::strcmp(name, "BVALUE") == 0) return ReadDescriptions(node, c.surface_.cboBitwise);
        break;
      case 'A':
        if (std::strcmp(name, "APRTYPE") == 0) {
          return ReadDescriptions(node, c.surface_.cboAPRType);
        }
        if (std::strcmp(name, "ACCESSLEVEL") == 0) return ReadAccessLevel(node);
        break;
      case 'S':
        if (std::strcmp(name, "SHOWTravelOption") == 0) {
          c.state_.ShowTravelOption = true;
          return;
        }
        break;
      case 'H':
        if (std::strcmp(name, "HIDETravelOption") == 0) {
          c.state_.ShowTravelOption = false;
          return;
        }
        break;
      default:
        break;
    }
    const double number = loading::RecordSetNumber(name);
    if (number < 1) return;
    if (number > kRecordSetCount) {
      throw ControlError(errc::kSubscriptOutOfRange,
                         "Subscript out of range: the load document's element <" +
                             std::string(std::string_view(name).substr(0, 60)) +
                             "> names a record set beyond the last one (15)");
    }
    ReadRecord(static_cast<int>(number), node);
  }

  void ReadTerms(pugi::xml_node node) {
    for (pugi::xml_node item = node.first_child(); item; item = item.next_sibling()) {
      c.surface_.cboTerm.AddItem(std::string(loading::NodeText(item, scratch_)));
    }
  }

  // Only the texts of Description children become items; an identifier
  // child is there for the server's own use, the position being the key.
  void ReadDescriptions(pugi::xml_node node, ComboBox& box) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (std::strcmp(child.name(), "Description") != 0) continue;
      for (pugi::xml_node part = child.first_child(); part; part = part.next_sibling()) {
        box.AddItem(std::string(loading::NodeText(part, scratch_)));
      }
    }
  }

  void ReadAccessLevel(pugi::xml_node node) {
    pugi::xml_node first = node.first_child();
    if (!first) {
      throw ControlError(errc::kDocument,
                         "The load document's ACCESSLEVEL element is empty; it needs two children: "
                         "the access level's description, then its identifier");
    }
    ComboBox& box = c.surface_.cboAccessLevel;
    const std::string description(loading::NodeText(first, scratch_));
    box.AddItem(description);
    pugi::xml_node second = first.next_sibling();
    if (!second) {
      throw ControlError(errc::kDocument, "The load document's ACCESSLEVEL element for " +
                                              Quoted(description) +
                                              " has one child; it needs a second one holding the "
                                              "access level's identifier");
    }
    const std::string_view idText = loading::NodeText(second, scratch_);
    const std::optional<double> id = ParseNumber(idText, *c.regional_);
    if (!id) {
      throw ControlError(errc::kTypeMismatch, "Type mismatch: the identifier " + Quoted(idText) +
                                                  " of access level " + Quoted(description) +
                                                  " is not a number");
    }
    std::int32_t data = 0;
    try {
      data = RoundToInt32(*id);
    } catch (const ControlError&) {
      throw ControlError(errc::kOverflow, "Overflow: the identifier " + Quoted(idText) +
                                              " of access level " + Quoted(description) +
                                              " is beyond the range of an identifier");
    }
    box.SetItemData(box.NewIndex(), data);
  }

  int FieldIndex(RecordSet& rs, FieldMemo& memo, std::size_t position, const char* name) {
    if (position < memo.byPosition.size() &&
        std::strcmp(memo.byPosition[position].first.c_str(), name) == 0) {
      return memo.byPosition[position].second;
    }
    const int index = rs.FieldIndex(name);  // an undeclared field is an error
    if (position < kMemoPositions) {
      if (memo.byPosition.size() <= position) memo.byPosition.resize(position + 1);
      memo.byPosition[position] = {name, index};
    }
    return index;
  }

  void ReadRecord(int n, pugi::xml_node element) {
    RecordSet& rs = c.recordSets_(n);
    FieldMemo& memo = memos_[static_cast<std::size_t>(n)];
    rs.AddNew();
    std::size_t position = 0;
    for (pugi::xml_node field = element.first_child(); field;
         field = field.next_sibling(), ++position) {
      for (pugi::xml_node part = field.first_child(); part; part = part.next_sibling()) {
        // A document written with line breaks around its values still
        // holds the values themselves.
        const std::string_view text = TrimXmlSpace(loading::NodeText(part, scratch_));
        if (text.empty()) continue;
        const int index = FieldIndex(rs, memo, position, field.name());
        rs.SetValue(index, TypedValue(rs.FieldDefs()[static_cast<std::size_t>(index)].type, text));
      }
    }
    for (const auto& [from, to] : ServerKeys(n, rs)) {
      Value value = rs.GetValue(from);
      rs.SetValue(to, value);
    }
    rs.Update();
  }

  // The fields whose values the server's keys of a record copy: its date
  // and, for some fee kinds, its type or its access level and travel flag.
  const std::vector<std::pair<int, int>>& ServerKeys(int n, RecordSet& rs) {
    std::vector<std::pair<int, int>>& keys = keys_[static_cast<std::size_t>(n)];
    if (keysKnown_[static_cast<std::size_t>(n)]) return keys;
    auto add = [&](std::string_view from, std::string_view to) {
      keys.emplace_back(rs.FieldIndex(from), rs.FieldIndex(to));
    };
    if (n <= kTabCount) add("Effectivity", "OldEffectivity");
    switch (n) {
      case 5:
        add("BetaAPRTypeID", "OldType");
        break;
      case 6:
        add("BetaContractTypeID", "OldType");
        break;
      case 7:
        add("ContractType", "OldType");
        break;
      case 9:
        add("Type", "OldType");
        break;
      case 8:
        add("MemberAccessLevelID", "OldMemberAccessLevelID");
        add("TravelMembership", "OldTravelMembership");
        break;
      default:
        break;
    }
    keysKnown_[static_cast<std::size_t>(n)] = true;
    return keys;
  }

  HarnolFeesCtlCenter& c;
  std::string scratch_;
  FieldMemo memos_[kRecordSetCount + 1];
  std::vector<std::pair<int, int>> keys_[kRecordSetCount + 1];
  bool keysKnown_[kRecordSetCount + 1] = {};
};

void HarnolFeesCtlCenter::LoadData(std::string ptURL, std::int16_t piNewClubID,
                                   std::string ptServerDate) {
  host_.SetMousePointer(pointer::kHourglass);
  try {
    state_.BaseURL = std::move(ptURL);
    state_.ServerDate = DateToText(TextToDate(ptServerDate, *regional_), *regional_);
    state_.ClubID = piNewClubID;
    if (state_.BaseURL.empty()) {
      host_.SetMousePointer(pointer::kDefault);
      return;
    }
    const std::string address = state_.BaseURL + kLoadPage + std::to_string(state_.ClubID);
    if (!fetcher_) fetcher_ = MakeCurlFetcher();
    // A document that cannot be fetched, decoded or parsed ends the load here,
    // before anything is emptied: the schedule shown stays whole.
    std::optional<loading::LoadDocument> document;
    document.emplace(fetcher_->Fetch(address), loading::RedactCredentials(address));

    recordSets_.EmptyAll();
    surface_.cboAccessLevel.Clear();
    if (!document->RootHasChildNodes()) {
      host_.SetMousePointer(pointer::kDefault);
      return;
    }
    LoadReader(*this).Read(*document);
    document.reset();

    FillBankAccountTypes();
    FillGrid(state_.CurrentTab);
    host_.SetMousePointer(pointer::kDefault);
    InitDatePicker(state_.ServerDate, 0);
  } catch (...) {
    std::string description;
    try {
      throw;
    } catch (const ControlError& e) {
      description = e.description();
    } catch (const std::bad_alloc&) {
      description = "Out of memory";
    } catch (const std::exception& e) {
      description = e.what();
    } catch (...) {
      description = "The fee schedule could not be loaded";
    }
    try {
      host_.SetMousePointer(pointer::kDefault);
      host_.MsgBox(Readable(std::move(description)), msgbox::kOk, "");
    } catch (...) {
      // The host's own failure to show the message must not end it.
    }
  }
}

}  // namespace harnolfees
