// What the fee server does against clients that try to mislead it: forged
// request-log lines.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "server_test_util.hpp"

namespace harnolfees::server::testing {
namespace {

TEST(RequestLog, EachRequestIsOneLineWhateverItsPathHolds) {
  TempDir dir;
  const std::string log = dir.File("server.log");
  ServerProcess server(HARNOLFEES_SERVER_PATH,
                       {"--db", dir.File("fees.db"), "--listen", "127.0.0.1:0"}, {log});
  httplib::Client client("127.0.0.1", server.port());
  const std::vector<std::string> paths = {
      // A line break followed by a whole fake line of its own.
      "/TermFeesAX.asp%0D%0A2001-01-01T00:00:00%20127.0.0.1:1%20user=admin%20center=1%20"
      "kind=DELETE%20outcome=ok%20status=200%20ms=0.10%20POST%20/TermFeesAX.asp?Center=1",
      // Terminal escapes, bytes beyond ASCII, a backslash and a NUL.
      "/%1B[2J%C3%A9%5Cx0a%00/TermFeesAX.asp?Center=1",
  };
  for (const std::string& path : paths) ASSERT_TRUE(client.Get(path.c_str()));
  EXPECT_EQ(server.Stop(), 0);

  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> requests;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos) << text;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    for (const char c : line) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7F)
          << "byte " << int(static_cast<unsigned char>(c)) << " in " << line;
    }
    if (line.rfind("harnolfees-server: ", 0) != 0) requests.push_back(line);
  }
  ASSERT_EQ(requests.size(), paths.size()) << text;
  EXPECT_NE(requests[0].find(" GET /TermFeesAX.asp\\x0d\\x0a2001-01-01T00:00:00\\x20127.0.0.1:1"),
            std::string::npos)
      << requests[0];
  EXPECT_NE(requests[1].find(" GET /\\x1b[2J\\xc3\\xa9\\x5cx0a\\x00/TermFeesAX.asp"),
            std::string::npos)
      << requests[1];
}

}  // namespace
}  // namespace harnolfees::server::testing
