// The save rules of the fee tabs other than the renewal fees: their tests,
// messages and focus, the record written and the statement posted.
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

using SaveRules = EditingTest;

struct Refusal {
  std::vector<std::pair<int, std::string>> texts;  // txtField index, text
  std::string prompt, focus;
};

TEST_F(SaveRules, MembershipFeeTestsEachFieldInOrder) {
  Load("");
  S().cboTerm.AddItem("twelve");
  Add();
  Date(2004, 3, 20);
  const std::vector<Refusal> refusals = {
      {{{1, ""}}, "Please enter Membership Fee", "txtField(1)"},
      {{{1, "abc"}}, "Please enter a valid Membership Fee", "txtField(1)"},
      {{{1, "1E+16"}}, "Membership Fee is too large.", "txtField(1)"},
      {{{1, "922,337,203,685,477"}}, "Please enter Term", "cboTerm"},
      {{{3, "100.01"}}, "Please enter a valid Membership Royalty between 0 to 100", "txtField(3)"},
      {{{3, "abc"}}, "Please enter a valid Membership Royalty between 0 to 100", "txtField(3)"},
      {{{3, "100"}}, "Please enter Minimum Royalty", "txtField(4)"},
      {{{4, "5"}, {5, "x"}}, "Please enter a valid Royalty Reserve", "txtField(5)"},
      {{{5, "-100.5"}}, "Please enter a valid Royalty Reserve between 0 to 100", "txtField(5)"},
  };
  for (const Refusal& r : refusals) {
    for (const auto& [i, text] : r.texts) Type(i, text);
    if (r.focus == "txtField(3)") S().cboTerm.SetText("12");
    Add();
    ExpectRefusal(r.prompt, r.focus);
  }
  S().cboTerm.SetText("twelve");
  Add();
  ExpectRefusal("Please enter a valid Term", "cboTerm");
  EXPECT_EQ(Count(1), 0u);
  EXPECT_EQ(S().tabFees.Tag(), "1");
}

TEST_F(SaveRules, MembershipFeeInsertAndUpdate) {
  Load(
      "<T1><Effectivity>2004-03-01</Effectivity><MembershipFee>100</MembershipFee><Term>12</Term>"
      "<MembershipRoyalty>0.1</MembershipRoyalty><MinimumRoyalty>5</MinimumRoyalty>"
      "<RoyaltyReserve>0.02</RoyaltyReserve></T1>");
  Add();
  Date(2004, 3, 20);
  Type(1, "-120");
  S().cboTerm.SetText("24");
  Type(3, "-15");
  Type(4, "1,250.00");
  Type(5, "0");
  Add();  // the reserve of 0 is questioned; No keeps the form
  EXPECT_EQ(host.LastMessage().prompt,
            "Are you sure that you want to set the Royalty Reserve to 0?");
  EXPECT_EQ(host.LastMessage().buttons, 4);
  EXPECT_EQ(host.LastFocus(), "txtField(5)");
  EXPECT_TRUE(Posted().empty());
  host.QueueAnswer(msgbox::kAnswerYes);
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  Term, "
            "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  VALUES (12, "
            "'03/20/2004', 120, 24, 0.15, 1250, 0,  GETDATE()) ");
  ASSERT_EQ(Count(1), 2u);
  EXPECT_EQ(Column(1, "MembershipFee")[1].ToDouble(), 120.0);
  EXPECT_FLOAT_EQ(static_cast<float>(Column(1, "MembershipRoyalty")[1].ToDouble()), 0.15f);
  EXPECT_EQ(Column(1, "IsAdded")[1].ToDouble(), 1.0);
  EXPECT_EQ(Column(1, "OldEffectivity")[1].ToText(), "3/20/2004");
  EXPECT_EQ(S().tabFees.Tag(), "0");

  // An unchanged row saves unchanged, found on the server by its old date.
  Row(1);
  Edit();
  Date(2004, 3, 5);
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE MembershipFee SET  EffectivityDate = '03/05/2004',  MembershipFee = 100,  "
            "Term = 12,   MembershipRoyalty = 0.1,   MinimumRoyalty = 5,  RoyaltyReserve = "
            "0.02,   RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '3/1/2004' AND "
            "CenterID = 12");
  // Moving it onto another record's date is refused.
  Row(1);
  Edit();
  Date(2004, 3, 20);
  Add();
  ExpectRefusal("A record already exists with an effectivity date of Mar 20, 2004", "", "Centers");
}

