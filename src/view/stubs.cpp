// Temporary definitions until the view sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"

namespace harnolfees {

void HarnolFeesCtlCenter::tabFees_Click() { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::FillGrid(int) { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::ShowEntryFields(int) { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::FillGridContained(int) { throw ControlError(0, "not available yet"); }

}  // namespace harnolfees
