// The readers of the load document. The fast one (load_reader.cpp) reads the
// document as it arrives, a batch of root children at a time on two threads;
// the reference one (reference_reader.cpp) states the same rules plainly over
// a whole parsed tree. Both fill the same target and must agree on every
// document: fuzz/load_rules_fuzz.cpp runs them side by side.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/host.hpp"
#include "harnolfees/runtime.hpp"
#include "harnolfees/surface.hpp"

namespace harnolfees::loading {

// Where a load puts what it reads. Only the UI thread touches it.
struct LoadTarget {
  FeeRecordSets& sets;  // open
  // The lists the document fills: cboTerm, cboType, cboBitwise, cboAPRType
  // and cboAccessLevel (emptied by the load; the others only grow).
  Surface& surface;
  bool& showTravelOption;
  const RegionalSettings& regional;
};

// Fetches the document at `address` and reads it into the target. A document
// that cannot be fetched, decoded or read as one element tree throws
// ControlError before the target is touched; once it is sound the record
// sets and the access levels are emptied and the root's children read in
// order, a fault (ControlError) leaving what came before it loaded. Returns
// whether the root had any children.
bool ReadLoadDocument(DocumentFetcher& fetcher, const std::string& address,
                      const LoadTarget& target);
// The same for a document already at hand; `shownAddress` names it in
// messages.
bool ReadLoadDocument(std::string_view bytes, const std::string& shownAddress,
                      const LoadTarget& target);

// The reference reader: the same rules over the whole document, parsed at
// once. Throws ControlError with the same number as the fast reader for
// every fault, and the same description for every fault of the rules (a
// record set, field or value the document gets wrong); a document that is
// not one element tree gets the parser's own description.
bool ReferenceReadLoadDocument(std::string_view bytes, const LoadTarget& target);

// Rules both readers share word for word.
// A piece of document text quoted in a message, cut to 60 bytes.
std::string Quoted(std::string_view text);
// An access level's identifier text as its list item data; throws
// ControlError (type mismatch, overflow) naming the text and the level.
std::int32_t AccessLevelIdentifier(std::string_view idText, std::string_view description,
                                   const RegionalSettings& regional);

}  // namespace harnolfees::loading
