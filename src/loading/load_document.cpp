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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

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

bool Is(char c, std::uint8_t k) { return (kClasses[static_cast<unsigned char>(c)] & k) != 0; }
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

[[noreturn]] void Refuse(const std::string& address, const std::string& what) {
  throw ControlError(errc::kDocument,
                     "The fee schedule from " + address + " cannot be read: " + what + ".");
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

bool HasZeroByte(std::uint64_t w) {
  return ((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull) != 0;
}

// The offset of the first byte that breaks UTF-8 (or is NUL), or npos.
std::size_t FindBadUtf8(const std::string& s, std::size_t i, bool& isNul) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
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
      if ((w & 0x8080808080808080ull) == 0 && !HasZeroByte(w)) {
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

// Returns the settled UTF-8 text and where its content begins (after a
// UTF-8 byte-order mark, which stays in place so that offsets match the
// bytes as received).
std::pair<std::string, std::size_t> SettleEncoding(std::string bytes, const std::string& address) {
  auto starts = [&](std::initializer_list<unsigned char> prefix) {
    if (bytes.size() < prefix.size()) return false;
    std::size_t i = 0;
    for (unsigned char b : prefix) {
      if (static_cast<unsigned char>(bytes[i++]) != b) return false;
    }
    return true;
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
  std::size_t bad = FindBadUtf8(bytes, begin, isNul);
  if (bad != std::string::npos) {
    if (isNul) Refuse(address, "it holds a NUL character at byte offset " + std::to_string(bad));
    Refuse(address, "it is not valid UTF-8 text (the first invalid byte is at byte offset " +
                        std::to_string(bad) +
                        "); a document in another encoding must declare it in its XML "
                        "declaration");
  }
  return {std::move(bytes), begin};
}

// ---- Structure ----

class Scanner {
 public:
  // `cut` hears of every batch bound as soon as the scan has passed it: the
  // start of the root's content, then places right after a '>' between two
  // of its children.
  Scanner(const std::string& text, const std::string& address,
          const std::function<void(std::size_t)>& cut)
      : t_(text), n_(text.size()), address_(address), cut_(cut) {}

  struct Result {
    bool rootHasChildNodes = false;
  };

  Result Scan(std::size_t begin) {
    Result result;
    bool anyCut = false;
    std::size_t lastPublished = 0;
    auto publish = [&](std::size_t at) {
      anyCut = true;
      lastPublished = at;
      cut_(at);
    };
    std::vector<std::string_view> open;  // names of the open elements
    bool rootSeen = false, rootDone = false;
    std::size_t lastCut = 0, lastChildEnd = 0;
    std::size_t p = begin;

    auto childEnded = [&](std::size_t at) {
      lastChildEnd = at;
      if (at - lastCut >= kBatchBytes) {
        publish(at);
        lastCut = at;
      }
    };

    for (;;) {
      const std::size_t lt = NextTag(p);
      if (lt > p) {
        const std::size_t depth = open.size();
        if (depth == 0 && !AllXmlSpace(t_.data() + p, lt - p)) {
          std::size_t at = p;
          while (IsXmlSpace(t_[at])) ++at;
          Fail(at, rootDone ? "text after the end of the root element"
                            : "text before the root element (the reply is not an XML document)");
        }
        if (depth == 1 && !result.rootHasChildNodes && !AllXmlSpace(t_.data() + p, lt - p)) {
          result.rootHasChildNodes = true;
        }
      }
      if (lt >= n_) break;
      p = lt;
      if (p + 1 >= n_) Fail(p, "the document ends with '<' (it may be truncated)");
      const char next = t_[p + 1];
      if (next == '!') {
        if (Starts(p, "<!--")) {
          p = Past(p + 4, "-->", p, "a comment that is not closed (the document may be truncated)");
        } else if (Starts(p, "<![CDATA[")) {
          if (open.empty()) Fail(p, "a CDATA section outside the root element");
          p = Past(p + 9, "]]>", p,
                   "a CDATA section that is not closed (the document may be truncated)");
          if (open.size() == 1) {
            result.rootHasChildNodes = true;
            childEnded(p);
          }
        } else if (Starts(p, "<!DOCTYPE")) {
          if (rootSeen) Fail(p, "a document type declaration inside or after the root element");
          p = SkipDoctype(p);
        } else {
          Fail(p, "unrecognised markup after '<!'");
        }
      } else if (next == '?') {
        p = Past(p + 2, "?>", p,
                 "a processing instruction that is not closed (the document may be truncated)");
      } else if (next == '/') {
        std::size_t q = p + 2;
        // The expected name is compared in place; only a mismatch is read
        // out name by name for its message.
        if (!open.empty() && n_ - q > open.back().size() && SameBytes(q, open.back()) &&
            !IsNameChar(t_[q + open.back().size()])) {
          q += open.back().size();
        } else {
          while (IsNameChar(t_[q])) ++q;  // the text's terminating NUL stops it
        }
        std::string_view name(t_.data() + p + 2, q - p - 2);
        if (name.empty()) Fail(p, "an end tag without a name");
        while (q < n_ && IsXmlSpace(t_[q])) ++q;
        if (q >= n_) Fail(p, "the document ends inside the end tag </" + ShownName(name) + ">");
        if (t_[q] != '>') Fail(q, "the end tag </" + ShownName(name) + "> is malformed");
        if (open.empty()) {
          Fail(p, "the end tag </" + ShownName(name) + "> has no start tag");
        }
        if (open.back() != name) {
          Fail(p, "the end tag </" + ShownName(name) + "> does not match the start tag <" +
                      ShownName(open.back()) + ">");
        }
        open.pop_back();
        p = q + 1;
        if (open.size() == 1) childEnded(p);
        if (open.empty()) rootDone = true;
      } else {
        if (!IsNameStart(next)) {
          Fail(p, "'<' is not followed by a tag name (a '<' in text must be written &lt;)");
        }
        std::size_t q = p + 1;
        while (IsNameChar(t_[q])) ++q;  // the text's terminating NUL stops it
        std::string_view name(t_.data() + p + 1, q - p - 1);
        bool selfClosing = false;
        if (q < n_ && t_[q] == '>') {
          ++q;
        } else {
          q = SkipAttributes(p, q, name, selfClosing);
        }
        if (open.empty()) {
          if (rootDone) {
            Fail(p, "a second root element <" + ShownName(name) +
                        "> (a document has exactly one root element)");
          }
          rootSeen = true;
          if (selfClosing) {
            rootDone = true;
          } else {
            open.push_back(name);
            publish(q);
            lastCut = lastChildEnd = q;
          }
        } else if (selfClosing) {
          if (open.size() == 1) {
            result.rootHasChildNodes = true;
            childEnded(q);
          }
        } else {
          if (open.size() == 1) result.rootHasChildNodes = true;
          if (open.size() >= static_cast<std::size_t>(kMaxElementDepth)) {
            Fail(p, "elements are nested more than " + std::to_string(kMaxElementDepth) +
                        " levels deep");
          }
          open.push_back(name);
        }
        p = q;
      }
    }
    if (!open.empty()) {
      Fail(n_, "the document ends before the element <" + ShownName(open.back()) +
                   "> is closed (it is probably truncated)");
    }
    if (!rootSeen) Fail(n_, "there is no root element (the reply holds no XML element)");
    // The text after the last child is left out of the batches: a text node
    // names no record set, so nothing is lost, and a batch then always ends
    // right after a '>'.
    if (anyCut && lastChildEnd > lastPublished) publish(lastChildEnd);
    return result;
  }

 private:
  [[noreturn]] void Fail(std::size_t pos, const std::string& what) {
    RefuseAt(address_, t_, pos, what);
  }

  bool Starts(std::size_t p, std::string_view s) const { return t_.compare(p, s.size(), s) == 0; }

  // The next '<' from p on, or n_. The text between two tags of a schedule
  // is a value of a few bytes: sixteen bytes at a time find most tags in one
  // step, without the setting-up of a library search.
  std::size_t NextTag(std::size_t p) const {
    const char* s = t_.data();
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

  // Whether the text at p starts with `name` (room for it is known); names
  // are short, so eight bytes at a time and no library call.
  bool SameBytes(std::size_t p, std::string_view name) const {
    const char* a = t_.data() + p;
    const char* b = name.data();
    std::size_t n = name.size();
    for (; n >= 8; n -= 8, a += 8, b += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      if (x != y) return false;
    }
    for (; n > 0; --n, ++a, ++b) {
      if (*a != *b) return false;
    }
    return true;
  }

  std::size_t Past(std::size_t from, std::string_view terminator, std::size_t start,
                   const char* what) {
    std::size_t at = t_.find(terminator, from);
    if (at == std::string::npos) Fail(start, what);
    return at + terminator.size();
  }

  // Skips the attributes of a start tag whose name ends at q; returns the
  // position after its '>'.
  std::size_t SkipAttributes(std::size_t p, std::size_t q, std::string_view name,
                             bool& selfClosing) {
    auto truncated = [&] {
      Fail(p, "the document ends inside the start tag <" + ShownName(name) +
                  "> (it is probably truncated)");
    };
    for (;;) {
      bool spaced = false;
      while (q < n_ && IsXmlSpace(t_[q])) ++q, spaced = true;
      if (q >= n_) truncated();
      if (t_[q] == '>') return q + 1;
      if (t_[q] == '/') {
        if (q + 1 >= n_) truncated();
        if (t_[q + 1] != '>') Fail(q, "the start tag <" + ShownName(name) + "> is malformed");
        selfClosing = true;
        return q + 2;
      }
      if (!spaced || !IsNameStart(t_[q])) {
        Fail(q, "the start tag <" + ShownName(name) + "> is malformed");
      }
      while (q < n_ && IsNameChar(t_[q])) ++q;
      while (q < n_ && IsXmlSpace(t_[q])) ++q;
      if (q >= n_) truncated();
      if (t_[q] != '=') Fail(q, "an attribute of <" + ShownName(name) + "> has no value");
      ++q;
      while (q < n_ && IsXmlSpace(t_[q])) ++q;
      if (q >= n_) truncated();
      if (t_[q] != '"' && t_[q] != '\'') {
        Fail(q, "an attribute value of <" + ShownName(name) + "> is not quoted");
      }
      std::size_t close = t_.find(t_[q], q + 1);
      if (close == std::string::npos) truncated();
      q = close + 1;
    }
  }

  std::size_t SkipDoctype(std::size_t p) {
    int brackets = 0;
    for (std::size_t q = p + 9; q < n_; ++q) {
      char c = t_[q];
      if (c == '"' || c == '\'') {
        std::size_t close = t_.find(c, q + 1);
        if (close == std::string::npos) break;
        q = close;
      } else if (c == '<' && Starts(q, "<!--")) {
        std::size_t close = t_.find("-->", q + 4);
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
    Fail(p, "a document type declaration that is not closed");
  }

  const std::string& t_;
  const std::size_t n_;
  const std::string& address_;
  const std::function<void(std::size_t)>& cut_;
};

}  // namespace

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

LoadDocument::LoadDocument(std::string bytes, std::string shownAddress)
    : shownAddress_(std::move(shownAddress)) {
  auto [text, begin] = SettleEncoding(std::move(bytes), shownAddress_);
  text_ = std::move(text);
  begin_ = begin;
}

// The batches of a read: bounded by the scan as it goes, claimed in order by
// a helper thread and by the reading thread, each parsed and digested by the
// thread that claimed it, and consumed in order by the reading thread. A
// digest is far smaller than its batch's element tree, and each thread holds
// one tree at a time. A batch is parsed in place in a copy of its bytes: the
// document text stays as received, for the scan that is still reading it and
// for the places that messages name.
class LoadDocument::Pipeline {
 public:
  Pipeline(LoadDocument& document, const Digester& digest) : document_(document), digest_(digest) {}

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
    try {
      helper_ = std::thread([this] { HelperLoop(); });
    } catch (const std::system_error&) {
      // No thread to be had: the reading thread does it all.
    }
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

  // Claims the next batch, parses and digests it with the lock released.
  void Work(std::unique_lock<std::mutex>& lock, Workspace& space) {
    const std::size_t i = next_++;
    const std::size_t begin = cuts_[i], end = cuts_[i + 1];
    if (slots_.size() <= i) slots_.resize(i + 1);
    lock.unlock();
    std::unique_ptr<Digest> digest;
    std::exception_ptr error;
    try {
      document_.ParseBatch(space.tree, space.bytes, begin, end);
      digest = digest_(space.tree.first_child(), end - begin);
    } catch (...) {
      error = std::current_exception();
    }
    space.tree.reset();
    lock.lock();
    Slot& slot = slots_[i];
    slot.digest = std::move(digest);
    slot.error = std::move(error);
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
  std::thread helper_;
};

void LoadDocument::Read(const Digester& digest, const std::function<bool()>& ready,
                        const std::function<void(Digest&)>& consume) {
  Pipeline pipeline(*this, digest);
  // A document of a batch or two is read faster than a thread starts.
  if (text_.size() - begin_ > 2 * kBatchBytes) pipeline.StartHelper();
  const std::function<void(std::size_t)> cut = [&](std::size_t at) { pipeline.AddCut(at); };
  Scanner::Result scanned = Scanner(text_, shownAddress_, cut).Scan(begin_);
  rootHasChildNodes_ = scanned.rootHasChildNodes;
  pipeline.ScanDone();
  if (!ready()) return;
  pipeline.ConsumeAll(consume);
}

void LoadDocument::ParseBatch(pugi::xml_document& batch, std::string& bytes, std::size_t begin,
                              std::size_t end) const {
  // The copy is reused from batch to batch, so that no batch costs an
  // allocation of its size.
  bytes.assign(text_, begin, end - begin);
  bytes.append(kBatchPadding, '\0');
  pugi::xml_parse_result result = batch.load_buffer_inplace(
      bytes.data(), end - begin,
      pugi::parse_default | pugi::parse_fragment | pugi::parse_embed_pcdata, pugi::encoding_utf8);
  if (!result) {
    RefuseAt(shownAddress_, text_, begin + static_cast<std::size_t>(result.offset),
             result.description());
  }
}

}  // namespace harnolfees::loading
