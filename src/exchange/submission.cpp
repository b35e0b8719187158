// Posting a statement to the server page and acting on its reply: an empty
// reply (blanks at most) means the page executed the statement, anything
// else is its error text.
#include <exception>

#include "exchange/encoding_detail.hpp"
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

// The effective date of the record under the cursor as the grid shows it.
std::string EffectiveDateShown(const RecordSet& rs, const RegionalSettings& regional) {
  try {
    const Value& date = rs.GetValue("Effectivity");
    return date.IsNull() ? std::string() : FormatDateMmmDdYyyy(date.ToDate(regional), regional);
  } catch (const std::exception&) {
    return {};  // a record without a readable date still reports its outcome
  }
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
    NoteUnconfirmedSave();
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
  const std::uint64_t notificationsBefore = transferNotifications_;
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
  if (transferNotifications_ == notificationsBefore) host_.SetMousePointer(pointer::kDefault);
}

void HarnolFeesCtlCenter::OnTransferStateChanged(int state) {
  ++transferNotifications_;
  try {
    host_.SetMousePointer(pointer::kDefault);
    if (state == Transfer::kStateError) {
      NoteUnconfirmedSave();
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
    std::string reply = ReadTransferReply();
    if (TrimBlanks(reply).empty()) {
      ConfirmStatement();
    } else {
      NoteUnconfirmedSave();
      host_.MsgBox(reply + kRefusalJoin + state_.LastStatement, msgbox::kOk + msgbox::kCritical,
                   kRefusalTitle);
      host_.ExchangeSettled(
          ExchangeOutcome{ExchangeOutcome::Kind::Refused, state_.CurrentTab, {}, FirstLine(reply)});
    }
  } catch (...) {
    // A notification handler has no caller to report to.
  }
}

std::string HarnolFeesCtlCenter::ReadTransferReply() {
  std::string reply;
  for (;;) {
    std::string chunk = Inet1_->GetChunk(kChunkSize);
    host_.ProcessPendingEvents();
    if (chunk.empty()) break;
    reply += chunk;
  }
  return reply;
}

void HarnolFeesCtlCenter::ConfirmStatement() {
  const int tab = state_.CurrentTab;
  RecordSet& rs = recordSets_(tab);
  if (state_.DeletePending) {
    const std::string date = EffectiveDateShown(rs, *regional_);
    rs.Delete();
    for (int i = 1; i <= 7; ++i) surface_.txtField[i].SetText("");
    surface_.cboTerm.SetListIndex(-1);
    surface_.cboType.SetListIndex(-1);
    surface_.cboAPRType.SetListIndex(-1);
    surface_.cboBitwise.SetListIndex(-1);
    surface_.cboBanckAccType.SetListIndex(-1);
    FillGridContained(tab);
    state_.DeletePending = false;
    host_.ExchangeSettled(ExchangeOutcome{ExchangeOutcome::Kind::Deleted, tab, date, {}});
    return;
  }

  // A confirmation with no record under the cursor (the reopening statement
  // that follows a confirmed renewal-fee deletion) has nothing to commit.
  if (!rs.HasCurrentRecord()) return;
  rs.Fields("OldEffectivity").setValue(rs.GetValue("Effectivity"));
  switch (tab) {
    case 5:
      rs.Fields("OldType").setValue(rs.GetValue("BetaAPRTypeID"));
      break;
    case 6:
      rs.Fields("OldType").setValue(rs.GetValue("BetaContractTypeID"));
      break;
    case 7:
      rs.Fields("OldType").setValue(rs.GetValue("ContractType"));
      break;
    case 8: {
      // The server's key of a renewal fee includes the access level and the
      // travel bit; once confirmed, the record's own values are that key, so
      // that a later edit or delete finds the row. The record set holds the
      // travel flag as a Boolean (-1); the server's bit is 1.
      rs.Fields("OldMemberAccessLevelID").setValue(rs.GetValue("MemberAccessLevelID"));
      const Value& travel = rs.GetValue("TravelMembership");
      const bool travelling = !travel.IsNull() && travel.ToDouble() != 0.0;
      rs.Fields("OldTravelMembership").setValue(static_cast<std::int16_t>(travelling ? 1 : 0));
      break;
    }
    case 9:
      rs.Fields("OldType").setValue(rs.GetValue("Type"));
      break;
    default:
      break;
  }
  rs.Update();
  if (state_.RefusedPendingTab == tab && !rs.HasPending()) state_.RefusedPendingTab = 0;
  const std::string date = EffectiveDateShown(rs, *regional_);
  ReturnToBrowsing();
  host_.ExchangeSettled(ExchangeOutcome{ExchangeOutcome::Kind::Saved, tab, date, {}});
}

void HarnolFeesCtlCenter::NoteUnconfirmedSave() {
  if (state_.DeletePending) return;
  const int tab = state_.CurrentTab;
  if (recordSets_(tab).HasPending()) state_.RefusedPendingTab = static_cast<std::int16_t>(tab);
}

}  // namespace harnolfees
