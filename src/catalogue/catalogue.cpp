#include "harnolfees/catalogue.hpp"

#include <string>
#include <utility>

namespace harnolfees {

namespace {

const std::array<FeeTabInfo, kTabCount>& Tabs() {
  static const std::array<FeeTabInfo, kTabCount> tabs = [] {
    const FeeTabInfo salesTax{
        "",
        "SalesTax",
        0,
        4,
        {"Effective Date", "Membership (%)", "Renewal (%)", "Merchandise (%)", "", "", ""}};
    std::array<FeeTabInfo, kTabCount> t{{
        {"Membership  Fee",
         "MembershipFee",
         0,
         6,
         {"Effective Date", "Membership Fee ($)", "Term (Months)", "Membership Royalty (%)",
          "Minimum Royalty ($)", "Royalty Reserve (%)", ""}},
        {"Value Plus Fee",
         "ValuePlusFee",
         0,
         5,
         {"Effective Date", "Value Plus Fee ($)", "Center Portion ($)", "Harnol Portion ($)",
          "Health Fee ($)", "", ""}},
        {"Value Plus Renewal Fee",
         "ValuePlusRenewalFee",
         0,
         5,
         {"Effective Date", "Value Plus Renewal Fee ($)", "Center Portion ($)",
          "Harnol Portion ($)", "Health Fee ($)", "", ""}},
        {"Renewal Option Fee",
         "RenewalOptionFee",
         0,
         2,
         {"Effective Date", "Renewal Option Fee ($)", "", "", "", "", ""}},
        {"Beta APR",
         "BetaAPR",
         0,
         3,
         {"Effective Date", "Beta APR (%) ", "Beta APR Type ", "", "", "", ""}},
        {"Beta Processing Fee",
         "BetaProcessingFee",
         0,
         3,
         {"Effective Date", "Beta Processing Fee ($)", "Contract Type ", "", "", "", ""}},
        {"Beta Reserve",
         "BetaReserve",
         0,
         4,
         {"Effective Date", "Beta Reserve (%)", "Contract Type ", "Credit Type ", "", "", ""}},
        {"Membership Renewal Fee",
         "MembershipRenewalFee",
         0,
         5,
         {"Effective Date", "Access Level", "Renewal Fee ($)", "Center Portion (%)",
          "Travel Membership", "", ""}},
        {"Bank Account",
         "BankAccount",
         0,
         7,
         {"Effective Date", "Type          ", "Routing Number  ", "Account Number  ",
          "SweepSpan (Days)  ", "Opened       ", "Closed       "}},
        salesTax,
        salesTax,
        salesTax,
        salesTax,
        salesTax,
    }};
    const char* salesTaxCaptions[] = {"Country Sales Taxes", "State/Province Sales Taxes",
                                      "County Sales Taxes", "City Sales Taxes",
                                      "Local Sales Taxes"};
    for (int level = 1; level <= 5; ++level) {
      t[8 + level].caption = salesTaxCaptions[level - 1];
      t[8 + level].salesTaxType = level;
    }
    return t;
  }();
  return tabs;
}

}  // namespace

const FeeTabInfo& FeeTab(int tab) {
  if (tab < 1 || tab > kTabCount) {
    throw ControlError(errc::kSubscriptOutOfRange,
                       "Subscript out of range: tab " + std::to_string(tab));
  }
  return Tabs()[static_cast<std::size_t>(tab - 1)];
}

int GridColumnCount(int tab) { return FeeTab(tab).gridColumnCount; }

const std::string& GridHeadings(int tab, int column) {
  const FeeTabInfo& info = FeeTab(tab);
  if (column < 0 || column >= kMaxGridColumns) {
    throw ControlError(errc::kSubscriptOutOfRange, "Subscript out of range: column " +
                                                       std::to_string(column) + " of tab " +
                                                       std::to_string(tab));
  }
  return info.headings[static_cast<std::size_t>(column)];
}

namespace {

constexpr int kUnspecified = kFieldAttributeUnspecified;

void DeclareFields(RecordSet& rs, int index) {
  using enum FieldType;
  auto field = [&rs](const char* name, FieldType type, int size = 0,
                     int attributes = kUnspecified) {
    rs.AppendField(name, type, size, attributes);
  };
  switch (index) {
    case 1:
      field("CenterID", SmallInt);
      field("Effectivity", Date);
      field("MembershipFee", Currency);
      field("Term", SmallInt);
      field("MembershipRoyalty", Single);
      field("MinimumRoyalty", Currency);
      field("RoyaltyReserve", Single);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      break;
    case 2:
    case 3:
      field("CenterID", SmallInt);
      field("Effectivity", Date);
      field(index == 2 ? "ValuePlusFee" : "ValuePlusRenewalFee", Currency);
      field("CenterPortion", Currency);
      field("HarnolPortion", Currency);
      field("HealthFee", Currency);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      break;
    case 4:
      field("CenterID", SmallInt);
      field("Effectivity", Date);
      field("RenewalOptionFee", Currency);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      break;
    case 5:
      field("CenterID", SmallInt);
      field("Effectivity", Date);
      field("BetaAPR", Double);
      field("BetaAPRTypeID", Double);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      field("OldType", Double);
      break;
    case 6:
      field("CenterID", SmallInt);
      field("BetaContractTypeID", Double);
      field("Effectivity", Date);
      field("BetaProcessingFee", Currency);
      field("RecordLastUpdated", Date);
      field("ContractDescription", Char, 30);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      field("OldType", Double);
      break;
    case 7:
      field("CenterID", SmallInt);
      field("ContractType", Double);
      field("Effectivity", Date);
      field("BetaReserve", Double);
      field("CreditTypeBitwiseValue", Double);
      field("RecordLastUpdated", Date);
      field("ContractDescription", Char, 30);
      field("CreditType", Char, 30);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      field("OldType", Double);
      break;
    case 8:
      field("CenterID", SmallInt);
      field("Effectivity", Date);
      field("MembershipRenewalFee", Currency);
      field("CenterPortion", Double);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      field("MemberAccessLevelDescription", Char, 10, kFieldAttributeUnknownUpdatable);
      field("MemberAccessLevelID", SmallInt);
      field("TravelMembership", SmallInt);
      field("OldMemberAccessLevelID", SmallInt);
      field("OldTravelMembership", SmallInt);
      break;
    case 9:
      field("ObjectID", Integer);
      field("Type", SmallInt);
      field("Effectivity", Date);
      field("RoutingNumber", VarChar, 20);
      field("AccountNumber", VarChar, 20);
      field("SweepSpan", Integer);
      field("Opened", Date);
      field("Closed", Char, 15);
      field("RecordLastUpdated", Date);
      field("TypeDescription", Char, 30);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      field("OldType", SmallInt);
      break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
      field("CenterID", Integer);
      field("Type", SmallInt);
      field("Effectivity", Date);
      field("Membership", Single);
      field("Renewal", Single);
      field("Merchandise", Single);
      field("RecordLastUpdated", Date);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      break;
    case 15:
      field("BankAccountTypeID", Integer);
      field("Description", Char, 30);
      field("IsAdded", SmallInt);
      field("OldEffectivity", Date);
      break;
    default:
      break;
  }
}

const char* RecordSetTitle(int index) {
  static const char* const titles[kRecordSetCount] = {"Membership fee",
                                                      "Value Plus fee",
                                                      "Value Plus renewal fee",
                                                      "Renewal option fee",
                                                      "Beta APR",
                                                      "Beta processing fee",
                                                      "Beta reserve",
                                                      "Membership renewal fee",
                                                      "Bank account",
                                                      "Country sales taxes",
                                                      "State/province sales taxes",
                                                      "County sales taxes",
                                                      "City sales taxes",
                                                      "Local sales taxes",
                                                      "Bank account types"};
  return titles[index - 1];
}

[[noreturn]] void ThrowBadIndex(int index) {
  throw ControlError(errc::kSubscriptOutOfRange,
                     "Subscript out of range: record set " + std::to_string(index));
}

}  // namespace

FeeRecordSets::FeeRecordSets() {
  for (int index = 1; index <= kRecordSetCount; ++index) {
    auto rs =
        std::make_unique<RecordSet>(std::to_string(index) + " (" + RecordSetTitle(index) + ")");
    DeclareFields(*rs, index);
    sets_[static_cast<std::size_t>(index - 1)] = std::move(rs);
  }
}

RecordSet& FeeRecordSets::operator()(int index) {
  if (index < 1 || index > kRecordSetCount) ThrowBadIndex(index);
  return *sets_[static_cast<std::size_t>(index - 1)];
}

const RecordSet& FeeRecordSets::operator()(int index) const {
  if (index < 1 || index > kRecordSetCount) ThrowBadIndex(index);
  return *sets_[static_cast<std::size_t>(index - 1)];
}

void FeeRecordSets::OpenAll() {
  for (auto& rs : sets_) {
    if (rs->State() != RecordSet::kStateOpen) rs->Open();
  }
}

void FeeRecordSets::CloseAll() {
  // The record sets themselves stay in place, closed and emptied, so that a
  // late call after tear-down gets an error rather than a dangling object.
  for (auto& rs : sets_) {
    if (rs->State() == RecordSet::kStateOpen) rs->Close();
  }
}

void FeeRecordSets::EmptyAll() {
  // Every record goes, also those that a filter hides from RecordCount.
  for (auto& rs : sets_) {
    if (rs->State() == RecordSet::kStateOpen) rs->Clear();
  }
}

}  // namespace harnolfees
