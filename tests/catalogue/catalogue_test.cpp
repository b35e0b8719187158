#include "harnolfees/catalogue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harnolfees {
namespace {

struct ExpectedTab {
  const char* caption;
  const char* table;
  int salesTaxType;
  std::vector<std::string> headings;
};

const ExpectedTab kTabs[kTabCount] = {
    {"Membership  Fee",
     "MembershipFee",
     0,
     {"Effective Date", "Membership Fee ($)", "Term (Months)", "Membership Royalty (%)",
      "Minimum Royalty ($)", "Royalty Reserve (%)"}},
    {"Value Plus Fee",
     "ValuePlusFee",
     0,
     {"Effective Date", "Value Plus Fee ($)", "Center Portion ($)", "Harnol Portion ($)",
      "Health Fee ($)"}},
    {"Value Plus Renewal Fee",
     "ValuePlusRenewalFee",
     0,
     {"Effective Date", "Value Plus Renewal Fee ($)", "Center Portion ($)", "Harnol Portion ($)",
      "Health Fee ($)"}},
    {"Renewal Option Fee", "RenewalOptionFee", 0, {"Effective Date", "Renewal Option Fee ($)"}},
    {"Beta APR", "BetaAPR", 0, {"Effective Date", "Beta APR (%) ", "Beta APR Type "}},
    {"Beta Processing Fee",
     "BetaProcessingFee",
     0,
     {"Effective Date", "Beta Processing Fee ($)", "Contract Type "}},
    {"Beta Reserve",
     "BetaReserve",
     0,
     {"Effective Date", "Beta Reserve (%)", "Contract Type ", "Credit Type "}},
    {"Membership Renewal Fee",
     "MembershipRenewalFee",
     0,
     {"Effective Date", "Access Level", "Renewal Fee ($)", "Center Portion (%)",
      "Travel Membership"}},
    {"Bank Account",
     "BankAccount",
     0,
     {"Effective Date", "Type          ", "Routing Number  ", "Account Number  ",
      "SweepSpan (Days)  ", "Opened       ", "Closed       "}},
    {"Country Sales Taxes",
     "SalesTax",
     1,
     {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)"}},
    {"State/Province Sales Taxes",
     "SalesTax",
     2,
     {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)"}},
    {"County Sales Taxes",
     "SalesTax",
     3,
     {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)"}},
    {"City Sales Taxes",
     "SalesTax",
     4,
     {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)"}},
    {"Local Sales Taxes",
     "SalesTax",
     5,
     {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)"}},
};

TEST(FeeTabCatalogue, EveryTabHasItsExactTexts) {
  for (int tab = 1; tab <= kTabCount; ++tab) {
    SCOPED_TRACE("tab " + std::to_string(tab));
    const ExpectedTab& want = kTabs[tab - 1];
    const FeeTabInfo& info = FeeTab(tab);
    EXPECT_EQ(info.caption, want.caption);
    EXPECT_EQ(info.tableName, want.table);
    EXPECT_EQ(info.salesTaxType, want.salesTaxType);
    EXPECT_EQ(GridColumnCount(tab), static_cast<int>(want.headings.size()));
    for (int column = 0; column < kMaxGridColumns; ++column) {
      std::string expected =
          column < static_cast<int>(want.headings.size()) ? want.headings[column] : "";
      EXPECT_EQ(GridHeadings(tab, column), expected) << "column " << column;
    }
  }
}

TEST(FeeTabCatalogue, BlanksInsideAndAtTheEndAreKept) {
  EXPECT_EQ(FeeTab(1).caption.find("  "), 10u);
  for (int tab = 2; tab <= kTabCount; ++tab) {
    EXPECT_EQ(FeeTab(tab).caption.find("  "), std::string::npos) << tab;
  }
  EXPECT_EQ(GridHeadings(9, 1).size(), std::string("Type").size() + 10);
  EXPECT_EQ(GridHeadings(9, 5).size(), std::string("Opened").size() + 7);
  EXPECT_EQ(GridColumnCount(4), 2);
  EXPECT_EQ(GridColumnCount(9), 7);
}

TEST(FeeTabCatalogue, OutOfRangeTabsAndColumnsAreRefused) {
  for (int tab : {0, 15, -1}) {
    try {
      FeeTab(tab);
      FAIL() << "tab " << tab << " was accepted";
    } catch (const ControlError& e) {
      EXPECT_EQ(e.number(), errc::kSubscriptOutOfRange);
      EXPECT_EQ(e.description(), "Subscript out of range: tab " + std::to_string(tab));
    }
  }
  EXPECT_THROW(GridColumnCount(15), ControlError);
  EXPECT_THROW(GridHeadings(0, 0), ControlError);
  EXPECT_THROW(GridHeadings(1, 7), ControlError);
  EXPECT_THROW(GridHeadings(1, -1), ControlError);
}

struct ExpectedField {
  const char* name;
  FieldType type;
  int size;
};

using F = FieldType;
const std::vector<std::vector<ExpectedField>> kFields = {
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"MembershipFee", F::Currency, 0},
     {"Term", F::SmallInt, 0},
     {"MembershipRoyalty", F::Single, 0},
     {"MinimumRoyalty", F::Currency, 0},
     {"RoyaltyReserve", F::Single, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"ValuePlusFee", F::Currency, 0},
     {"CenterPortion", F::Currency, 0},
     {"HarnolPortion", F::Currency, 0},
     {"HealthFee", F::Currency, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"ValuePlusRenewalFee", F::Currency, 0},
     {"CenterPortion", F::Currency, 0},
     {"HarnolPortion", F::Currency, 0},
     {"HealthFee", F::Currency, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"RenewalOptionFee", F::Currency, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"BetaAPR", F::Double, 0},
     {"BetaAPRTypeID", F::Double, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0},
     {"OldType", F::Double, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"BetaContractTypeID", F::Double, 0},
     {"Effectivity", F::Date, 0},
     {"BetaProcessingFee", F::Currency, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"ContractDescription", F::Char, 30},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0},
     {"OldType", F::Double, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"ContractType", F::Double, 0},
     {"Effectivity", F::Date, 0},
     {"BetaReserve", F::Double, 0},
     {"CreditTypeBitwiseValue", F::Double, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"ContractDescription", F::Char, 30},
     {"CreditType", F::Char, 30},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0},
     {"OldType", F::Double, 0}},
    {{"CenterID", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"MembershipRenewalFee", F::Currency, 0},
     {"CenterPortion", F::Double, 0},
     {"RecordLastUpdated", F::Date, 0},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0},
     {"MemberAccessLevelDescription", F::Char, 10},
     {"MemberAccessLevelID", F::SmallInt, 0},
     {"TravelMembership", F::SmallInt, 0},
     {"OldMemberAccessLevelID", F::SmallInt, 0},
     {"OldTravelMembership", F::SmallInt, 0}},
    {{"ObjectID", F::Integer, 0},
     {"Type", F::SmallInt, 0},
     {"Effectivity", F::Date, 0},
     {"RoutingNumber", F::VarChar, 20},
     {"AccountNumber", F::VarChar, 20},
     {"SweepSpan", F::Integer, 0},
     {"Opened", F::Date, 0},
     {"Closed", F::Char, 15},
     {"RecordLastUpdated", F::Date, 0},
     {"TypeDescription", F::Char, 30},
     {"IsAdded", F::SmallInt, 0},
     {"OldEffectivity", F::Date, 0},
     {"OldType", F::SmallInt, 0}},
};

const std::vector<ExpectedField> kSalesTaxFields = {
    {"CenterID", F::Integer, 0},       {"Type", F::SmallInt, 0},    {"Effectivity", F::Date, 0},
    {"Membership", F::Single, 0},      {"Renewal", F::Single, 0},   {"Merchandise", F::Single, 0},
    {"RecordLastUpdated", F::Date, 0}, {"IsAdded", F::SmallInt, 0}, {"OldEffectivity", F::Date, 0}};

const std::vector<ExpectedField> kBankAccountTypeFields = {{"BankAccountTypeID", F::Integer, 0},
                                                           {"Description", F::Char, 30},
                                                           {"IsAdded", F::SmallInt, 0},
                                                           {"OldEffectivity", F::Date, 0}};

const std::vector<ExpectedField>& FieldsOf(int index) {
  if (index <= 9) return kFields[index - 1];
  if (index <= 14) return kSalesTaxFields;
  return kBankAccountTypeFields;
}

TEST(FeeRecordSetsLayout, EverySetDeclaresItsFieldsInOrder) {
  FeeRecordSets sets;
  for (int index = 1; index <= kRecordSetCount; ++index) {
    SCOPED_TRACE("record set " + std::to_string(index));
    const auto& want = FieldsOf(index);
    const auto& defs = sets(index).FieldDefs();
    ASSERT_EQ(defs.size(), want.size());
    for (std::size_t i = 0; i < defs.size(); ++i) {
      EXPECT_EQ(defs[i].name, want[i].name);
      EXPECT_EQ(defs[i].type, want[i].type) << defs[i].name;
      EXPECT_EQ(defs[i].size, want[i].size) << defs[i].name;
      int attributes = defs[i].name == "MemberAccessLevelDescription"
                           ? kFieldAttributeUnknownUpdatable
                           : kFieldAttributeUnspecified;
      EXPECT_EQ(defs[i].attributes, attributes) << defs[i].name;
    }
  }
  EXPECT_STREQ(FieldTypeName(FieldType::Currency), "adCurrency");
  EXPECT_STREQ(FieldTypeName(FieldType::VarChar), "adVarChar");
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

TEST(FeeRecordSetsLifecycle, IndexOutsideTheSetsIsRefused) {
  FeeRecordSets sets;
  for (int index : {0, 16, -3}) {
    try {
      sets(index);
      FAIL() << "record set " << index << " was reached";
    } catch (const ControlError& e) {
      EXPECT_EQ(e.number(), errc::kSubscriptOutOfRange);
      EXPECT_NE(e.description().find(std::to_string(index)), std::string::npos);
    }
  }
  const FeeRecordSets& constSets = sets;
  EXPECT_THROW(constSets(16), ControlError);
}

TEST(FeeRecordSetsLifecycle, UndeclaredFieldNamesTheRecordSet) {
  FeeRecordSets sets;
  sets.OpenAll();
  sets(2).AddNew();
  try {
    sets(2).SetValue("Term", Value("12"));
    FAIL() << "Term was written into the Value Plus fees";
  } catch (const ControlError& e) {
    EXPECT_EQ(e.number(), errc::kItemNotFound);
    EXPECT_EQ(e.description(), "Field 'Term' is not declared in record set 2 (Value Plus fee)");
  }
}

}  // namespace
}  // namespace harnolfees
