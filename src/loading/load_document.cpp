#include "loading/load_document.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "harnolfees/host.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "harnolfees/encoding.hpp"
#include "harnolfees/runtime.hpp"

namespace harnolfees::loading {

namespace {

// Character classes by table: the scan looks at every byte of every name.
enum : std::uint8_t { kSpace = 1, kNameStart = 2, kNameChar = 4 };

constexpr std::array<std::uint8_t, 256> MakeClasses() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    std::uint8_t k = 0;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') k |= kSpace;
    // The name characters of the XML reader: letters, '_', ':' and every byte
    // of a multi-byte character may start a name; digits, '-' and '.' may
    // continue it.
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80) {
      k |= kNameStart | kNameChar;
    }
    if ((c >= '0' && c <= '9') || c == '-' || c == '.') k |= kNameChar;
    classes[static_cast<std::size_t>(c)] = k;
  }
  return classes;
}
constexpr std::array<std::uint8_t, 256> kClasses = MakeClasses();

unsigned Class(char c) { return kClasses[static_cast<unsigned char>(c)]; }
bool Is(char c, std::uint8_t k) { return (Class(c) & k) != 0; }
bool IsXmlSpace(char c) { return Is(c, kSpace); }
bool IsNameStart(char c) { return Is(c, kNameStart); }
bool IsNameChar(char c) { return Is(c, kNameChar); }

bool AllXmlSpace(const char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!IsXmlSpace(p[i])) return false;
  }
  return true;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

ControlError Unreadable(const std::string& address, const std::string& what) {
  return ControlError(errc::kDocument,
                      "The fee schedule from " + address + " cannot be read: " + what + ".");
}

[[noreturn]] void Refuse(const std::string& address, const std::string& what) {
  throw Unreadable(address, what);
}

// "line L, column C, byte offset N" of a position in UTF-8 text; columns
// count characters.
std::string Place(const std::string& text, std::size_t pos) {
  if (pos > text.size()) pos = text.size();
  std::size_t line = 1, lineStart = 0;
  for (std::size_t i = 0; i < pos; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::size_t column = 1;
  for (std::size_t i = lineStart; i < pos; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ", byte offset " +
         std::to_string(pos);
}

[[noreturn]] void RefuseAt(const std::string& address, const std::string& text, std::size_t pos,
                           const std::string& what) {
  throw ControlError(errc::kDocument, "The fee schedule from " + address +
                                          " is not well-formed XML: " + what + " (at " +
                                          Place(text, pos) + ").");
}

// A name for messages, kept short.
std::string ShownName(std::string_view name) {
  if (name.size() <= 60) return std::string(name);
  return std::string(name.substr(0, 60)) + "...";
}

// ---- Encodings ----

// The offset of the first byte of s[i, n) that breaks UTF-8 (or is NUL), or
// npos.
std::size_t FindBadUtf8(const std::string& s, std::size_t i, std::size_t n, bool& isNul) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  isNul = false;
  while (i < n) {
#if defined(__SSE2__)
    // Sixteen bytes at a time while they are plain ASCII without NUL: the
    // whole of a typical document.
    if (i + 16 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      if ((_mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) == 0) {
        i += 16;
        continue;
      }
    }
#endif
    if (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & 0x8080808080808080ull) == 0 && ZeroBytes(w) == 0) {
        i += 8;
        continue;
      }
    }
    unsigned char c = p[i];
    if (c == 0) {
      isNul = true;
      return i;
    }
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return i;
    }
    if (i + len > n) return i;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return i;
    }
    i += len;
  }
  return std::string::npos;
}

