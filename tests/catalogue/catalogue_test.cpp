#include "harnolfees/catalogue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::ControlErrorOf;

TEST(FeeTabCatalogue, OutOfRangeTabsColumnsAndRecordSetsAreRefused) {
  for (int tab : {0, 15, -1}) {
    EXPECT_EQ(ControlErrorOf([tab] { FeeTab(tab); }),
              std::make_pair(errc::kSubscriptOutOfRange,
                             "Subscript out of range: tab " + std::to_string(tab)));
  }
  EXPECT_THROW(GridColumnCount(15), ControlError);
  EXPECT_THROW(GridHeadings(0, 0), ControlError);
  EXPECT_THROW(GridHeadings(1, 7), ControlError);
  EXPECT_THROW(GridHeadings(1, -1), ControlError);
  FeeRecordSets sets;
  for (int index : {0, 16, -3}) {
    const auto [number, text] = ControlErrorOf([&] { sets(index); });
    EXPECT_EQ(number, errc::kSubscriptOutOfRange);
    EXPECT_NE(text.find(std::to_string(index)), std::string::npos) << text;
  }
  EXPECT_THROW(std::as_const(sets)(16), ControlError);
}

TEST(FeeRecordSetsLifecycle, StartUpOpensEmptySetsAndLoadEmptiesThem) {
  FeeRecordSets sets;
  EXPECT_EQ(sets(1).State(), RecordSet::kStateClosed);
  sets.OpenAll();
  for (int index = 1; index <= kRecordSetCount; ++index) {
    EXPECT_EQ(sets(index).State(), RecordSet::kStateOpen);
    EXPECT_EQ(sets(index).RecordCount(), 0);
    EXPECT_TRUE(sets(index).IsBOF());
    EXPECT_TRUE(sets(index).IsEOF());
  }
  RecordSet& renewals = sets(8);
  for (int level = 1; level <= 3; ++level) {
    renewals.AddNew();
    renewals.SetValue("Effectivity", Value("1/1/2004"));
    renewals.SetValue("MemberAccessLevelID", Value(static_cast<std::int32_t>(level)));
    renewals.Update();
  }
  renewals.SetSort("Effectivity DESC, MemberAccessLevelID");
  renewals.SetFilter("MemberAccessLevelID=2");
  sets.EmptyAll();
  EXPECT_EQ(renewals.Sort(), "Effectivity DESC, MemberAccessLevelID");
  EXPECT_EQ(renewals.Filter(), "MemberAccessLevelID=2");
  renewals.SetFilter("");
  EXPECT_EQ(renewals.RecordCount(), 0);
  sets.CloseAll();
  EXPECT_EQ(sets(8).State(), RecordSet::kStateClosed);
  EXPECT_THROW(sets(8).AddNew(), ControlError);
}

}  // namespace
}  // namespace harnolfees
