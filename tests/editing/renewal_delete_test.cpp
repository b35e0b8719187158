// Membership renewal fees, whose statements carry two statements and whose
// server key includes the access level and the travel flag, and deletion.
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

std::string GoldFee(int travel) {
  return "<T8><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
         "<MembershipRenewalFee>10</MembershipRenewalFee><CenterPortion>0.5</CenterPortion>"
         "<MemberAccessLevelDescription>Gold</MemberAccessLevelDescription>"
         "<MemberAccessLevelID>3</MemberAccessLevelID><TravelMembership>" +
         std::to_string(travel) + "</TravelMembership></T8>";
}

using RenewalFees = EditingTest;
using Deletion = EditingTest;

TEST_F(RenewalFees, ARefusedAdditionTheTravelFlagAndAnUnconfirmedKey) {
  Load(GoldFee(1), true);
  Tab(8);
  Row(1, 1);
  Edit();
  EXPECT_EQ(S().chkTravel.Value(), 1);  // the grid shows the loaded flag as 1
  Edit();
  Add();
  Date(2004, 3, 20);
  Type(2, "25");
  Type(3, "40");
  // A refused addition is not shown, and the form keeps what was typed.
  Refuse("Cannot insert duplicate key");
  Add();
  EXPECT_EQ(host.LastMessage().title, "Terms Fees - ERROR");
  EXPECT_EQ(S().txtField[2].Text(), "25");
  EXPECT_EQ(S().grdFees.TextMatrix(2, 0), "");
  Edit();  // Cancel discards it
  EXPECT_EQ(Count(8), 1u);

  // A saved travel flag shows as -1 in the grid and still ticks the box.
  Add();
  Date(2004, 3, 22);
  Type(2, "25");
  Type(3, "40");
  S().chkTravel.SetValue(1);
  Add();
  EXPECT_NE(LastPosted().find("AND TravelMembership = 1 AND ExpirationDate IS NULL\r\n"),
            std::string::npos);
  EXPECT_NE(LastPosted().find(", 0.4,3,1,  GETDATE()) "), std::string::npos);
  Row(2, 1);
  EXPECT_EQ(S().grdFees.TextMatrix(2, 4), "-1");
  Edit();
  EXPECT_EQ(S().chkTravel.Value(), 1);
  Edit();

  // A fee whose key the server never confirmed cannot be edited or deleted.
  RecordSet& rs = Rs(8);
  rs.AddNew();
  rs.SetValue("Effectivity", Value("3/25/2004"));
  rs.SetValue("MembershipRenewalFee", Value("5"));
  rs.SetValue("CenterPortion", Value(0.5));
  rs.SetValue("MemberAccessLevelDescription", Value("Silver"));
  rs.SetValue("MemberAccessLevelID", Value(std::int16_t{2}));
  rs.SetValue("TravelMembership", Value(std::int16_t{0}));
  rs.SetValue("IsAdded", Value(std::int16_t{1}));
  rs.Update();
  Tab(1);
  Tab(8);
  host.ClearRecords();
  Row(3, 1);
  Edit();
  Add();
  ExpectRefusal(kUnconfirmed, "");
  Edit();
  Row(3, 1);
  Delete();
  ExpectRefusal(
      "This record cannot be deleted yet: the server has not confirmed its addition. Please "
      "reload the data before you delete it.",
      "", "Terms Fees");
}

// Deletion's row rules, its question and the statements of the other tabs
// are in the scenarios (tab01, tab07, tab09, tab10_14).
TEST_F(Deletion, ARefusedRenewalFeeDeletionSendsNoReopening) {
  Load(GoldFee(0));
  // A renewal fee deletion the server refuses keeps the record and sends no
  // reopening, whose confirmation would be taken for the deletion's.
  Tab(8);
  Add();
  Date(2004, 3, 20);
  Type(2, "12");
  Type(3, "50");
  Add();
  server.ClearReceived();
  Row(1, 1);
  host.QueueAnswer(msgbox::kAnswerYes);
  Refuse("Permission denied");
  Delete();
  EXPECT_EQ(Posted().size(), 1u);
  EXPECT_EQ(Count(8), 2u);
  EXPECT_TRUE(State().DeletePending);
}

}  // namespace
}  // namespace harnolfees::testing