enum class Wide { kNone, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

std::string DecodeWide(const std::string& s, std::size_t begin, Wide kind,
                       const std::string& address) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t unit = (kind == Wide::kUtf16Le || kind == Wide::kUtf16Be) ? 2 : 4;
  const bool big = kind == Wide::kUtf16Be || kind == Wide::kUtf32Be;
  const char* name = unit == 2 ? "UTF-16" : "UTF-32";
  if ((s.size() - begin) % unit != 0) {
    Refuse(address, std::string("it is ") + name +
                        " text whose length is not a whole number of characters (it may be "
                        "truncated)");
  }
  auto read = [&](std::size_t i) -> std::uint32_t {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < unit; ++k) {
      std::uint32_t b = p[i + (big ? k : unit - 1 - k)];
      v = (v << 8) | b;
    }
    return v;
  };
  std::string out;
  out.reserve((s.size() - begin) / unit + 16);
  for (std::size_t i = begin; i < s.size(); i += unit) {
    std::uint32_t cp = read(i);
    if (unit == 2 && cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 2 < s.size()) {
        std::uint32_t low = read(i + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
          AppendUtf8(out, cp);
          continue;
        }
      }
      Refuse(address, std::string("it holds an unpaired ") + name + " surrogate at byte offset " +
                          std::to_string(i));
    }
    if (cp == 0) Refuse(address, "it holds a NUL character at byte offset " + std::to_string(i));
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      Refuse(address, std::string("it holds an invalid ") + name + " character at byte offset " +
                          std::to_string(i));
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// The encoding named by the XML declaration at `begin`, lower-cased; "" when
// there is none.
std::string DeclaredEncoding(const std::string& s, std::size_t begin) {
  if (s.compare(begin, 5, "<?xml") != 0 || begin + 5 >= s.size() || !IsXmlSpace(s[begin + 5])) {
    return "";
  }
  std::size_t end = s.find("?>", begin);
  if (end == std::string::npos) return "";
  std::string_view decl(s.data() + begin, end - begin);
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return "";
  std::size_t i = at + 8;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || decl[i] != '=') return "";
  ++i;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return "";
  char quote = decl[i];
  std::size_t close = decl.find(quote, i + 1);
  if (close == std::string_view::npos) return "";
  return LowerAscii(decl.substr(i + 1, close - i - 1));
}

bool IsSingleByteWestern(const std::string& name) {
  return name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" ||
         name == "latin-1" || name == "l1" || name == "windows-1252" || name == "cp1252" ||
         name == "x-cp1252" || name == "us-ascii" || name == "ascii";
}

bool AllAscii(const std::string& s, std::size_t begin) {
  for (std::size_t i = begin; i < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  }
  return true;
}

ControlError Utf8Fault(const std::string& address, std::size_t bad, bool isNul) {
  if (isNul)
    return Unreadable(address, "it holds a NUL character at byte offset " + std::to_string(bad));
  return Unreadable(address,
                    "it is not valid UTF-8 text (the first invalid byte is at byte offset " +
                        std::to_string(bad) +
                        "); a document in another encoding must declare it in its XML "
                        "declaration");
}

bool StartsWithBytes(const std::string& text, std::initializer_list<unsigned char> prefix) {
  if (text.size() < prefix.size()) return false;
  std::size_t i = 0;
  for (unsigned char b : prefix) {
    if (static_cast<unsigned char>(text[i++]) != b) return false;
  }
  return true;
}

// Returns the settled UTF-8 text and where its content begins (after a
// UTF-8 byte-order mark, which stays in place so that offsets match the
// bytes as received).
std::pair<std::string, std::size_t> SettleEncoding(std::string bytes, const std::string& address) {
  auto starts = [&](std::initializer_list<unsigned char> prefix) {
    return StartsWithBytes(bytes, prefix);
  };
  Wide wide = Wide::kNone;
  std::size_t begin = 0;
  if (starts({0x00, 0x00, 0xFE, 0xFF})) {
    wide = Wide::kUtf32Be, begin = 4;
  } else if (starts({0xFF, 0xFE, 0x00, 0x00})) {
    wide = Wide::kUtf32Le, begin = 4;
  } else if (starts({0xFE, 0xFF})) {
    wide = Wide::kUtf16Be, begin = 2;
  } else if (starts({0xFF, 0xFE})) {
    wide = Wide::kUtf16Le, begin = 2;
  } else if (starts({0x00, 0x00, 0x00, 0x3C})) {
    wide = Wide::kUtf32Be;
  } else if (starts({0x3C, 0x00, 0x00, 0x00})) {
    wide = Wide::kUtf32Le;
  } else if (starts({0x00, 0x3C, 0x00, 0x3F})) {
    wide = Wide::kUtf16Be;
  } else if (starts({0x3C, 0x00, 0x3F, 0x00})) {
    wide = Wide::kUtf16Le;
  }
  if (wide != Wide::kNone) return {DecodeWide(bytes, begin, wide, address), 0};

  if (starts({0xEF, 0xBB, 0xBF})) begin = 3;
  const std::string declared = DeclaredEncoding(bytes, begin);
  if (begin == 0 && IsSingleByteWestern(declared)) {
    std::string text = Windows1252ToUtf8(bytes);
    if (std::size_t nul = text.find('\0'); nul != std::string::npos) {
      Refuse(address, "it holds a NUL character");
    }
    return {std::move(text), 0};
  }
  if (begin == 0 && !declared.empty() && declared != "utf-8" && declared != "utf8" &&
      !AllAscii(bytes, 0)) {
    Refuse(address, "it declares the encoding '" + ShownName(declared) +
                        "', which is not supported (UTF-8, UTF-16, UTF-32, ISO-8859-1 and "
                        "Windows-1252 are)");
  }
  bool isNul = false;
  const std::size_t bad = FindBadUtf8(bytes, begin, bytes.size(), isNul);
  if (bad != std::string::npos) throw Utf8Fault(address, bad, isNul);
  return {std::move(bytes), begin};
}

