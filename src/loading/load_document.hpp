// The load document: the bytes fetched from the server page, settled to
// UTF-8, checked for a sound element structure, and parsed a batch of root
// children at a time so that only a small part of the element tree exists at
// once (a 100,000-record schedule would otherwise need several times its own
// size for the tree alone).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harnolfees/host.hpp"

namespace harnolfees::loading {

// Deeper nesting is refused before anything is read. The document itself
// needs four levels (root, record, field, text); 256 is what common XML
// readers allow by default.
inline constexpr int kMaxElementDepth = 256;

// The number of document bytes parsed into one batch of root children.
inline constexpr std::size_t kBatchBytes = 256 * 1024;

// While the document arrives, it is read on each time this many bytes more
// have arrived.
inline constexpr std::size_t kReadOnBytes = 128 * 1024;

// A parsed batch's bytes are followed by this many zero bytes, so that a
// name or value of its tree may be read a machine word or two at a time
// without looking for where it ends first.
inline constexpr std::size_t kBatchPadding = 64;

// Whether n bytes at a and at b are the same. Element names are short: eight
// bytes at a time and no library call.
inline bool EqualBytes(const char* a, const char* b, std::size_t n) {
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

// The zero bytes of a machine word, each flagged by its top bit. The lowest
// flag is exact; flags above a zero byte may be false ones.
inline std::uint64_t ZeroBytes(std::uint64_t w) {
  return (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
}

// The length of a name or value of a parsed batch, which ends with a NUL:
// eight bytes at a time, as far as the batch's zero padding allows reading
// beyond the NUL.
inline std::size_t BatchTextLength(const char* text) {
  if constexpr (std::endian::native == std::endian::little) {
    for (std::size_t at = 0;; at += 8) {
      std::uint64_t w;
      std::memcpy(&w, text + at, 8);
      if (const std::uint64_t zero = ZeroBytes(w)) {
        return at + static_cast<std::size_t>(std::countr_zero(zero)) / 8;
      }
    }
  }
  return std::strlen(text);
}

// The encoding of a whole document settled as LoadDocument settles it: the
// UTF-8 text and where its content starts (after a byte-order mark). Throws
// ControlError(errc::kDocument) naming `shownAddress` for bytes that are not
// text in a supported encoding.
std::pair<std::string, std::size_t> SettleDocumentEncoding(std::string bytes,
                                                           const std::string& shownAddress);

// The address as it may be shown to a person: without "user:password@".
std::string RedactCredentials(std::string_view url);

// Removes the credentials of `url` from a text (a transfer library's own
// error text), should it hold them.
std::string ScrubCredentials(std::string text, std::string_view url);

// The record-set number that a record element's name stands for: every
// letter T removed, upper or lower case; the leading number of the rest,
// read as Val reads it; the nearest whole number, halves to even. Returns a
// double so that names holding enormous numbers stay representable; callers
// ignore values below 1.
double RecordSetNumber(std::string_view elementName);

// The text of a node: a text node's own text, or the concatenated text of
// every text node below an element, in document order. Walks the subtree
// without recursion. The result views either the tree or `scratch`.
//
// The batches are parsed with the text that opens an element kept as the
// element's value, which is how a document of one value per element keeps
// half of its nodes out of the tree; the text then comes first among the
// element's parts.
std::string_view NodeText(pugi::xml_node node, std::string& scratch);

// Calls part(text) with the text of every part of an element, in document
// order: the text that opens it, then each child node's text.
template <typename Part>
void ForEachPartText(pugi::xml_node element, std::string& scratch, Part&& part) {
  if (element.type() != pugi::node_element) return;
  if (const char* value = element.value(); *value != '\0') part(std::string_view(value));
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    part(NodeText(child, scratch));
  }
}

// The load document as it arrives. A UTF-8 document is checked while the
// transfer goes on, and the batches that the check has passed are parsed
// and digested by a helper thread meanwhile; a document in another encoding
// is settled and checked once it is whole.
class LoadDocument final : public DocumentFetcher::Sink {
 public:
  // What a batch of root children turns into, made by a Digester.
  struct Digest {
    virtual ~Digest() = default;
  };
  // Turns the root children of one parsed batch (the first of them, and its
  // siblings; the batch's size in bytes) into a Digest. It runs on a helper
  // thread and on the calling thread, two batches at once, so it may only
  // read what stays unchanged during the load.
  using Digester = std::function<std::unique_ptr<Digest>(pugi::xml_node first, std::size_t bytes)>;

  // `shownAddress` names the document in messages; `digest` must outlive
  // this. While the document arrives, it is read on each time `readOnBytes`
  // more have arrived.
  LoadDocument(std::string shownAddress, const Digester& digest,
               std::size_t readOnBytes = kReadOnBytes);
  ~LoadDocument() override;
  LoadDocument(const LoadDocument&) = delete;
  LoadDocument& operator=(const LoadDocument&) = delete;

  void Expect(std::size_t bytes) override;
  void Receive(std::string_view bytes) override;

  // Once the whole body was received: settles its encoding (UTF-8, UTF-16
  // and UTF-32 with or without a byte-order mark; ISO-8859-1, Windows-1252
  // and US-ASCII when declared) and finishes checking that the text is one
  // element tree (tags balanced and matching, nesting within
  // kMaxElementDepth, one root). Throws ControlError(errc::kDocument) naming
  // the address when it is not; an encoding fault goes before a fault of
  // the tree. Then calls ready(), which returns whether to go on, and
  // consume() with every batch's digest in document order; the calling
  // thread digests batches too rather than wait. A parse error throws
  // ControlError(errc::kDocument) naming the address and the place when the
  // consuming reaches its batch.
  void Read(const std::function<bool()>& ready, const std::function<void(Digest&)>& consume);

  // Valid from ready() on: whether the root element has child nodes once
  // white space that stands alone between elements and comments are left
  // out.
  bool RootHasChildNodes() const { return rootHasChildNodes_; }

 private:
  class Pipeline;
  class Scanner;
  enum class Mode { kUndecided, kStreaming, kWhole };

  void Decide(bool complete);
  void StartReading(bool expectLarge);
  // Validates and checks what has arrived; `complete` once nothing more
  // will.
  void Advance(bool complete);

  std::string shownAddress_;
  const Digester& digest_;
  std::string text_;       // UTF-8 once settled
  std::size_t begin_ = 0;  // where the content starts (after a byte-order mark)
  std::size_t readOnBytes_;
  std::size_t expected_ = 0;
  Mode mode_ = Mode::kUndecided;
  std::size_t validated_ = 0;  // the UTF-8 checked so far, while streaming
  std::exception_ptr encodingFault_, treeFault_;
  std::unique_ptr<Pipeline> pipeline_;
  std::unique_ptr<Scanner> scanner_;
  bool rootHasChildNodes_ = false;
};

}  // namespace harnolfees::loading
