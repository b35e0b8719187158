#include "statement.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>

#include "values.hpp"

namespace harnolfees::server {
namespace {

constexpr std::size_t kMaxWord = 64;
constexpr std::size_t kMaxNumber = 40;
constexpr std::size_t kMaxTextLiteral = 64;
constexpr std::size_t kMaxTextColumn = 20;

enum class Tok { Word, Number, String, Punct, Slot, End };

struct Token {
  Tok type = Tok::End;
  std::string text;    // as written (String: the literal's content)
  std::string upper;   // Word: upper case; Slot: the slot's kind
  std::string name;    // Slot: parameter name
  bool table = false;  // pattern Word that may carry a "dbo." prefix
};

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool IsWordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string Describe(unsigned char c) {
  char buf[16];
  if (c >= 0x21 && c < 0x7F) {
    std::snprintf(buf, sizeof buf, "\"%c\"", c);
  } else {
    std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
  }
  return buf;
}

// Splits a statement (or, with patterns, a shape) into tokens. Blanks between
// tokens carry no meaning; comments, statement separators and characters that
// no accepted statement holds are refused here.
bool Lex(std::string_view s, bool pattern, std::vector<Token>& out, std::string& error) {
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    Token t;
    if (IsWordStart(c) || (pattern && c == '#')) {
      if (c == '#') {
        t.table = true;
        ++i;
      }
      const std::size_t b = i;
      while (i < s.size() && IsWordChar(s[i])) ++i;
      if (i - b > kMaxWord) {
        error = "refused: overlong name";
        return false;
      }
      t.type = Tok::Word;
      t.text = std::string(s.substr(b, i - b));
      t.upper = Upper(t.text);
      out.push_back(std::move(t));
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < s.size() && IsDigit(s[i + 1]))) {
      std::size_t b = i;
      while (i < s.size() && IsDigit(s[i])) ++i;
      if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i;
      }
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
        if (e < s.size() && IsDigit(s[e])) {
          i = e;
          while (i < s.size() && IsDigit(s[i])) ++i;
        }
      }
      if (i < s.size() && (IsWordChar(s[i]) || s[i] == '.')) {
        error = "refused: malformed number \"" +
                std::string(s.substr(b, std::min<std::size_t>(i - b + 1, kMaxNumber))) + "\"";
        return false;
      }
      if (i - b > kMaxNumber) {
        error = "refused: overlong literal";
        return false;
      }
      t.type = Tok::Number;
      t.text = std::string(s.substr(b, i - b));
      out.push_back(std::move(t));
      continue;
    }
    if (c == '\'') {
      std::string content;
      ++i;
      bool closed = false;
      while (i < s.size()) {
        const auto d = static_cast<unsigned char>(s[i]);
        if (d == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            content += '\'';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        if (d < 0x20 || d == 0x7F) {
          error = "refused: a text literal holds the control character " + Describe(d);
          return false;
        }
        content += static_cast<char>(d);
        ++i;
        if (content.size() > kMaxTextLiteral) {
          error = "refused: overlong literal";
          return false;
        }
      }
      if (!closed) {
        error = "refused: unterminated text literal";
        return false;
      }
      t.type = Tok::String;
      t.text = std::move(content);
      out.push_back(std::move(t));
      continue;
    }
    if (pattern && c == '{') {
      const auto close = s.find('}', i);
      const auto colon = s.find(':', i);
      t.type = Tok::Slot;
      t.upper = std::string(s.substr(i + 1, colon - i - 1));
      t.name = std::string(s.substr(colon + 1, close - colon - 1));
      i = close + 1;
      out.push_back(std::move(t));
      continue;
    }
    if ((c == '-' && i + 1 < s.size() && s[i + 1] == '-') ||
        (c == '/' && i + 1 < s.size() && s[i + 1] == '*')) {
      error = "refused: comments are not allowed";
      return false;
    }
    if (c == ';') {
      error = "refused: stacked statements are not allowed (\";\")";
      return false;
    }
    if (c == '(' || c == ')' || c == ',' || c == '=' || c == '.' || c == '-' || c == '>') {
      t.type = Tok::Punct;
      t.text = std::string(1, c);
      out.push_back(std::move(t));
      ++i;
      continue;
    }
    error = "refused: the character " + Describe(static_cast<unsigned char>(c)) +
            " is not allowed outside a text literal";
    return false;
  }
  out.push_back(Token{});
  return true;
}

