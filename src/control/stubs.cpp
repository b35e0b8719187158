// Temporary definitions until the control sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"

namespace harnolfees {

HarnolFeesCtlCenter::HarnolFeesCtlCenter(HostServices& host, std::unique_ptr<Transfer>,
                                         std::unique_ptr<DocumentFetcher>)
    : host_(host) {
  throw ControlError(0, "not available yet");
}
HarnolFeesCtlCenter::~HarnolFeesCtlCenter() = default;
void HarnolFeesCtlCenter::SetClubID(std::int16_t) { throw ControlError(0, "not available yet"); }
void HarnolFeesCtlCenter::StringParameter(const std::string&, const std::string&,
                                          const std::string&, const std::string&) {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::SetViewMode(bool) { throw ControlError(0, "not available yet"); }

}  // namespace harnolfees
