// The command line of the `harnolfees` program.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace harnolfees::driver {

std::string UsageText();

// `args` are the arguments after the program name. Returns the exit status.
int RunCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err);

}  // namespace harnolfees::driver