struct Shape {
  std::string name;
  StatementKind kind;
  std::string table;
  std::vector<Token> tokens;
  std::string sql;
  bool usesNow = false;
};

// The statement shapes of the control, one per statement it builds, with the
// blanks normalised; the lexer makes blanks irrelevant. Slots are written
// {kind:Name}: the literal found there is checked by its kind and bound as
// :Name. A name that appears twice must carry the same value both times.
struct ShapeSource {
  const char* name;
  StatementKind kind;
  const char* pattern;
};

std::vector<ShapeSource> ShapeSources() {
  using K = StatementKind;
  std::vector<ShapeSource> v = {
      {"membership fee insert", K::Insert,
       "INSERT INTO #MembershipFee ( CenterID, EffectivityDate, MembershipFee, Term, "
       "MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated) VALUES "
       "({center:CenterID}, {date:EffectivityDate}, {money:MembershipFee}, {count:Term}, "
       "{frac:MembershipRoyalty}, {money:MinimumRoyalty}, {frac:RoyaltyReserve}, GETDATE())"},
      {"membership fee update", K::Update,
       "UPDATE #MembershipFee SET EffectivityDate = {date:EffectivityDate}, MembershipFee = "
       "{money:MembershipFee}, Term = {count:Term}, MembershipRoyalty = {frac:MembershipRoyalty}, "
       "MinimumRoyalty = {money:MinimumRoyalty}, RoyaltyReserve = {frac:RoyaltyReserve}, "
       "RecordLastUpdated = GETDATE() WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID}"},
      {"membership fee delete", K::Delete,
       "DELETE FROM #MembershipFee WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID "
       "= {center:CenterID}"},
      {"renewal option fee insert", K::Insert,
       "INSERT INTO #RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
       "RecordLastUpdated) VALUES ({center:CenterID}, {date:EffectivityDate}, "
       "{money:RenewalOptionFee}, GETDATE())"},
      {"renewal option fee update", K::Update,
       "UPDATE #RenewalOptionFee SET EffectivityDate = {date:EffectivityDate}, RenewalOptionFee = "
       "{money:RenewalOptionFee}, RecordLastUpdated = GETDATE() WHERE EffectivityDate = "
       "{date:OldEffectivityDate} AND CenterID = {center:CenterID}"},
      {"renewal option fee delete", K::Delete,
       "DELETE FROM #RenewalOptionFee WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID}"},
      {"Beta APR insert", K::Insert,
       "INSERT INTO #BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
       "RecordLastUpdated) VALUES ({center:CenterID}, {date:EffectivityDate}, {frac:BetaAPR}, "
       "{int:BetaAPRTypeID}, GETDATE())"},
      {"Beta APR update", K::Update,
       "UPDATE #BetaAPR SET EffectivityDate = {date:EffectivityDate}, BetaAPR = {frac:BetaAPR}, "
       "BetaAPRTypeID = {int:BetaAPRTypeID}, RecordLastUpdated = GETDATE() WHERE EffectivityDate "
       "= {date:OldEffectivityDate} AND CenterID = {center:CenterID} AND BetaAPRTypeID = "
       "{int:OldBetaAPRTypeID}"},
      {"Beta APR delete", K::Delete,
       "DELETE FROM #BetaAPR WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
       "{center:CenterID} AND BetaAPRTypeID = {int:OldBetaAPRTypeID}"},
      {"Beta processing fee insert", K::Insert,
       "INSERT INTO #BetaProcessingFee ( CenterID, BetaContractTypeID, EffectivityDate, "
       "BetaProcessingFee, RecordLastUpdated) VALUES ({center:CenterID}, "
       "{int:BetaContractTypeID}, {date:EffectivityDate}, {money:BetaProcessingFee}, GETDATE())"},
      {"Beta processing fee update", K::Update,
       "UPDATE #BetaProcessingFee SET BetaContractTypeID = {int:BetaContractTypeID}, "
       "EffectivityDate = {date:EffectivityDate}, BetaProcessingFee = {money:BetaProcessingFee}, "
       "RecordLastUpdated = GETDATE() WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID} AND BetaContractTypeID = {int:OldBetaContractTypeID}"},
      {"Beta processing fee delete", K::Delete,
       "DELETE FROM #BetaProcessingFee WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID} AND BetaContractTypeID = {int:OldBetaContractTypeID}"},
      {"Beta reserve insert", K::Insert,
       "INSERT INTO #BetaReserve( CenterID, ContractType, CreditTypeBitwiseValue, "
       "EffectivityDate, BetaReserve, RecordLastUpdated) VALUES ({center:CenterID}, "
       "{int:ContractType}, {int:CreditTypeBitwiseValue}, {date:EffectivityDate}, "
       "{frac:BetaReserve}, GETDATE())"},
      {"Beta reserve update", K::Update,
       "UPDATE #BetaReserve SET ContractType = {int:ContractType}, CreditTypeBitwiseValue = "
       "{int:CreditTypeBitwiseValue}, EffectivityDate = {date:EffectivityDate}, BetaReserve = "
       "{frac:BetaReserve}, RecordLastUpdated = GETDATE() WHERE EffectivityDate = "
       "{date:OldEffectivityDate} AND CenterID = {center:CenterID} AND ContractType = "
       "{int:OldContractType}"},
      {"Beta reserve delete", K::Delete,
       "DELETE FROM #BetaReserve WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
       "{center:CenterID} AND ContractType = {int:OldContractType}"},
      {"renewal fee expiry", K::Expire,
       "UPDATE #MembershipRenewalFee SET ExpirationDate = {dateadd:ExpirationDate} WHERE CenterID "
       "= {center:CenterID} AND MemberAccessLevelID = {int:MemberAccessLevelID} AND "
       "TravelMembership = {bit:TravelMembership} AND ExpirationDate IS NULL"},
      {"renewal fee expiry sparing the edited record", K::Expire,
       "UPDATE #MembershipRenewalFee SET ExpirationDate = {dateadd:ExpirationDate} WHERE CenterID "
       "= {center:CenterID} AND MemberAccessLevelID = {int:MemberAccessLevelID} AND "
       "TravelMembership = {bit:TravelMembership} AND ExpirationDate IS NULL AND NOT ( "
       "EffectivityDate = {date:OldEffectivityDate} AND MemberAccessLevelID = "
       "{int:OldMemberAccessLevelID} AND ISNULL(TravelMembership, 0) = {bit:OldTravelMembership})"},
      {"renewal fee insert", K::Insert,
       "INSERT INTO #MembershipRenewalFee ( CenterID, EffectivityDate, MembershipRenewalFee, "
       "CenterPortion, MemberAccessLevelID, TravelMembership, RecordLastUpdated) VALUES "
       "({center:CenterID}, {date:EffectivityDate}, {money:MembershipRenewalFee}, "
       "{frac:CenterPortion}, {int:MemberAccessLevelID}, {bit:TravelMembership}, GETDATE())"},
      {"renewal fee update", K::Update,
       "UPDATE #MembershipRenewalFee SET EffectivityDate = {date:EffectivityDate}, "
       "MembershipRenewalFee = {money:MembershipRenewalFee}, CenterPortion = {frac:CenterPortion}, "
       "MemberAccessLevelID = {int:MemberAccessLevelID}, RecordLastUpdated = GETDATE() WHERE "
       "EffectivityDate = {date:OldEffectivityDate} AND CenterID = {center:CenterID} AND "
       "ISNULL(TravelMembership, 0) = {bit:OldTravelMembership} AND MemberAccessLevelID = "
       "{int:OldMemberAccessLevelID}"},
      // An edit that changes the travel flag also sends the new flag, so that
      // the row keeps matching the key the control holds for it.
      {"renewal fee update with its travel flag", K::Update,
       "UPDATE #MembershipRenewalFee SET EffectivityDate = {date:EffectivityDate}, "
       "MembershipRenewalFee = {money:MembershipRenewalFee}, CenterPortion = {frac:CenterPortion}, "
       "MemberAccessLevelID = {int:MemberAccessLevelID}, TravelMembership = "
       "{bit:TravelMembership}, RecordLastUpdated = GETDATE() WHERE "
       "EffectivityDate = {date:OldEffectivityDate} AND CenterID = {center:CenterID} AND "
       "ISNULL(TravelMembership, 0) = {bit:OldTravelMembership} AND MemberAccessLevelID = "
       "{int:OldMemberAccessLevelID}"},
      {"renewal fee delete", K::Delete,
       "DELETE FROM #MembershipRenewalFee WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID}"},
      {"renewal fee delete by access level", K::Delete,
       "DELETE FROM #MembershipRenewalFee WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID} AND MemberAccessLevelID = {int:OldMemberAccessLevelID} AND "
       "ISNULL(TravelMembership, 0) = {bit:OldTravelMembership}"},
      {"renewal fee reopening", K::Reopen,
       "UPDATE #MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = {center:CenterID} "
       "AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = {int:MemberAccessLevelID} AND "
       "MemberAccessLevelID NOT IN (SELECT MemberAccessLevelID FROM #MembershipRenewalFee WHERE "
       "CenterID = {center:CenterID} and ISNULL(ExpirationDate, {date:NeverExpires}) > GETDATE() "
       "AND MemberAccessLevelID = {int:MemberAccessLevelID} ) AND "
       "#MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM "
       "#MembershipRenewalFee WHERE CenterID = {center:CenterID} AND ExpirationDate IS NOT NULL "
       "AND MemberAccessLevelID = {int:MemberAccessLevelID})"},
      {"bank account insert", K::Insert,
       "INSERT INTO #BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, AccountNumber, "
       "SweepSpan, Opened, Closed, RecordLastUpdated) VALUES ({center:CenterID}, {int:Type}, "
       "{date:EffectivityDate}, {text:RoutingNumber}, {text:AccountNumber}, {count:SweepSpan}, "
       "{date:Opened}, {datenull:Closed}, GETDATE())"},
      {"bank account update", K::Update,
       "UPDATE #BankAccount SET Type = {int:Type}, EffectivityDate = {date:EffectivityDate}, "
       "RoutingNumber = {text:RoutingNumber}, AccountNumber = {text:AccountNumber}, SweepSpan = "
       "{count:SweepSpan}, Opened = {date:Opened}, Closed = {datenull:Closed}, RecordLastUpdated "
       "= GETDATE() WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
       "{center:CenterID} AND Type = {int:OldType}"},
      {"bank account delete", K::Delete,
       "DELETE FROM #BankAccount WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
       "{center:CenterID} AND Type = {int:OldType}"},
      {"sales tax insert", K::Insert,
       "INSERT INTO #SalesTax ( CenterID, Type, EffectivityDate, Membership, Renewal, "
       "Merchandise, RecordLastUpdated) VALUES ({center:CenterID}, {int:Type}, "
       "{date:EffectivityDate}, {frac:Membership}, {frac:Renewal}, {frac:Merchandise}, "
       "GETDATE())"},
      {"sales tax update", K::Update,
       "UPDATE #SalesTax SET EffectivityDate = {date:EffectivityDate}, Membership = "
       "{frac:Membership}, Renewal = {frac:Renewal}, Merchandise = {frac:Merchandise}, "
       "RecordLastUpdated = GETDATE() WHERE EffectivityDate = {date:OldEffectivityDate} AND "
       "CenterID = {center:CenterID} AND Type = {int:Type}"},
      {"sales tax delete", K::Delete,
       "DELETE FROM #SalesTax WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
       "{center:CenterID} AND Type = {int:Type}"},
  };
  // The two Value Plus tables share their statements but for the fee column.
  static const std::array<std::string, 6> kValuePlus = [] {
    std::array<std::string, 6> out;
    std::size_t k = 0;
    for (const char* t : {"ValuePlusFee", "ValuePlusRenewalFee"}) {
      const std::string n(t);
      out[k++] = "INSERT INTO #" + n + " ( CenterID, EffectivityDate, " + n +
                 ", CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated) VALUES "
                 "({center:CenterID}, {date:EffectivityDate}, {money:" +
                 n +
                 "}, {money:CenterPortion}, {money:HarnolPortion}, {money:HealthFee}, GETDATE())";
      out[k++] = "UPDATE #" + n + " SET EffectivityDate = {date:EffectivityDate}, " + n +
                 " = {money:" + n +
                 "}, CenterPortion = {money:CenterPortion}, HarnolPortion = "
                 "{money:HarnolPortion}, HealthFee = {money:HealthFee}, RecordLastUpdated = "
                 "GETDATE() WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
                 "{center:CenterID}";
      out[k++] = "DELETE FROM #" + n +
                 " WHERE EffectivityDate = {date:OldEffectivityDate} AND CenterID = "
                 "{center:CenterID}";
    }
    return out;
  }();
  v.push_back({"Value Plus fee insert", K::Insert, kValuePlus[0].c_str()});
  v.push_back({"Value Plus fee update", K::Update, kValuePlus[1].c_str()});
  v.push_back({"Value Plus fee delete", K::Delete, kValuePlus[2].c_str()});
  v.push_back({"Value Plus renewal fee insert", K::Insert, kValuePlus[3].c_str()});
  v.push_back({"Value Plus renewal fee update", K::Update, kValuePlus[4].c_str()});
  v.push_back({"Value Plus renewal fee delete", K::Delete, kValuePlus[5].c_str()});
  return v;
}