TEST_F(SaveRules, ValuePlusPortionsStayBelowTheFee) {
  Load(
      "<T3><Effectivity>2004-03-01</Effectivity><ValuePlusRenewalFee>100</ValuePlusRenewalFee>"
      "<CenterPortion>40</CenterPortion><HarnolPortion>30</HarnolPortion><HealthFee>20</HealthFee>"
      "</T3>");
  Tab(2);
  Add();
  Date(2004, 3, 20);
  const std::vector<Refusal> refusals = {
      {{{1, "100"}, {2, ""}}, "Please enter Center Portion ", "txtField(2)"},
      {{{2, "x"}}, "Please enter a valid Center Portion ", "txtField(2)"},
      {{{2, "100"}}, "The Center Portion should be less than Value Plus Fee", "txtField(2)"},
      {{{2, "60"}, {3, "-40"}},
       "The Total of Center Portion and Harnol Portion should be less than Value Plus Fee",
       "txtField(3)"},
      {{{2, "40"}, {3, "30"}, {4, "30"}},
       "The Total of The Center Portion, Harnol Portion and Health Fee should be less than Value "
       "Plus Fee",
       "txtField(4)"},
      {{{4, "1E+16"}}, "Health Fee is too large.", "txtField(4)"},
  };
  for (const Refusal& r : refusals) {
    for (const auto& [i, text] : r.texts) Type(i, text);
    Add();
    ExpectRefusal(r.prompt, r.focus);
  }
  Type(4, "29.99");
  Add();
  EXPECT_EQ(LastPosted(),
            "  INSERT INTO ValuePlusFee ( CenterID, EffectivityDate, ValuePlusFee, CenterPortion, "
            "HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12, '03/20/2004', 100, 40, 30, "
            "29.99,  GETDATE()) ");

  Tab(3);
  Add();
  Date(2004, 3, 20);
  Type(1, "100");
  Type(2, "?");
  Add();
  ExpectRefusal("Please enter a valid  Center Portion ", "txtField(2)");
  Type(2, "40");
  Type(3, "30");
  Type(4, "20");
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO ValuePlusRenewalFee ( CenterID, EffectivityDate, ValuePlusRenewalFee, "
            "CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated)  VALUES (12, "
            "'03/20/2004', 100, 40, 30, 20, GETDATE())");
  Row(1);
  Edit();
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE ValuePlusRenewalFee SET EffectivityDate = '03/01/2004', ValuePlusRenewalFee "
            "=  100,  CenterPortion =  40, HarnolPortion =  30, HealthFee =  20,  "
            "RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '3/1/2004' AND CenterID = "
            "12");
}

TEST_F(SaveRules, RenewalOptionFeeInsertThenUpdateByTheConfirmedDate) {
  Load("");
  Tab(4);
  Add();
  Date(2004, 3, 20);
  Type(1, "-30");
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
            "RecordLastUpdated)  VALUES (12, '03/20/2004', 30,  GETDATE()) ");
  Row(1);
  Edit();
  Date(2004, 3, 22);
  Type(1, "35");
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE RENEWALOPTIONFEE SET EffectivityDate = '03/22/2004', RenewalOptionFee = 35, "
            "RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '3/20/2004' AND CenterID = "
            "12");
}

