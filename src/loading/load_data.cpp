// LoadData: the host's request to show the fee schedule of one center.
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
        rs.SetValue(FieldIndex(rs, memo, position, field.name()), Value(std::string(text)));
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