// The page's own SQLite text of a shape: GETDATE() becomes :Now, ISNULL
// becomes IFNULL and every slot a named parameter.
std::string BuildSql(const std::vector<Token>& tokens, bool& usesNow) {
  std::string sql;
  auto append = [&sql](const std::string& piece, bool glue) {
    if (!sql.empty() && !glue && sql.back() != '.' && sql.back() != '(') sql += ' ';
    sql += piece;
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    switch (t.type) {
      case Tok::Word:
        if (t.upper == "GETDATE" && i + 2 < tokens.size() && tokens[i + 1].text == "(" &&
            tokens[i + 2].text == ")") {
          append(":Now", false);
          usesNow = true;
          i += 2;
        } else if (t.upper == "ISNULL") {
          append("IFNULL", false);
        } else {
          append(t.text, false);
        }
        break;
      case Tok::Number:
        append(t.text, false);
        break;
      case Tok::Punct:
        append(t.text, t.text == "." || t.text == "," || t.text == ")");
        break;
      case Tok::Slot:
        append(":" + t.name, false);
        break;
      case Tok::String:
      case Tok::End:
        break;
    }
  }
  return sql;
}

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = [] {
    std::vector<Shape> out;
    for (const ShapeSource& src : ShapeSources()) {
      Shape s;
      s.name = src.name;
      s.kind = src.kind;
      std::string error;
      Lex(src.pattern, true, s.tokens, error);
      for (const Token& t : s.tokens) {
        if (t.table) {
          s.table = t.text;
          break;
        }
      }
      s.sql = BuildSql(s.tokens, s.usesNow);
      out.push_back(std::move(s));
    }
    return out;
  }();
  return shapes;
}

