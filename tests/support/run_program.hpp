// Runs a built program the way scripts and users do: arguments, standard
// input, and its standard output and error collected apart.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace harnolfees::testing {

struct ProgramRun {
  int status = -1;  // the exit status; 128 + the signal that ended it
  std::string out, err;
};

// Throws std::runtime_error, with the output so far, when the program has not
// ended within `limit`.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = "",
                      std::chrono::seconds limit = std::chrono::seconds(90));

}  // namespace harnolfees::testing
