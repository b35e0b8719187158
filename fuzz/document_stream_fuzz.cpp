// A load document read as it arrives, in pieces and with stops for more at
// any places, must read exactly as the same bytes read whole: the same root
// children in the same batches, or the same message.
//
// Input: one byte for the size of the pieces, one for how often the reading
// stops for more, one for whether the length is announced; then the document.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "harnolfees/runtime.hpp"
#include "loading/load_document.hpp"

namespace {

using harnolfees::ControlError;
using harnolfees::loading::LoadDocument;

struct Summary final : LoadDocument::Digest {
  std::string text;
};

// Each root child of a batch: its name and the texts of its parts.
std::unique_ptr<LoadDocument::Digest> Summarise(pugi::xml_node first, std::size_t bytes) {
  auto summary = std::make_unique<Summary>();
  summary->text = "batch of " + std::to_string(bytes) + " bytes:";
  std::string scratch;
  for (pugi::xml_node node = first; node; node = node.next_sibling()) {
    summary->text += " <" + std::string(node.name()) + ">";
    harnolfees::loading::ForEachPartText(node, scratch, [&](std::string_view part) {
      summary->text += "[" + std::string(part) + "]";
    });
  }
  return summary;
}

std::string Read(std::string_view bytes, std::size_t pieceSize, std::size_t readOn, bool announce) {
  const LoadDocument::Digester digest = &Summarise;
  std::string out;
  try {
    LoadDocument document("fuzz://document", digest, readOn);
    if (announce) document.Expect(bytes.size());
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
      document.Receive(bytes.substr(at, pieceSize));
    }
    document.Read(
        [&] {
          out += document.RootHasChildNodes() ? "children\n" : "no children\n";
          return true;
        },
        [&](LoadDocument::Digest& d) { out += static_cast<Summary&>(d).text + "\n"; });
  } catch (const ControlError& e) {
    out += "error: " + e.description();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t pieceSize = 1 + data[0] % 32;
  const std::size_t readOn = 1 + data[1] % 64;
  const bool announce = (data[2] & 1) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

  const std::string whole =
      Read(bytes, bytes.empty() ? 1 : bytes.size(), std::numeric_limits<std::size_t>::max(), true);
  const std::string pieces = Read(bytes, pieceSize, readOn, announce);
  if (whole != pieces) __builtin_trap();
  return 0;
}
