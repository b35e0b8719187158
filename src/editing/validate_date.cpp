// The duplicate effectivity check: within one fee kind a key may have only
// one record per effective date.
#include <optional>
#include <string>

#include "catalogue/fee_kind.hpp"
#include "editing/save_common.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

constexpr const char* kEffectiveDateCaption = "Effective Date";

// Removes the filter however the check ends, so that the save rules and the
// grid always see every record of the tab.
class FilterScope {
 public:
  explicit FilterScope(RecordSet& rs) : rs_(rs) {}
  ~FilterScope() {
    try {
      rs_.SetFilter("");
    } catch (...) {
      // Clearing a filter only widens the view of records already held; a
      // destructor may not throw, and no record is lost by leaving it.
    }
  }
  FilterScope(const FilterScope&) = delete;
  FilterScope& operator=(const FilterScope&) = delete;

 private:
  RecordSet& rs_;
};

bool SameDate(const Value& stored, const std::string& oldEffectivity, const RegionalSettings& rs) {
  if (stored.IsNull() || oldEffectivity.empty()) return false;
  const std::optional<DateTime> old = ParseDate(oldEffectivity, rs);
  return old.has_value() && stored.ToDate(rs) == *old;
}

bool SameType(const Value& stored, const std::string& oldType, const RegionalSettings& rs) {
  if (stored.IsNull()) return false;
  const std::optional<double> old = ParseNumber(oldType, rs);
  return old.has_value() && stored.ToDouble(rs) == *old;
}

}  // namespace

std::string HarnolFeesCtlCenter::ValidateEffectiveDate(const std::string& dateText, int focusIndex,
                                                       const std::string& oldEffectivity,
                                                       const std::string& oldType, int tab,
                                                       int typeKey, std::string caption,
                                                       int accessLevel, int travel) {
  Surface& s = surface_;
  Focusable* focus = focusIndex == 0 ? static_cast<Focusable*>(&s.DTPicker1[0])
                                     : &s.txtField[static_cast<std::size_t>(focusIndex)];
  if (caption.empty()) caption = kEffectiveDateCaption;
  if (dateText.empty()) {
    editing::Refuse(host_, "Please enter " + caption, focus);
    return "";
  }
  // Statements carry the date as mm/dd/yyyy.
  const std::string formatted = FormatDateMmDdYyyy(TextToDate(dateText, regional()), regional());
  if (caption != kEffectiveDateCaption) return formatted;

  RecordSet& rs = recordSets_(tab);
  if (rs.RecordCount() == 0) return formatted;
  FilterScope unfiltered(rs);
  rs.MoveFirst();
  rs.SetFilter("Effectivity='" + dateText + "'");
  if (rs.IsEOF()) return formatted;

  std::string message;
  const FeeKind& kind = FeeKindOf(tab);
  if (const char* typeField = kind.oldTypeField) {
    rs.MoveFirst();
    rs.Find(std::string(typeField) + "=" + std::to_string(typeKey));
    if (rs.IsEOF()) return formatted;  // the date is held only by other types
    if (SameType(rs.GetValue(typeField), oldType, regional()) &&
        SameDate(rs.GetValue("Effectivity"), oldEffectivity, regional())) {
      return formatted;  // the record under edit
    }
    const ComboBox& names = s.*kind.typeNames;
    message = "A " + TrimBlanks(names.Text()) +
              " record already exists with an effectivity date of " +
              FormatDateMmmDdYyyy(rs.GetValue("Effectivity").ToDate(regional()), regional());
  } else if (kind.accessLevel) {
    rs.MoveFirst();
    const std::string prefix = "Effectivity='" + dateText + "' and TravelMembership=";
    const std::string suffix = " and MemberAccessLevelID= " + std::to_string(accessLevel);
    rs.SetFilter(prefix + std::to_string(travel) + suffix);
    if (rs.IsEOF() && travel == 1) {
      // Records saved in this session keep the travel flag as -1, loaded
      // ones as the server's bit 1; both are travel memberships.
      rs.SetFilter(prefix + "-1" + suffix);
    }
    if (rs.IsEOF()) return formatted;
    rs.MoveFirst();
    message = "A record already exists with an effectivity date of " +
              FormatDateMmmDdYyyy(rs.GetValue("Effectivity").ToDate(regional()), regional()) +
              " for tha access level";
  } else {
    rs.MoveFirst();
    if (SameDate(rs.GetValue("Effectivity"), oldEffectivity, regional())) return formatted;
    message = "A record already exists with an effectivity date of " +
              FormatDateMmmDdYyyy(rs.GetValue("Effectivity").ToDate(regional()), regional());
  }
  editing::Refuse(host_, message, focus);
  return "";
}

}  // namespace harnolfees
