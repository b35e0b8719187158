// One operator's control in the browser editor: the control lives on a
// thread of its own, which runs the session's event queue; the web front
// end posts the operator's actions to it and reads back the state it
// publishes after each of them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harnolfees/control.hpp"
#include "harnolfees/host.hpp"

namespace harnolfees::web {

struct SessionConfig {
  std::string feeServer;   // address prefix of the fee pages, without credentials
  std::string serverDate;  // empty: today
  bool viewMode = false;
};

// A message box that waits for the page's answer.
struct PendingMessage {
  std::uint64_t id = 0;
  std::string prompt;
  int buttons = 0;
  std::string title;
};

// The grid's cells as last published, readable from any thread.
struct GridCopy {
  std::uint64_t gen = 0;
  int rows = 0, cols = 0;
  std::vector<std::string> cells;  // rows * cols, row-major
};

class Session : public HostServices {
 public:
  using Clock = std::chrono::steady_clock;
  // Work for the session thread; it may use the control freely.
  using Action = std::function<void(Session&)>;
  struct Ticket {
    bool done = false;
  };

  Session(std::string id, std::string csrf, std::string user, std::string password, int center,
          SessionConfig config);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& id() const { return id_; }
  const std::string& csrf() const { return csrf_; }
  const std::string& user() const { return user_; }

  // ---- Any thread ----
  std::shared_ptr<Ticket> Post(Action action);
  // The id of the last message box shown so far.
  std::uint64_t MessageFloor() const;
  // Waits until the action is done, a message box newer than `messageFloor`
  // waits for an answer, or a statement is on its way; at most `limit`.
  void WaitSettled(const std::shared_ptr<Ticket>& ticket, std::uint64_t messageFloor,
                   std::chrono::milliseconds limit);
  // Answers the waiting message box `id`; false when none such waits.
  bool Answer(std::uint64_t id, int answer);
  // The state last published, and its version.
  std::shared_ptr<const std::string> Snapshot(std::uint64_t* version = nullptr) const;
  // Waits up to `limit` for a state newer than `since`.
  std::shared_ptr<const std::string> WaitNewer(std::uint64_t since, std::chrono::milliseconds limit,
                                               std::uint64_t* version = nullptr) const;
  std::shared_ptr<const GridCopy> Grid() const;
  bool Busy() const { return busy_.load(); }
  bool Waiting() const;  // a message box waits for its answer
  void Touch() { lastActive_.store(Clock::now().time_since_epoch().count()); }
  Clock::time_point LastActive() const {
    return Clock::time_point(Clock::duration(lastActive_.load()));
  }
  // Ends the session: a waiting message box is answered No (OK where it has
  // only OK), the thread stops and the control is torn down. Nothing is
  // saved on the session's behalf.
  void Close();

  // ---- The session thread ----
  HarnolFeesCtlCenter& control() { return *control_; }
  int center() const { return center_; }
  // Loads `center` (the current one when 0) through the control.
  void Load(int center = 0);
  void SetStatus(std::string text);
  // The host's keys, as the desktop editor handles them.
  void FormKey(std::string_view key);
  void GridKey(std::string_view key);
  // Runs an operator notification; an error is shown in a message box.
  void Guard(const std::function<void()>& action);
  // Builds and publishes the state now.
  void Publish();

  // ---- HostServices ----
  int MsgBox(const std::string& prompt, int buttons, const std::string& title) override;
  void SetMousePointer(int pointer) override { pointer_ = pointer; }
  void DoEvents() override;
  void ProcessPendingEvents() override;
  void PostEvent(std::function<void()> event) override { queue_.Post(std::move(event)); }
  void FocusMoved(std::string_view component) override;
  void BusyChanged(bool busy) override;
  void ExchangeSettled(const ExchangeOutcome& outcome) override;
  void UnfinishedWorkChanged() override;

 private:
  void Run();
  std::string StateJson();
  void CopyGrid();

  const std::string id_, csrf_, user_, password_;
  int center_;
  const SessionConfig config_;
  EventQueue queue_;
  std::unique_ptr<HarnolFeesCtlCenter> control_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> busy_{false};
  std::atomic<Clock::rep> lastActive_{0};

  // Session-thread state.
  int pointer_ = 0;
  std::string status_;
  std::string focus_;
  std::uint64_t focusSeq_ = 0;
  bool loaded_ = false;
  bool gridDirty_ = true;
  int gridObserver_ = 0;
  std::vector<std::vector<const Component*>> overlays_;

  // Shared with the front end's threads.
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::shared_ptr<const std::string> snapshot_;
  std::uint64_t version_ = 0;
  bool publishedBusy_ = false;          // in the last state published
  std::uint64_t publishedMessage_ = 0;  // the message box in it, 0 for none
  std::shared_ptr<const GridCopy> grid_;
  std::optional<PendingMessage> pending_;
  std::uint64_t messageCount_ = 0;
  std::optional<int> answer_;
  bool closing_ = false;
};

// Every session of the program, by the id its cookie carries.
class SessionRegistry {
 public:
  SessionRegistry(SessionConfig config, std::size_t maxSessions, std::chrono::seconds idleLimit);
  ~SessionRegistry();

  // A new session that loads `center`, or nullptr when the limit is reached.
  std::shared_ptr<Session> Create(const std::string& user, const std::string& password, int center);
  std::shared_ptr<Session> Find(std::string_view id) const;
  void Remove(const std::string& id);
  // Ends the sessions idle for longer than the limit, except those whose
  // statement is on its way: a confirmed save always gets its answer.
  int ExpireIdle(Session::Clock::time_point now);
  // Ends every session (see Session::Close), which also ends their long polls.
  void CloseAll();
  std::size_t size() const;
  const SessionConfig& config() const { return config_; }

 private:
  const SessionConfig config_;
  const std::size_t maxSessions_;
  const std::chrono::seconds idleLimit_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Session>, std::less<>> sessions_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread reaper_;
};

// ---- Tokens and cookies ----

// `bytes` random bytes from the kernel, as lower-case hex.
std::string RandomToken(std::size_t bytes = 32);
// Compares without stopping at the first difference.
bool TokensEqual(std::string_view a, std::string_view b);
// The value of cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);
// A Set-Cookie value for the session cookie; an empty id clears it.
std::string SessionCookie(std::string_view id, bool secure);
inline constexpr const char* kCookieName = "hfsession";

}  // namespace harnolfees::web
