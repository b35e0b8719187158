// Temporary definitions until the exchange sources land; delete each one as it is implemented.
#include "harnolfees/control.hpp"
#include "harnolfees/encoding.hpp"

namespace harnolfees {

std::string HarnolFeesCtlCenter::urlEncode(const std::string&) const {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::SubmitStatement(const std::string&) {
  throw ControlError(0, "not available yet");
}
void HarnolFeesCtlCenter::OnTransferStateChanged(int) {
  throw ControlError(0, "not available yet");
}
std::unique_ptr<Transfer> MakeCurlTransfer(HostServices&, NetworkTimeouts) {
  throw ControlError(0, "not available yet");
}
void EventQueue::Post(std::function<void()>) { throw ControlError(0, "not available yet"); }
int EventQueue::RunPending(std::chrono::milliseconds) {
  throw ControlError(0, "not available yet");
}
bool EventQueue::Empty() const { throw ControlError(0, "not available yet"); }
std::optional<std::string> Utf8ToWindows1252(std::string_view) {
  throw ControlError(0, "not available yet");
}
std::string Windows1252ToUtf8(std::string_view) { throw ControlError(0, "not available yet"); }
std::optional<std::string> FormEncode(std::string_view) {
  throw ControlError(0, "not available yet");
}

}  // namespace harnolfees