// Where the whole characters of a text that is still arriving end: a
// character whose bytes are not all there yet waits for the rest.
std::size_t WholeCharactersEnd(const std::string& s, std::size_t from) {
  std::size_t end = s.size();
  std::size_t lead = end;
  for (int k = 0; k < 3 && lead > from; ++k) {
    const auto c = static_cast<unsigned char>(s[lead - 1]);
    if ((c & 0xC0) != 0x80) {
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (lead - 1 + length > end) end = lead - 1;
      break;
    }
    --lead;
  }
  return end;
}

// Whether the first bytes of a body may still turn out to be an XML
// declaration that names an encoding.
bool MayBeDeclaration(std::string_view head) {
  constexpr std::string_view kOpen = "<?xml";
  if (head.size() <= kOpen.size()) return kOpen.starts_with(head);
  return head.starts_with(kOpen) && IsXmlSpace(head[kOpen.size()]) &&
         head.find("?>") == std::string_view::npos;
}

}  // namespace

std::pair<std::string, std::size_t> SettleDocumentEncoding(std::string bytes,
                                                           const std::string& shownAddress) {
  return SettleEncoding(std::move(bytes), shownAddress);
}

namespace {

// Where the "user:password" of an address lies, when it has one.
std::optional<std::pair<std::size_t, std::size_t>> UserInfo(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  const std::size_t authority = scheme + 3;
  std::size_t end = url.find_first_of("/?#", authority);
  if (end == std::string_view::npos) end = url.size();
  const std::size_t at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < authority) return std::nullopt;
  return std::make_pair(authority, at);
}

}  // namespace

std::string RedactCredentials(std::string_view url) {
  const auto info = UserInfo(url);
  if (!info) return std::string(url);
  return std::string(url.substr(0, info->first)) + std::string(url.substr(info->second + 1));
}

std::string ScrubCredentials(std::string text, std::string_view url) {
  const auto info = UserInfo(url);
  if (!info) return text;
  const std::string_view userinfo = url.substr(info->first, info->second - info->first);
  std::vector<std::string_view> secrets{userinfo};
  if (std::size_t colon = userinfo.find(':'); colon != std::string_view::npos) {
    std::string_view password = userinfo.substr(colon + 1);
    // Very short passwords would blot out ordinary letters of the text.
    if (password.size() >= 3) secrets.push_back(password);
  }
  for (std::string_view secret : secrets) {
    if (secret.empty()) continue;
    for (std::size_t pos = text.find(secret); pos != std::string::npos;
         pos = text.find(secret, pos + 3)) {
      text.replace(pos, secret.size(), "***");
    }
  }
  return text;
}

double RecordSetNumber(std::string_view elementName) {
  // The common names (T1 .. T15) take the short road.
  if (elementName.size() >= 2 && elementName.size() <= 3 && elementName[0] == 'T') {
    int n = 0;
    bool digits = true;
    for (std::size_t i = 1; i < elementName.size(); ++i) {
      char c = elementName[i];
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      n = n * 10 + (c - '0');
    }
    if (digits) return n;
  }
  std::string rest;
  rest.reserve(elementName.size());
  for (char c : elementName) {
    if (c != 'T' && c != 't') rest += c;
  }
  try {
    return std::nearbyint(Val(rest));
  } catch (const ControlError& e) {
    // A number too large for a double names no record set either; the
    // caller reports it as beyond the last one.
    if (e.number() == errc::kOverflow) return HUGE_VAL;
    throw;
  }
}

std::string_view NodeText(pugi::xml_node node, std::string& scratch) {
  const pugi::xml_node_type type = node.type();
  if (type == pugi::node_pcdata || type == pugi::node_cdata) return node.value();
  if (type != pugi::node_element) return {};
  pugi::xml_node first = node.first_child();
  if (!first) return node.value();
  if (*node.value() == '\0' && !first.next_sibling() &&
      (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata)) {
    return first.value();
  }
  // An element's own value is the text that opens it, so it comes before
  // its children.
  scratch.assign(node.value());
  pugi::xml_node n = first;
  while (n) {
    scratch += n.value();  // the text of a text node, the opening text of an element
    if (pugi::xml_node child = n.first_child()) {
      n = child;
      continue;
    }
    while (n != node && !n.next_sibling()) n = n.parent();
    if (n == node) break;
    n = n.next_sibling();
  }
  return scratch;
}

