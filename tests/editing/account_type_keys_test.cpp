// A bank account is keyed by its type's identifier, not by the type's place
// in the list. The save rules' messages, focus and statements of every fee
// kind are pinned by the scenarios (tests/conformance/tabNN_*.script).
#include "editing/editing_fixture.hpp"

namespace harnolfees::testing {
namespace {

using SaveRules = EditingTest;

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

}  // namespace
}  // namespace harnolfees::testing
