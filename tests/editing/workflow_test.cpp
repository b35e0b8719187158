// The edit workflow, the duplicate date check and the faults of the save
// road that every tab shares. The form while adding, on Cancel and the row
// rules of Edit are in the tab01 and tab04 scenarios.
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

const char* kTwoMembershipFees =
    "<T1><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
    "<MembershipFee>100</MembershipFee><Term>12</Term><MembershipRoyalty>0.1</MembershipRoyalty>"
    "<MinimumRoyalty>5</MinimumRoyalty><RoyaltyReserve>0.02</RoyaltyReserve></T1>"
    "<T1><CenterID>12</CenterID><Effectivity>2004-03-10</Effectivity>"
    "<MembershipFee>110</MembershipFee><Term>24</Term><MembershipRoyalty>0.1</MembershipRoyalty>"
    "<MinimumRoyalty>5</MinimumRoyalty><RoyaltyReserve>0.02</RoyaltyReserve></T1>";

using EditWorkflow = EditingTest;

// The refusals' messages on every tab are in the tab scenarios; here the keys:
// the record under edit, the APR type, the travel flag, the other date boxes.
TEST_F(EditWorkflow, DuplicateDatesAreRefusedByKey) {
  Load(std::string(kTwoMembershipFees) +
       "<T5><Effectivity>2004-03-01</Effectivity><BetaAPR>0.07</BetaAPR>"
       "<BetaAPRTypeID>1</BetaAPRTypeID></T5>"
       "<T8><Effectivity>2004-03-01</Effectivity><MembershipRenewalFee>10</MembershipRenewalFee>"
       "<CenterPortion>0.5</CenterPortion><MemberAccessLevelDescription>Gold"
       "</MemberAccessLevelDescription><MemberAccessLevelID>3</MemberAccessLevelID>"
       "<TravelMembership>0</TravelMembership></T8>");
  auto check = [&](const std::string& date, const std::string& oldDate, const std::string& oldType,
                   int tab, int type, int level, int travel) {
    host.ClearRecords();
    return control->ValidateEffectiveDate(date, 0, oldDate, oldType, tab, type, "", level, travel);
  };
  EXPECT_EQ(check("", "", "-1", 1, 0, 3, 0), "");
  EXPECT_EQ(host.LastMessage().prompt, "Please enter Effective Date");
  EXPECT_EQ(host.LastFocus(), "DTPicker1(0)");
  EXPECT_EQ(check("3/2/2004", "", "-1", 1, 0, 3, 0), "03/02/2004");
  EXPECT_TRUE(host.messages.empty());
  // The record under edit keeps its own date; another record's date is taken.
  EXPECT_EQ(check("3/1/2004", "3/1/2004", "-1", 1, 0, 3, 0), "03/01/2004");
  EXPECT_EQ(check("3/10/2004", "3/1/2004", "-1", 1, 0, 3, 0), "");
  S().cboAPRType.SetListIndex(0);
  EXPECT_EQ(check("3/1/2004", "", "-1", 5, 2, 3, 0), "03/01/2004");
  EXPECT_EQ(check("3/1/2004", "", "-1", 5, 1, 3, 0), "");
  EXPECT_EQ(check("3/1/2004", "3/1/2004", "1", 5, 1, 3, 0), "03/01/2004");
  EXPECT_EQ(check("3/1/2004", "", "-1", 8, 0, 3, 1), "03/01/2004");
  EXPECT_EQ(check("3/1/2004", "", "-1", 8, 0, 3, 0), "");
  host.ClearRecords();
  EXPECT_EQ(control->ValidateEffectiveDate("", 5, "", "-1", 0, 0, "Opened Date", 3, 0), "");
  EXPECT_EQ(host.LastMessage().prompt, "Please enter Opened Date");
  EXPECT_EQ(host.LastFocus(), "txtField(5)");
  EXPECT_EQ(control->ValidateEffectiveDate("3/1/2004", 6, "", "-1", 0, 0, "Closed Date", 3, 0),
            "03/01/2004");
}

TEST_F(EditWorkflow, ActionsDuringASubmissionAreSetAsideAndARefusedEditIsDiscardedByCancel) {
  Load(kTwoMembershipFees);
  Tab(4);
  Add();
  Date(2004, 3, 20);
  Type(1, "30");
  int nested = 0;
  host.onDoEvents = [&] {
    if (!State().Submitting || nested > 0) return;
    ++nested;
    Type(1, "99");
    Add();
    Edit();
    Delete();
    Tab(2);
    EXPECT_EQ(State().CurrentTab, 4);
    EXPECT_EQ(State().TabEntryMode[4], 0);
    EXPECT_EQ(State().SavedFieldTexts[4][1], "");
  };
  server.QueueReply({200, "", std::chrono::milliseconds(100)});
  Add();
  host.onDoEvents = nullptr;
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(Posted().size(), 1u);
  EXPECT_EQ(State().LastStatement, LastPosted());
  ASSERT_EQ(Count(4), 1u);
  EXPECT_EQ(Column(4, "RenewalOptionFee")[0].ToDouble(), 30.0);
  EXPECT_EQ(S().grdFees.TextMatrix(1, 1), "30.00");
  EXPECT_EQ(State().CurrentTab, 4);
  EXPECT_EQ(S().tabFees.Tag(), "0");
  EXPECT_FALSE(State().DeletePending);

  // A refused save replaced by the next one on the same date: the replies
  // scenario. A refused edit, then Cancel: the grid shows the server's value
  // again.
  Row(1);
  Edit();
  Type(1, "45");
  Refuse("Timeout");
  Add();
  EXPECT_EQ(Column(4, "RenewalOptionFee")[0].ToDouble(), 45.0);
  Edit();  // Cancel
  EXPECT_EQ(Column(4, "RenewalOptionFee")[0].ToDouble(), 30.0);
  EXPECT_EQ(S().grdFees.TextMatrix(1, 1), "30.00");
  EXPECT_EQ(State().RefusedPendingTab, 0);
  Tab(2);
  EXPECT_EQ(State().CurrentTab, 2);
}

TEST_F(EditWorkflow, ARecordSetFailureLeavesNoHalfWrittenRecord) {
  Load(kTwoMembershipFees);
  S().cboTerm.AddItem("70000");  // more months than the record set can hold
  Add();
  Date(2004, 3, 20);
  Type(1, "100");
  S().cboTerm.SetText("70000");
  Type(3, "10");
  Type(4, "5");
  Type(5, "2");
  Add();
  ASSERT_FALSE(host.messages.empty());
  EXPECT_EQ(host.LastMessage().buttons, 0);
  EXPECT_EQ(Count(1), 2u);
  EXPECT_FALSE(Rs(1).HasPending());
  EXPECT_TRUE(Posted().empty());
  EXPECT_EQ(S().tabFees.Tag(), "1");
}

}  // namespace
}  // namespace harnolfees::testing
