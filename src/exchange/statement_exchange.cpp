#include "exchange/statement_exchange.hpp"

#include <cstdint>
#include <exception>
#include <string>

#include "catalogue/fee_kind.hpp"

namespace harnolfees::exchange {

namespace {

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

std::string ReadReply(Transfer& transfer, HostServices& host, std::size_t chunkSize) {
  std::string reply;
  for (;;) {
    std::string chunk = transfer.GetChunk(chunkSize);
    host.ProcessPendingEvents();
    if (chunk.empty()) break;
    reply += chunk;
  }
  return reply;
}

void Replies::Confirm() {
  const int tab = state.CurrentTab;
  RecordSet& rs = sets(tab);
  if (state.DeletePending) {
    const std::string date = EffectiveDateShown(rs, regional);
    rs.Delete();
    for (int i = 1; i <= 7; ++i) surface.txtField[i].SetText("");
    surface.cboTerm.SetListIndex(-1);
    surface.cboType.SetListIndex(-1);
    surface.cboAPRType.SetListIndex(-1);
    surface.cboBitwise.SetListIndex(-1);
    surface.cboBanckAccType.SetListIndex(-1);
    control.FillGridContained(tab);
    state.DeletePending = false;
    host.ExchangeSettled(ExchangeOutcome{ExchangeOutcome::Kind::Deleted, tab, date, {}});
    return;
  }

  // A confirmation with no record under the cursor (the reopening statement
  // that follows a confirmed renewal-fee deletion) has nothing to commit.
  if (!rs.HasCurrentRecord()) return;
  // The server's key of the record is now its own values, so that a later
  // edit or delete finds the row. A flag the record set keeps as a Boolean
  // (-1) is the server's bit 1.
  for (const ServerKey& key : FeeKindOf(tab).serverKeys) {
    const Value& value = rs.GetValue(key.field);
    if (key.asBit) {
      const bool set = !value.IsNull() && value.ToDouble() != 0.0;
      rs.Fields(key.copy).setValue(static_cast<std::int16_t>(set ? 1 : 0));
    } else {
      rs.Fields(key.copy).setValue(value);
    }
  }
  rs.Update();
  if (state.RefusedPendingTab == tab && !rs.HasPending()) state.RefusedPendingTab = 0;
  const std::string date = EffectiveDateShown(rs, regional);
  control.ReturnToBrowsing();
  host.ExchangeSettled(ExchangeOutcome{ExchangeOutcome::Kind::Saved, tab, date, {}});
}

void Replies::NoteUnconfirmed() {
  if (state.DeletePending) return;
  const int tab = state.CurrentTab;
  if (sets(tab).HasPending()) state.RefusedPendingTab = static_cast<std::int16_t>(tab);
}

}  // namespace harnolfees::exchange
