// The lookup lists filled outside the load document, and the correspondence
// between list positions and identifiers.
#include <gtest/gtest.h>

#include <climits>

#include "loading/loading_fixture.hpp"

namespace harnolfees::testing {
namespace {

class PopulateComboBoxTest : public LoadingTest {
 protected:
  void SetUp() override {
    LoadingTest::SetUp();
    control->StringParameter("|", "^", "~", "<null>");
  }
  std::vector<std::vector<std::string>> Lists() {
    return {List(surface().cboTerm), List(surface().cboType), List(surface().cboBitwise)};
  }
  using Lists3 = std::vector<std::vector<std::string>>;
};

TEST_F(PopulateComboBoxTest, FillsTheThreeListsUpToTheirLastSeparators) {
  control->PopulateComboBox("12|24|36|~Standard|Gold|~Visa|~");
  EXPECT_EQ(Lists(), (Lists3{{"12", "24", "36"}, {"Standard", "Gold"}, {"Visa"}}));

  // Refilling replaces; empty items count; a fourth list is ignored.
  control->PopulateComboBox("60|~||~A|B|~Ignored|~");
  EXPECT_EQ(Lists(), (Lists3{{"60"}, {"", ""}, {"A", "B"}}));

  // What follows the last separator is not an item, nor a list.
  control->PopulateComboBox("12|24~Gold|~");
  EXPECT_EQ(Lists(), (Lists3{{"12"}, {"Gold"}, {}}));
  control->PopulateComboBox("12|24|~Gold|");
  EXPECT_EQ(Lists(), (Lists3{{"12", "24"}, {}, {}}));

  // Texts that hold no list only clear.
  for (const char* text : {"12|24|", "", "~~~"}) {
    control->PopulateComboBox(text);
    EXPECT_EQ(Lists(), (Lists3{{}, {}, {}})) << "text: " << text;
  }
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(PopulateComboBoxTest, SeparatorsAreWholeTextsAndCaseSensitive) {
  control->StringParameter("<f>", "", "<T>", "");
  control->PopulateComboBox("a<f>b<F>c<f><T>x<f><t>y<f><T>");
  EXPECT_EQ(Lists(), (Lists3{{"a", "b<F>c"}, {"x", "<t>y"}, {}}));

  // With no separators the text holds no list: the boxes are only cleared.
  control->StringParameter("", "", "", "");
  control->PopulateComboBox("12|24|36|~Standard|~");
  EXPECT_EQ(Lists(), (Lists3{{}, {}, {}}));
}

TEST_F(PopulateComboBoxTest, DoesNotTouchTheOtherLists) {
  LoadSample();
  control->PopulateComboBox("12|~");
  EXPECT_EQ(surface().cboAPRType.ListCount(), 2);
  EXPECT_EQ(surface().cboAccessLevel.ListCount(), 2);
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 2);
}

using FillBankAccountTypesTest = LoadingTest;

TEST_F(FillBankAccountTypesTest, ListsTheDescriptionsOfRecordSet15InOrder) {
  LoadSample();
  EXPECT_EQ(List(surface().cboBanckAccType), (std::vector<std::string>{"Operating", "Payroll"}));

  // Emptied record set 15: the list is cleared and stays empty.
  control->recordSets()(15).Clear();
  control->FillBankAccountTypes();
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 0);

  Load("<TermFees><T15><Description>Only</Description></T15></TermFees>");
  EXPECT_EQ(List(surface().cboBanckAccType), (std::vector<std::string>{"Only"}));
}

TEST(TypePositions, AprAndCreditTypesStandOneBelowTheirIdentifier) {
  EXPECT_EQ(AprOrCreditTypeIdForPosition(-1), 0);  // nothing selected
  EXPECT_EQ(AprOrCreditTypeIdForPosition(0), 1);
  EXPECT_EQ(AprOrCreditTypeIdForPosition(2), 3);
  EXPECT_EQ(PositionForAprOrCreditTypeId(1), 0);
  EXPECT_EQ(PositionForAprOrCreditTypeId(3), 2);
  EXPECT_EQ(PositionForAprOrCreditTypeId(0), -1);  // selects nothing
  // The ends of the range stay where they are rather than wrap.
  EXPECT_EQ(AprOrCreditTypeIdForPosition(INT_MAX), INT_MAX);
  EXPECT_EQ(PositionForAprOrCreditTypeId(INT_MIN), INT_MIN);
  for (int position = -1; position < 50; ++position) {
    EXPECT_EQ(PositionForAprOrCreditTypeId(AprOrCreditTypeIdForPosition(position)), position);
  }
  EXPECT_EQ(ContractTypeIdForPosition(0), 0);
  EXPECT_EQ(ContractTypeIdForPosition(3), 3);
  EXPECT_EQ(PositionForContractTypeId(2), 2);
}

TEST_F(FillBankAccountTypesTest, TheGridShowsTheTypesTheIdentifiersStandFor) {
  LoadSample();
  ClickTab(5);  // BetaAPRTypeID 2: the second APR type
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 2), "Variable");
  ClickTab(6);  // BetaContractTypeID 1: position 1 of the contract types
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 2), "Premium");
  ClickTab(7);  // ContractType 2, CreditTypeBitwiseValue 1
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 2), "Corporate");
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 3), "Excellent");
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
}

}  // namespace
}  // namespace harnolfees::testing