// The check that the text is one element tree. It reads the text as it
// arrives: a piece of markup that goes on beyond what has arrived is read
// again from its start once more is there, and only a text that is complete
// can be truncated.
class LoadDocument::Scanner {
 public:
  // `cut` hears of every batch bound as soon as the scan has passed it: the
  // start of the root's content, then places right after a '>' between two
  // of its children.
  Scanner(const std::string& text, std::size_t begin, const std::string& address,
          std::function<void(std::size_t)> cut)
      : t_(text), p_(begin), address_(address), cut_(std::move(cut)) {}

  // Reads on as far as the text received so far allows; `complete` once
  // nothing more will come. Returns true once the whole document has been
  // checked; throws ControlError(errc::kDocument) at its first fault.
  bool Advance(bool complete) {
    if (done_) return true;
    complete_ = complete;
    s_ = t_.data();
    n_ = t_.size();
    try {
      while (Step()) {
      }
    } catch (const NeedMore&) {
      return false;
    }
    Finish();
    done_ = true;
    return true;
  }

  bool RootHasChildNodes() const { return rootHasChildNodes_; }

 private:
  // Thrown where a piece of markup goes on beyond the text received so far.
  struct NeedMore {};

  // An open element's name, by place: the text may move as it grows.
  struct OpenElement {
    std::size_t at = 0, size = 0;
  };
  std::string_view NameOf(const OpenElement& e) const { return {s_ + e.at, e.size}; }

  // Reads the text up to the next piece of markup, then the piece; false at
  // the end of the document. A piece changes nothing until it has been read
  // whole.
  [[gnu::always_inline]] bool Step() {
    const std::size_t lt = NextTag(p_);
    if (lt > p_) {
      const std::size_t depth = open_.size();
      if (depth == 0 && !AllXmlSpace(s_ + p_, lt - p_)) {
        std::size_t at = p_;
        while (IsXmlSpace(s_[at])) ++at;
        Fail(at, rootDone_ ? "text after the end of the root element"
                           : "text before the root element (the reply is not an XML document)");
      }
      if (depth == 1 && !rootHasChildNodes_ && !AllXmlSpace(s_ + p_, lt - p_)) {
        rootHasChildNodes_ = true;
      }
      p_ = lt;
    }
    if (lt >= n_) {
      if (!complete_) throw NeedMore{};
      return false;
    }
    const std::size_t p = lt;
    if (p + 1 >= n_) Truncated(p, "the document ends with '<' (it may be truncated)");
    const char next = s_[p + 1];
    if (next == '!') {
      // The longest opening to tell apart is "<![CDATA[".
      if (!complete_ && n_ - p < 9) throw NeedMore{};
      if (Starts(p, "<!--")) {
        p_ = Past(p + 4, "-->", p, "a comment that is not closed (the document may be truncated)");
      } else if (Starts(p, "<![CDATA[")) {
        if (open_.empty()) Fail(p, "a CDATA section outside the root element");
        const std::size_t q = Past(
            p + 9, "]]>", p, "a CDATA section that is not closed (the document may be truncated)");
        if (open_.size() == 1) {
          rootHasChildNodes_ = true;
          ChildEnded(q);
        }
        p_ = q;
      } else if (Starts(p, "<!DOCTYPE")) {
        if (rootSeen_) Fail(p, "a document type declaration inside or after the root element");
        p_ = SkipDoctype(p);
      } else {
        Fail(p, "unrecognised markup after '<!'");
      }
    } else if (next == '?') {
      // A processing instruction names its target first.
      if (p + 2 >= n_) Truncated(p, "the document ends with '<?' (it may be truncated)");
      if (!IsNameStart(s_[p + 2])) Fail(p, "a processing instruction without a target name");
      p_ = Past(p + 2, "?>", p,
                "a processing instruction that is not closed (the document may be truncated)");
    } else if (next == '/') {
      EndTag(p);
    } else {
      StartTag(p, next);
    }
    return true;
  }

