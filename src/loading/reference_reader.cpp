// The load rules, plainly: the whole document parsed at once, then each
// child of its root read in order. The fast reader (load_reader.cpp) must
// give the same result for every document; fuzz/load_rules_fuzz.cpp checks
// it. Speed is no concern here.
//
// The rules:
//  - The bytes are settled to UTF-8 as LoadDocument settles them, then must
//    be one element tree (one root, nesting within kMaxElementDepth). A
//    document that is not is refused (errc::kDocument) before anything is
//    emptied. What comes before the root element (the declaration,
//    processing instructions, comments, a document type declaration) is the
//    document check's concern: its scanner reads it more leniently than the
//    XML parser would, so the reference reader parses from the root on.
//  - Then the record sets and the access levels are emptied, and each child
//    element of the root is read in document order:
//      TERM         every part's text is a term            (cboTerm)
//      CTYPE        each Description child's parts' texts  (cboType)
//      BVALUE       the same                               (cboBitwise)
//      APRTYPE      the same                               (cboAPRType)
//      ACCESSLEVEL  its first part is a description, its second the
//                   identifier kept with the item          (cboAccessLevel)
//      SHOWTravelOption, HIDETravelOption  turn the travel option on, off
//    Any other name is a record: its record set is RecordSetNumber(name); a
//    number below 1 is ignored, one above 15 is an error. Each child
//    element of a record names a declared field (an undeclared one is an
//    error); each non-blank part of it (blanks around it dropped) is
//    converted for the field as the record set converts any value, the last
//    one standing. Then the server keys of the fee kind are copied
//    (FeeKind::serverKeys), and the record is added.
//  - The first fault ends the reading: what came before it stays loaded; the
//    record it stopped in is left as far as it got, not committed.
//  - A part's text is a text node's own text, or the concatenated texts of
//    every text node below an element.
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/fee_kind.hpp"
#include "harnolfees/control.hpp"
#include "loading/load_document.hpp"
#include "loading/load_reader.hpp"

