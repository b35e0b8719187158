// What the fee server does against clients that try to mislead or exhaust
// it: bodies from strangers or beyond the limit, requests for many ranges,
// slow and silent connections, clients that give up, forged request-log
// lines, a host name that looks like a loopback address; and how its
// listening socket takes a burst of connections and keeps its port its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "access.hpp"
#include "server_test_util.hpp"
#include "support/run_program.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::server::testing {
namespace {

using harnolfees::testing::RunProgram;

TEST(RequestLog, EachRequestIsOneLineWhateverItsPathHolds) {
  TempDir dir;
  const std::string log = dir.File("server.log");
  ServerProcess server(HARNOLFEES_SERVER_PATH,
                       {"--db", dir.File("fees.db"), "--listen", "127.0.0.1:0"}, {log});
  const std::vector<std::string> paths = {
      // A line break followed by a whole fake line of its own.
      "/TermFeesAX.asp%0D%0A2001-01-01T00:00:00%20127.0.0.1:1%20user=admin%20center=1%20"
      "kind=DELETE%20outcome=ok%20status=200%20ms=0.10%20POST%20/TermFeesAX.asp?Center=1",
      // Terminal escapes, bytes beyond ASCII, a backslash and a NUL.
      "/%1B[2J%C3%A9%5Cx0a%00/TermFeesAX.asp?Center=1",
  };
  for (const std::string& path : paths) ASSERT_NE(GetFrom(server.port(), path).first, 0);
  EXPECT_EQ(server.Stop(), 0);

  const std::string text = harnolfees::testing::ReadFile(log);
  ASSERT_TRUE(!text.empty() && text.back() == '\n') << text;
  std::istringstream lines(text);
  std::vector<std::string> requests;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        << line;
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

// A connection to 127.0.0.1:port; -1 when none could be made. Without
// blocking the handshake may still be under way.
int Connect(int port, bool blocking = true) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      (blocking || errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends the bytes, then collects what the server answers within the wait
// (until it closes the connection or falls silent for the wait); `closed`
// tells which.
std::string Exchange(int fd, const std::string& bytes, int waitMs = 2000, bool* closed = nullptr) {
  if (!bytes.empty() &&
      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    return "send failed";
  }
  std::string reply;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, waitMs) == 1) {
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (closed) *closed = n <= 0;
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
    if (reply.find("\r\n\r\n") != std::string::npos) waitMs = 200;  // the rest of a reply
  }
  return reply;
}

// The reply to the bytes on a connection of their own.
std::string Ask(int port, const std::string& bytes, int waitMs = 2000) {
  const int fd = Connect(port);
  const std::string reply = Exchange(fd, bytes, waitMs);
  close(fd);
  return reply;
}

// Whether the server closed the connection within the wait (reading and
// dropping whatever it sent before).
bool ClosedWithin(int fd, int waitMs) {
  bool closed = false;
  Exchange(fd, "", waitMs, &closed);
  return closed;
}

TEST(Bodies, ABodyIsReadOnlyForAKnownUserWithinTheLimitAndRangesAreIgnored) {
  TempDir dir;
  const std::string users = dir.File("users");
  std::ofstream(users) << UserDirectory::MakeEntry("ann", "pw", "*", "*", 1000) << "\n";
  ServerOptions o = OptionsFor(dir.File("fees.db"), {{12, false}});
  o.usersFile = users;
  RunningServer server(o);
  auto Post = [](const std::string& credentials, const std::string& framing) {
    return "POST /TermFeesAX.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + credentials +
           "Content-Type: application/x-www-form-urlencoded\r\n" + framing + "\r\n";
  };
  const std::string ann =
      "Authorization: " + httplib::make_basic_authentication_header("ann", "pw").second + "\r\n";
  // Without credentials the refusal comes before any of the body, chunked or
  // with a length; a known user's body is refused before any of it is read
  // when its length is beyond the limit...
  for (const auto& [credentials, framing, status] :
       std::vector<std::array<std::string, 3>>{{"", "Transfer-Encoding: chunked\r\n", "401"},
                                               {"", "Content-Length: 400000000\r\n", "401"},
                                               {ann, "Content-Length: 400000000\r\n", "413"}}) {
    const std::string reply = Ask(server.port(), Post(credentials, framing));
    EXPECT_EQ(reply.rfind("HTTP/1.1 " + status, 0), 0u) << framing << reply;
  }
  // ...and as soon as it has passed the limit when it comes in chunks.
  const int fd = Connect(server.port());
  std::string reply = Exchange(fd, Post(ann, "Transfer-Encoding: chunked\r\n"), 200);
  EXPECT_EQ(reply, "");
  const std::string chunk = "1000\r\n" + std::string(0x1000, 'A') + "\r\n";
  for (int i = 0; i < 3 && reply.empty(); ++i) reply = Exchange(fd, chunk, i < 2 ? 200 : 2000);
  close(fd);
  EXPECT_EQ(reply.rfind("HTTP/1.1 413", 0), 0u) << reply;
  EXPECT_NE(reply.find("larger than 8192 bytes"), std::string::npos) << reply;
  // A whole chunked statement is read and executed.
  const std::string body =
      "SQL=" + FormEncode(
                   " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '3/15/2004' "
                   "AND CenterID = 12");
  char size[16];
  std::snprintf(size, sizeof size, "%zx", body.size());
  reply = Ask(server.port(),
              Post(ann, "Transfer-Encoding: chunked\r\n") + size + "\r\n" + body + "\r\n0\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 409", 0), 0u) << reply;  // nothing to delete: it ran