  [[gnu::always_inline]] void EndTag(std::size_t p) {
    std::size_t q = p + 2;
    // The expected name is compared in place; only a mismatch is read out
    // name by name for its message.
    bool matched = false;
    if (!open_.empty() && n_ - q > open_.back().size && SameBytes(q, NameOf(open_.back())) &&
        !IsNameChar(s_[q + open_.back().size])) {
      q += open_.back().size;
      matched = true;
    } else {
      while (IsNameChar(s_[q])) ++q;  // the text's terminating NUL stops it
    }
    const std::string_view name(s_ + p + 2, q - p - 2);
    if (name.empty()) {
      if (q >= n_ && !complete_) throw NeedMore{};
      Fail(p, "an end tag without a name");
    }
    while (q < n_ && IsXmlSpace(s_[q])) ++q;
    if (q >= n_) Truncated(p, "the document ends inside the end tag </" + ShownName(name) + ">");
    if (s_[q] != '>') Fail(q, "the end tag </" + ShownName(name) + "> is malformed");
    if (open_.empty()) Fail(p, "the end tag </" + ShownName(name) + "> has no start tag");
    if (!matched && NameOf(open_.back()) != name) {
      Fail(p, "the end tag </" + ShownName(name) + "> does not match the start tag <" +
                  ShownName(NameOf(open_.back())) + ">");
    }
    open_.pop_back();
    p_ = q + 1;
    if (open_.size() == 1) ChildEnded(p_);
    if (open_.empty()) rootDone_ = true;
  }

  [[gnu::always_inline]] void StartTag(std::size_t p, char next) {
    if (!IsNameStart(next)) {
      Fail(p, "'<' is not followed by a tag name (a '<' in text must be written &lt;)");
    }
    std::size_t q = NameEnd(p + 1);
    const OpenElement element{p + 1, q - p - 1};
    const std::string_view name = NameOf(element);
    bool selfClosing = false;
    if (q < n_ && s_[q] == '>') {
      ++q;
    } else {
      q = SkipAttributes(p, q, name, selfClosing);
    }
    if (open_.empty()) {
      if (rootDone_) {
        Fail(p, "a second root element <" + ShownName(name) +
                    "> (a document has exactly one root element)");
      }
      rootSeen_ = true;
      if (selfClosing) {
        rootDone_ = true;
      } else {
        open_.push_back(element);
        Publish(q);
        lastCut_ = lastChildEnd_ = q;
      }
    } else if (selfClosing) {
      if (open_.size() == 1) {
        rootHasChildNodes_ = true;
        ChildEnded(q);
      }
    } else {
      if (open_.size() >= static_cast<std::size_t>(kMaxElementDepth)) {
        Fail(p,
             "elements are nested more than " + std::to_string(kMaxElementDepth) + " levels deep");
      }
      if (open_.size() == 1) rootHasChildNodes_ = true;
      // Most elements of a schedule hold one value: when the text and the
      // matching end tag have arrived, the element is read whole. Its text
      // lies below the root's children, where text needs no check; anything
      // else takes the general road. An element whose content opens with
      // markup (a record) is not looked ahead into: the general road finds
      // the same tag next.
      if (q < n_ && s_[q] != '<') {
        const std::size_t lt = NextTag(q);
        const std::size_t close = lt + 2 + element.size;
        if (close < n_ && s_[lt + 1] == '/' && s_[close] == '>' && SameBytes(lt + 2, name)) {
          p_ = close + 1;
          if (open_.size() == 1) ChildEnded(p_);
          return;
        }
      }
      open_.push_back(element);
    }
    p_ = q;
  }

  void Finish() {
    if (!open_.empty()) {
      Fail(n_, "the document ends before the element <" + ShownName(NameOf(open_.back())) +
                   "> is closed (it is probably truncated)");
    }
    if (!rootSeen_) Fail(n_, "there is no root element (the reply holds no XML element)");
    // The text after the last child is left out of the batches: a text node
    // names no record set, so nothing is lost, and a batch then always ends
    // right after a '>'.
    if (anyCut_ && lastChildEnd_ > lastPublished_) Publish(lastChildEnd_);
  }

  void Publish(std::size_t at) {
    anyCut_ = true;
    lastPublished_ = at;
    cut_(at);
  }

  void ChildEnded(std::size_t at) {
    lastChildEnd_ = at;
    if (at - lastCut_ >= kBatchBytes) {
      Publish(at);
      lastCut_ = at;
    }
  }

  [[noreturn]] void Fail(std::size_t pos, const std::string& what) {
    RefuseAt(address_, t_, pos, what);
  }

  // A fault that more text may yet mend.
  [[noreturn]] void Truncated(std::size_t pos, const std::string& what) {
    if (!complete_) throw NeedMore{};
    Fail(pos, what);
  }

  bool Starts(std::size_t p, std::string_view s) const { return t_.compare(p, s.size(), s) == 0; }

  // The next '<' from p on, or n_. The text between two tags of a schedule
  // is a value of a few bytes: sixteen bytes at a time find most tags in one
  // step, without the setting-up of a library search.
  std::size_t NextTag(std::size_t p) const {
    const char* s = s_;
#if defined(__SSE2__)
    const __m128i lt = _mm_set1_epi8('<');
    for (; p + 16 <= n_; p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p));
      if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lt)); hits != 0) {
        return p + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
      }
    }
