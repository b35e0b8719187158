// What the fee server does against clients that try to mislead it: forged
// request-log lines, and a host name that looks like a loopback address.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <fstream>
#include <iterator>

#include "server_test_util.hpp"
#include "support/run_program.hpp"

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

// A non-loopback IPv4 address of this machine, or "" when it has none.
std::string OtherLocalAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if ((ntohl(v4->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) found = text;
  }
  freeifaddrs(list);
  return found;
}

TEST(LoopbackOnly, ANameThatLooksLikeLoopbackButResolvesElsewhereIsRefused) {
  // The name is given an address of this machine's network card through a
  // hosts file that only the server sees (a mount namespace of its own).
  const std::string address = OtherLocalAddress();
  if (address.empty()) GTEST_SKIP() << "this machine has no address beyond loopback";
  if (harnolfees::testing::RunProgram("/usr/bin/unshare", {"-m", "true"}).status != 0) {
    GTEST_SKIP() << "no mount namespace may be made here";
  }
  TempDir dir;
  const std::string hosts = dir.File("hosts");
  std::ofstream(hosts) << address << " 127.0.0.1.fees.test\n";
  const std::string command = "mount --bind " + hosts + " /etc/hosts && exec " +
                              HARNOLFEES_SERVER_PATH + " --db " + dir.File("fees.db") +
                              " --listen 127.0.0.1.fees.test:0";
  const auto run = harnolfees::testing::RunProgram("/usr/bin/unshare", {"-m", "sh", "-c", command},
                                                   "", std::chrono::seconds(5));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out.find("listening"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("loopback addresses only"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace harnolfees::server::testing
