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

struct Control {
  FakeHost host;
  FakeTransfer* transfer = nullptr;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  explicit Control(std::optional<VersionInfo> version = std::nullopt) {
    host.version = version;
    auto t = std::make_unique<FakeTransfer>();
    transfer = t.get();
    ctl =
        std::make_unique<HarnolFeesCtlCenter>(host, std::move(t), std::make_unique<FakeFetcher>());
  }
  Surface& s() { return ctl->surface(); }
};

TEST(StartUp, VersionLabelShowsPlainDecimalNumbers) {
  Control c(VersionInfo{10, 12, 105});
  EXPECT_EQ(c.s().lblVersionNo.Caption(), "Version 10.12.105");
}

TEST(StartUp, WithoutNetworkComponentsTheControlStillStarts) {
  // No transfer or fetch given: the control makes its own, or goes without.
  FakeHost host;
  HarnolFeesCtlCenter ctl(host);
  EXPECT_EQ(ctl.surface().lblVersionNo.Caption(), "Version 2.0.3");
  EXPECT_EQ(ctl.surface().grdFees.TextMatrix(0, 0), "Effective Date");
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