#endif
    for (; p < n_; ++p) {
      if (s[p] == '<') return p;
    }
    return n_;
  }

  // Where the name that starts at p ends. Every start tag's name is read
  // here, four bytes to a branch while they are that far from the end.
  std::size_t NameEnd(std::size_t p) const {
    for (; p + 4 <= n_; p += 4) {
      const unsigned all = Class(s_[p]) & Class(s_[p + 1]) & Class(s_[p + 2]) & Class(s_[p + 3]);
      if ((all & kNameChar) == 0) break;
    }
    while (IsNameChar(s_[p])) ++p;  // the text's terminating NUL stops it
    return p;
  }

  // Whether the text at p starts with `name` (room for it is known).
  bool SameBytes(std::size_t p, std::string_view name) const {
    return EqualBytes(s_ + p, name.data(), name.size());
  }

  std::size_t Past(std::size_t from, std::string_view terminator, std::size_t start,
                   const char* what) {
    const std::size_t at = t_.find(terminator, from);
    if (at == std::string::npos) Truncated(start, what);
    return at + terminator.size();
  }

  // Skips the attributes of a start tag whose name ends at q; returns the
  // position after its '>'.
  std::size_t SkipAttributes(std::size_t p, std::size_t q, std::string_view name,
                             bool& selfClosing) {
    auto truncated = [&] {
      Truncated(p, "the document ends inside the start tag <" + ShownName(name) +
                       "> (it is probably truncated)");
    };
    for (;;) {
      bool spaced = false;
      while (q < n_ && IsXmlSpace(s_[q])) ++q, spaced = true;
      if (q >= n_) truncated();
      if (s_[q] == '>') return q + 1;
      if (s_[q] == '/') {
        if (q + 1 >= n_) truncated();
        if (s_[q + 1] != '>') Fail(q, "the start tag <" + ShownName(name) + "> is malformed");
        selfClosing = true;
        return q + 2;
      }
      if (!spaced || !IsNameStart(s_[q])) {
        Fail(q, "the start tag <" + ShownName(name) + "> is malformed");
      }
      while (q < n_ && IsNameChar(s_[q])) ++q;
      while (q < n_ && IsXmlSpace(s_[q])) ++q;
      if (q >= n_) truncated();
      if (s_[q] != '=') Fail(q, "an attribute of <" + ShownName(name) + "> has no value");
      ++q;
      while (q < n_ && IsXmlSpace(s_[q])) ++q;
      if (q >= n_) truncated();
      if (s_[q] != '"' && s_[q] != '\'') {
        Fail(q, "an attribute value of <" + ShownName(name) + "> is not quoted");
      }
      const std::size_t close = t_.find(s_[q], q + 1);
      if (close == std::string::npos) truncated();
      q = close + 1;
    }
  }

  std::size_t SkipDoctype(std::size_t p) {
    int brackets = 0;
    for (std::size_t q = p + 9; q < n_; ++q) {
      const char c = s_[q];
      if (c == '"' || c == '\'') {
        const std::size_t close = t_.find(c, q + 1);
        if (close == std::string::npos) break;
        q = close;
      } else if (c == '<' && Starts(q, "<!--")) {
        const std::size_t close = t_.find("-->", q + 4);
        if (close == std::string::npos) break;
        q = close + 2;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        return q + 1;
      }
    }
    Truncated(p, "a document type declaration that is not closed");
  }

  const std::string& t_;
  const char* s_ = nullptr;  // the text received so far, and its size
  std::size_t n_ = 0;
  bool complete_ = false;
  bool done_ = false;
  std::size_t p_;
  const std::string& address_;
  const std::function<void(std::size_t)> cut_;
  std::vector<OpenElement> open_;
  bool rootSeen_ = false, rootDone_ = false, rootHasChildNodes_ = false;
  bool anyCut_ = false;
  std::size_t lastPublished_ = 0, lastCut_ = 0, lastChildEnd_ = 0;
};

// The batches of a read: bounded by the scan as it goes, claimed in order by
// a helper thread and by the reading thread, each parsed and digested by the
// thread that claimed it, and consumed in order by the reading thread. A
// digest is far smaller than its batch's element tree, and each thread holds
// one tree at a time. A batch is parsed in place in a copy of its bytes: the
// document text stays as received, for the scan that is still reading it and
// for the places that messages name. The copy is taken under the lock under
// which received text is added, so the text may grow meanwhile.
class LoadDocument::Pipeline {
 public:
  Pipeline(LoadDocument& document, const Digester& digest)
      : document_(document), digest_(digest), textData_(document.text_.data()) {}

