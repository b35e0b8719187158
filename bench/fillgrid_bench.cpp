// Rendering 10,000 records into the grid: the goal is under 50 ms a
// rendering, the grid already grown (every save, cancel and tab change
// re-renders the whole tab).
#include <benchmark/benchmark.h>

#include <memory>

#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"

namespace {

using harnolfees::DateTime;
using harnolfees::HarnolFeesCtlCenter;
using harnolfees::RecordSet;
using harnolfees::Value;

constexpr int kRecords = 10'000;

struct Fixture {
  harnolfees::testing::FakeHost host;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  Fixture() {
    ctl = std::make_unique<HarnolFeesCtlCenter>(
        host, std::make_unique<harnolfees::testing::FakeTransfer>(),
        std::make_unique<harnolfees::testing::FakeFetcher>());
    auto& s = ctl->surface();
    for (const char* t : {"Standard", "Premium", "Select"}) s.cboType.AddItem(t);
    for (const char* t : {"Good", "Fair", "Poor"}) s.cboBitwise.AddItem(t);
    RecordSet& types = ctl->recordSets()(15);
    for (int i = 1; i <= 5; ++i) {
      types.AddNew();
      types.SetValue("BankAccountTypeID", Value(static_cast<std::int32_t>(i)));
      types.SetValue("Description", Value("Account type " + std::to_string(i)));
      types.Update();
    }
  }

  void FillMembershipFees() {
    RecordSet& rs = ctl->recordSets()(1);
    for (int i = 0; i < kRecords; ++i) {
      rs.AddNew();
      rs.SetValue("Effectivity", Value(DateTime::FromSerial(12000 + i, 0)));
      rs.SetValue("MembershipFee", Value(1000.0 + i));
      rs.SetValue("Term", Value(static_cast<std::int16_t>(12 + i % 3 * 12)));
      rs.SetValue("MembershipRoyalty", Value(0.05f));
      rs.SetValue("MinimumRoyalty", Value(250.0));
      rs.SetValue("RoyaltyReserve", Value(0.025f));
      rs.Update();
    }
  }

  void FillBetaReserves() {
    RecordSet& rs = ctl->recordSets()(7);
    for (int i = 0; i < kRecords; ++i) {
      rs.AddNew();
      rs.SetValue("Effectivity", Value(DateTime::FromSerial(12000 + i, 0)));
      rs.SetValue("BetaReserve", Value(0.1));
      rs.SetValue("ContractType", Value(static_cast<double>(i % 3)));
      rs.SetValue("CreditTypeBitwiseValue", Value(static_cast<double>(1 + i % 3)));
      rs.Update();
    }
  }

  void FillBankAccounts() {
    RecordSet& rs = ctl->recordSets()(9);
    for (int i = 0; i < kRecords; ++i) {
      rs.AddNew();
      rs.SetValue("Type", Value(static_cast<std::int16_t>(1 + i % 5)));
      rs.SetValue("Effectivity", Value(DateTime::FromSerial(12000 + i, 0)));
      rs.SetValue("RoutingNumber", Value("021000021"));
      rs.SetValue("AccountNumber", Value(std::to_string(100000 + i)));
      rs.SetValue("SweepSpan", Value(static_cast<std::int32_t>(3)));
      rs.SetValue("Opened", Value(DateTime::FromSerial(11000 + i, 0)));
      rs.SetValue("Closed", Value(i % 2 ? "06/30/2004" : "  "));
      rs.Update();
    }
  }

  void FillRenewalFees() {
    RecordSet& rs = ctl->recordSets()(8);
    for (int i = 0; i < kRecords; ++i) {
      rs.AddNew();
      rs.SetValue("Effectivity", Value(DateTime::FromSerial(12000 + i % 500, 0)));
      rs.SetValue("MembershipRenewalFee", Value(100.0 + i));
      rs.SetValue("CenterPortion", Value(0.4));
      rs.SetValue("MemberAccessLevelDescription", Value("Gold"));
      rs.SetValue("MemberAccessLevelID", Value(static_cast<std::int16_t>(i % 20)));
      rs.SetValue("TravelMembership", Value(static_cast<std::int16_t>(i % 2)));
      rs.Update();
    }
  }
};

void Render(benchmark::State& state, int tab, void (Fixture::*fill)()) {
  Fixture f;
  (f.*fill)();
  f.ctl->FillGrid(tab);  // grows the grid once
  for (auto _ : state) {
    f.ctl->FillGrid(tab);
    benchmark::DoNotOptimize(f.ctl->surface().grdFees.Rows());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  if (!f.host.messages.empty()) state.SkipWithError(f.host.messages.front().prompt.c_str());
}

void BM_FillGridMembershipFees(benchmark::State& state) {
  Render(state, 1, &Fixture::FillMembershipFees);
}
void BM_FillGridBetaReserves(benchmark::State& state) {
  Render(state, 7, &Fixture::FillBetaReserves);
}
void BM_FillGridBankAccounts(benchmark::State& state) {
  Render(state, 9, &Fixture::FillBankAccounts);
}
void BM_FillGridRenewalFeesSorted(benchmark::State& state) {
  Render(state, 8, &Fixture::FillRenewalFees);
}

// The first rendering of a tab, which also grows the grid to 10,002 rows.
void BM_FillGridFirstRendering(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto f = std::make_unique<Fixture>();
    f->FillMembershipFees();
    state.ResumeTiming();
    f->ctl->FillGrid(1);
    state.PauseTiming();
    f.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_FillGridMembershipFees)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillGridBetaReserves)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillGridBankAccounts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillGridRenewalFeesSorted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillGridFirstRendering)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