  // A request for many ranges gets the whole document, once.
  const auto auth = httplib::make_basic_authentication_header("ann", "pw");
  const auto whole = server.Get("/TermFeesAX.asp?Center=12", {auth});
  ASSERT_EQ(whole.first, 200);
  std::string ranges = "bytes=0-";
  for (int i = 0; i < 2000; ++i) ranges += ",0-";
  const auto ranged = server.Get("/TermFeesAX.asp?Center=12", {auth, {"Range", ranges}});
  EXPECT_EQ(ranged, whole);
}

TEST(SlowClients, NeitherSlowNorSilentConnectionsShutOthersOut) {
  TempDir dir;
  ServerOptions o = OptionsFor(dir.File("fees.db"), {{12, false}});
  o.headerTimeout = std::chrono::milliseconds(1500);
  o.maxConnectionsPerAddress = 4;
  RunningServer server(o);
  // Two connections that never finish their header, though they send a byte
  // every 100 ms, and silent ones beyond the limit of the address.
  std::vector<int> slow, silent;
  for (int i = 0; i < 2; ++i) {
    slow.push_back(Connect(server.port()));
    Exchange(slow.back(), "GET /TermFeesAX.asp?Center=12 HTTP/1.1\r\n", 0);
  }
  for (int i = 0; i < 6; ++i) silent.push_back(Connect(server.port()));
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(server.Get("/TermFeesAX.asp?Center=12").first, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(1000));
  // The longest waiting silent connections made room.
  EXPECT_TRUE(ClosedWithin(silent.front(), 200));
  // The slow headers are cut off at their deadline, not kept by each byte.
  for (int tick = 0; tick < 20; ++tick) {
    for (const int fd : slow) send(fd, "X", 1, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const int fd : slow) EXPECT_TRUE(ClosedWithin(fd, 500));
  // When every connection of the address has a request under way, one more
  // is closed at once.
  std::vector<int> busy;
  for (int i = 0; i < 4; ++i) {
    busy.push_back(Connect(server.port()));
    Exchange(busy.back(), "GET / HTTP/1.1\r\n", 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const int refused = Connect(server.port());
  EXPECT_TRUE(ClosedWithin(refused, 300));
  // A header beyond its limit is refused as such.
  for (const int fd : busy) close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string reply =
      Ask(server.port(),
          "GET /TermFeesAX.asp?Center=12 HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 431", 0), 0u) << reply;
  for (const int fd : slow) close(fd);
  for (const int fd : silent) close(fd);
  close(refused);
}

TEST(GivenUp, AStatementRunsOnlyWhileItsClientWaitsAndWithinTheDeadline) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  ServerOptions o = OptionsFor(db, {{12, false}});
  o.threads = 2;
  o.postDeadline = std::chrono::milliseconds(500);
  // GETDATE() is the server's clock, which a test may pin.
  o.clock = [] { return *Timestamp::FromParts(2031, 5, 6, 7, 8, 9); };
  RunningServer server(o);
  // Another connection holds the write lock, so that the statements wait.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  // The first client posts and gives up while its statement waits.
  const std::string body = "SQL=" + FormEncode(InsertRenewalOption(12, 1));
  Ask(server.port(),
      "POST /TermFeesAX.asp HTTP/1.1\r\nHost: x\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body,
      200);
  // The second waits for the lock as well; the third for a thread, past
  // the deadline.
  std::pair<int, std::string> waited, late;
  std::thread second([&] { waited = server.Post(InsertRenewalOption(12, 2)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread third([&] { late = server.Post(InsertRenewalOption(12, 3)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  second.join();
  third.join();
  EXPECT_EQ(waited.first, 200) << waited.second;
  EXPECT_EQ(late.first, 503) << late.second;
  EXPECT_NE(late.second.find("was not executed"), std::string::npos) << late.second;
  EXPECT_EQ(Query(db, "SELECT EffectivityDate, RecordLastUpdated FROM RenewalOptionFee"),
            std::vector<std::string>{"1800-01-03 00:00:00|2031-05-06 07:08:09"});
}

// A non-loopback IPv4 address of this machine, or "" when it has none.
std::string OtherLocalAddress() {
  std::istringstream addresses(RunProgram("/bin/hostname", {"-I"}).out);
  for (std::string a; addresses >> a;) {
    if (a.find(':') == std::string::npos) return a;
  }
  return "";
}

TEST(LoopbackOnly, ANameThatLooksLikeLoopbackButResolvesElsewhereIsRefused) {
  // The name is given an address of this machine's network card through a
  // hosts file that only the server sees (a mount namespace of its own).
  const std::string address = OtherLocalAddress();
  if (address.empty()) GTEST_SKIP() << "this machine has no address beyond loopback";
  if (RunProgram("/usr/bin/unshare", {"-m", "true"}).status != 0) {
    GTEST_SKIP() << "no mount namespace may be made here";
  }
  TempDir dir;
  const std::string hosts = dir.File("hosts");
  std::ofstream(hosts) << address << " 127.0.0.1.fees.test\n";
  const std::string command = "mount --bind " + hosts + " /etc/hosts && exec " +
                              HARNOLFEES_SERVER_PATH + " --db " + dir.File("fees.db") +
                              " --listen 127.0.0.1.fees.test:0";
  const auto run =
      RunProgram("/usr/bin/unshare", {"-m", "sh", "-c", command}, "", std::chrono::seconds(5));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(run.out.find("listening"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("loopback addresses only"), std::string::npos) << run.err;
}

// Whether the connection's handshake completed within the wait.
bool Established(int fd, int waitMs) {
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, waitMs) != 1) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

TEST(Listening, ABurstOfClientsIsQueuedAndASecondServerCannotTakeThePort) {
  TempDir dir;
  ServerOptions first = OptionsFor(dir.File("a.db"));
  first.port = 0;
  FeeServer server(std::move(first));
  const int port = server.Bind();  // bound and listening, nothing accepted yet

  // The kernel completes a handshake only while the queue of pending
  // connections has room; a client beyond it has its SYN dropped and waits a
  // second or more to try again. A short queue would leave most of these
  // clients waiting.
  constexpr int kClients = 24;
  std::vector<int> fds;
  for (int i = 0; i < kClients; ++i) fds.push_back(Connect(port, /*blocking=*/false));
  int established = 0;
  for (int fd : fds) {
    if (fd >= 0 && Established(fd, 300)) ++established;
  }
  for (int fd : fds) close(fd);  // -1, when none was made, is refused
  EXPECT_EQ(established, kClients);

  ServerOptions second = OptionsFor(dir.File("b.db"));
  second.port = port;
  FeeServer other(std::move(second));
  EXPECT_THROW(other.Bind(), std::runtime_error);
}

// The program's first argument asks for help; an unknown option is refused
// with the usage before anything starts.
TEST(Listening, HelpIsTheUsageAndAnUnknownOptionIsRefused) {
  const auto help = RunProgram(HARNOLFEES_SERVER_PATH, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--db"), std::string::npos) << help.out;
  const auto wrong = RunProgram(HARNOLFEES_SERVER_PATH, {"--frobnicate"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("--db"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace harnolfees::server::testing