TEST_F(SaveRules, FinancingTermsCarryTheirTypes) {
  Load(
      "<T5><Effectivity>2004-03-01</Effectivity><BetaAPR>0.07</BetaAPR>"
      "<BetaAPRTypeID>1</BetaAPRTypeID></T5>");
  Tab(5);
  Add();
  Date(2004, 3, 1);
  Type(1, "7.25");
  Add();
  ExpectRefusal("Please Select the APR type ", "cboAPRType");
  S().cboAPRType.SetListIndex(0);
  Add();
  ExpectRefusal("A Fixed record already exists with an effectivity date of Mar 01, 2004",
                "DTPicker1(0)");
  S().cboAPRType.SetListIndex(1);
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
            "RecordLastUpdated)  VALUES (12, '03/01/2004', 0.0725, 2,  GETDATE()) ");
  EXPECT_EQ(Column(5, "BetaAPR")[1].ToDouble(), 0.0725);
  EXPECT_EQ(Column(5, "OldType")[1].ToDouble(), 2.0);
  Row(1);
  Edit();
  S().cboAPRType.SetListIndex(1);
  Date(2004, 3, 2);
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE BETAAPR SET EffectivityDate ='03/02/2004', BetaAPR = 0.07, BetaAPRTypeID = 2, "
            "RecordLastUpdated = GETDATE()  WHERE EffectivityDate = '3/1/2004' AND CenterID = 12 "
            "AND BetaAPRTypeID = 1");

  Tab(6);
  Add();
  Date(2004, 3, 20);
  Type(1, "1E+16");
  Add();
  ExpectRefusal("Beta Processing Fee is too large.", "txtField(1)");
  Type(1, "25");
  Add();
  ExpectRefusal("Please Select the Beta Processing Fee type ", "cboType");
  S().cboType.SetListIndex(1);
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, EffectivityDate, "
            "BetaProcessingFee, RecordLastUpdated)  VALUES (12, 1, '03/20/2004', 25,  GETDATE()) ");
  Row(1);
  Edit();
  Type(1, "30");
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE BETAPROCESSINGFEE SET BetaContractTypeID = 1, EffectivityDate ='03/20/2004', "
            "BetaProcessingFee = 30, RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = "
            "'3/20/2004' AND CenterID = 12 AND  BetaContractTypeID = 1");

  Tab(7);
  Add();
  Date(2004, 3, 20);
  Type(1, "101");
  Add();
  ExpectRefusal("Please enter a valid Beta Reserve between 0 to 100", "txtField(1)");
  Type(1, "5");
  S().cboType.SetListIndex(0);
  Add();  // no credit type: no message
  EXPECT_EQ(LastPosted(),
            " INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue, "
            "EffectivityDate, BetaReserve, RecordLastUpdated)  Values (12, 0, 0, '03/20/2004', "
            "0.05,   GETDATE()) ");
  Row(1);
  Edit();
  Type(1, "6");
  S().cboBitwise.SetListIndex(1);
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE BetaReserve SET ContractType = 0, CreditTypeBitwiseValue = 2, "
            "EffectivityDate =  '03/20/2004',  BetaReserve =  0.06,  RecordLastUpdated = GETDATE() "
            "WHERE    EffectivityDate = '3/20/2004' AND CenterID = 12 AND  ContractType = 0");
}