const std::array<std::string_view, 10> kFeeTables = {
    "MEMBERSHIPFEE",     "VALUEPLUSFEE", "VALUEPLUSRENEWALFEE",  "RENEWALOPTIONFEE", "BETAAPR",
    "BETAPROCESSINGFEE", "BETARESERVE",  "MEMBERSHIPRENEWALFEE", "BANKACCOUNT",      "SALESTAX"};

std::string Quote(const Token& t) {
  switch (t.type) {
    case Tok::End:
      return "the end of the statement";
    case Tok::String: {
      std::string c = t.text.size() > 30 ? t.text.substr(0, 30) + "..." : t.text;
      return "'" + c + "'";
    }
    default:
      return "\"" + t.text + "\"";
  }
}

std::string Expectation(const Token& p) {
  switch (p.type) {
    case Tok::End:
      return "the end of the statement";
    case Tok::Slot:
      if (p.upper == "date") return "a date in quotes for " + p.name;
      if (p.upper == "datenull") return "NULL or a date in quotes for " + p.name;
      if (p.upper == "text") return "a text in quotes for " + p.name;
      if (p.upper == "dateadd") return "DATEADD(ss, -1, 'date') for " + p.name;
      return "a number for " + p.name;
    default:
      return "\"" + p.text + "\"";
  }
}

