// Unfinished adds and edits as a host sees them: which tabs hold one, whether
// anything was typed, saving or discarding them all, and a reload in the
// middle of an edit.
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

using UnfinishedWork = EditingTest;
using Tabs = std::vector<int>;

const char* kRecords =
    "<T4><Effectivity>2004-01-01T00:00:00</Effectivity><RenewalOptionFee>40</RenewalOptionFee>"
    "</T4>"
    "<T4><Effectivity>2004-02-01T00:00:00</Effectivity><RenewalOptionFee>45</RenewalOptionFee>"
    "</T4>"
    "<T2><Effectivity>2004-01-01T00:00:00</Effectivity><ValuePlusFee>300</ValuePlusFee>"
    "<CenterPortion>100</CenterPortion><HarnolPortion>50</HarnolPortion><HealthFee>10</HealthFee>"
    "</T2>";

TEST_F(UnfinishedWork, TheTabsHoldingAnAddOrEditAreToldAsTheyChangeAndDiscardedAll) {
  Load(kRecords);
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{});
  Tab(4);
  Add();
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{4});
  EXPECT_EQ(host.unfinishedChanges, 1);
  EXPECT_FALSE(control->EntryModified());
  Type(1, "60");
  EXPECT_TRUE(control->EntryModified());

  // Leaving the tab keeps its add; an edit on another tab joins it.
  Tab(2);
  EXPECT_EQ(host.unfinishedChanges, 1);
  Row(1);
  Edit();
  EXPECT_EQ(control->UnfinishedTabs(), (Tabs{2, 4}));
  EXPECT_FALSE(control->EntryModified()) << "an edit begins with the record's own values";
  Edit();  // Cancel
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{4});
  EXPECT_EQ(host.unfinishedChanges, 3);

  // Back on the tab the typed text is still there, and still counts.
  Tab(4);
  EXPECT_EQ(S().txtField[1].Text(), "60");
  EXPECT_TRUE(control->EntryModified());

  // Discarding all ends every add and edit and sends nothing.
  Tab(2);
  Row(1);
  Edit();
  Type(1, "999");
  Tab(4);
  control->DiscardUnfinishedWork();
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{});
  EXPECT_EQ(S().cmdAdd.Caption(), "&Add");
  Tab(2);
  EXPECT_EQ(S().cmdAdd.Caption(), "&Add") << "the edit on the tab left is gone too";
  EXPECT_EQ(Count(4), 2u);
  EXPECT_TRUE(Posted().empty());
}

TEST_F(UnfinishedWork, SavingAllStopsAtTheFirstRefusalWithThatTabShown) {
  Load(kRecords);
  Tab(2);
  Row(1);
  Edit();
  Type(1, "320");
  Tab(4);
  Add();
  Date(2004, 3, 1);
  Type(1, "55");
  Tab(1);
  Refuse("Deadlock victim");  // the first statement sent is refused
  EXPECT_FALSE(control->SaveUnfinishedWork());
  EXPECT_EQ(State().CurrentTab, 2);
  EXPECT_EQ(control->UnfinishedTabs(), (Tabs{2, 4}));
  EXPECT_EQ(Posted().size(), 1u);

  // Once the server takes them, both are saved in turn.
  EXPECT_TRUE(control->SaveUnfinishedWork());
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{});
  ASSERT_EQ(Posted().size(), 3u);
  EXPECT_NE(Posted()[1].find("UPDATE"), std::string::npos);
  EXPECT_NE(Posted()[2].find("INSERT"), std::string::npos);
  EXPECT_EQ(State().CurrentTab, 4);
  EXPECT_EQ(Count(4), 3u);

  // A save refused by the checks stops it as well, and sends nothing.
  Add();
  Type(1, "");
  EXPECT_FALSE(control->SaveUnfinishedWork());
  EXPECT_FALSE(host.messages.empty());
  EXPECT_EQ(Posted().size(), 3u);
}

TEST_F(UnfinishedWork, AReloadDuringAnEditEndsItSoThatNoSaveWritesAnotherRecord) {
  Load(kRecords);
  Tab(4);
  Row(2);  // Jan 01, 2004
  Edit();
  Type(1, "70");
  Tab(2);
  Row(1);
  Edit();
  Tab(4);
  control->LoadData(kBaseUrl, 12, "03/15/2004");
  EXPECT_EQ(S().tabFees.Tag(), "0");
  EXPECT_EQ(S().cmdAdd.Caption(), "&Add");
  EXPECT_EQ(control->UnfinishedTabs(), Tabs{});
  // Save is Add again: pressing it twice starts and saves a new record,
  // never an update of the row under the cursor.
  Row(1);
  Add();
  EXPECT_EQ(S().tabFees.Tag(), "1");
  EXPECT_TRUE(Posted().empty());
  Tab(2);
  EXPECT_EQ(S().cmdAdd.Caption(), "&Add");
}

}  // namespace
}  // namespace harnolfees::testing
