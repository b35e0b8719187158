// Temporary definitions until the loading sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"

namespace harnolfees {

void HarnolFeesCtlCenter::LoadData(std::string, std::int16_t, std::string) {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::PopulateComboBox(const std::string&) {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::FillBankAccountTypes() { throw ControlError(0, "not available yet"); }
int AprOrCreditTypeIdForPosition(int position) { return position < 0 ? 0 : position + 1; }
int PositionForAprOrCreditTypeId(int id) { return id - 1; }
std::unique_ptr<DocumentFetcher> MakeCurlFetcher(NetworkTimeouts) {
  throw ControlError(0, "not available yet");
}

}  // namespace harnolfees