// How a name reads in a message: OldEffectivityDate is "the old EffectivityDate".
std::string Label(const std::string& name) {
  if (name.size() > 3 && name.compare(0, 3, "Old") == 0 &&
      std::isupper(static_cast<unsigned char>(name[3]))) {
    return "the old " + name.substr(3);
  }
  return name;
}

struct Failure {
  std::size_t progress = 0;  // input tokens matched before the failure
  bool valueError = false;
  std::string message;
  std::vector<std::string> expected;
};

class Matcher {
 public:
  Matcher(const std::vector<Token>& input, const Shape& shape) : in_(input), shape_(shape) {}

  bool Run(ParsedStatement& out, Failure& failure) {
    const auto& pat = shape_.tokens;
    for (std::size_t k = 0; k < pat.size(); ++k) {
      const Token& p = pat[k];
      const Token& t = in_[i_];
      bool ok = false;
      switch (p.type) {
        case Tok::End:
          ok = t.type == Tok::End;
          break;
        case Tok::Word:
          if (p.table && t.type == Tok::Word && t.upper == "DBO" && in_[i_ + 1].text == "." &&
              in_[i_ + 2].type == Tok::Word) {
            i_ += 2;
          }
          ok = in_[i_].type == Tok::Word && in_[i_].upper == p.upper;
          if (ok) ++i_;
          break;
        case Tok::Punct:
          ok = t.type == Tok::Punct && t.text == p.text;
          if (ok) ++i_;
          break;
        case Tok::Number:
          ok = t.type == Tok::Number && t.text == p.text;
          if (ok) ++i_;
          break;
        case Tok::Slot:
          ok = Slot(p);
          if (!ok && !valueError_.empty()) {
            failure = {i_, true, valueError_, {}};
            return false;
          }
          break;
        case Tok::String:
          break;
      }
      if (!ok) {
        failure = {i_, false, {}, {Expectation(p)}};
        return false;
      }
    }
    out.kind = shape_.kind;
    out.table = shape_.table;
    out.mustMatchRow = shape_.kind == StatementKind::Update || shape_.kind == StatementKind::Delete;
    out.sql = &shape_.sql;
    out.usesNow = shape_.usesNow;
    out.parameters = std::move(params_);
    out.center = center_;
    return true;
  }

