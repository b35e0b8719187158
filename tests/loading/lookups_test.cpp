// The lookup lists filled outside the load document, and the correspondence
// between list positions and identifiers.
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

// The plain cases (filling, refilling, items without their closing
// separator, a fourth list, no separators) are in the host_members scenario.
// Here the edges, and the lists that are not filled here stay as loaded.
TEST_F(PopulateComboBoxTest, EmptyItemsCountAndWhatFollowsTheLastSeparatorDoesNot) {
  LoadSample();
  control->PopulateComboBox("60|~||~A|B|~Ignored|~");
  EXPECT_EQ(Lists(), (Lists3{{"60"}, {"", ""}, {"A", "B"}}));
  EXPECT_EQ(surface().cboAPRType.ListCount(), 2);
  EXPECT_EQ(surface().cboAccessLevel.ListCount(), 2);
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 2);
  control->PopulateComboBox("12|24|~Gold|");
  EXPECT_EQ(Lists(), (Lists3{{"12", "24"}, {}, {}}));
  control->PopulateComboBox("~~~");
  EXPECT_EQ(Lists(), (Lists3{{}, {}, {}}));

  // Separators are whole texts and case sensitive.
  control->StringParameter("<f>", "", "<T>", "");
  control->PopulateComboBox("a<f>b<F>c<f><T>x<f><t>y<f><T>");
  EXPECT_EQ(Lists(), (Lists3{{"a", "b<F>c"}, {"x", "<t>y"}, {}}));
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

// What the grid shows for the identifiers: the tab05 to tab07 scenarios.
TEST(TypePositions, AprAndCreditTypesStandOneBelowTheirIdentifier) {
  EXPECT_EQ(AprOrCreditTypeIdForPosition(-1), 0);  // nothing selected
  EXPECT_EQ(AprOrCreditTypeIdForPosition(0), 1);
  EXPECT_EQ(PositionForAprOrCreditTypeId(0), -1);  // selects nothing
  // The ends of the range stay where they are rather than wrap.
  EXPECT_EQ(AprOrCreditTypeIdForPosition(INT_MAX), INT_MAX);
  EXPECT_EQ(PositionForAprOrCreditTypeId(INT_MIN), INT_MIN);
  for (int position = -1; position < 50; ++position) {
    EXPECT_EQ(PositionForAprOrCreditTypeId(AprOrCreditTypeIdForPosition(position)), position);
  }
  EXPECT_EQ(ContractTypeIdForPosition(3), 3);
  EXPECT_EQ(PositionForContractTypeId(2), 2);
}

}  // namespace
}  // namespace harnolfees::testing