TEST_F(SaveRules, BankAccountChecksAndStatements) {
  Load("<T15><BankAccountTypeID>70000</BankAccountTypeID><Description>Trust</Description></T15>");
  Tab(9);
  S().cboBanckAccType.AddItem("Escrow");  // not in the lookup list
  S().cboBanckAccType.AddItem("Joe's");   // a quote would break the lookup
  Add();
  Date(2004, 3, 20);
  S().cboBanckAccType.SetText("Escrow");
  Add();
  ExpectRefusal("Please select a valid  Bank Account Type", "cboBanckAccType");
  S().cboBanckAccType.SetText("Joe's");
  Add();
  ExpectRefusal("Please select a valid Bank Account Type: a type cannot contain a quote (')",
                "cboBanckAccType");
  S().cboBanckAccType.SetText("Trust");
  Add();
  ExpectRefusal("Please select a valid Bank Account Type: its identifier 70000 is out of range",
                "cboBanckAccType");
  S().cboBanckAccType.SetText("Savings");
  const std::vector<Refusal> refusals = {
      {{{2, ""}}, "Please enter Routing Number", "txtField(2)"},
      {{{2, "12a"}}, "Please enter a valid Routing Number", "txtField(2)"},
      {{{2, "-1"}}, "Please enter a valid positive Routing Number", "txtField(2)"},
      {{{2, "123456789012345678901"}},
       "Please enter a Routing Number of at most 20 characters",
       "txtField(2)"},
      {{{2, "0"}, {3, ""}}, "Please enter Account Number", "txtField(3)"},
      {{{3, "x"}}, "Please enter a valid Account Number", "txtField(3)"},
      {{{3, "-5"}}, "Please enter a valid positive Account Number", "txtField(3)"},
      {{{3, "000000000000000000001"}},
       "Please enter an Account Number of at most 20 characters",
       "txtField(3)"},
      {{{3, "987"}, {4, ""}}, "Please enter Sweep Span", "txtField(4)"},
      {{{4, "soon"}}, "Please enter a valid Sweep Span", "txtField(4)"},
  };
  for (const Refusal& r : refusals) {
    for (const auto& [i, text] : r.texts) Type(i, text);
    Add();
    ExpectRefusal(r.prompt, r.focus);
  }
  Type(4, "-30");
  Date(2004, 2, 1, 1);
  S().chkDT.SetValue(1);  // shows the closed-date picker
  Date(2004, 2, 1, 2);
  Add();
  ExpectRefusal("Date Opened should be less than Date Closed", "DTPicker1(2)");
  S().chkDT.SetValue(0);
  Add();
  EXPECT_EQ(LastPosted(),
            " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, "
            "AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated)  VALUES (12, 2, "
            "'03/20/2004', '0', '987', 30, '02/01/2004', NULL,   GETDATE()) ");
  EXPECT_TRUE(Column(9, "Closed")[0].IsNull());
  EXPECT_EQ(Column(9, "SweepSpan")[0].ToDouble(), 30.0);

  Row(1);
  Edit();
  EXPECT_EQ(S().cboBanckAccType.Text(), "Savings");
  EXPECT_EQ(State().EditOldType, "2");
  EXPECT_EQ(ctl->FindAccountTypeIndex("  savings "), 1);
  EXPECT_EQ(ctl->FindAccountTypeIndex("Brokerage"), 0);
  Add();
  EXPECT_EQ(LastPosted(),
            " UPDATE BankAccount SET Type = 2,   EffectivityDate =  '03/20/2004',   RoutingNumber "
            "= '0',   AccountNumber = '987',   SweepSpan = 30,    Opened = '02/01/2004'  , Closed "
            "= NULL , RecordLastUpdated = GETDATE() Where   EffectivityDate = '3/20/2004' AND "
            "CenterID = 12 AND  Type = 2");
  Row(1);
  Edit();
  S().chkDT.SetValue(1);
  Date(2004, 6, 30, 2);
  Add();
  EXPECT_NE(LastPosted().find(", Closed = '06/30/2004', RecordLastUpdated"), std::string::npos);
  EXPECT_EQ(Column(9, "Closed")[0].ToText(), "06/30/2004");
}

TEST_F(SaveRules, BankAccountEditKeysByTheTypesIdentifierNotItsPosition) {
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

TEST_F(SaveRules, SalesTaxesOfEveryLevel) {
  Load("");
  for (int tab = 10; tab <= 14; ++tab) {
    const std::string type = std::to_string(tab - 9);
    Tab(tab);
    Add();
    Date(2004, 3, 20);
    Type(1, "");
    Type(2, "");
    Add();
    ExpectRefusal("Please enter Membership Sales Taxes ", "txtField(1)");
    Type(1, "100.01");
    Add();
    ExpectRefusal("Please enter a valid Membership Sales Tax value between 0 to 100",
                  "txtField(1)");
    Type(1, "-8");
    Add();
    ExpectRefusal("Please enter Renewal Sales Taxes ", "txtField(2)");
    Type(2, "100");
    Type(3, "z");
    Add();
    ExpectRefusal("Please enter a valid Merchandise Sales Tax value between 0 to 100",
                  "txtField(3)");
    Type(3, "7.5");
    Add();
    EXPECT_EQ(LastPosted(),
              " INSERT INTO SalesTax ( CenterID, Type, EffectivityDate,  Membership, Renewal, "
              "Merchandise, RecordLastUpdated)  VALUES (12,  " +
                  type + " , '03/20/2004', 0.08, 1, 0.075,  GETDATE()) ");
    EXPECT_EQ(Column(tab, "Type")[0].ToDouble(), tab - 9.0);
    EXPECT_FLOAT_EQ(static_cast<float>(Column(tab, "Merchandise")[0].ToDouble()), 0.075f);
    Row(1);
    Edit();
    Add();
    EXPECT_EQ(LastPosted(),
              " UPDATE SalesTax SET  EffectivityDate = '03/20/2004',  Membership = 0.08,  Renewal "
              "= 1,   Merchandise = 0.075,   RecordLastUpdated = GETDATE() WHERE  EffectivityDate "
              "= '3/20/2004' AND CenterID = 12 AND Type = " +
                  type + " ");
    server.ClearReceived();
  }
}

}  // namespace
}  // namespace harnolfees::testing
