// The driver's own costs: parsing operator scripts, writing JSON text and
// dumping a control that holds many records.
#include <benchmark/benchmark.h>

#include <string>

#include "dump.hpp"
#include "harnolfees/control.hpp"
#include "json.hpp"
#include "script.hpp"
#include "support/fake_host.hpp"

namespace {

using namespace harnolfees;

void BM_ParseScript(benchmark::State& state) {
  std::string script;
  for (int i = 0; i < 10000; ++i) {
    script += "# step " + std::to_string(i) + "\n";
    script += "type 1 \"7.25 \\x41\\t\\\"quoted\\\"\"\nselect cboTerm 3\ndate 0 2004-03-15\n";
  }
  for (auto _ : state) {
    driver::ParsedScript parsed = driver::ParseScript(script);
    benchmark::DoNotOptimize(parsed.commands.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * script.size()));
}
BENCHMARK(BM_ParseScript)->Unit(benchmark::kMillisecond);

void BM_JsonString(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "Membership Fee ($) caf\xc3\xa9 \"q\"\t\xe9 ";
  for (auto _ : state) {
    std::string out;
    driver::AppendJsonString(out, text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_JsonString);

// A dump of a control whose first record set holds state.range(0) records.
void BM_DumpRecords(benchmark::State& state) {
  testing::FakeHost host;
  HarnolFeesCtlCenter control(host, std::make_unique<testing::FakeTransfer>(),
                              std::make_unique<testing::FakeFetcher>());
  RecordSet& rs = control.recordSets()(1);
  for (int i = 0; i < state.range(0); ++i) {
    rs.AddNew();
    rs.SetValue("CenterID", Value(std::int16_t{12}));
    rs.SetValue("Effectivity", Value(DateTime::FromSerial(12000 + i, 0)));
    rs.SetValue("MembershipFee", Value(Money::FromUnits(2505000 + i)));
    rs.SetValue("Term", Value(std::int16_t{12}));
    rs.SetValue("MembershipRoyalty", Value(0.0725f));
    rs.Update();
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string dump = driver::DumpEvent(control);
    bytes = dump.size();
    benchmark::DoNotOptimize(dump.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_DumpRecords)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