namespace harnolfees::loading {

namespace {

constexpr const char* kShownAddress = "the load document";

[[noreturn]] void NotATree(const std::string& why) {
  throw ControlError(errc::kDocument, std::string("The fee schedule from ") + kShownAddress +
                                          " cannot be read: " + why + ".");
}

bool IsText(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

void AppendText(pugi::xml_node node, std::string& out) {
  if (IsText(node)) {
    out += node.value();
    return;
  }
  for (pugi::xml_node child : node.children()) AppendText(child, out);
}

std::vector<std::string> PartTexts(pugi::xml_node element) {
  std::vector<std::string> parts;
  for (pugi::xml_node child : element.children()) {
    std::string text;
    AppendText(child, text);
    parts.push_back(std::move(text));
  }
  return parts;
}

// Whether an element and those below it take more than `levels` levels.
bool NestsDeeper(pugi::xml_node element, int levels) {
  if (levels == 0) return true;
  for (pugi::xml_node child : element.children()) {
    if (child.type() == pugi::node_element && NestsDeeper(child, levels - 1)) return true;
  }
  return false;
}

std::string_view TrimXmlSpace(std::string_view text) {
  auto space = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

void ReadAccessLevel(pugi::xml_node element, const LoadTarget& target) {
  const std::vector<std::string> parts = PartTexts(element);
  if (parts.empty()) {
    throw ControlError(errc::kDocument,
                       "The load document's ACCESSLEVEL element is empty; it needs two children: "
                       "the access level's description, then its identifier");
  }
  ComboBox& box = target.surface.cboAccessLevel;
  const std::string& description = parts[0];
  box.AddItem(description);
  if (parts.size() < 2) {
    throw ControlError(errc::kDocument, "The load document's ACCESSLEVEL element for " +
                                            Quoted(description) +
                                            " has one child; it needs a second one holding the "
                                            "access level's identifier");
  }
  const std::string& idText = parts[1];
  box.SetItemData(box.NewIndex(), AccessLevelIdentifier(idText, description, target.regional));
}

void ReadRecord(pugi::xml_node element, int n, const LoadTarget& target) {
  RecordSet& rs = target.sets(n);
  rs.AddNew();
  for (pugi::xml_node field : element.children()) {
    if (field.type() != pugi::node_element) continue;
    for (const std::string& part : PartTexts(field)) {
      const std::string_view text = TrimXmlSpace(part);
      if (text.empty()) continue;
      rs.SetValue(rs.FieldIndex(field.name()), Value(std::string(text)));
    }
  }
  if (n <= kTabCount) {
    for (const ServerKey& key : FeeKindOf(n).serverKeys) {
      rs.Fields(key.copy).setValue(rs.GetValue(key.field));
    }
  }
  rs.Update();
}

void ReadRootChild(pugi::xml_node child, const LoadTarget& target) {
  const std::string name = child.name();
  Surface& s = target.surface;
  auto addParts = [](pugi::xml_node element, ComboBox& box) {
    for (std::string& text : PartTexts(element)) box.AddItem(std::move(text));
  };
  auto addDescriptions = [&](ComboBox& box) {
    for (pugi::xml_node d : child.children("Description")) addParts(d, box);
  };
  if (name == "TERM") return addParts(child, s.cboTerm);
  if (name == "CTYPE") return addDescriptions(s.cboType);
  if (name == "BVALUE") return addDescriptions(s.cboBitwise);
  if (name == "APRTYPE") return addDescriptions(s.cboAPRType);
  if (name == "ACCESSLEVEL") return ReadAccessLevel(child, target);
  if (name == "SHOWTravelOption") {
    target.showTravelOption = true;
    return;
  }
  if (name == "HIDETravelOption") {
    target.showTravelOption = false;
    return;
  }
  const double number = RecordSetNumber(name);
  if (number < 1) return;
  if (number > kRecordSetCount) {
    throw ControlError(errc::kSubscriptOutOfRange,
                       "Subscript out of range: the load document's element <" +
                           name.substr(0, 60) + "> names a record set beyond the last one (15)");
  }
  ReadRecord(child, static_cast<int>(number), target);
}

// Whether an XML name may start with this byte (every byte of a multi-byte
// character counts as a letter).
bool StartsAName(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

// Where the root element starts: after blanks, the declaration, processing
// instructions, comments and a document type declaration. Anything else
// (text, or markup that is not closed) is left for the parser to refuse.
std::size_t RootStart(const std::string& text, std::size_t at) {
  // Past the first `end` after the opening of `open` bytes.
  auto skipTo = [&](std::size_t open, std::string_view end) {
    const std::size_t found = text.find(end, at + open);
    return found == std::string::npos ? std::string::npos : found + end.size();
  };
  for (;;) {
    while (at < text.size() &&
           std::string_view(" \t\r\n").find(text[at]) != std::string_view::npos) {
      ++at;
    }
    std::size_t next = std::string::npos;
    // A processing instruction names its target first; one that does not
    // is the parser's to refuse.
    if (text.compare(at, 2, "<?") == 0 && at + 2 < text.size() && StartsAName(text[at + 2])) {
      next = skipTo(2, "?>");
    } else if (text.compare(at, 4, "<!--") == 0) {
      next = skipTo(4, "-->");
    } else if (text.compare(at, 9, "<!DOCTYPE") == 0) {
      int brackets = 0;
      for (std::size_t q = at + 9; q < text.size() && next == std::string::npos; ++q) {
        const char c = text[q];
        if (c == '"' || c == '\'') {
          q = text.find(c, q + 1);
          if (q == std::string::npos) break;
        } else if (text.compare(q, 4, "<!--") == 0) {
          // A '>' inside a comment does not close the declaration.
          q = text.find("-->", q + 4);
          if (q == std::string::npos) break;
          q += 2;
        } else if (c == '[') {
          ++brackets;
        } else if (c == ']') {
          --brackets;
        } else if (c == '>' && brackets <= 0) {
          next = q + 1;
        }
      }
    }
    if (next == std::string::npos) return at;
    at = next;
  }
}

}  // namespace

bool ReferenceReadLoadDocument(std::string_view bytes, const LoadTarget& target) {
  const auto [text, begin] = SettleDocumentEncoding(std::string(bytes), kShownAddress);
  const std::size_t start = RootStart(text, begin);
  if (start < text.size() && text[start] != '<') NotATree("text before the root element");
  pugi::xml_document document;
  // A fragment's parse keeps any text beside the root, so that it is seen.
  const pugi::xml_parse_result parsed =
      document.load_buffer(text.data() + start, text.size() - start,
                           pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
  if (!parsed) NotATree(parsed.description());
  int roots = 0;
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_element) ++roots;
    if (IsText(node)) NotATree("text outside the root element");
  }
  if (roots != 1) NotATree("it does not hold exactly one root element");
  const pugi::xml_node root = document.document_element();
  if (NestsDeeper(root, kMaxElementDepth)) NotATree("its elements nest too deep");

  target.sets.EmptyAll();
  target.surface.cboAccessLevel.Clear();
  for (pugi::xml_node child : root.children()) {
    if (child.type() == pugi::node_element) ReadRootChild(child, target);
  }
  return !root.first_child().empty();
}

}  // namespace harnolfees::loading
