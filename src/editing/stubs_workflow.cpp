// Temporary definitions until the editing sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"

namespace harnolfees {

void HarnolFeesCtlCenter::cmdAdd_Click() { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::cmdEdit_Click() { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::cmdDelete_Click() { throw ControlError(0, "not available yet"); }
std::string HarnolFeesCtlCenter::ValidateEffectiveDate(const std::string&, int, const std::string&,
                                                       const std::string&, int, int, std::string,
                                                       int, int) {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::ReturnToBrowsing() { throw ControlError(0, "not available yet"); }
int HarnolFeesCtlCenter::FindAccountTypeIndex(const std::string&) const {
  throw ControlError(0, "not available yet");
}

}  // namespace harnolfees