 private:
  // Reads an optional minus sign and a number.
  const Token* SignedNumber(bool& negative) {
    negative = false;
    std::size_t j = i_;
    if (in_[j].type == Tok::Punct && in_[j].text == "-") {
      negative = true;
      ++j;
    }
    if (in_[j].type != Tok::Number) return nullptr;
    i_ = j + 1;
    return &in_[j];
  }

  bool Bind(const std::string& name, ParameterValue value) {
    for (const Parameter& existing : params_) {
      if (existing.name == name) {
        if (existing.value != value) {
          valueError_ = "refused: " + Label(name) + " differs between the parts of the statement";
          return false;
        }
        return true;
      }
    }
    params_.push_back({name, std::move(value)});
    return true;
  }

  std::optional<Decimal> Number(const Token& p) {
    bool negative = false;
    const Token* t = SignedNumber(negative);
    if (!t) return std::nullopt;
    auto d = Decimal::Parse(t->text);
    if (!d) {
      valueError_ = "refused: " + Label(p.name) + " is not a number the page reads: " + t->text;
      return std::nullopt;
    }
    d->negative = negative && !d->IsZero();
    return d;
  }

  bool WholeNumber(const Token& p, std::int64_t min, std::int64_t max) {
    auto d = Number(p);
    if (!d) return false;
    auto v = d->ToInteger();
    if (!v || *v < min || *v > max) {
      valueError_ = "refused: " + Label(p.name) + " must be a whole number from " +
                    std::to_string(min) + " to " + std::to_string(max) + ", not " + d->ToText();
      return false;
    }
    if (p.upper == "center") {
      if (center_ >= 0 && center_ != *v) {
        valueError_ = "refused: CenterID differs between the parts of the statement";
        return false;
      }
      center_ = *v;
    }
    return Bind(p.name, *v);
  }

  std::optional<std::string> DateText(const Token& p, const Token& t) {
    auto ts = Timestamp::Parse(t.text);
    if (!ts) {
      valueError_ = "refused: " + Label(p.name) + " '" + t.text +
                    "' is not a date the page reads (mm/dd/yyyy or yyyy-mm-dd, years 1753 to "
                    "9999)";
      return std::nullopt;
    }
    return ts->ToStorage();
  }

