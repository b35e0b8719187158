#include "catalogue/fee_kind.hpp"

#include <string>

#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

using enum CellFormat;
constexpr int R = kRegionalDecimals;
constexpr int N = kNotReformatted;

const ServerKey kDateKey{"Effectivity", "OldEffectivity"};

std::array<FeeKind, kTabCount> MakeKinds() {
  std::array<FeeKind, kTabCount> k;

  k[0].columns = {{"MembershipFee", Number},
                  {"Term", Text},
                  {"MembershipRoyalty", Percent3},
                  {"MinimumRoyalty", Number},
                  {"RoyaltyReserve", Percent3}};
  k[0].refill = {{1, "MembershipFee", RefillFormat::Amount},
                 {2, "Term", RefillFormat::ComboText},
                 {3, "MembershipRoyalty", RefillFormat::Percent},
                 {4, "MinimumRoyalty", RefillFormat::Amount},
                 {5, "RoyaltyReserve", RefillFormat::Percent}};
  k[0].combos = {{&Surface::cboTerm, 2, IdentifierRule::Text, "Term"}};
  k[0].decimals = {N, R, N, 3, R, 3, N, N};
  k[0].deleteHead = " DELETE FROM MembershipFee WHERE   EffectivityDate = '";
  k[0].save = SaveRule::MembershipFee;

  for (int i : {1, 2}) {
    const char* fee = i == 1 ? "ValuePlusFee" : "ValuePlusRenewalFee";
    k[i].columns = {
        {fee, Number}, {"CenterPortion", Number}, {"HarnolPortion", Number}, {"HealthFee", Number}};
    k[i].refill = {{1, fee, RefillFormat::Amount},
                   {2, "CenterPortion", RefillFormat::Amount},
                   {3, "HarnolPortion", RefillFormat::Amount},
                   {4, "HealthFee", RefillFormat::Amount}};
    k[i].decimals = {N, R, R, R, R, N, N, N};
  }
  k[1].deleteHead = " DELETE FROM VALUEPLUSFEE WHERE   EffectivityDate = '";
  k[1].save = SaveRule::ValuePlusFee;
  k[2].deleteHead = " DELETE FROM VALUEPLUSRENEWALFEE WHERE   EffectivityDate = '";
  k[2].save = SaveRule::ValuePlusRenewalFee;

  k[3].columns = {{"RenewalOptionFee", Number}};
  k[3].refill = {{1, "RenewalOptionFee", RefillFormat::Amount}};
  k[3].decimals = {N, R, N, N, N, N, N, N};
  k[3].deleteHead = " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '";
  k[3].save = SaveRule::RenewalOptionFee;

  k[4].columns = {{"BetaAPR", Percent3}, {"BetaAPRTypeID", AprType}};
  k[4].refill = {{1, "BetaAPR", RefillFormat::Percent},
                 {2, "BetaAPRTypeID", RefillFormat::ComboItem}};
  k[4].combos = {{&Surface::cboAPRType, 2, IdentifierRule::PositionPlusOne, "BetaAPRTypeID"}};
  k[4].decimals = {N, 3, N, N, N, N, N, N};
  k[4].serverKeys = {kDateKey, {"BetaAPRTypeID", "OldType", " AND BetaAPRTypeID = "}};
  k[4].oldTypeField = "BetaAPRTypeID";
  k[4].typeNames = &Surface::cboAPRType;
  k[4].deleteHead = " DELETE FROM BETAAPR WHERE   EffectivityDate = '";
  k[4].save = SaveRule::BetaApr;

  k[5].columns = {{"BetaProcessingFee", Number}, {"BetaContractTypeID", ContractType}};
  k[5].refill = {{1, "BetaProcessingFee", RefillFormat::Amount},
                 {2, "BetaContractTypeID", RefillFormat::ComboItem}};
  k[5].combos = {{&Surface::cboType, 2, IdentifierRule::Position, "BetaContractTypeID"}};
  k[5].decimals = {N, R, N, N, N, N, N, N};
  k[5].serverKeys = {kDateKey, {"BetaContractTypeID", "OldType", " AND BetaContractTypeID = "}};
  k[5].oldTypeField = "BetaContractTypeID";
  k[5].typeNames = &Surface::cboType;
  k[5].deleteHead = " DELETE FROM BETAPROCESSINGFEE WHERE   EffectivityDate = '";
  k[5].save = SaveRule::BetaProcessingFee;

  k[6].columns = {{"BetaReserve", Percent3},
                  {"ContractType", ContractType},
                  {"CreditTypeBitwiseValue", CreditType}};
  k[6].refill = {{1, "BetaReserve", RefillFormat::Percent},
                 {2, "ContractType", RefillFormat::ComboItem},
                 {3, "CreditTypeBitwiseValue", RefillFormat::ComboItem}};
  k[6].combos = {{&Surface::cboType, 2, IdentifierRule::Position, "ContractType"},
                 {&Surface::cboBitwise, 3, IdentifierRule::PositionPlusOne,
                  "CreditTypeBitwiseValue", 1, true}};
  k[6].decimals = {N, 3, N, N, N, N, N, N};
  k[6].serverKeys = {kDateKey, {"ContractType", "OldType", " AND  ContractType = "}};
  k[6].oldTypeField = "ContractType";
  k[6].typeNames = &Surface::cboType;
  k[6].deleteHead = " DELETE FROM BETARESERVE WHERE   EffectivityDate = '";
  k[6].save = SaveRule::BetaReserve;

  k[7].columns = {{"MemberAccessLevelDescription", Text},
                  {"MembershipRenewalFee", Number},
                  {"CenterPortion", Percent3},
                  {"TravelMembership", Text}};
  k[7].refill = {{2, "MembershipRenewalFee", RefillFormat::Amount},
                 {3, "CenterPortion", RefillFormat::Percent}};
  k[7].decimals = {N, N, R, 3, N, N, N, N};
  // Without the access level and the travel bit a DELETE would remove every
  // renewal fee of the center on that date.
  k[7].serverKeys = {
      kDateKey,
      {"MemberAccessLevelID", "OldMemberAccessLevelID", " AND MemberAccessLevelID = "},
      {"TravelMembership", "OldTravelMembership", " AND isnull(TravelMembership,0) = ", true}};
  k[7].deleteHead = " DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '";
  k[7].save = SaveRule::MembershipRenewalFee;
  k[7].accessLevel = true;
  k[7].travelColumn = 4;
  k[7].sortWithoutTravel = "Effectivity DESC, MemberAccessLevelID";

  k[8].columns = {{"Type", AccountType}, {"RoutingNumber", Text}, {"AccountNumber", Text},
                  {"SweepSpan", Text},   {"Opened", Date},        {"Closed", Closed}};
  k[8].refill = {
      {1, "Type", RefillFormat::AccountType},    {2, "RoutingNumber", RefillFormat::Plain},
      {3, "AccountNumber", RefillFormat::Plain}, {4, "SweepSpan", RefillFormat::Plain},
      {5, "Opened", RefillFormat::Date},         {6, "Closed", RefillFormat::Date}};
  k[8].combos = {{&Surface::cboBanckAccType, 1, IdentifierRule::ItemData, "Type"}};
  k[8].serverKeys = {kDateKey, {"Type", "OldType", " AND  Type = "}};
  k[8].oldTypeField = "Type";
  k[8].typeNames = &Surface::cboBanckAccType;
  k[8].deleteHead = " DELETE FROM BANKACCOUNT WHERE   EffectivityDate = '";
  k[8].save = SaveRule::BankAccount;
  k[8].accountDates = true;

  for (int i = 9; i < kTabCount; ++i) {
    k[static_cast<std::size_t>(i)].columns = {
        {"Membership", Percent6}, {"Renewal", Percent6}, {"Merchandise", Percent6}};
    k[static_cast<std::size_t>(i)].refill = {{1, "Membership", RefillFormat::Percent},
                                             {2, "Renewal", RefillFormat::Percent},
                                             {3, "Merchandise", RefillFormat::Percent}};
    k[static_cast<std::size_t>(i)].decimals = {N, 6, 6, 6, N, N, N, N};
    k[static_cast<std::size_t>(i)].deleteHead = " DELETE FROM SALESTAX WHERE   EffectivityDate = '";
    k[static_cast<std::size_t>(i)].save = SaveRule::SalesTax;
  }

  for (int t = 1; t <= kTabCount; ++t) {
    FeeKind& kind = k[static_cast<std::size_t>(t - 1)];
    kind.tab = t;
    kind.info = &FeeTab(t);
    if (kind.serverKeys.empty()) kind.serverKeys = {kDateKey};
  }
  return k;
}

}  // namespace

