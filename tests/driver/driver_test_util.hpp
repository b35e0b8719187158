// Runs operator scripts in-process and reads their JSON Lines back.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "runner.hpp"
#include "support/mini_json.hpp"

namespace harnolfees::testing {

struct ScriptRun {
  int status = -1;
  std::vector<Json> events;
  std::string raw;

  // The events named `name`, in order.
  std::vector<Json> Named(const std::string& name) const {
    std::vector<Json> out;
    for (const Json& e : events) {
      if (e["event"].text == name) out.push_back(e);
    }
    return out;
  }
};

// Every output line must be one valid JSON object with an "event" member.
inline ScriptRun ParseOutput(int status, std::string raw) {
  ScriptRun run;
  run.status = status;
  run.raw = std::move(raw);
  std::istringstream lines(run.raw);
  std::string line;
  while (std::getline(lines, line)) {
    auto value = JsonReader::Parse(line);
    EXPECT_TRUE(value.has_value()) << "not valid JSON: " << line;
    if (!value) continue;
    EXPECT_EQ(value->kind, Json::Kind::kObject) << line;
    EXPECT_TRUE(value->Has("event")) << line;
    if (value->Has("event")) run.events.push_back(std::move(*value));
  }
  return run;
}

// A load document of center 12: a membership fee, a bank account (its
// number not ASCII) and the account's type.
inline const char* const kDocument =
    "<Fees><T1><CenterID>12</CenterID><Effectivity>01/15/2004</Effectivity>"
    "<MembershipFee>1250.5</MembershipFee><Term>12</Term>"
    "<MembershipRoyalty>0.0725</MembershipRoyalty><MinimumRoyalty>10</MinimumRoyalty>"
    "<RoyaltyReserve>0.01</RoyaltyReserve></T1>"
    "<T9><ObjectID>1</ObjectID><Type>1</Type><Effectivity>02/01/2004</Effectivity>"
    "<RoutingNumber>021000021</RoutingNumber><AccountNumber>Zürich-7</AccountNumber>"
    "<SweepSpan>3</SweepSpan><Opened>02/01/2004</Opened></T9>"
    "<T15><BankAccountTypeID>1</BankAccountTypeID><Description>Checking</Description></T15>"
    "</Fees>";

inline ScriptRun RunInProcess(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream out;
  const int status = driver::RunScript(in, out);
  return ParseOutput(status, out.str());
}

}  // namespace harnolfees::testing
