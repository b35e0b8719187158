#include "harnolfees/catalogue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::ControlErrorOf;

struct ExpectedTab {
  const char* caption;
  const char* table;
  int salesTaxType;
  std::vector<std::string> headings;
};

const std::vector<std::string> kTaxHeadings = {"Effective Date", "Membership (%)", "Renewal (%)",
                                               "Merchandise (%)"};

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
    {"Country Sales Taxes", "SalesTax", 1, kTaxHeadings},
    {"State/Province Sales Taxes", "SalesTax", 2, kTaxHeadings},
    {"County Sales Taxes", "SalesTax", 3, kTaxHeadings},
    {"City Sales Taxes", "SalesTax", 4, kTaxHeadings},
    {"Local Sales Taxes", "SalesTax", 5, kTaxHeadings},
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

TEST(FeeTabCatalogue, OutOfRangeTabsAndColumnsAreRefused) {
  for (int tab : {0, 15, -1}) {
    EXPECT_EQ(ControlErrorOf([tab] { FeeTab(tab); }),
              std::make_pair(errc::kSubscriptOutOfRange,
                             "Subscript out of range: tab " + std::to_string(tab)));
  }
  EXPECT_THROW(GridColumnCount(15), ControlError);
  EXPECT_THROW(GridHeadings(0, 0), ControlError);
  EXPECT_THROW(GridHeadings(1, 7), ControlError);
  EXPECT_THROW(GridHeadings(1, -1), ControlError);
}

// The field lists as the layout table writes them: name, type, size of texts.
const char* const kTaxFields =
    "CenterID adInteger, Type adSmallInt, Effectivity adDate, Membership adSingle, Renewal "
    "adSingle, Merchandise adSingle, RecordLastUpdated adDate, IsAdded adSmallInt, "
    "OldEffectivity adDate";
const char* const kFieldLists[kRecordSetCount] = {
    "CenterID adSmallInt, Effectivity adDate, MembershipFee adCurrency, Term adSmallInt, "
    "MembershipRoyalty adSingle, MinimumRoyalty adCurrency, RoyaltyReserve adSingle, "
    "RecordLastUpdated adDate, IsAdded adSmallInt, OldEffectivity adDate",
    "CenterID adSmallInt, Effectivity adDate, ValuePlusFee adCurrency, CenterPortion adCurrency, "
    "HarnolPortion adCurrency, HealthFee adCurrency, RecordLastUpdated adDate, IsAdded "
    "adSmallInt, OldEffectivity adDate",
    "CenterID adSmallInt, Effectivity adDate, ValuePlusRenewalFee adCurrency, CenterPortion "
    "adCurrency, HarnolPortion adCurrency, HealthFee adCurrency, RecordLastUpdated adDate, "
    "IsAdded adSmallInt, OldEffectivity adDate",
    "CenterID adSmallInt, Effectivity adDate, RenewalOptionFee adCurrency, RecordLastUpdated "
    "adDate, IsAdded adSmallInt, OldEffectivity adDate",
    "CenterID adSmallInt, Effectivity adDate, BetaAPR adDouble, BetaAPRTypeID adDouble, "
    "RecordLastUpdated adDate, IsAdded adSmallInt, OldEffectivity adDate, OldType adDouble",
    "CenterID adSmallInt, BetaContractTypeID adDouble, Effectivity adDate, BetaProcessingFee "
    "adCurrency, RecordLastUpdated adDate, ContractDescription adChar 30, IsAdded adSmallInt, "
    "OldEffectivity adDate, OldType adDouble",
    "CenterID adSmallInt, ContractType adDouble, Effectivity adDate, BetaReserve adDouble, "
    "CreditTypeBitwiseValue adDouble, RecordLastUpdated adDate, ContractDescription adChar 30, "
    "CreditType adChar 30, IsAdded adSmallInt, OldEffectivity adDate, OldType adDouble",
    "CenterID adSmallInt, Effectivity adDate, MembershipRenewalFee adCurrency, CenterPortion "
    "adDouble, RecordLastUpdated adDate, IsAdded adSmallInt, OldEffectivity adDate, "
    "MemberAccessLevelDescription adChar 10, MemberAccessLevelID adSmallInt, TravelMembership "
    "adSmallInt, OldMemberAccessLevelID adSmallInt, OldTravelMembership adSmallInt",
    "ObjectID adInteger, Type adSmallInt, Effectivity adDate, RoutingNumber adVarChar 20, "
    "AccountNumber adVarChar 20, SweepSpan adInteger, Opened adDate, Closed adChar 15, "
    "RecordLastUpdated adDate, TypeDescription adChar 30, IsAdded adSmallInt, OldEffectivity "
    "adDate, OldType adSmallInt",
    kTaxFields,
    kTaxFields,
    kTaxFields,
    kTaxFields,
    kTaxFields,
    "BankAccountTypeID adInteger, Description adChar 30, IsAdded adSmallInt, OldEffectivity "
    "adDate",
};

std::string DescribeFields(const RecordSet& rs) {
  std::string out;
  for (const FieldDef& def : rs.FieldDefs()) {
    if (!out.empty()) out += ", ";
    out += def.name + " " + FieldTypeName(def.type);
    if (def.size != 0) out += " " + std::to_string(def.size);
  }
  return out;
}

TEST(FeeRecordSetsLayout, EverySetDeclaresItsFieldsInOrder) {
  FeeRecordSets sets;
  for (int index = 1; index <= kRecordSetCount; ++index) {
    SCOPED_TRACE("record set " + std::to_string(index));
    EXPECT_EQ(DescribeFields(sets(index)), kFieldLists[index - 1]);
    for (const FieldDef& def : sets(index).FieldDefs()) {
      int attributes = def.name == "MemberAccessLevelDescription" ? kFieldAttributeUnknownUpdatable
                                                                  : kFieldAttributeUnspecified;
      EXPECT_EQ(def.attributes, attributes) << def.name;
    }
  }
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
    const auto [number, text] = ControlErrorOf([&] { sets(index); });
    EXPECT_EQ(number, errc::kSubscriptOutOfRange);
    EXPECT_NE(text.find(std::to_string(index)), std::string::npos) << text;
  }
  const FeeRecordSets& constSets = sets;
  EXPECT_THROW(constSets(16), ControlError);
}

TEST(FeeRecordSetsLifecycle, UndeclaredFieldNamesTheRecordSet) {
  FeeRecordSets sets;
  sets.OpenAll();
  sets(2).AddNew();
  EXPECT_EQ(ControlErrorOf([&] { sets(2).SetValue("Term", Value("12")); }),
            std::make_pair(errc::kItemNotFound,
                           std::string("Field 'Term' is not declared in record set 2 (Value Plus "
                                       "fee)")));
}

}  // namespace
}  // namespace harnolfees