const ComboOverlay* FeeKind::Overlay(ComboBox Surface::*box) const {
  for (const ComboOverlay& c : combos) {
    if (c.box == box) return &c;
  }
  return nullptr;
}

const ComboOverlay* FeeKind::TypeOverlay() const {
  if (oldTypeField == nullptr) return nullptr;
  for (const ComboOverlay& c : combos) {
    if (std::string_view(c.field) == oldTypeField) return &c;
  }
  return nullptr;
}

int FeeKind::ShownColumnCount(bool showTravelOption) const {
  return travelColumn >= 0 && !showTravelOption ? travelColumn : info->gridColumnCount;
}

const FeeKind& FeeKindOf(int tab) {
  static const std::array<FeeKind, kTabCount> kinds = MakeKinds();
  FeeTab(tab);  // throws for a tab outside 1..14
  return kinds[static_cast<std::size_t>(tab - 1)];
}

int IdentifierForPosition(IdentifierRule rule, int position) {
  return rule == IdentifierRule::PositionPlusOne ? AprOrCreditTypeIdForPosition(position)
                                                 : position;
}

int PositionForIdentifier(IdentifierRule rule, int id) {
  return rule == IdentifierRule::PositionPlusOne ? PositionForAprOrCreditTypeId(id) : id;
}

}  // namespace harnolfees