  bool Slot(const Token& p) {
    constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
    const std::string& kind = p.upper;
    if (kind == "center") return WholeNumber(p, 0, kInt32Max);
    if (kind == "count") return WholeNumber(p, 0, kInt32Max);
    if (kind == "int") return WholeNumber(p, kInt32Min, kInt32Max);
    if (kind == "bit") return WholeNumber(p, 0, 1);
    if (kind == "money") {
      auto d = Number(p);
      if (!d) return false;
      if (d->negative) {
        valueError_ = "refused: " + Label(p.name) + " must not be negative";
        return false;
      }
      auto units = d->ToMoneyUnits();
      if (!units) {
        valueError_ = "refused: " + Label(p.name) + " " + d->ToText() + " is too large";
        return false;
      }
      return Bind(p.name, *units);
    }
    if (kind == "frac") {
      auto d = Number(p);
      if (!d) return false;
      if (d->negative || d->CompareWith(1) > 0) {
        valueError_ =
            "refused: " + Label(p.name) + " must be a fraction from 0 to 1, not " + d->ToText();
        return false;
      }
      return Bind(p.name, d->ToText());
    }
    if (kind == "date" || kind == "datenull") {
      const Token& t = in_[i_];
      if (kind == "datenull" && t.type == Tok::Word && t.upper == "NULL") {
        ++i_;
        return Bind(p.name, std::monostate{});
      }
      if (t.type != Tok::String) return false;
      ++i_;
      auto d = DateText(p, t);
      return d && Bind(p.name, *d);
    }
    if (kind == "text") {
      const Token& t = in_[i_];
      if (t.type != Tok::String) return false;
      ++i_;
      if (Utf8Length(t.text) > kMaxTextColumn) {
        valueError_ = "refused: " + Label(p.name) + " is longer than " +
                      std::to_string(kMaxTextColumn) + " characters";
        return false;
      }
      return Bind(p.name, t.text);
    }
    if (kind == "dateadd") {
      // DATEADD(ss, n, 'date')
      const std::size_t start = i_;
      auto is = [this](Tok type, std::string_view text) {
        const Token& t = in_[i_];
        if (t.type != type || (type == Tok::Word ? t.upper != text : t.text != text)) return false;
        ++i_;
        return true;
      };
      if (!is(Tok::Word, "DATEADD") || !is(Tok::Punct, "(") || !is(Tok::Word, "SS") ||
          !is(Tok::Punct, ",")) {
        i_ = start;
        return false;
      }
      bool negative = false;
      const Token* n = SignedNumber(negative);
      if (!n || !is(Tok::Punct, ",")) return false;
      const Token& dateToken = in_[i_];
      if (dateToken.type != Tok::String) return false;
      ++i_;
      if (!is(Tok::Punct, ")")) return false;
      auto amount = Decimal::Parse(n->text);
      auto seconds = amount ? amount->ToInteger() : std::nullopt;
      if (!seconds || *seconds > kInt32Max) {
        valueError_ = "refused: DATEADD takes a whole number of seconds";
        return false;
      }
      auto base = Timestamp::Parse(dateToken.text);
      if (!base) {
        DateText(p, dateToken);
        return false;
      }
      auto result = base->AddSeconds(negative ? -*seconds : *seconds);
      if (!result) {
        valueError_ = "refused: DATEADD leaves the range of dates";
        return false;
      }
      return Bind(p.name, result->ToStorage());
    }
    return false;
  }

  const std::vector<Token>& in_;
  const Shape& shape_;
  std::size_t i_ = 0;
  std::vector<Parameter> params_;
  std::string valueError_;
  std::int64_t center_ = -1;
};

std::string Context(const std::vector<Token>& in, std::size_t at) {
  std::string s;
  const std::size_t from = at > 4 ? at - 4 : 0;
  for (std::size_t k = from; k < at; ++k) {
    if (!s.empty()) s += ' ';
    s += in[k].type == Tok::String ? "'" + in[k].text + "'" : in[k].text;
  }
  return s;
}

ParseOutcome Refused(std::string message) {
  ParseOutcome o;
  o.error = std::move(message);
  return o;
}

