// The fast reader of the load document and the reference reader that states
// its rules plainly must agree on any bytes: the same record sets (pending
// records included), the same lists, the same travel option, and the same
// failure with the same message. Markup faults are where they may differ: a
// document the fast reader's check refuses as a whole must be refused whole
// by the reference too, and one the reference's parser refuses must fail in
// the fast reader too, which meets a fault inside the root only when it
// reads that far (the faults of the rules before it come first).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/surface.hpp"
#include "loading/load_reader.hpp"

namespace harnolfees {
namespace {

constexpr const char* kUntouched = "(before the load)";

struct Side {
  FeeRecordSets sets;
  Surface surface;
  bool travel = false;
  bool anyChildren = false;
  bool failed = false;
  int number = 0;
  std::string description;

  Side() {
    sets.OpenAll();
    // Still there afterwards: the document was refused before anything was
    // emptied.
    surface.cboAccessLevel.AddItem(kUntouched);
  }
  loading::LoadTarget Target() {
    return loading::LoadTarget{sets, surface, travel, RegionalSettings::UnitedStates()};
  }
  template <class Read>
  void Run(Read read) {
    try {
      anyChildren = read(Target());
    } catch (const ControlError& e) {
      failed = true;
      number = e.number();
      description = e.description();
    }
  }
  bool RefusedWhole() const {
    return failed && surface.cboAccessLevel.ListCount() > 0 &&
           surface.cboAccessLevel.List(0) == kUntouched;
  }
};

std::vector<std::vector<Value>> Records(const RecordSet& rs) {
  std::vector<std::vector<Value>> out;
  rs.ForEachRecord([&](const std::vector<Value>& values) { out.push_back(values); });
  return out;
}

bool SameList(const ComboBox& a, const ComboBox& b) {
  if (a.ListCount() != b.ListCount()) return false;
  for (int i = 0; i < a.ListCount(); ++i) {
    if (a.List(i) != b.List(i) || a.ItemData(i) != b.ItemData(i)) return false;
  }
  return true;
}

}  // namespace

// What the two readers disagree on for `bytes`, or "" when they agree. The
// unit tests run it over the corpus (tests/loading/load_rules_test.cpp).
std::string LoadReadersDisagreement(std::string_view bytes) {
  Side fast, reference;
  fast.Run([&](const loading::LoadTarget& t) {
    return loading::ReadLoadDocument(bytes, "the load document", t);
  });
  reference.Run(
      [&](const loading::LoadTarget& t) { return loading::ReferenceReadLoadDocument(bytes, t); });

  const std::string outcomes = "\nfast: " + std::to_string(fast.number) + " " + fast.description +
                               "\nreference: " + std::to_string(reference.number) + " " +
                               reference.description;
  // The reference parses the whole document before it reads; the fast
  // reader meets a fault of the markup inside the root only when its batch
  // is read, after the faults of the rules that come before it.
  if (reference.RefusedWhole()) {
    return fast.failed ? "" : "the fast reader reading what the parser refuses" + outcomes;
  }
  if (fast.RefusedWhole()) return "refusing the whole" + outcomes;
  if (fast.failed != reference.failed) return "failing" + outcomes;
  if (fast.failed && fast.number != reference.number) return "the error number" + outcomes;
  if (fast.description != reference.description) return "the message" + outcomes;
  if (!fast.failed && fast.anyChildren != reference.anyChildren) return "the root's children";
  if (fast.travel != reference.travel) return "the travel option";
  for (int n = 1; n <= kRecordSetCount; ++n) {
    if (Records(fast.sets(n)) != Records(reference.sets(n))) {
      return "the records of set " + std::to_string(n) + outcomes;
    }
    if (fast.sets(n).HasPending() != reference.sets(n).HasPending()) {
      return "a pending record of set " + std::to_string(n);
    }
  }
  const Surface& f = fast.surface;
  const Surface& r = reference.surface;
  if (!SameList(f.cboTerm, r.cboTerm) || !SameList(f.cboType, r.cboType) ||
      !SameList(f.cboBitwise, r.cboBitwise) || !SameList(f.cboAPRType, r.cboAPRType) ||
      !SameList(f.cboAccessLevel, r.cboAccessLevel)) {
    return "the lists";
  }
  return "";
}

}  // namespace harnolfees

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string difference = harnolfees::LoadReadersDisagreement(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (!difference.empty()) {
    std::fprintf(stderr, "the readers differ in %s\n", difference.c_str());
    __builtin_trap();
  }
  return 0;
}
