// LoadData: the host's request to show the fee schedule of one center.
#include <exception>
#include <new>
#include <string>

#include "harnolfees/control.hpp"
#include "loading/load_document.hpp"
#include "loading/load_reader.hpp"

namespace harnolfees {

namespace {

constexpr const char* kLoadPage = "TermFeesAX.asp?Center=";

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

}  // namespace

void HarnolFeesCtlCenter::LoadData(std::string ptURL, std::int16_t piNewClubID,
                                   std::string ptServerDate) {
  // Typing of an add or edit in progress belongs to the records shown now;
  // after the reload the form would stand over other records, and a save
  // would write it there. The add or edit ends as Cancel would end it.
  if (!UnfinishedTabs().empty()) DiscardUnfinishedWork();
  lastLoadSucceeded_ = false;
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
    // A document that cannot be fetched, decoded or read as one element tree
    // ends the load before anything is emptied: the schedule shown stays
    // whole. The reading empties the schedule once the tree is sound.
    // The document is checked, parsed and digested as it arrives.
    const bool anyChildren = loading::ReadLoadDocument(
        *fetcher_, address,
        loading::LoadTarget{recordSets_, surface_, state_.ShowTravelOption, *regional_});
    lastLoadSucceeded_ = true;
    if (!anyChildren) {
      host_.SetMousePointer(pointer::kDefault);
      return;
    }

    FillBankAccountTypes();
    FillGrid(state_.CurrentTab);
    host_.SetMousePointer(pointer::kDefault);
    InitDatePicker(state_.ServerDate, 0);
  } catch (...) {
    lastLoadSucceeded_ = false;
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
