// Temporary definitions until the field entry sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"

namespace harnolfees {

void HarnolFeesCtlCenter::txtField_GotFocus(int) { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::txtField_LostFocus(int) { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::chkDT_Click() { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::InitDatePicker(const std::string&, int) {
  throw ControlError(0, "not available yet");
}

}  // namespace harnolfees
