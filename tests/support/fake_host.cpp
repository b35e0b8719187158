#include "support/fake_host.hpp"

namespace harnolfees::testing {

int FakeHost::MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  messages.push_back({prompt, buttons, title});
  if (onMsgBox) onMsgBox(messages.back());
  if (!answers.empty()) {
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  return (buttons & 7) == msgbox::kYesNo ? msgbox::kAnswerNo : msgbox::kAnswerOk;
}

void FakeHost::SetMousePointer(int p) {
  pointer = p;
  pointers.push_back(p);
}

void FakeHost::DoEvents() {
  ++doEventsCalls;
  if (onDoEvents) onDoEvents();
  events.RunPending(doEventsWait);
}

void FakeHost::PostEvent(std::function<void()> event) { events.Post(std::move(event)); }

void FakeHost::FocusMoved(std::string_view component) { focus.emplace_back(component); }

VersionInfo FakeHost::Version() const { return version ? *version : LibraryVersion(); }

RecordedMessage FakeHost::LastMessage() const {
  return messages.empty() ? RecordedMessage{} : messages.back();
}

void FakeHost::ClearRecords() {
  messages.clear();
  pointers.clear();
  focus.clear();
}

}  // namespace harnolfees::testing
