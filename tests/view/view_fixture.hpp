// A control on a recording host, with helpers that write records straight
// into its record sets and fill its lists the way a load would.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"

namespace harnolfees::viewtest {

using Field = std::pair<const char*, Value>;

inline DateTime D(int y, int m, int d) { return DateTime::FromParts(y, m, d); }

struct Control {
  testing::FakeHost host;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  explicit Control(std::string document = "<R/>")
      : ctl(std::make_unique<HarnolFeesCtlCenter>(
            host, std::make_unique<testing::FakeTransfer>(),
            std::make_unique<testing::FakeFetcher>(std::move(document)))) {}

  Surface& s() { return ctl->surface(); }
  Grid& grid() { return ctl->surface().grdFees; }
  const ControlState& state() { return ctl->state(); }

  void Add(int set, std::initializer_list<Field> fields) {
    RecordSet& rs = ctl->recordSets()(set);
    rs.AddNew();
    for (const auto& [name, value] : fields) rs.SetValue(name, value);
    rs.Update();
  }

  // A membership renewal fee; a travel flag below 0 leaves the field Null.
  void Renewal(DateTime date, const char* level, int id, double fee, double portion,
               int travel = -1) {
    RecordSet& rs = ctl->recordSets()(8);
    rs.AddNew();
    rs.SetValue("Effectivity", date);
    rs.SetValue("MemberAccessLevelDescription", Value(level));
    rs.SetValue("MemberAccessLevelID", Value(static_cast<std::int16_t>(id)));
    rs.SetValue("MembershipRenewalFee", Value(fee));
    rs.SetValue("CenterPortion", Value(portion));
    if (travel >= 0) rs.SetValue("TravelMembership", Value(static_cast<std::int16_t>(travel)));
    rs.Update();
  }

  // A bank account of this type with placeholder numbers.
  void Account(int type, DateTime date) {
    Add(9, {{"Type", static_cast<std::int16_t>(type)},
            {"Effectivity", date},
            {"RoutingNumber", "r"},
            {"AccountNumber", "a"},
            {"SweepSpan", std::int32_t{1}}});
  }

  static void Fill(ComboBox& combo, std::initializer_list<const char*> items) {
    for (const char* item : items) combo.AddItem(item);
  }

  std::vector<std::string> Row(int row) {
    std::vector<std::string> cells;
    for (int c = 0; c < grid().Cols(); ++c) cells.push_back(grid().TextMatrix(row, c));
    return cells;
  }

  std::vector<int> Widths() {
    std::vector<int> w;
    for (int c = 0; c < grid().Cols(); ++c) w.push_back(grid().ColWidth(c));
    return w;
  }

  // Clicks a tab the way the operator does: select it, then its click.
  void ClickTab(int tab) {
    s().tabFees.SetSelectedIndex(tab);
    s().tabFees.Click();
  }
};

}  // namespace harnolfees::viewtest
