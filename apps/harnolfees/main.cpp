#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli.hpp"

int main(int argc, char** argv) {
  // A reader that stops early (harnolfees ... | head) must not kill the
  // control mid-script; writes to the closed pipe simply fail.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return harnolfees::driver::RunCommandLine(args, std::cin, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "harnolfees: internal failure: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "harnolfees: internal failure\n";
  }
  return 1;
}
