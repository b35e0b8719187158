#include "support/fake_host.hpp"

#include <algorithm>
#include <string_view>

#include "harnolfees/runtime.hpp"

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
  if (onDoEvents) onDoEvents();
  // A short wait for an event when none is pending, as a message loop would.
  events.RunPending(std::chrono::milliseconds(2));
}

void FakeHost::ProcessPendingEvents() {
  if (onDoEvents) onDoEvents();
  events.RunPending(std::chrono::milliseconds(0));
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
  busy.clear();
  outcomes.clear();
  unfinishedChanges = 0;
}

void FakeTransfer::Execute(const std::string& url, const std::string& operation,
                           const std::string& body, const std::string& headers) {
  requests.push_back({url, operation, body, headers});
  executing = true;
  reply_.clear();
  replyPos_ = 0;
  if (onExecute) onExecute(body);
}

std::string FakeTransfer::GetChunk(std::size_t size) {
  std::string piece = reply_.substr(replyPos_, size);
  replyPos_ += piece.size();
  return piece;
}

void FakeTransfer::Complete(std::string reply, int state) {
  reply_ = std::move(reply);
  replyPos_ = 0;
  executing = false;
  if (onStateChanged) onStateChanged(state);
}

std::pair<int, std::string> ControlErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ControlError& e) {
    return {e.number(), e.description()};
  }
  return {0, ""};
}

std::string FakeFetcher::Fetch(const std::string& url) {
  urls.push_back(url);
  if (failure) throw ControlError(errc::kDocument, *failure);
  return document;
}

void FakeFetcher::FetchInto(const std::string& url, Sink& sink) {
  if (pieceSize == 0) {
    DocumentFetcher::FetchInto(url, sink);
    return;
  }
  urls.push_back(url);
  if (announce) sink.Expect(document.size());
  const std::size_t end = failure ? std::min(failAfter, document.size()) : document.size();
  for (std::size_t at = 0; at < end; at += pieceSize) {
    sink.Receive(std::string_view(document).substr(at, std::min(pieceSize, end - at)));
  }
  if (failure) throw ControlError(errc::kDocument, *failure);
}

}  // namespace harnolfees::testing
