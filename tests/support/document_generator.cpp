#include "support/document_generator.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace harnolfees::testing {

namespace {

// Days since 1970-01-01 to an ISO date at midnight.
std::string IsoDate(long days) {
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT00:00:00", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return buffer;
}

// `decimals` (at least one) digits after the point.
std::string Decimal(std::uint32_t value, int decimals) {
  std::uint32_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%u.%0*u", value / scale, decimals, value % scale);
  return buffer;
}

}  // namespace

GeneratedDocument GenerateLoadDocument(std::size_t records, std::uint32_t seed, int onlySet) {
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
  auto field = [&out](const std::string& name, const std::string& value) {
    out += '<' + name + '>' + value + "</" + name + '>';
  };
  // One record per name: its number from `first` on, and the name.
  auto lookup = [&](const char* tag, const char* id, std::size_t first, const auto& names,
                    bool descriptionFirst = false) {
    for (std::size_t i = 0; i < std::size(names); ++i) {
      out += std::string("  <") + tag + '>';
      if (descriptionFirst) field("Description", names[i]);
      field(id, std::to_string(first + i));
      if (!descriptionFirst) field("Description", names[i]);
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
    if (set == 15 && doc.records[15] >= kMaxAccountTypes) set = 9;
    if (oneSet) set = onlySet == 9 && i == 0 ? 15 : onlySet;
    const std::size_t nth = doc.records[static_cast<std::size_t>(set)]++;
    const std::string date = IsoDate(firstDay + static_cast<long>(nth));
    const std::string updated = IsoDate(firstDay + static_cast<long>(nth) + 1 + pick(30));
    out += "  <T" + std::to_string(set) + '>';
    // Every record set but the bank accounts and their types starts with the center.
    if (set != 9 && set != 15) field("CenterID", "12");
    switch (set) {
      case 1:
        field("Effectivity", date);
        field("MembershipFee", Decimal(50000 + pick(200000), 2));
        field("Term", terms[pick(5)]);
        field("MembershipRoyalty", Decimal(pick(1500), 4));
        field("MinimumRoyalty", Decimal(5000 + pick(20000), 2));
        field("RoyaltyReserve", Decimal(pick(500), 4));
        field("RecordLastUpdated", updated);
        break;
      case 2:
      case 3: {
        const std::uint32_t center = 10000 + pick(30000), harnol = 5000 + pick(10000),
                            health = pick(2000);
        field("Effectivity", date);
        field(set == 2 ? "ValuePlusFee" : "ValuePlusRenewalFee",
              Decimal(center + harnol + health, 2));
        field("CenterPortion", Decimal(center, 2));
        field("HarnolPortion", Decimal(harnol, 2));
        field("HealthFee", Decimal(health, 2));
        field("RecordLastUpdated", updated);
        break;
      }
      case 4:
        field("Effectivity", date);
        field("RenewalOptionFee", Decimal(1000 + pick(9000), 2));
        field("RecordLastUpdated", updated);
        break;
      case 5:
        field("Effectivity", date);
        field("BetaAPR", Decimal(500 + pick(2500), 4));
        field("BetaAPRTypeID", std::to_string(1 + pick(3)));
        field("RecordLastUpdated", updated);
        break;
      case 6: {
        const std::uint32_t type = pick(4);
        field("BetaContractTypeID", std::to_string(type));
        field("Effectivity", date);
        field("BetaProcessingFee", Decimal(500 + pick(5000), 2));
        field("ContractDescription", contracts[type]);
        break;
      }
      case 7: {
        const std::uint32_t type = pick(4), credit = pick(4);
        field("ContractType", std::to_string(type));
        field("Effectivity", date);
        field("BetaReserve", Decimal(pick(2000), 4));
        field("CreditTypeBitwiseValue", std::to_string(credit + 1));
        field("ContractDescription", contracts[type]);
        field("CreditType", credits[credit]);
        break;
      }
      case 8: {
        const std::uint32_t level = pick(4);
        field("Effectivity", date);
        field("MembershipRenewalFee", Decimal(2000 + pick(20000), 2));
        field("CenterPortion", Decimal(pick(10000), 4));
        field("MemberAccessLevelDescription", levels[level]);
        field("MemberAccessLevelID", std::to_string(level + 1));
        field("TravelMembership", std::to_string(pick(2)));
        break;
      }
      case 9: {
        const std::size_t types = doc.records[15] == 0 ? 1 : doc.records[15];
        field("ObjectID", std::to_string(1000 + nth));
        field("Type", std::to_string(1 + pick(static_cast<std::uint32_t>(types))));
        field("Effectivity", date);
        field("RoutingNumber", std::to_string(100000000 + pick(899999999)));
        field("AccountNumber", std::to_string(1000000 + pick(99999999)));
        field("SweepSpan", std::to_string(1 + pick(60)));
        field("Opened", date);
        if (pick(4) == 0) field("Closed", updated.substr(0, 10));
        break;
      }
      case 15:
        field("BankAccountTypeID", std::to_string(nth + 1));
        field("Description", "Account type " + std::to_string(nth + 1));
        break;
      default:  // 10 to 14, the sales taxes
        field("Type", std::to_string(set - 9));
        field("Effectivity", date);
        field("Membership", Decimal(pick(1000), 4));
        field("Renewal", Decimal(pick(1000), 4));
        field("Merchandise", Decimal(pick(1000), 4));
        field("RecordLastUpdated", updated);
        break;
    }
    out += "</T" + std::to_string(set) + ">\n";
  }
  out += "</TermFees>\n";
  return doc;
}

}  // namespace harnolfees::testing
