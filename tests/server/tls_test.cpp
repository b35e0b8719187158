// HTTPS between the control and the fee server: the server's certificate is
// checked against the certificate authorities the control is given.
#include <gtest/gtest.h>

#include <cstdlib>

#include "harnolfees/control.hpp"
#include "server_test_util.hpp"
#include "support/fake_host.hpp"

namespace harnolfees::server::testing {
namespace {

using harnolfees::testing::FakeHost;

TEST(Tls, TheControlLoadsAndSavesOverHttpsWithTheAuthoritiesItIsGiven) {
  TempDir dir;
  const std::string cert = dir.File("cert.pem"), key = dir.File("key.pem");
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  ServerOptions o = OptionsFor(dir.File("fees.db"), {{12, false}});
  o.tlsCert = cert;
  o.tlsKey = key;
  RunningServer server(o);
  const std::string base = "https://127.0.0.1:" + std::to_string(server.port()) + "/";

  FakeHost host;
  HarnolFeesCtlCenter ctl(host, MakeCurlTransfer(host, {}, cert),
                          MakeCurlFetcher({}, kMaxDocumentBytes, cert));
  ctl.LoadData(base, 12, "03/15/2004");
  ASSERT_TRUE(ctl.LastLoadSucceeded()) << host.LastMessage().prompt;
  Surface& s = ctl.surface();
  s.tabFees.SetSelectedIndex(4);
  s.tabFees.Click();
  s.cmdAdd.Click();
  s.DTPicker1[0].SetValue(DateTime::FromParts(2004, 3, 20));
  s.txtField[1].SetText("45");
  s.cmdAdd.Click();
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  ctl.LoadData(base, 12, "03/15/2004");
  EXPECT_EQ(ctl.recordSets()(4).RecordCount(), 1) << "the save reached the database";

  // A control that does not trust the certificate loads nothing from it.
  FakeHost other;
  const std::string system = "/etc/ssl/certs/ca-certificates.crt";
  HarnolFeesCtlCenter wary(other, MakeCurlTransfer(other, {}, system),
                           MakeCurlFetcher({}, kMaxDocumentBytes, system));
  wary.LoadData(base, 12, "03/15/2004");
  EXPECT_FALSE(wary.LastLoadSucceeded());
  EXPECT_NE(other.LastMessage().prompt.find("certificate"), std::string::npos)
      << other.LastMessage().prompt;
}

}  // namespace
}  // namespace harnolfees::server::testing
