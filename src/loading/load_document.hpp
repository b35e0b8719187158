// The load document: the bytes fetched from the server page, settled to
// UTF-8, checked for a sound element structure, and parsed a batch of root
// children at a time so that only a small part of the element tree exists at
// once (a 100,000-record schedule would otherwise need several times its own
// size for the tree alone).
#pragma once

#include <cstddef>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace harnolfees::loading {

// Deeper nesting is refused before anything is read. The document itself
// needs four levels (root, record, field, text); 256 is what common XML
// readers allow by default.
inline constexpr int kMaxElementDepth = 256;

// The number of document bytes parsed into one batch of root children.
inline constexpr std::size_t kBatchBytes = 256 * 1024;

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
std::string_view NodeText(pugi::xml_node node, std::string& scratch);

class LoadDocument {
 public:
  // Settles the encoding of `bytes` (UTF-8, UTF-16 and UTF-32 with or without
  // a byte-order mark; ISO-8859-1, Windows-1252 and US-ASCII when declared)
  // and checks that the text is one element tree: tags balanced and matching,
  // nesting within kMaxElementDepth, one root. Throws
  // ControlError(errc::kDocument) naming `shownAddress` when it is not.
  LoadDocument(std::string bytes, std::string shownAddress);
  LoadDocument(const LoadDocument&) = delete;
  LoadDocument& operator=(const LoadDocument&) = delete;

  // Whether the root element has child nodes once white space that stands
  // alone between elements and comments are left out.
  bool RootHasChildNodes() const { return rootHasChildNodes_; }
  const std::string& RootName() const { return rootName_; }

  // Parses the root's children batch by batch and hands each one to `visit`,
  // in document order. A node is valid only during its visit. Parse errors
  // throw ControlError(errc::kDocument) naming the address and the place,
  // when the reading reaches the batch that holds them. A large document's
  // batches are parsed on a helper thread a few batches ahead of the
  // reading, which stays on the calling thread.
  void ForEachRootChild(const std::function<void(pugi::xml_node)>& visit);

 private:
  void ParseBatch(pugi::xml_document& batch, std::size_t begin, std::size_t end);

  std::string text_;  // UTF-8
  std::string shownAddress_;
  std::string rootName_;
  // Batch bounds in text_: batch i is [cuts_[i], cuts_[i + 1]). Each bound
  // lies between two children of the root, right after a '>'.
  std::vector<std::size_t> cuts_;
  bool rootHasChildNodes_ = false;
};

}  // namespace harnolfees::loading
