// The host services of the headless driver: message boxes answered from a
// queue, pointer and focus changes reported as events, posted work run from
// DoEvents. Also the network decorators that make the control's document
// fetch and statement posts visible before they go out.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "harnolfees/host.hpp"

namespace harnolfees::driver {

// Where the driver's JSON Lines go. Each line is written whole and flushed, so
// a reader at the other end of a pipe sees events as they happen.
class EventOutput {
 public:
  explicit EventOutput(std::ostream* out) : out_(out) {}
  void Write(std::string_view jsonObject);
  bool enabled() const { return out_ != nullptr; }

 private:
  std::ostream* out_;
};

class HeadlessHost : public HostServices {
 public:
  // `events` receives the msgbox, pointer and focus events. When
  // `messageText` is given, message boxes are also written there as plain
  // text (the show command's view of the control's complaints).
  explicit HeadlessHost(EventOutput& events, std::ostream* messageText = nullptr);

  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  void SetMousePointer(int pointer) override;
  void DoEvents() override;
  void ProcessPendingEvents() override;
  void PostEvent(std::function<void()> event) override;
  void FocusMoved(std::string_view component) override;

  // The answer to the next question (a Yes/No box); unanswered ones get No.
  void QueueAnswer(bool yes) { answers_.push_back(yes ? msgbox::kAnswerYes : msgbox::kAnswerNo); }
  // Runs the work posted so far without waiting for more; returns how much ran.
  int RunPendingNow();
  int messageCount() const { return messageCount_; }

 private:
  EventOutput& events_;
  std::ostream* messageText_;
  std::deque<int> answers_;
  EventQueue queue_;
  int messageCount_ = 0;
};

// Creates the real component on first use, so that a script that never loads
// or saves needs no network stack.
using FetcherFactory = std::function<std::unique_ptr<DocumentFetcher>()>;
using TransferFactory = std::function<std::unique_ptr<Transfer>()>;

// Prints {"event":"get","url":...} before each fetch, then delegates.
class LoggingFetcher : public DocumentFetcher {
 public:
  LoggingFetcher(EventOutput& events, FetcherFactory factory);
  std::string Fetch(const std::string& url) override;
  void FetchInto(const std::string& url, Sink& sink) override;

 private:
  void Log(const std::string& url);

  EventOutput& events_;
  FetcherFactory factory_;
  std::unique_ptr<DocumentFetcher> inner_;
};

// Prints {"event":"post","url":...,"body":...,"header":...} for each transfer
// started, then delegates; the inner transfer's state notifications reach
// whoever set onStateChanged on this one.
class LoggingTransfer : public Transfer {
 public:
  LoggingTransfer(EventOutput& events, TransferFactory factory);
  ~LoggingTransfer() override;
  void Cancel() override;
  void Execute(const std::string& url, const std::string& operation, const std::string& body,
               const std::string& headers) override;
  bool StillExecuting() const override;
  std::string GetChunk(std::size_t size) override;

 private:
  EventOutput& events_;
  TransferFactory factory_;
  std::unique_ptr<Transfer> inner_;
};

}  // namespace harnolfees::driver
