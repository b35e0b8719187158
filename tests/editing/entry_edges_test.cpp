// The edges of the save rules and the field entry: records whose server key
// never came with the load, a bank-account type list that no longer matches
// its lookup records, renewal fees without an access level, boxes without
// decimals, components that do not exist, and bank accounts keyed by their
// type's identifier.
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

using RarePaths = EditingTest;

// A loaded record without its effectivity date has no server key: an edit of
// it is refused before anything is written or sent, on every tab whose rows
// can be rendered without that date.
TEST_F(RarePaths, AnEditOfARecordWithoutItsServerKeyIsRefused) {
  struct Case {
    int tab;
    std::string record;
  };
  const std::vector<Case> cases = {
      {1,
       "<T1><MembershipFee>100</MembershipFee><Term>12</Term><MembershipRoyalty>0.1"
       "</MembershipRoyalty><MinimumRoyalty>5</MinimumRoyalty><RoyaltyReserve>0.02"
       "</RoyaltyReserve></T1>"},
      {2,
       "<T2><ValuePlusFee>300</ValuePlusFee><CenterPortion>100</CenterPortion><HarnolPortion>50"
       "</HarnolPortion><HealthFee>10</HealthFee></T2>"},
      {3,
       "<T3><ValuePlusRenewalFee>300</ValuePlusRenewalFee><CenterPortion>100</CenterPortion>"
       "<HarnolPortion>50</HarnolPortion><HealthFee>10</HealthFee></T3>"},
      {4, "<T4><RenewalOptionFee>49.95</RenewalOptionFee></T4>"},
      {5, "<T5><BetaAPR>0.07</BetaAPR><BetaAPRTypeID>1</BetaAPRTypeID></T5>"},
      {6,
       "<T6><BetaContractTypeID>1</BetaContractTypeID><BetaProcessingFee>25</BetaProcessingFee></"
       "T6>"},
      {7, "<T7><ContractType>0</ContractType><BetaReserve>0.1</BetaReserve></T7>"},
      {9,
       "<T9><Type>1</Type><RoutingNumber>021</RoutingNumber><AccountNumber>77</AccountNumber>"
       "<SweepSpan>30</SweepSpan><Opened>2004-01-01</Opened></T9>"},
      {12,
       "<T12><Membership>0.01</Membership><Renewal>0.02</Renewal><Merchandise>0.03</Merchandise></"
       "T12>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("tab " + std::to_string(c.tab));
    Load(c.record);
    Tab(c.tab);
    Row(1, 1);  // the date cell is empty; the next one is not
    Edit();
    ASSERT_EQ(S().tabFees.Tag(), "2");
    host.ClearRecords();
    Add();
    ExpectRefusal(kUnconfirmed, "");
    EXPECT_EQ(S().tabFees.Tag(), "2");
    EXPECT_TRUE(Column(c.tab, "OldEffectivity").at(0).IsNull());
    Edit();  // cancel
    Tab(1);
  }
}

// The load that fails after the bank account types keeps the list of the
// previous load: a type the lookup records no longer hold is refused before
// the dates and numbers are looked at.
TEST_F(RarePaths, ABankAccountTypeMissingFromTheLookupRecordsIsRefused) {
  Load("");
  LoadingTest::Load(
      "<Fees><T15><BankAccountTypeID>1</BankAccountTypeID><Description>Checking</Description></T15>"
      "<T16/></Fees>");
  ASSERT_EQ(S().cboBanckAccType.ListCount(), 2);
  host.ClearRecords();
  Tab(9);
  Add();
  S().cboBanckAccType.SetText("Savings");
  Add();
  ExpectRefusal("Please select a valid  Bank Account Type", "cboBanckAccType");
  S().cboBanckAccType.SetText("Checking");
  Add();
  ExpectRefusal("Please enter Routing Number", "txtField(2)");
  Edit();  // cancel

  // With no lookup records at all the description itself would be the type,
  // and only an identifier may stand unquoted in the statement.
  LoadingTest::Load("<Fees><T16/></Fees>");
  host.ClearRecords();
  Tab(1);
  Tab(9);
  Add();
  S().cboBanckAccType.SetText("Savings");
  ASSERT_EQ(S().cboBanckAccType.Text(), "Savings");
  Add();
  ExpectRefusal("Please select a valid  Bank Account Type", "cboBanckAccType");
  EXPECT_EQ(Count(9), 0u);
}

// A renewal fee needs an access level whose identifier fits the record set's
// 16-bit field: without one chosen, or with a larger one, the save is refused;
// a row without one leaves the list without a choice.
TEST_F(RarePaths, RenewalFeesWithoutAUsableAccessLevel) {
  Load(
      "<ACCESSLEVEL><D>Corporate</D><I>70000</I></ACCESSLEVEL>"
      "<T8><Effectivity>2004-03-01</Effectivity><MembershipRenewalFee>99</MembershipRenewalFee>"
      "<CenterPortion>0.5</CenterPortion><MemberAccessLevelID>3</MemberAccessLevelID>"
      "<TravelMembership>0</TravelMembership></T8>");
  Tab(8);
  Add();
  S().cboAccessLevel.SetListIndex(-1);
  Type(2, "25");
  Type(3, "40");
  Add();
  ExpectRefusal("Please select the Membership Access Level", "cboAccessLevel");
  S().cboAccessLevel.SetText("Corporate");
  Add();
  ExpectRefusal("Please select a valid Membership Access Level", "cboAccessLevel");
  EXPECT_EQ(Count(8), 1u);
  Edit();  // cancel

  Row(1);
  Edit();
  EXPECT_EQ(S().tabFees.Tag(), "2");
  EXPECT_EQ(S().cboAccessLevel.ListIndex(), -1);
  host.ClearRecords();
  Add();
  ExpectRefusal("Please select the Membership Access Level", "cboAccessLevel");
  EXPECT_EQ(Column(8, "MembershipRenewalFee").at(0), Value(Money::FromUnits(990000)));
}

// A bank account is keyed by its type's identifier, not by the type's place
// in the list. The save rules' messages, focus and statements of every fee
// kind are pinned by the scenarios (tests/conformance/tabNN_*.script).
TEST_F(RarePaths, BankAccountEditKeysByTheTypesIdentifierNotItsPosition) {
  // Checking 1 and Savings 2 come with the fixture; Payroll 5 stands third.
  Load("<T15><BankAccountTypeID>5</BankAccountTypeID><Description>Payroll</Description></T15>");
  Tab(9);
  Add();
  Date(2004, 3, 20);
  S().cboBanckAccType.SetText("Payroll");
  Type(2, "021000021");
  Type(3, "987");
  Type(4, "30");
  Date(2004, 2, 1, 1);
  Add();
  ASSERT_NE(LastPosted().find("VALUES (12, 5, '03/20/2004'"), std::string::npos) << LastPosted();

  Row(1);
  Edit();
  EXPECT_EQ(State().EditOldType, "5");
  Type(3, "988");
  host.ClearRecords();
  Add();
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_NE(LastPosted().find("AccountNumber = '988'"), std::string::npos) << LastPosted();
  EXPECT_NE(LastPosted().find("CenterID = 12 AND  Type = 5"), std::string::npos) << LastPosted();
}

// The handlers of boxes that do not exist fail with a subscript error, as the
// component array would; the date picker set-up reports its failures itself.
TEST_F(RarePaths, OutOfRangeElementsAndDates) {
  Load("");
  EXPECT_EQ(ControlErrorOf([&] { control->txtField_GotFocus(0); }).first,
            errc::kSubscriptOutOfRange);
  EXPECT_EQ(ControlErrorOf([&] { control->txtField_LostFocus(8); }).first,
            errc::kSubscriptOutOfRange);

  control->InitDatePicker("03/15/2004", 3);
  EXPECT_EQ(host.LastMessage().prompt, "9 Subscript out of range: there is no DTPicker1(3)");
  EXPECT_EQ(host.LastMessage().buttons, 0);
  EXPECT_EQ(host.LastMessage().title, "");

  // A year past the picker's last one is refused and leaves the picker alone.
  host.ClearRecords();
  control->InitDatePicker("06/01/9999", 1);
  EXPECT_EQ(host.LastMessage().prompt.substr(0, 2), "5 ");
  EXPECT_FALSE(S().DTPicker1[1].Visible());
}

}  // namespace
}  // namespace harnolfees::testing
