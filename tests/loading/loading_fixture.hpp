// A control with a fake host, a fake document fetch and a fake transfer, for
// the loading and editing tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {

inline constexpr const char* kBaseUrl = "http://fees.example/harnol/";

class LoadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto fetch = std::make_unique<FakeFetcher>();
    auto send = std::make_unique<FakeTransfer>();
    fetcher = fetch.get();
    transfer = send.get();
    control = std::make_unique<HarnolFeesCtlCenter>(host, std::move(send), std::move(fetch));
    host.ClearRecords();
  }

  void Load(const std::string& document, std::int16_t center = 12,
            const std::string& serverDate = "3/15/2004") {
    fetcher->document = document;
    control->LoadData(kBaseUrl, center, serverDate);
  }
  void LoadSample(std::int16_t center = 12) { Load(ReadTestData("load_center12.xml"), center); }

  void Tab(int tab) {
    surface().tabFees.SetSelectedIndex(tab);
    surface().tabFees.Click();
  }

  // Every record of a record set, pending ones included.
  std::vector<std::vector<Value>> Records(int set) const {
    std::vector<std::vector<Value>> out;
    control->recordSets()(set).ForEachRecord(
        [&](const std::vector<Value>& values) { out.push_back(values); });
    return out;
  }
  std::size_t Count(int set) const { return Records(set).size(); }
  // A field of the n-th record (from 0) of a record set.
  Value Field(int set, std::size_t n, const std::string& name) const {
    const RecordSet& rs = control->recordSets()(set);
    return Records(set).at(n).at(static_cast<std::size_t>(rs.FieldIndex(name)));
  }
  std::vector<std::string> List(const ComboBox& box) const {
    std::vector<std::string> items;
    for (int i = 0; i < box.ListCount(); ++i) items.push_back(box.List(i));
    return items;
  }
  Surface& surface() { return control->surface(); }
  const ControlState& state() const { return control->state(); }

  FakeHost host;
  FakeFetcher* fetcher = nullptr;
  FakeTransfer* transfer = nullptr;
  std::unique_ptr<HarnolFeesCtlCenter> control;
};

inline DateTime Date(int y, int m, int d) { return DateTime::FromParts(y, m, d); }

}  // namespace harnolfees::testing
