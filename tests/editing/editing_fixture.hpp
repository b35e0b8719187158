// A control loaded through the fake fetcher and saving through a fake
// transfer that records the posted statements and answers each from a queue
// (an empty reply, the server's confirmation, when the queue is empty), with
// a test host that records message boxes and focus moves, and the
// operator's actions as one-line helpers. No network: the transfer's own
// tests (tests/exchange) use libcurl.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "loading/loading_fixture.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {

// The refusal of a save whose record the server never confirmed.
inline constexpr const char* kUnconfirmed =
    "This record cannot be saved yet: the server has not confirmed it. Please reload the data "
    "before you change it.";

// The server page as the control sees it through the fake transfer: a reply
// for every statement, delivered from the host's event loop like the real
// transfer's.
class FakeFeeServer {
 public:
  void Attach(FakeHost& host, FakeTransfer& transfer) {
    transfer.onExecute = [this, &host, &transfer](const std::string& body) {
      statements_.push_back(DecodeFormValue(body.rfind("SQL=", 0) == 0 ? body.substr(4) : body));
      const std::string reply = replies_.empty() ? std::string() : replies_.front();
      if (!replies_.empty()) replies_.pop_front();
      host.PostEvent([&transfer, reply] { transfer.Complete(reply); });
    };
  }
  void QueueReply(const TestReply& reply) { replies_.push_back(reply.body); }
  std::vector<std::string> ReceivedStatements() const { return statements_; }
  void ClearReceived() { statements_.clear(); }

 private:
  std::deque<std::string> replies_;
  std::vector<std::string> statements_;
};

class EditingTest : public LoadingTest {
 protected:
  FakeFeeServer server;

  void SetUp() override {
    LoadingTest::SetUp();
    server.Attach(host, *transfer);
  }

  // Center 12 on 15 March 2004 (pickers from 15 Jan 2004 to 15 Mar 2005),
  // the lookup lists, and the given record elements.
  void Load(const std::string& records, bool travelOption = false) {
    LoadingTest::Load(
        "<Fees><TERM><I>12</I><I>24</I></TERM>"
        "<CTYPE><Description>Standard</Description><Description>Premium</Description></CTYPE>"
        "<BVALUE><Description>Visa</Description><Description>Amex</Description></BVALUE>"
        "<APRTYPE><Description>Fixed</Description><Description>Variable</Description></APRTYPE>"
        "<ACCESSLEVEL><D>Silver</D><I>2</I></ACCESSLEVEL>"
        "<ACCESSLEVEL><D>Gold</D><I>3</I></ACCESSLEVEL>"
        "<ACCESSLEVEL><D>Platinum Plus</D><I>4</I></ACCESSLEVEL>"
        "<T15><BankAccountTypeID>1</BankAccountTypeID><Description>Checking</Description></T15>"
        "<T15><BankAccountTypeID>2</BankAccountTypeID><Description>Savings</Description></T15>" +
        std::string(travelOption ? "<SHOWTravelOption/>" : "<HIDETravelOption/>") + records +
        "</Fees>");
    host.ClearRecords();
  }

  Surface& S() { return control->surface(); }
  const ControlState& State() { return control->state(); }
  RecordSet& Rs(int index) { return control->recordSets()(index); }

  // The buttons, whatever their captions read.
  void Add() { Press(S().cmdAdd); }
  void Edit() { Press(S().cmdEdit); }
  void Delete() { Press(S().cmdDelete); }
  void Press(CommandButton& button) {
    postedBeforeClick_ = Posted().size();
    button.Click();
  }
  void Row(int row, int col = 0) {
    S().grdFees.SetRow(row);
    S().grdFees.SetCol(col);
  }
  void Type(int index, const std::string& text) {
    S().txtField[static_cast<std::size_t>(index)].SetText(text);
  }
  void Date(int y, int m, int d, int picker = 0) {
    S().DTPicker1[static_cast<std::size_t>(picker)].SetValue(DateTime::FromParts(y, m, d));
  }
  void Refuse(const std::string& reply) { server.QueueReply({200, reply, {}}); }

  std::vector<std::string> Posted() const { return server.ReceivedStatements(); }
  std::string LastPosted() const {
    auto all = Posted();
    return all.empty() ? std::string() : all.back();
  }

  // Every record of a record set, pending ones included, as the value of one
  // field; a missing field or record reads as the text "?".
  std::vector<Value> Column(int index, const std::string& field) {
    std::vector<Value> out;
    const int f = Rs(index).FindFieldIndex(field);
    Rs(index).ForEachRecord([&](const std::vector<Value>& rec) { out.push_back(rec[f]); });
    return out;
  }

  // The save or delete was refused with this validation message and focus,
  // and the click sent nothing.
  void ExpectRefusal(const std::string& prompt, const std::string& focus,
                     const std::string& title = "Centers") {
    ASSERT_FALSE(host.messages.empty()) << "expected: " << prompt;
    EXPECT_EQ(host.LastMessage().prompt, prompt);
    EXPECT_EQ(host.LastMessage().buttons, 64);
    EXPECT_EQ(host.LastMessage().title, title);
    if (!focus.empty()) {
      EXPECT_EQ(host.LastFocus(), focus);
    }
    EXPECT_EQ(Posted().size(), postedBeforeClick_);
    host.ClearRecords();
  }

 private:
  std::size_t postedBeforeClick_ = 0;
};

}  // namespace harnolfees::testing
