#include "harnolfees/control.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::FakeFetcher;
using testing::FakeHost;
using testing::FakeTransfer;

// The version label shows the host's version as plain decimal numbers.
TEST(StartUp, WithoutNetworkComponentsTheControlStillStartsAndShowsItsVersion) {
  // No transfer or fetch given: the control makes its own, or goes without.
  FakeHost host;
  HarnolFeesCtlCenter ctl(host);
  EXPECT_EQ(ctl.surface().lblVersionNo.Caption(), "Version 2.0.3");
  EXPECT_EQ(ctl.surface().grdFees.TextMatrix(0, 0), "Effective Date");
  FakeHost versioned;
  versioned.version = VersionInfo{10, 12, 105};
  HarnolFeesCtlCenter other(versioned, std::make_unique<FakeTransfer>(),
                            std::make_unique<FakeFetcher>());
  EXPECT_EQ(other.surface().lblVersionNo.Caption(), "Version 10.12.105");
}

// Counts cancels where the test can still read them after the control, and
// the transfer it owns, are gone.
struct CountingTransfer : FakeTransfer {
  explicit CountingTransfer(int& cancelsOut) : out(cancelsOut) {}
  void Cancel() override {
    FakeTransfer::Cancel();
    ++out;
  }
  int& out;
};

TEST(TearDown, CancelsTheIdleTransferOnceWithoutAnyMessage) {
  FakeHost host;
  int cancels = 0;
  {
    HarnolFeesCtlCenter ctl(host, std::make_unique<CountingTransfer>(cancels),
                            std::make_unique<FakeFetcher>());
    EXPECT_EQ(cancels, 0);
  }
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace harnolfees
