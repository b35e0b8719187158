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

inline ScriptRun RunInProcess(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream out;
  const int status = driver::RunScript(in, out);
  return ParseOutput(status, out.str());
}

}  // namespace harnolfees::testing
