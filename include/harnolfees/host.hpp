// What the control needs of its host and of the network: a few small
// interfaces, so that a toolkit front end, the headless driver and the tests
// can each provide their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace harnolfees {

namespace msgbox {
inline constexpr int kOk = 0;
inline constexpr int kYesNo = 4;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;
}  // namespace msgbox

namespace pointer {
inline constexpr int kDefault = 0;
inline constexpr int kHourglass = 11;
}  // namespace pointer

struct VersionInfo {
  int major = 0, minor = 0, revision = 0;
};
// The library's own version, from the build.
VersionInfo LibraryVersion();

// What became of a statement sent to the server page, for a host that
// reports outcomes beside the control's own message boxes.
struct ExchangeOutcome {
  enum class Kind { Saved, Deleted, Refused, Failed };
  Kind kind = Kind::Failed;
  int tab = 0;                // the fee kind of the record
  std::string effectiveDate;  // Saved, Deleted: the record's date as the grid shows it
  std::string detail;         // Refused: the reply's first line; Failed: what failed
};

// The host services. All calls come from the user-interface thread, except
// PostEvent, which any thread may call.
class HostServices {
 public:
  virtual ~HostServices() = default;
  // A modal message box; returns msgbox::kAnswerOk, kAnswerYes or kAnswerNo.
  // An empty title means the default title.
  virtual int MsgBox(const std::string& prompt, int buttons, const std::string& title) = 0;
  virtual void SetMousePointer(int pointer) = 0;
  // Processes the pending events and returns. When none is pending it may
  // wait a short while for one instead of returning at once, so that a
  // caller looping on it does not spin a core.
  virtual void DoEvents() = 0;
  // Processes the pending events and returns at once, never waiting. The
  // reply reader yields with it between the pieces of a reply that has fully
  // arrived, where waiting for an event would only slow the reading down.
  // Hosts whose DoEvents may wait should override it.
  virtual void ProcessPendingEvents() { DoEvents(); }
  // Queues work for the user-interface thread; safe from any thread.
  virtual void PostEvent(std::function<void()> event) = 0;
  // The control moved the focus to the named component ("txtField(5)").
  virtual void FocusMoved(std::string_view component) { (void)component; }
  virtual VersionInfo Version() const { return LibraryVersion(); }
  // The control began (true) or ended (false) waiting for the server page.
  // Operator actions that arrive meanwhile are set aside; a host should show
  // that it is busy and take no input until the wait ends.
  virtual void BusyChanged(bool busy) { (void)busy; }
  // A statement's exchange ended: confirmed, refused or failed. Comes after
  // the control's own message box, if any, was answered.
  virtual void ExchangeSettled(const ExchangeOutcome& outcome) { (void)outcome; }
  // The tabs that hold an unfinished add or edit changed; the control's
  // UnfinishedTabs() tells which they are now.
  virtual void UnfinishedWorkChanged() {}
};

// A thread-safe queue of user-interface events that hosts without an event
// loop of their own (the headless driver, tests) run from DoEvents.
class EventQueue {
 public:
  void Post(std::function<void()> event);
  // Runs every pending event; when none is pending, waits up to `wait` for
  // one. Returns the number of events run.
  int RunPending(std::chrono::milliseconds wait = std::chrono::milliseconds(20));
  bool Empty() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> events_;
};

// The HTTP transfer component. State notifications are delivered on the
// user-interface thread, through the host's event queue.
class Transfer {
 public:
  static constexpr int kStateError = 11;
  static constexpr int kStateResponseCompleted = 12;

  virtual ~Transfer() = default;
  // Abandons a running transfer promptly; no notification follows it.
  virtual void Cancel() = 0;
  // Starts a request (operation "Post" or "Get"); returns at once.
  virtual void Execute(const std::string& url, const std::string& operation,
                       const std::string& body, const std::string& headers) = 0;
  virtual bool StillExecuting() const = 0;
  // The next piece of the received reply, at most `size` bytes; "" at the end.
  virtual std::string GetChunk(std::size_t size) = 0;
  // After a notification of kStateError: what failed, in words, naming the
  // address without credentials. Empty when the transfer cannot tell.
  virtual std::string ErrorDescription() const { return {}; }
  std::function<void(int state)> onStateChanged;
};

// The synchronous fetch of the load document.
class DocumentFetcher {
 public:
  // Takes the body of a fetch as it arrives, so that reading it can keep
  // pace with the transfer.
  class Sink {
   public:
    virtual ~Sink() = default;
    // The length of the body, when the transfer announces it; before any of
    // the body.
    virtual void Expect(std::size_t bytes) = 0;
    // The next piece of the body.
    virtual void Receive(std::string_view bytes) = 0;
  };

  virtual ~DocumentFetcher() = default;
  // Returns the body of a successful fetch. Throws ControlError(errc::kDocument)
  // with a description that says what failed and names the address (without
  // credentials).
  virtual std::string Fetch(const std::string& url) = 0;
  // Hands the body to `sink` piece by piece as it arrives, and throws as
  // Fetch does once the transfer has failed, even after some of the body was
  // handed on. Without a transfer of its own that streams, the body of Fetch
  // is handed on in one piece.
  virtual void FetchInto(const std::string& url, Sink& sink) {
    const std::string body = Fetch(url);
    sink.Expect(body.size());
    sink.Receive(body);
  }
};

struct NetworkTimeouts {
  std::chrono::milliseconds connect{10'000};
  // The whole transfer. The fee server refuses, without executing it, a
  // statement that waited there longer than its post deadline (20 s by
  // default), which must stay below this: a save the control reports as
  // failed for want of a reply has then never run.
  std::chrono::milliseconds total{60'000};
};

// The PEM file of the certificate authorities that https addresses are
// checked against: `caFile` when given, else the file named by the
// environment's HARNOLFEES_CA_FILE; empty for the system's. A server that
// fails the check fails the transfer.
std::string TrustedCaFile(const std::string& caFile = {});

// The address as it may be shown or logged: without its "user:password@".
std::string AddressWithoutCredentials(std::string_view url);

// The largest load document a fetch takes, counted in the bytes it decodes
// to, whatever the server says of its length or compresses it with; a
// schedule of 100,000 records is about 20 MB.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 30;

// The libcurl implementations.
std::unique_ptr<Transfer> MakeCurlTransfer(HostServices& host, NetworkTimeouts timeouts = {},
                                           std::string caFile = {});
std::unique_ptr<DocumentFetcher> MakeCurlFetcher(NetworkTimeouts timeouts = {},
                                                 std::size_t maxDocumentBytes = kMaxDocumentBytes,
                                                 std::string caFile = {});

}  // namespace harnolfees
