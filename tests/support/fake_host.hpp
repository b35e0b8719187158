// A host for tests: it records every message box, pointer change and focus
// move, answers message boxes from a queue, and runs posted events from
// DoEvents, the way an embedding page's message loop would.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harnolfees/host.hpp"

namespace harnolfees::testing {

struct RecordedMessage {
  std::string prompt;
  int buttons = 0;
  std::string title;
};

class FakeHost : public HostServices {
 public:
  // What the control showed, in order.
  std::vector<RecordedMessage> messages;
  // Answers for the next message boxes, first in first out. When empty, a
  // Yes/No box is answered No and any other box OK.
  std::deque<int> answers;
  // Every pointer the control set, in order; `pointer` is the last one.
  std::vector<int> pointers;
  int pointer = 0;
  // Every component the control moved the focus to, in order.
  std::vector<std::string> focus;
  // Events posted by transfers and tests; DoEvents runs them.
  EventQueue events;
  // Runs inside each DoEvents before the posted events (an operator acting
  // while the control waits).
  std::function<void()> onDoEvents;
  // Runs inside each message box after it is recorded.
  std::function<void(const RecordedMessage&)> onMsgBox;
  // Overrides the library version the host reports.
  std::optional<VersionInfo> version;
  // Every busy change, every exchange's outcome and the number of times the
  // unfinished tabs were said to change, in order.
  std::vector<bool> busy;
  std::vector<ExchangeOutcome> outcomes;
  int unfinishedChanges = 0;

  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  void SetMousePointer(int p) override;
  void DoEvents() override;
  // As DoEvents, but never waits.
  void ProcessPendingEvents() override;
  void PostEvent(std::function<void()> event) override;
  void FocusMoved(std::string_view component) override;
  VersionInfo Version() const override;
  void BusyChanged(bool b) override { busy.push_back(b); }
  void ExchangeSettled(const ExchangeOutcome& o) override { outcomes.push_back(o); }
  void UnfinishedWorkChanged() override { ++unfinishedChanges; }

  void QueueAnswer(int answer) { answers.push_back(answer); }
  // The last message box; an empty record when none was shown.
  RecordedMessage LastMessage() const;
  std::string LastFocus() const { return focus.empty() ? std::string() : focus.back(); }
  void ClearRecords();
};

// A transfer that records its requests and ends them when the test says so.
class FakeTransfer : public Transfer {
 public:
  struct Request {
    std::string url, operation, body, headers;
  };
  std::vector<Request> requests;
  bool executing = false;

  void Cancel() override { executing = false; }
  void Execute(const std::string& url, const std::string& operation, const std::string& body,
               const std::string& headers) override;
  bool StillExecuting() const override { return executing; }
  std::string GetChunk(std::size_t size) override;
  // Runs on every Execute with its body, after it is recorded.
  std::function<void(const std::string& body)> onExecute;
  // Ends the running request with this reply and raises the state
  // notification, as the real component does from the host's event loop.
  void Complete(std::string reply, int state = kStateResponseCompleted);

 private:
  std::string reply_;
  std::size_t replyPos_ = 0;
};

// A document fetch that answers every address with one document, or fails
// like an unreachable server when `failure` is set. With a `pieceSize` the
// document arrives in pieces of that size, its length announced first when
// `announce` is set; a failure then comes after `failAfter` bytes of it.
class FakeFetcher : public DocumentFetcher {
 public:
  explicit FakeFetcher(std::string document = {}) : document(std::move(document)) {}
  std::string document;
  std::optional<std::string> failure;
  std::vector<std::string> urls;
  std::size_t pieceSize = 0;
  bool announce = true;
  std::size_t failAfter = 0;
  std::string Fetch(const std::string& url) override;
  void FetchInto(const std::string& url, Sink& sink) override;
};

// The number and description of the ControlError the action throws; {0, ""}
// when it throws none.
std::pair<int, std::string> ControlErrorOf(const std::function<void()>& action);

}  // namespace harnolfees::testing
