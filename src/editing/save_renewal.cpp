// The save rule of the membership renewal fees: one fee per access level and
// travel flag is in force at a time, so every save first closes the one in
// force and then inserts or updates, both in one statement text.
#include <cstdint>
#include <string>

#include "editing/save_common.hpp"
#include "editing/save_rules.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

using editing::FieldKind;
using editing::FieldRule;
using editing::NumberEntry;

void editing::SaveRules::SaveMembershipRenewalFee() {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const int tab = state.CurrentTab;
  ComboBox& levelBox = s.cboAccessLevel;

  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  if (levelBox.ListIndex() < 0) {
    editing::Refuse(host, "Please select the Membership Access Level", &levelBox);
    return;
  }
  const std::int32_t levelData = levelBox.ItemData(levelBox.ListIndex());
  if (levelData < INT16_MIN || levelData > INT16_MAX) {
    editing::Refuse(host, "Please select a valid Membership Access Level", &levelBox);
    return;
  }
  const auto levelId = static_cast<std::int16_t>(levelData);
  const std::string description = levelBox.Text();
  std::string fee = s.txtField[2].Text();
  std::string portion = s.txtField[3].Text();
  // Without the travel option, access level 4 is the travel membership.
  const bool travel = state.ShowTravelOption ? s.chkTravel.Value() != 0 : levelId == 4;
  const std::string travelBit = travel ? "1" : "0";

  if (state.IsAdding) {
    date = control.ValidateEffectiveDate(
        date, editing::kFocusEffectiveDate, state.EditOldEffectivity, state.EditOldType, tab,
        editing::kNoTypeKey, editing::kCheckDuplicateDate, levelId, travel ? 1 : 0);
  }
  if (date.empty()) return;

  const FieldRule feeRule{FieldKind::Amount, "Please enter  Membership Renewal Fee",
                          "Please enter a valid Membership Renewal Fee",
                          " Membership Renewal Fee is too large."};
  if (!editing::PassesFieldTests(host, rs, fee, feeRule, s.txtField[2])) return;
  const NumberEntry feeEntry = editing::Normalise(fee, rs);

  const FieldRule portionRule{FieldKind::Percentage, "Please enter Center Portion",
                              "Please enter a valid Center Portion between 0 to 100",
                              "Please enter a valid Center Portion between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, portion, portionRule, s.txtField[3])) return;
  const NumberEntry portionEntry = editing::Normalise(portion, rs);

  const std::string club = std::to_string(state.ClubID);
  const std::string level = std::to_string(levelId);
  const std::string expire = " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '" +
                             date + "') WHERE CenterID = " + club +
                             " AND MEmberAccessLevelID = " + level +
                             " AND TravelMembership = " + travelBit + " AND ExpirationDate IS NULL";

  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return expire + editing::kCrLf +
           " INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee, "
           "CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated) " +
           " VALUES (" + club + ", '" + date + "', " + feeEntry.text + ", " +
           portionEntry.FractionText() + "," + level + "," + travelBit + ",  GETDATE()) ";
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& oldDate = r.GetValue("OldEffectivity");
    const Value& oldLevel = r.GetValue("OldMemberAccessLevelID");
    // A fee added in this session has its server key only once the server
    // has confirmed it; without it the statements would address no row.
    if (oldDate.IsNull() || oldLevel.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    const std::string old = oldDate.ToText(regional());
    const std::string oldLevelText = oldLevel.ToText(regional());
    const std::string oldBit = editing::TravelBitText(r.GetValue("OldTravelMembership"));
    // The fee under edit may be the one in force for its key; it must not
    // expire itself.
    const std::string keepEdited = " AND NOT (EffectivityDate = '" + old +
                                   "' AND MemberAccessLevelID = " + oldLevelText +
                                   " AND isnull(TravelMembership,0) = " + oldBit + ")";
    // The server keeps the travel flag it had unless the edit changes it.
    const std::string travelChange =
        travelBit != oldBit ? ", TravelMembership = " + travelBit : std::string();
    return expire + keepEdited + editing::kCrLf +
           " UPDATE MembershipRenewalFee SET EffectivityDate ='" + date +
           "', MembershipRenewalFee = " + feeEntry.text +
           ", CenterPortion = " + portionEntry.FractionText() + ", MEmberAccessLevelID = " + level +
           travelChange + ", RecordLastUpdated = GETDATE() " + "  WHERE  EffectivityDate = '" +
           old + "' AND CenterID = " + club + " AND isnull(TravelMembership,0) = " + oldBit +
           " AND MemberAccessLevelID = " + oldLevelText;
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    r.Fields("MembershipRenewalFee").setValue(feeEntry.text);
    r.Fields("CenterPortion").setValue(portionEntry.Fraction());
    // The field holds as many characters as the server's column; a longer
    // description is kept to that size rather than failing the save.
    FieldRef descriptionField = r.Fields("MemberAccessLevelDescription");
    const int size = descriptionField.Def().size;
    descriptionField.setValue(size > 0 ? editing::TruncateToChars(description, size) : description);
    r.Fields("MemberAccessLevelID").setValue(levelId);
    r.Fields("TravelMembership").setValue(static_cast<std::int16_t>(travel ? -1 : 0));
  };
  const bool adding = state.IsAdding;
  const bool submitted = FinishSave(plan);
  // A new fee is rendered at once; one that the server did not accept is not
  // shown, and the form keeps the operator's entries for another try.
  if (adding && submitted && !sets(tab).HasPending()) control.FillGridContained(state.CurrentTab);
}

}  // namespace harnolfees