  ~Pipeline() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
  }

  // Without a helper everything happens on the reading thread.
  void StartHelper() {
    if (helperTried_) return;
    helperTried_ = true;
    try {
      helper_ = std::thread([this] { HelperLoop(); });
    } catch (const std::system_error&) {
      // No thread to be had: the reading thread does it all.
    }
  }

  // Adds received bytes to the document text. Batches are copied out of it
  // without the lock: bytes that fit the text's room leave the batches in
  // place, and only bytes that do not wait for the copying to stop.
  void Append(std::string_view bytes) {
    std::string& text = document_.text_;
    if (text.capacity() - text.size() >= bytes.size()) {
      text.append(bytes);
      return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return copying_ == 0; });
    text.append(bytes);
    textData_ = text.data();
  }

  void AddCut(std::size_t at) {
    {
      std::lock_guard lock(mutex_);
      cuts_.push_back(at);
    }
    if (cuts_.size() >= 2) changed_.notify_all();
  }

  void ScanDone() {
    {
      std::lock_guard lock(mutex_);
      scanDone_ = true;
    }
    changed_.notify_all();
  }

  void ConsumeAll(const std::function<void(Digest&)>& consume) {
    Workspace space;
    std::unique_lock lock(mutex_);
    const std::size_t batches = cuts_.empty() ? 0 : cuts_.size() - 1;
    for (std::size_t i = 0; i < batches; ++i) {
      while (i >= slots_.size() || !slots_[i].done) {
        if (next_ < batches) {
          Work(lock, space);
        } else {
          changed_.wait(lock);
        }
      }
      Slot slot = std::move(slots_[i]);
      lock.unlock();
      if (slot.error) std::rethrow_exception(slot.error);
      if (slot.parseFault) {
        RefuseAt(document_.shownAddress_, document_.text_, slot.faultAt, slot.faultWhat);
      }
      consume(*slot.digest);
      slot.digest.reset();
      lock.lock();
    }
  }

 private:
  struct Slot {
    bool done = false;
    std::unique_ptr<Digest> digest;
    std::exception_ptr error;
    // A parse error, made into a message by the reading thread, which alone
    // may read the text while it grows.
    bool parseFault = false;
    std::size_t faultAt = 0;
    const char* faultWhat = "";
  };

  struct Workspace {
    pugi::xml_document tree;
    std::string bytes;
  };

  void HelperLoop() {
    Workspace space;
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || next_ + 1 < cuts_.size() || scanDone_; });
      if (stop_ || next_ + 1 >= cuts_.size()) return;
      Work(lock, space);
    }
  }

  // Claims the next batch and copies it out, then parses and digests it
  // with the lock released.
  void Work(std::unique_lock<std::mutex>& lock, Workspace& space) {
    const std::size_t i = next_++;
    const std::size_t begin = cuts_[i], end = cuts_[i + 1];
    if (slots_.size() <= i) slots_.resize(i + 1);
    // The text stays where it is until copying_ is back to zero.
    const char* text = textData_;
    ++copying_;
    lock.unlock();
    std::unique_ptr<Digest> digest;
    std::exception_ptr error;
    pugi::xml_parse_result parsed;
    try {
      // The copy is reused from batch to batch, so that no batch costs an
      // allocation of its size.
      space.bytes.assign(text + begin, end - begin);
      space.bytes.append(kBatchPadding, '\0');
    } catch (...) {
      error = std::current_exception();
    }
    if (!error) {
      try {
        parsed = space.tree.load_buffer_inplace(
            space.bytes.data(), end - begin,
            pugi::parse_default | pugi::parse_fragment | pugi::parse_embed_pcdata,
            pugi::encoding_utf8);
        if (parsed) digest = digest_(space.tree.first_child(), end - begin);
      } catch (...) {
        error = std::current_exception();
      }
    }
    space.tree.reset();
    lock.lock();
    --copying_;
    Slot& slot = slots_[i];
    slot.digest = std::move(digest);
    slot.error = std::move(error);
    if (!slot.error && !parsed) {
      slot.parseFault = true;
      slot.faultAt = begin + static_cast<std::size_t>(parsed.offset);
      slot.faultWhat = parsed.description();
    }
    slot.done = true;
    changed_.notify_all();
  }

  LoadDocument& document_;
  const Digester& digest_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::size_t> cuts_;
  std::deque<Slot> slots_;  // a deque keeps its elements in place as it grows
  std::size_t next_ = 0;    // the next batch to claim
  bool scanDone_ = false;
  bool stop_ = false;
  bool helperTried_ = false;
  const char* textData_;  // where the text stands, changed under the lock
  int copying_ = 0;       // batches being copied out of the text
  std::thread helper_;
};

