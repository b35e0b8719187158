#include "support/document_generator.hpp"

#include <algorithm>
#include <cstdio>
#include <random>

namespace harnolfees::testing {

namespace {

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void Field(const char* name, const std::string& value) {
    out_ += '<';
    out_ += name;
    out_ += '>';
    out_ += value;
    out_ += "</";
    out_ += name;
    out_ += '>';
  }
  void Open(int set) {
    out_ += "  <T";
    out_ += std::to_string(set);
    out_ += '>';
  }
  void Close(int set) {
    out_ += "</T";
    out_ += std::to_string(set);
    out_ += ">\n";
  }

 private:
  std::string& out_;
};

// Days since 1970-01-01 to an ISO date at midnight.
std::string IsoDate(long days) {
  // Civil-from-days (proleptic Gregorian).
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long doe = days - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp < 10 ? mp + 3 : mp - 9;
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%04ld-%02ld-%02ldT00:00:00", y, m, d);
  return buffer;
}

std::string Decimal(std::uint32_t value, int decimals) {
  std::uint32_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  char buffer[32];
  if (decimals == 0) {
    std::snprintf(buffer, sizeof buffer, "%u", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%u.%0*u", value / scale, decimals, value % scale);
  }
  return buffer;
}

}  // namespace

GeneratedDocument GenerateLoadDocument(std::size_t records, std::uint32_t seed, int onlySet,
                                       std::size_t maxAccountTypes) {
  maxAccountTypes = std::min(maxAccountTypes, kMaxAccountTypes);
  GeneratedDocument doc;
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  std::string& out = doc.xml;
  out.reserve(records * 210 + 4096);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TermFees Center=\"12\">\n";

  const char* terms[] = {"12", "24", "36", "48", "60"};
  out += "  <TERM>";
  for (const char* t : terms) out += std::string("<Months>") + t + "</Months>";
  out += "</TERM>\n";
  const char* contracts[] = {"Standard", "Premium", "Corporate", "Family"};
  const char* credits[] = {"Excellent", "Good", "Fair", "Poor"};
  const char* aprs[] = {"Fixed", "Variable", "Promotional"};
  const char* levels[] = {"Basic", "Standard", "Premium", "Travel"};
  Writer w(out);
  // One record per name: its number from `first` on, and the name.
  auto lookup = [&](const char* tag, const char* id, std::size_t first, const auto& names,
                    bool descriptionFirst = false) {
    for (std::size_t i = 0; i < std::size(names); ++i) {
      out += std::string("  <") + tag + '>';
      if (descriptionFirst) w.Field("Description", names[i]);
      w.Field(id, std::to_string(first + i));
      if (!descriptionFirst) w.Field("Description", names[i]);
      out += std::string("</") + tag + ">\n";
    }
  };
  lookup("CTYPE", "ContractTypeID", 0, contracts);
  lookup("BVALUE", "CreditTypeID", 1, credits);
  lookup("APRTYPE", "APRTypeID", 1, aprs);
  lookup("ACCESSLEVEL", "MemberAccessLevelID", 1, levels, true);
  doc.accessLevels = std::size(levels);
  out += "  <SHOWTravelOption/>\n";

  const long firstDay = 7305;  // 1990-01-01
  const bool oneSet = onlySet >= 1 && onlySet <= 14;
  const std::size_t count = oneSet && onlySet == 9 ? records + 1 : records;
  for (std::size_t i = 0; i < count; ++i) {
    // Record set 15 first, so that bank account types exist before accounts.
    // An account's type is a 16-bit number: beyond that many types, the slot
    // of record set 15 goes to one more bank account.
    int set = i % 15 == 0 ? 15 : static_cast<int>(i % 15);
    if (set == 15 && doc.records[15] >= maxAccountTypes) set = 9;
    if (oneSet) set = onlySet == 9 && i == 0 ? 15 : onlySet;
    const std::size_t nth = doc.records[static_cast<std::size_t>(set)]++;
    const std::string date = IsoDate(firstDay + static_cast<long>(nth));
    const std::string updated = IsoDate(firstDay + static_cast<long>(nth) + 1 + pick(30));
    w.Open(set);
    // Every record set but the bank accounts and their types starts with the center.
    if (set != 9 && set != 15) w.Field("CenterID", "12");
    switch (set) {
      case 1:
        w.Field("Effectivity", date);
        w.Field("MembershipFee", Decimal(50000 + pick(200000), 2));
        w.Field("Term", terms[pick(5)]);
        w.Field("MembershipRoyalty", Decimal(pick(1500), 4));
        w.Field("MinimumRoyalty", Decimal(5000 + pick(20000), 2));
        w.Field("RoyaltyReserve", Decimal(pick(500), 4));
        w.Field("RecordLastUpdated", updated);
        break;
      case 2:
      case 3: {
        const std::uint32_t center = 10000 + pick(30000), harnol = 5000 + pick(10000),
                            health = pick(2000);
        w.Field("Effectivity", date);
        w.Field(set == 2 ? "ValuePlusFee" : "ValuePlusRenewalFee",
                Decimal(center + harnol + health, 2));
        w.Field("CenterPortion", Decimal(center, 2));
        w.Field("HarnolPortion", Decimal(harnol, 2));
        w.Field("HealthFee", Decimal(health, 2));
        w.Field("RecordLastUpdated", updated);
        break;
      }
      case 4:
        w.Field("Effectivity", date);
        w.Field("RenewalOptionFee", Decimal(1000 + pick(9000), 2));
        w.Field("RecordLastUpdated", updated);
        break;
      case 5:
        w.Field("Effectivity", date);
        w.Field("BetaAPR", Decimal(500 + pick(2500), 4));
        w.Field("BetaAPRTypeID", std::to_string(1 + pick(3)));
        w.Field("RecordLastUpdated", updated);
        break;
      case 6: {
        const std::uint32_t type = pick(4);
        w.Field("BetaContractTypeID", std::to_string(type));
        w.Field("Effectivity", date);
        w.Field("BetaProcessingFee", Decimal(500 + pick(5000), 2));
        w.Field("ContractDescription", contracts[type]);
        break;
      }
      case 7: {
        const std::uint32_t type = pick(4), credit = pick(4);
        w.Field("ContractType", std::to_string(type));
        w.Field("Effectivity", date);
        w.Field("BetaReserve", Decimal(pick(2000), 4));
        w.Field("CreditTypeBitwiseValue", std::to_string(credit + 1));
        w.Field("ContractDescription", contracts[type]);
        w.Field("CreditType", credits[credit]);
        break;
      }
      case 8: {
        const std::uint32_t level = pick(4);
        w.Field("Effectivity", date);
        w.Field("MembershipRenewalFee", Decimal(2000 + pick(20000), 2));
        w.Field("CenterPortion", Decimal(pick(10000), 4));
        w.Field("MemberAccessLevelDescription", levels[level]);
        w.Field("MemberAccessLevelID", std::to_string(level + 1));
        w.Field("TravelMembership", std::to_string(pick(2)));
        break;
      }
      case 9: {
        const std::size_t types = doc.records[15] == 0 ? 1 : doc.records[15];
        w.Field("ObjectID", std::to_string(1000 + nth));
        w.Field("Type", std::to_string(1 + pick(static_cast<std::uint32_t>(types))));
        w.Field("Effectivity", date);
        w.Field("RoutingNumber", std::to_string(100000000 + pick(899999999)));
        w.Field("AccountNumber", std::to_string(1000000 + pick(99999999)));
        w.Field("SweepSpan", std::to_string(1 + pick(60)));
        w.Field("Opened", date);
        if (pick(4) == 0) w.Field("Closed", updated.substr(0, 10));
        break;
      }
      case 15:
        w.Field("BankAccountTypeID", std::to_string(nth + 1));
        w.Field("Description", "Account type " + std::to_string(nth + 1));
        break;
      default:  // 10 to 14, the sales taxes
        w.Field("Type", std::to_string(set - 9));
        w.Field("Effectivity", date);
        w.Field("Membership", Decimal(pick(1000), 4));
        w.Field("Renewal", Decimal(pick(1000), 4));
        w.Field("Merchandise", Decimal(pick(1000), 4));
        w.Field("RecordLastUpdated", updated);
        break;
    }
    w.Close(set);
  }
  out += "</TermFees>\n";
  return doc;
}

}  // namespace harnolfees::testing
