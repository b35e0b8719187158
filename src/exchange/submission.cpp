// Posting a statement to the server page and acting on its reply: an empty
// reply (blanks at most) means the page executed the statement, anything
// else is its error text.
#include <exception>

#include "control/dispatch.hpp"
#include "exchange/encoding_detail.hpp"
#include "exchange/statement_exchange.hpp"
#include "harnolfees/control.hpp"
#include "harnolfees/encoding.hpp"
#include "loading/load_document.hpp"

namespace harnolfees {
namespace {

constexpr const char* kPageName = "TermFeesAX.asp";
constexpr const char* kFormHeader = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kNetworkErrorText = " Error !  ";
constexpr const char* kNetworkErrorTitle = "ERROR";
constexpr const char* kRefusalTitle = "Terms Fees - ERROR";
constexpr const char* kRefusalJoin = "   Unsuccessful attempt to ";
// The server page reads statements in Windows-1252; a character outside it
// would reach the database as "?" and change the data silently, so such a
// statement is refused like any other invalid entry.
constexpr const char* kNotEncodableText =
    "The entry holds characters that cannot be sent to the server. Please use only the "
    "characters of the Western European (Windows-1252) character set.";
constexpr const char* kNotEncodableTitle = "Centers";
constexpr std::size_t kChunkSize = 1024;

// The first line of a reply, for a status line; blanks around it dropped.
std::string FirstLine(const std::string& reply) {
  const std::size_t start = reply.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  const std::size_t end = reply.find_first_of("\r\n", start);
  return TrimBlanks(reply.substr(start, end == std::string::npos ? end : end - start));
}

}  // namespace

// Characters that Windows-1252 lacks, and bytes that are not well-formed
// UTF-8, encode as "%3F" ("?"), as a single-byte conversion would give them.
// SubmitStatement never lets such a text reach the server.
std::string HarnolFeesCtlCenter::urlEncode(const std::string& theData) const {
  std::string out;
  detail::AppendFormEncoded(out, detail::Windows1252Lenient(theData));
  return out;
}

void HarnolFeesCtlCenter::SubmitStatement(const std::string& statement) {
  // A second submission inside the wait would cancel a transfer that the
  // server may already have executed.
  if (state_.Submitting) return;
  if (!IsWindows1252Encodable(statement)) {
    exchange::Replies{*this, state_, surface_, recordSets_, host_, *regional_}.NoteUnconfirmed();
    host_.MsgBox(kNotEncodableText, msgbox::kOk + msgbox::kInformation, kNotEncodableTitle);
    return;
  }
  if (!Inet1_) {
    OnTransferStateChanged(Transfer::kStateError);
    return;
  }

  // The host learns of the wait, so that it shows it and takes no input.
  struct SubmittingScope {
    bool& flag;
    HostServices& host;
    SubmittingScope(bool& f, HostServices& h) : flag(f), host(h) {
      flag = true;
      host.BusyChanged(true);
    }
    ~SubmittingScope() {
      flag = false;
      try {
        host.BusyChanged(false);
      } catch (...) {
        // The wait is over whatever the host makes of it.
      }
    }
  } submitting(state_.Submitting, host_);

  // The control wires the notification at start-up; a transfer handed in
  // without it still reports here.
  if (!Inet1_->onStateChanged) {
    Inet1_->onStateChanged = [this](int state) { OnTransferStateChanged(state); };
  }
  const std::uint64_t notificationsBefore = dispatch_->transferNotifications;
  host_.SetMousePointer(pointer::kHourglass);
  Inet1_->Cancel();
  Inet1_->Execute(state_.BaseURL + kPageName, "Post", "SQL=" + urlEncode(statement), kFormHeader);
  while (Inet1_->StillExecuting()) {
    try {
      host_.DoEvents();
    } catch (...) {
      // Another event's failure must not end the wait early: the reply of
      // this transfer still has to be taken up.
    }
  }
  if (dispatch_->transferNotifications == notificationsBefore)
    host_.SetMousePointer(pointer::kDefault);
}

void HarnolFeesCtlCenter::OnTransferStateChanged(int state) {
  // What the reply does to the record sets and the form.
  auto replies = [this] {
    return exchange::Replies{*this, state_, surface_, recordSets_, host_, *regional_};
  };
  ++dispatch_->transferNotifications;
  try {
    host_.SetMousePointer(pointer::kDefault);
    if (state == Transfer::kStateError) {
      replies().NoteUnconfirmed();
      lastTransferFailure_ = Inet1_ ? Inet1_->ErrorDescription() : std::string();
      if (lastTransferFailure_.empty()) {
        lastTransferFailure_ = "The statement could not be sent to " +
                               loading::RedactCredentials(state_.BaseURL + kPageName) + ".";
      }
      host_.MsgBox(kNetworkErrorText, msgbox::kOk + msgbox::kExclamation, kNetworkErrorTitle);
      host_.ExchangeSettled(ExchangeOutcome{
          ExchangeOutcome::Kind::Failed, state_.CurrentTab, {}, lastTransferFailure_});
      return;
    }
    if (state != Transfer::kStateResponseCompleted) return;
    std::string reply = exchange::ReadReply(*Inet1_, host_, kChunkSize);
    if (TrimBlanks(reply).empty()) {
      replies().Confirm();
    } else {
      replies().NoteUnconfirmed();
      host_.MsgBox(reply + kRefusalJoin + state_.LastStatement, msgbox::kOk + msgbox::kCritical,
                   kRefusalTitle);
      host_.ExchangeSettled(
          ExchangeOutcome{ExchangeOutcome::Kind::Refused, state_.CurrentTab, {}, FirstLine(reply)});
    }
  } catch (...) {
    // A notification handler has no caller to report to.
  }
}

}  // namespace harnolfees