LoadDocument::LoadDocument(std::string shownAddress, const Digester& digest,
                           std::size_t readOnBytes)
    : shownAddress_(std::move(shownAddress)), digest_(digest), readOnBytes_(readOnBytes) {}

// The pipeline's helper stops before the text goes.
LoadDocument::~LoadDocument() = default;

void LoadDocument::Expect(std::size_t bytes) {
  if (text_.empty()) text_.reserve(bytes);
  expected_ = bytes;
}

void LoadDocument::Receive(std::string_view bytes) {
  if (bytes.empty()) return;
  if (pipeline_) {
    pipeline_->Append(bytes);
  } else {
    text_.append(bytes);
  }
  if (mode_ == Mode::kUndecided) Decide(false);
  // A transfer hands on small pieces (16 KB from a file); reading on from a
  // few of them at once spares the scan most of its stops and restarts, and
  // they are still in the cache.
  if (mode_ == Mode::kStreaming && text_.size() - validated_ >= readOnBytes_) Advance(false);
}

// A UTF-8 document is read as it arrives. Any other encoding, named by a
// byte-order mark, by the way the first characters are written or by the
// XML declaration, is read once the document is whole.
void LoadDocument::Decide(bool complete) {
  const std::string& s = text_;
  if (!complete && s.size() < 4) return;
  auto starts = [&](std::initializer_list<unsigned char> prefix) {
    return StartsWithBytes(s, prefix);
  };
  // The byte patterns of UTF-16 and UTF-32, with and without a byte-order
  // mark.
  if (starts({0x00, 0x00}) || starts({0xFF, 0xFE}) || starts({0xFE, 0xFF}) ||
      starts({0x3C, 0x00}) || starts({0x00, 0x3C})) {
    mode_ = Mode::kWhole;
    return;
  }
  if (starts({0xEF, 0xBB, 0xBF})) {
    begin_ = 3;
  } else {
    if (!complete && MayBeDeclaration(s)) return;
    const std::string declared = DeclaredEncoding(s, 0);
    if (!declared.empty() && declared != "utf-8" && declared != "utf8") {
      mode_ = Mode::kWhole;
      return;
    }
  }
  mode_ = Mode::kStreaming;
  validated_ = begin_;
  StartReading(expected_ > 2 * kBatchBytes);
}

void LoadDocument::StartReading(bool expectLarge) {
  pipeline_ = std::make_unique<Pipeline>(*this, digest_);
  // A document of a batch or two is read faster than a thread starts.
  if (expectLarge) pipeline_->StartHelper();
  scanner_ = std::make_unique<Scanner>(text_, begin_, shownAddress_,
                                       [this](std::size_t at) { pipeline_->AddCut(at); });
}

void LoadDocument::Advance(bool complete) {
  if (!encodingFault_) {
    const std::size_t end = complete ? text_.size() : WholeCharactersEnd(text_, validated_);
    bool isNul = false;
    const std::size_t bad = FindBadUtf8(text_, validated_, end, isNul);
    if (bad != std::string::npos) {
      encodingFault_ = std::make_exception_ptr(Utf8Fault(shownAddress_, bad, isNul));
    }
    validated_ = end;
  }
  // A fault of the encoding outranks one of the tree, wherever each stands;
  // the encoding is checked to the end after a fault of the tree.
  if (encodingFault_ || treeFault_) return;
  if (text_.size() - begin_ > 2 * kBatchBytes) pipeline_->StartHelper();
  try {
    scanner_->Advance(complete);
  } catch (const ControlError&) {
    treeFault_ = std::current_exception();
  }
}

void LoadDocument::Read(const std::function<bool()>& ready,
                        const std::function<void(Digest&)>& consume) {
  if (mode_ == Mode::kUndecided) Decide(true);
  if (mode_ == Mode::kWhole) {
    auto [text, begin] = SettleEncoding(std::move(text_), shownAddress_);
    text_ = std::move(text);
    begin_ = begin;
    StartReading(text_.size() - begin_ > 2 * kBatchBytes);
    scanner_->Advance(true);
  } else {
    Advance(true);
    if (encodingFault_) std::rethrow_exception(encodingFault_);
    if (treeFault_) std::rethrow_exception(treeFault_);
  }
  rootHasChildNodes_ = scanner_->RootHasChildNodes();
  pipeline_->ScanDone();
  if (!ready()) return;
  pipeline_->ConsumeAll(consume);
}

}  // namespace harnolfees::loading

namespace harnolfees {

std::string AddressWithoutCredentials(std::string_view url) {
  return loading::RedactCredentials(url);
}

}  // namespace harnolfees
