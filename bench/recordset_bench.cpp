// Record-set speed on a large membership-renewal-fee schedule: filling it the
// way the load does, and the filter, search, walk and sort that the grid and
// the duplicate-date check run on it.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/recordset.hpp"

namespace harnolfees {
namespace {

constexpr int kRecords = 100000;

std::unique_ptr<FeeRecordSets> MakeSets() {
  auto sets = std::make_unique<FeeRecordSets>();
  sets->OpenAll();
  return sets;
}

DateTime DateOf(int i) {
  return DateTime::FromParts(1990 + (i / 360) % 30, 1 + (i / 30) % 12, 1 + i % 28);
}

// Ten writes per record with values already of the field's type.
void FillNative(RecordSet& rs, int count) {
  const int effectivity = rs.FieldIndex("Effectivity");
  for (int i = 0; i < count; ++i) {
    rs.AddNew();
    DateTime date = DateOf(i);
    rs.SetValue("CenterID", Value(std::int16_t{12}));
    rs.SetValue(effectivity, Value(date));
    rs.SetValue("MembershipRenewalFee", Value(Money::FromUnits(250000 + i)));
    rs.SetValue("CenterPortion", Value(0.4));
    rs.SetValue("IsAdded", Value(std::int16_t{1}));
    rs.SetValue("OldEffectivity", Value(date));
    rs.SetValue("MemberAccessLevelDescription", Value("Gold"));
    rs.SetValue("MemberAccessLevelID", Value(static_cast<std::int16_t>(1 + i % 3)));
    rs.SetValue("TravelMembership", Value(static_cast<std::int16_t>(i % 2)));
    rs.SetValue("OldMemberAccessLevelID", Value(static_cast<std::int16_t>(1 + i % 3)));
    rs.Update();
  }
}

// The same ten writes as the texts of a load document.
void FillFromTexts(RecordSet& rs, const std::vector<std::string>& dates, int count) {
  for (int i = 0; i < count; ++i) {
    rs.AddNew();
    const std::string& date = dates[static_cast<std::size_t>(i) % dates.size()];
    rs.SetValue("CenterID", Value("12"));
    rs.SetValue("Effectivity", Value(date));
    rs.SetValue("MembershipRenewalFee", Value("25.0001"));
    rs.SetValue("CenterPortion", Value("0.4"));
    rs.SetValue("IsAdded", Value("1"));
    rs.SetValue("OldEffectivity", Value(date));
    rs.SetValue("MemberAccessLevelDescription", Value("Gold"));
    rs.SetValue("MemberAccessLevelID", Value(i % 3 == 0 ? "1" : (i % 3 == 1 ? "2" : "3")));
    rs.SetValue("TravelMembership", Value(i % 2 == 0 ? "0" : "1"));
    rs.SetValue("OldMemberAccessLevelID", Value("2"));
    rs.Update();
  }
}

void BM_FillNative(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto sets = MakeSets();
    state.ResumeTiming();
    FillNative((*sets)(8), kRecords);
    benchmark::DoNotOptimize((*sets)(8).RecordCount());
    state.PauseTiming();
    sets.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FillNative)->Unit(benchmark::kMillisecond);

void BM_FillFromTexts(benchmark::State& state) {
  std::vector<std::string> dates;
  for (int i = 0; i < 1000; ++i) dates.push_back(DateToIso(DateOf(i)));
  for (auto _ : state) {
    state.PauseTiming();
    auto sets = MakeSets();
    state.ResumeTiming();
    FillFromTexts((*sets)(8), dates, kRecords);
    benchmark::DoNotOptimize((*sets)(8).RecordCount());
    state.PauseTiming();
    sets.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FillFromTexts)->Unit(benchmark::kMillisecond);

RecordSet& FilledSet() {
  static std::unique_ptr<FeeRecordSets> sets = [] {
    auto s = MakeSets();
    FillNative((*s)(8), kRecords);
    return s;
  }();
  return (*sets)(8);
}

// The duplicate-date check: filter on a date, access level and travel flag,
// then remove the filter again.
void BM_FilterAndClear(benchmark::State& state) {
  RecordSet& rs = FilledSet();
  for (auto _ : state) {
    rs.SetFilter("Effectivity='03/15/2004' and TravelMembership=1 and MemberAccessLevelID= 2");
    benchmark::DoNotOptimize(rs.RecordCount());
    rs.SetFilter("");
  }
}
BENCHMARK(BM_FilterAndClear)->Unit(benchmark::kMillisecond);

// A search that runs through every record and finds the last.
void BM_FindLast(benchmark::State& state) {
  RecordSet& rs = FilledSet();
  rs.MoveFirst();
  for (int i = 1; i < kRecords; ++i) rs.MoveNext();
  const std::string criteria =
      "MembershipRenewalFee =  '" + Value(rs.GetValue("MembershipRenewalFee")).ToText() + "'";
  for (auto _ : state) {
    rs.MoveFirst();
    rs.Find(criteria);
    benchmark::DoNotOptimize(rs.IsEOF());
  }
  if (rs.IsEOF()) state.SkipWithError("the last record was not found");
}
BENCHMARK(BM_FindLast)->Unit(benchmark::kMillisecond);

// The grid's walk: every record from MoveFirst, reading its date.
void BM_Walk(benchmark::State& state) {
  RecordSet& rs = FilledSet();
  const int effectivity = rs.FieldIndex("Effectivity");
  for (auto _ : state) {
    long visited = 0;
    rs.MoveFirst();
    while (!rs.IsEOF()) {
      Value date = rs.GetValue(effectivity);
      benchmark::DoNotOptimize(date);
      ++visited;
      rs.MoveNext();
    }
    if (visited != kRecords) state.SkipWithError("the walk missed records");
  }
}
BENCHMARK(BM_Walk)->Unit(benchmark::kMillisecond);

void BM_SortRenewals(benchmark::State& state) {
  RecordSet& rs = FilledSet();
  for (auto _ : state) {
    rs.SetSort("Effectivity DESC, MemberAccessLevelID");
    benchmark::DoNotOptimize(rs.RecordCount());
  }
  rs.SetSort("");
}
BENCHMARK(BM_SortRenewals)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace harnolfees

BENCHMARK_MAIN();