// One statement: its table decides which shapes are tried; the reply names
// the first token that fits none of them.
std::optional<ParsedStatement> ParseOne(std::string_view text, std::string& error) {
  std::vector<Token> in;
  if (!Lex(text, false, in, error)) return std::nullopt;
  const Token& first = in.front();
  if (first.type != Tok::Word ||
      (first.upper != "INSERT" && first.upper != "UPDATE" && first.upper != "DELETE")) {
    error =
        "refused: only INSERT, UPDATE and DELETE statements of the fee tables are accepted, "
        "not " +
        Quote(first);
    return std::nullopt;
  }
  std::size_t at = 1;
  if (first.upper != "UPDATE") {
    const char* need = first.upper == "INSERT" ? "INTO" : "FROM";
    if (in[at].type != Tok::Word || in[at].upper != need) {
      error = "refused: expected \"" + std::string(need) + "\" after \"" + first.text +
              "\" but found " + Quote(in[at]);
      return std::nullopt;
    }
    ++at;
  }
  if (in[at].type == Tok::Word && in[at].upper == "DBO" && in[at + 1].text == ".") at += 2;
  if (in[at].type != Tok::Word ||
      std::find(kFeeTables.begin(), kFeeTables.end(), in[at].upper) == kFeeTables.end()) {
    error = "refused: " + Quote(in[at]) + " is not a fee table";
    return std::nullopt;
  }
  const std::string& table = in[at].upper;
  const auto& shapes = Shapes();
  Failure best;
  bool haveFailure = false;
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    const Shape& shape = shapes[s];
    if (Upper(shape.table) != table || shape.tokens.front().upper != first.upper) continue;
    ParsedStatement out;
    Failure f;
    Matcher m(in, shape);
    if (m.Run(out, f)) {
      out.shape = static_cast<int>(s);
      return out;
    }
    if (!haveFailure || f.progress > best.progress ||
        (f.progress == best.progress && f.valueError && !best.valueError)) {
      best = std::move(f);
      haveFailure = true;
    } else if (f.progress == best.progress && !f.valueError && !best.valueError) {
      for (auto& e : f.expected) {
        if (std::find(best.expected.begin(), best.expected.end(), e) == best.expected.end()) {
          best.expected.push_back(e);
        }
      }
    }
  }
  if (best.valueError) {
    error = best.message;
  } else {
    std::string expected;
    for (std::size_t k = 0; k < best.expected.size(); ++k) {
      if (k) expected += " or ";
      expected += best.expected[k];
    }
    error = "refused: this is not a statement the fee page accepts: after \"" +
            Context(in, best.progress) + "\" expected " + expected + " but found " +
            Quote(in[best.progress]);
  }
  return std::nullopt;
}

}  // namespace

std::string_view KindName(StatementKind kind) {
  switch (kind) {
    case StatementKind::Insert:
      return "INSERT";
    case StatementKind::Update:
      return "UPDATE";
    case StatementKind::Delete:
      return "DELETE";
    case StatementKind::Expire:
      return "EXPIRE";
    case StatementKind::Reopen:
      return "REOPEN";
  }
  return "?";
}

ParseOutcome ParseStatementText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return Refused("refused: the statement holds a NUL byte");
  }
  if (text.size() > kMaxStatementText) {
    return Refused("refused: the statement text is too long");
  }
  // Statements are separated by line breaks (the control writes CR LF).
  std::vector<std::string_view> parts;
  std::size_t b = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
      std::string_view part = text.substr(b, i - b);
      if (part.find_first_not_of(" \t") != std::string_view::npos) parts.push_back(part);
      if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
      b = i + 1;
    }
  }
  if (parts.empty()) return Refused("refused: the text holds no statement");
  if (parts.size() > 2) {
    return Refused("refused: a text may hold at most two statements, this one holds " +
                   std::to_string(parts.size()));
  }
  ParseOutcome outcome;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    std::string error;
    auto st = ParseOne(parts[k], error);
    if (!st) {
      if (parts.size() > 1) {
        error.insert(std::string("refused: ").size(), "statement " + std::to_string(k + 1) + ": ");
      }
      return Refused(std::move(error));
    }
    outcome.statements.push_back(std::move(*st));
  }
  return outcome;
}

std::size_t ShapeCount() { return Shapes().size(); }
const std::string& ShapeSql(std::size_t shape) { return Shapes().at(shape).sql; }
std::string_view ShapeName(std::size_t shape) { return Shapes().at(shape).name; }

}  // namespace harnolfees::server
