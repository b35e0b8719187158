// Demonstration schedules: three centers with a few years of history on
// every tab, so that a fresh installation shows something real.
#include <array>
#include <string>
#include <variant>
#include <vector>

#include "database.hpp"
#include "database_session.hpp"

namespace harnolfees::server {
namespace {

// Dollars and cents to money units (ten-thousandths).
std::int64_t Cents(std::int64_t cents) { return cents * 100; }

std::string Date(const char* ymd) { return std::string(ymd) + " 00:00:00"; }

struct DemoCenter {
  std::int64_t id;
  const char* name;
  bool travel;
  std::int64_t percent;  // price level against the first center
};

}  // namespace

void FillDemoRows(Session& session) {
  static constexpr std::array<DemoCenter, 3> kCenters{{{1, "Harnol Downtown", true, 100},
                                                       {2, "Harnol Lakeside", false, 85},
                                                       {3, "Harnol Airport", true, 120}}};
  static constexpr std::array<const char*, 4> kDates{"2002-01-01", "2003-01-01", "2004-01-01",
                                                     "2005-07-01"};
  static constexpr std::array<const char*, 4> kExpiry{"2002-12-31 23:59:59", "2003-12-31 23:59:59",
                                                      "2005-06-30 23:59:59", ""};
  const std::string updated = "2005-06-15 10:30:00";

  bool present = false;
  session.Run("SELECT count(*) FROM Centers WHERE CenterID IN (1, 2, 3)",
              [&](const Row& r) { present = r.Int(0) != 0; });
  if (present) return;
  {
    auto ins = [&session](const char* sql, const std::vector<Cell>& cells) {
      session.Run(sql, cells);
    };
    for (const DemoCenter& c : kCenters) {
      auto price = [&c](std::int64_t cents) { return Cents(cents * c.percent / 100); };
      ins("INSERT INTO Centers (CenterID, Name, ShowTravelOption) VALUES (?1, ?2, ?3)",
          {c.id, std::string(c.name), std::int64_t{c.travel ? 1 : 0}});
      for (std::size_t i = 0; i < kDates.size(); ++i) {
        const auto k = static_cast<std::int64_t>(i);
        const std::string date = Date(kDates[i]);
        static constexpr std::array<std::int64_t, 4> kTerms{12, 24, 36, 12};
        static constexpr std::array<const char*, 4> kRoyalty{"0.075", "0.08", "0.085", "0.09"};
        static constexpr std::array<const char*, 4> kReserve{"0.05", "0.05", "0.04", "0.045"};
        ins("INSERT INTO MembershipFee VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
            {c.id, date, price(39900 + 5000 * k), kTerms[i], std::string(kRoyalty[i]),
             price(25000 + 2500 * k), std::string(kReserve[i]), updated});
        ins("INSERT INTO ValuePlusFee VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
            {c.id, date, price(14900 + 1000 * k), price(6000 + 500 * k), price(4000), price(1500),
             updated});
        ins("INSERT INTO ValuePlusRenewalFee VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
            {c.id, date, price(9900 + 500 * k), price(4000), price(2500), price(1000), updated});
        ins("INSERT INTO RenewalOptionFee VALUES (?1, ?2, ?3, ?4)",
            {c.id, date, price(4900 + 500 * k), updated});
        static constexpr std::array<std::array<const char*, 3>, 4> kApr{
            {{"0.1299", "0.1499", "0.0999"},
             {"0.1249", "0.1449", "0.0899"},
             {"0.1199", "0.1399", "0.0799"},
             {"0.1299", "0.1525", "0"}}};
        for (std::int64_t type = 1; type <= 3; ++type) {
          ins("INSERT INTO BetaAPR VALUES (?1, ?2, ?3, ?4, ?5)",
              {c.id, date, std::string(kApr[i][static_cast<std::size_t>(type - 1)]), type,
               updated});
        }
        for (std::int64_t type = 0; type <= 3; ++type) {
          ins("INSERT INTO BetaProcessingFee VALUES (?1, ?2, ?3, ?4, ?5)",
              {c.id, type, date, price(2500 + 500 * type + 250 * k), updated});
        }
        static constexpr std::array<const char*, 3> kBetaReserve{"0.1", "0.125", "0.15"};
        for (std::int64_t type = 0; type <= 2; ++type) {
          ins("INSERT INTO BetaReserve VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
              {c.id, type, type + 1 + (k % 2), date,
               std::string(kBetaReserve[static_cast<std::size_t>(type)]), updated});
        }
        // Renewal fees keep their history: each record expires one second
        // before its successor takes effect.
        Cell expiry = kExpiry[i][0] ? Cell{std::string(kExpiry[i])} : Cell{};
        static constexpr std::array<const char*, 4> kShare{"0.5", "0.5", "0.55", "0.6"};
        for (std::int64_t level = 1; level <= 4; ++level) {
          std::vector<std::int64_t> travels;
          if (c.travel) {
            if (level <= 3) travels = {0, 1};
          } else {
            travels = {level == 4 ? 1 : 0};
          }
          for (std::int64_t t : travels) {
            ins("INSERT INTO MembershipRenewalFee VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                {c.id, date, price(19900 + 5000 * level + 2500 * t + 1000 * k),
                 std::string(kShare[i]), level, t, updated, expiry});
          }
        }
      }
      // Bank accounts: an operating account replaced in 2004, a payroll account.
      ins("INSERT INTO BankAccount VALUES (?1, 1, ?2, ?3, ?4, 30, ?5, ?6, ?7)",
          {c.id, Date("2002-01-01"), std::string("021000021"),
           std::string("4410") + std::to_string(c.id) + "7720", Date("2001-12-15"),
           Date("2004-01-31"), updated});
      ins("INSERT INTO BankAccount VALUES (?1, 1, ?2, ?3, ?4, 15, ?5, NULL, ?6)",
          {c.id, Date("2004-01-01"), std::string("026009593"),
           std::string("8830") + std::to_string(c.id) + "1145", Date("2003-12-01"), updated});
      ins("INSERT INTO BankAccount VALUES (?1, 2, ?2, ?3, ?4, 7, ?5, NULL, ?6)",
          {c.id, Date("2003-01-01"), std::string("021000021"),
           std::string("5520") + std::to_string(c.id) + "3390", Date("2002-11-20"), updated});
      // Sales taxes, five levels, two records each.
      static constexpr std::array<std::array<const char*, 2>, 5> kTax{{{"0", "0"},
                                                                       {"0.0625", "0.065"},
                                                                       {"0.01", "0.0125"},
                                                                       {"0.0075", "0.0075"},
                                                                       {"0.0025", "0.003"}}};
      for (std::int64_t type = 1; type <= 5; ++type) {
        for (std::size_t r = 0; r < 2; ++r) {
          const std::string rate = kTax[static_cast<std::size_t>(type - 1)][r];
          ins("INSERT INTO SalesTax VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
              {c.id, type, Date(r == 0 ? "2002-01-01" : "2004-07-01"), rate,
               type == 2 ? std::string("0") : rate, rate, updated});
        }
      }
    }
  }
}

}  // namespace harnolfees::server
