#include "harnolfees/recordset.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

DateTime Day(int y, int m, int d) { return DateTime::FromParts(y, m, d); }

// A small set shaped like the membership renewal fees.
class RenewalSet : public ::testing::Test {
 protected:
  RenewalSet() : rs("8 (Membership renewal fee)") {
    rs.AppendField("Effectivity", FieldType::Date);
    rs.AppendField("MemberAccessLevelID", FieldType::SmallInt);
    rs.AppendField("TravelMembership", FieldType::SmallInt);
    rs.AppendField("MembershipRenewalFee", FieldType::Currency);
    rs.AppendField("CenterPortion", FieldType::Double);
    rs.AppendField("MemberAccessLevelDescription", FieldType::Char, 10);
    rs.AppendField("RoutingNumber", FieldType::VarChar, 5);
    rs.AppendField("Royalty", FieldType::Single);
    rs.AppendField("ObjectID", FieldType::Integer);
    rs.Open();
  }

  // Adds a record; a Null date leaves the field Null.
  void Add(Value date, int level, int travel = 0, bool commit = true) {
    rs.AddNew();
    rs.SetValue("Effectivity", date);
    rs.SetValue("MemberAccessLevelID", static_cast<std::int32_t>(level));
    rs.SetValue("TravelMembership", static_cast<std::int32_t>(travel));
    if (commit) rs.Update();
  }

  // Walks the visible records from MoveFirst and lists their access levels.
  std::vector<int> Levels() {
    std::vector<int> out;
    rs.MoveFirst();
    while (!rs.IsEOF()) {
      out.push_back(Level(rs.GetValue("MemberAccessLevelID")));
      rs.MoveNext();
    }
    return out;
  }
  static int Level(const Value& v) { return std::get<std::int16_t>(v.storage()); }

  RecordSet rs;
};

using testing::ControlErrorOf;

int ErrorNumber(const std::function<void()>& action) { return ControlErrorOf(action).first; }

TEST_F(RenewalSet, EmptySetHasNoRecordAWalkEndsAtEofAndLifecycleMisuseIsRefused) {
  EXPECT_EQ(rs.State(), RecordSet::kStateOpen);
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_TRUE(rs.IsEOF());
  rs.MoveFirst();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(ErrorNumber([&] { rs.GetValue("Effectivity"); }), errc::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs.SetValue("Effectivity", Day(2004, 1, 1)); }),
            errc::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs.Delete(); }), errc::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs.Update(); }), errc::kNoCurrentRecord);
  // A walk follows the insertion order and ends at EOF.
  Add(Day(2004, 1, 1), 2);
  Add(Day(2003, 1, 1), 1);
  Add(Day(2005, 1, 1), 3);
  EXPECT_EQ(rs.RecordCount(), 3);
  EXPECT_EQ(Levels(), (std::vector<int>{2, 1, 3}));
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_FALSE(rs.IsBOF());
  EXPECT_EQ(ErrorNumber([&] { rs.MoveNext(); }), errc::kNoCurrentRecord);
  EXPECT_NE(ControlErrorOf([&] { rs.GetValue("Effectivity"); }).second.find("EOF"),
            std::string::npos);
  // Lifecycle misuse is refused.
  EXPECT_EQ(ErrorNumber([&] { rs.AppendField("Late", FieldType::Date); }),
            errc::kOperationNotAllowed);
  EXPECT_EQ(ErrorNumber([&] { rs.Open(); }), errc::kOperationNotAllowed);
  rs.Close();
  EXPECT_EQ(rs.State(), RecordSet::kStateClosed);
  EXPECT_EQ(ErrorNumber([&] { rs.AddNew(); }), errc::kOperationNotAllowed);
  EXPECT_EQ(ErrorNumber([&] { rs.MoveFirst(); }), errc::kOperationNotAllowed);
  EXPECT_EQ(ErrorNumber([&] { rs.Close(); }), errc::kOperationNotAllowed);
  RecordSet other("other");
  other.AppendField("A", FieldType::Date);
  EXPECT_EQ(ErrorNumber([&] { other.AppendField("a", FieldType::Date); }),
            errc::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumber([&] { other.AppendField("T", FieldType::Char, 0); }),
            errc::kInvalidPropertyValue);
}

TEST_F(RenewalSet, WritesConvertToTheFieldTypeOfAFieldFoundByAnyCase) {
  rs.AddNew();
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(rs.GetValue(i).IsNull());
  const std::vector<std::tuple<const char*, Value, Value>> writes = {
      {"MemberAccessLevelID", Value("2.5"), Value(std::int16_t{2})},
      {"MemberAccessLevelID", Value(3.5), Value(std::int16_t{4})},
      {"TravelMembership", Value(true), Value(std::int16_t{-1})},
      {"ObjectID", Value(" 70000 "), Value(std::int32_t{70000})},
      {"MembershipRenewalFee", Value("1,234.5"), Value(Money::FromUnits(12345000))},
      {"MembershipRenewalFee", Value(std::int32_t{7}), Value(Money::FromUnits(70000))},
      {"CenterPortion", Value("0.125"), Value(0.125)},
      {"Royalty", Value(0.1), Value(0.1f)},
      {"Effectivity", Value("03/15/2004"), Value(Day(2004, 3, 15))},
      {"MemberAccessLevelDescription", Value(std::int32_t{42}), Value("42")},
      {"MemberAccessLevelDescription", Value("Gold"), Value("Gold")},
  };
  for (const auto& [field, in, out] : writes) {
    rs.SetValue(field, in);
    EXPECT_EQ(rs.GetValue(field), out) << field;
  }
  // Field names are case-blind; unknown names and indexes are refused, by name.
  EXPECT_EQ(rs.FieldIndex("effectivity"), 0);
  EXPECT_EQ(rs.FieldIndex("MEMBERACCESSLEVELID"), 1);
  EXPECT_EQ(rs.FindFieldIndex("Term"), -1);
  EXPECT_EQ(rs.Fields("effECTivity").value(), Value(Day(2004, 3, 15)));
  EXPECT_EQ(ControlErrorOf([&] { rs.SetValue("Term", Value(12.0)); }),
            std::make_pair(errc::kItemNotFound,
                           std::string("Field 'Term' is not declared in record set 8 "
                                       "(Membership renewal fee)")));
  EXPECT_EQ(ErrorNumber([&] { rs.GetValue(99); }), errc::kItemNotFound);
  EXPECT_EQ(ErrorNumber([&] { rs.SetValue(-1, Value::Null()); }), errc::kItemNotFound);
  rs.SetValue("Effectivity", Value::Null());
  EXPECT_TRUE(rs.GetValue("Effectivity").IsNull());
}

TEST_F(RenewalSet, RefusedWritesNameValueTypeAndFieldAndChangeNothing) {
  rs.AddNew();
  rs.SetValue("MembershipRenewalFee", Value("5"));
  const auto abc = ControlErrorOf([&] { rs.SetValue("MembershipRenewalFee", Value("abc")); });
  EXPECT_EQ(abc.first, errc::kTypeMismatch);
  EXPECT_NE(abc.second.find("'abc' cannot be converted to adCurrency for field "
                            "'MembershipRenewalFee'"),
            std::string::npos)
      << abc.second;
  EXPECT_EQ(rs.GetValue("MembershipRenewalFee"), Value(Money::FromUnits(50000)));
  const std::vector<std::tuple<const char*, Value, int>> refused = {
      {"MemberAccessLevelID", Value("32768"), errc::kOverflow},
      {"MemberAccessLevelID", Value(-32768.6), errc::kOverflow},
      {"MemberAccessLevelID", Value(Day(2004, 1, 1)), errc::kTypeMismatch},
      {"ObjectID", Value(3e9), errc::kOverflow},
      {"Royalty", Value(1e300), errc::kOverflow},
      {"Royalty", Value(std::numeric_limits<float>::infinity()), errc::kOverflow},
      {"CenterPortion", Value(std::nan("")), errc::kOverflow},
      {"CenterPortion", Value("12abc"), errc::kTypeMismatch},
      {"MembershipRenewalFee", Value(1e18), errc::kOverflow},
      {"Effectivity", Value("2004-13-45"), errc::kTypeMismatch},
      {"Effectivity", Value(3.0), errc::kTypeMismatch},
      {"RoutingNumber", Value("123456"), errc::kOverflow},
      {"MemberAccessLevelDescription", Value("Platinum +1"), errc::kOverflow},
  };
  for (const auto& [field, in, number] : refused) {
    EXPECT_EQ(ErrorNumber([&] { rs.SetValue(field, in); }), number) << field;
  }
  for (int i : {0, 1, 2, 4, 5, 6, 7, 8}) EXPECT_TRUE(rs.GetValue(i).IsNull()) << i;
}

TEST_F(RenewalSet, DeleteLeavesNoCurrentRecordAndNextMovesOn) {
  for (int i = 1; i <= 4; ++i) Add(Day(2004, 1, i), i);
  rs.MoveFirst();
  rs.MoveNext();
  rs.Delete();
  EXPECT_FALSE(rs.HasCurrentRecord());
  EXPECT_EQ(ErrorNumber([&] { rs.GetValue("Effectivity"); }), errc::kNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs.Delete(); }), errc::kNoCurrentRecord);
  rs.MoveNext();
  EXPECT_EQ(rs.GetValue("MemberAccessLevelID"), Value(std::int16_t{3}));
  EXPECT_EQ(rs.RecordCount(), 3);
  EXPECT_EQ(Levels(), (std::vector<int>{1, 3, 4}));
  rs.MoveFirst();
  rs.Delete();
  rs.MoveFirst();
  EXPECT_EQ(rs.GetValue("MemberAccessLevelID"), Value(std::int16_t{3}));
  // Deleting while walking removes every record.
  while (!rs.IsEOF()) {
    rs.Delete();
    rs.MoveNext();
  }
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_TRUE(rs.IsEOF());
  Add(Day(2006, 1, 1), 9);
  EXPECT_EQ(Levels(), (std::vector<int>{9}));
}

TEST_F(RenewalSet, ManyRecordsKeepTheirValuesThroughDeletionsAndCompaction) {
  const int count = 5000;
  for (int i = 0; i < count; ++i) {
    rs.AddNew();
    rs.SetValue("ObjectID", Value(static_cast<std::int32_t>(i)));
    rs.SetValue("RoutingNumber", Value(std::to_string(i % 1000)));
    rs.Update();
  }
  // Keep every third record; the others go while walking.
  rs.MoveFirst();
  for (int i = 0; !rs.IsEOF(); ++i) {
    if (i % 3 != 0) rs.Delete();
    rs.MoveNext();
  }
  std::vector<std::int32_t> expected;
  for (int i = 0; i < count; i += 3) expected.push_back(i);
  auto walk = [&] {
    std::vector<std::int32_t> ids;
    rs.MoveFirst();
    for (; !rs.IsEOF(); rs.MoveNext()) {
      std::int32_t id = std::get<std::int32_t>(rs.GetValue("ObjectID").storage());
      EXPECT_EQ(rs.GetValue("RoutingNumber"), Value(std::to_string(id % 1000)));
      ids.push_back(id);
    }
    return ids;
  };
  EXPECT_EQ(rs.RecordCount(), static_cast<long>(expected.size()));
  EXPECT_EQ(walk(), expected);
  rs.SetSort("ObjectID DESC");
  EXPECT_EQ(walk(), std::vector<std::int32_t>(expected.rbegin(), expected.rend()));
  rs.SetFilter("RoutingNumber='999'");
  EXPECT_EQ(walk(), (std::vector<std::int32_t>{3999, 999}));
}

TEST_F(RenewalSet, FilterMatchesDateTextsAndJoinedClausesAndRefusesBadCriteria) {
  Add(Day(2004, 3, 15), 1, 0);
  Add(Day(2004, 3, 15), 2, 1);
  Add(Day(2004, 3, 15), 2, 0);
  Add(DateTime::FromParts(2004, 3, 15, 10, 30), 7);
  rs.SetFilter("Effectivity='3/15/2004'");
  EXPECT_EQ(Levels(), (std::vector<int>{1, 2, 2}));
  rs.SetFilter("Effectivity='03/15/2004' and TravelMembership=1 and MemberAccessLevelID= 2");
  EXPECT_EQ(rs.RecordCount(), 1);
  rs.MoveFirst();
  EXPECT_EQ(rs.GetValue("TravelMembership"), Value(std::int16_t{1}));
  rs.SetFilter("Effectivity = '3/15/2004' AND TravelMembership=0 And MemberAccessLevelID=2");
  EXPECT_EQ(rs.RecordCount(), 1);
  rs.SetFilter("Effectivity='3/15/2004 10:30:00 AM'");
  EXPECT_EQ(Levels(), (std::vector<int>{7}));
  rs.SetFilter("MemberAccessLevelID=1.5");
  EXPECT_EQ(rs.RecordCount(), 0);
  rs.SetFilter("Effectivity='1/1/1999'");
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_EQ(rs.Filter(), "Effectivity='1/1/1999'");
  rs.SetFilter("");
  EXPECT_EQ(Levels(), (std::vector<int>{1, 2, 2, 7}));
  // Bad criteria are refused and keep the previous filter.
  rs.SetFilter("MemberAccessLevelID=7");
  const std::pair<const char*, int> refused[] = {
      {"Term=2", errc::kItemNotFound},
      {"MemberAccessLevelID 2", errc::kInvalidProcedureCall},
      {"MemberAccessLevelID=abc", errc::kInvalidProcedureCall},
      {"Effectivity='3/15/2004", errc::kInvalidProcedureCall},
      {"Effectivity='3/15/2004' or MemberAccessLevelID=1", errc::kInvalidProcedureCall},
      {"Effectivity='not a date'", errc::kTypeMismatch},
      {"MemberAccessLevelDescription='O'Brien'", errc::kInvalidProcedureCall}};
  for (const auto& [criteria, number] : refused)
    EXPECT_EQ(ErrorNumber([&] { rs.SetFilter(criteria); }), number) << criteria;
  EXPECT_EQ(rs.Filter(), "MemberAccessLevelID=7");
  EXPECT_EQ(Levels(), (std::vector<int>{7}));
}

// Sorts by several fields; a sort is stable, puts Nulls first and keeps each
// record's place until it is set again.
TEST_F(RenewalSet, SortOrdersStablyWithNullsFirstAndKeepsPlacesUntilSetAgain) {
  Add(Day(2004, 1, 1), 2);
  Add(Day(2005, 6, 1), 3);
  Add(Day(2004, 1, 1), 1);
  rs.SetSort("Effectivity DESC, MemberAccessLevelID");
  EXPECT_EQ(rs.Sort(), "Effectivity DESC, MemberAccessLevelID");
  EXPECT_EQ(Levels(), (std::vector<int>{3, 1, 2}));
  rs.MoveFirst();
  EXPECT_EQ(rs.GetValue("Effectivity"), Value(Day(2005, 6, 1)));
  rs.SetSort("MemberAccessLevelID desc");
  EXPECT_EQ(Levels(), (std::vector<int>{3, 2, 1}));
  rs.SetSort("");
  EXPECT_EQ(Levels(), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(ErrorNumber([&] { rs.SetSort("Term"); }), errc::kItemNotFound);
  EXPECT_EQ(ErrorNumber([&] { rs.SetSort("Effectivity DOWN"); }), errc::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumber([&] { rs.SetSort("Effectivity,"); }), errc::kInvalidProcedureCall);
  // The sort is stable and puts Nulls first.
  Add(Value::Null(), 7);
  Add(Day(2003, 1, 1), 8);
  rs.SetSort("Effectivity");
  EXPECT_EQ(Levels(), (std::vector<int>{7, 8, 2, 1, 3}));
  // A record added or changed later keeps its place, so the n-th record from
  // MoveFirst stays the record the grid showed in that row.
  Add(Day(2001, 1, 1), 9);
  rs.MoveFirst();
  rs.MoveNext();
  rs.SetValue("Effectivity", Day(2010, 1, 1));
  EXPECT_EQ(Levels(), (std::vector<int>{7, 8, 2, 1, 3, 9}));
  rs.SetSort("Effectivity");
  EXPECT_EQ(Levels(), (std::vector<int>{7, 9, 2, 1, 3, 8}));
}

TEST_F(RenewalSet, FindSearchesForwardAmongVisibleRecordsComparingTextsLoosely) {
  rs.Find("MemberAccessLevelID=2");
  EXPECT_TRUE(rs.IsEOF());
  rs.Find("MemberAccessLevelID=2", true);
  EXPECT_TRUE(rs.IsEOF());
  Add(Day(2004, 1, 1), 1);
  Add(Day(2004, 1, 2), 2);
  Add(Day(2004, 1, 3), 1);
  rs.MoveFirst();
  rs.Find("MemberAccessLevelID=1");
  EXPECT_EQ(rs.GetValue("Effectivity"), Value(Day(2004, 1, 1)));
  rs.MoveNext();
  rs.Find("MemberAccessLevelID =  '1'");
  EXPECT_EQ(rs.GetValue("Effectivity"), Value(Day(2004, 1, 3)));
  rs.Find("MemberAccessLevelID=2");
  EXPECT_TRUE(rs.IsEOF());
  rs.Find("MemberAccessLevelID=2", true);
  EXPECT_EQ(rs.GetValue("Effectivity"), Value(Day(2004, 1, 2)));
  rs.SetFilter("Effectivity='1/3/2004'");
  rs.Find("MemberAccessLevelID=2", true);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(ErrorNumber([&] { rs.Find("MemberAccessLevelID=1 and TravelMembership=0"); }),
            errc::kInvalidProcedureCall);
  EXPECT_EQ(ErrorNumber([&] { rs.Find("Term=1"); }), errc::kItemNotFound);
  // Texts compare without trailing blanks or letter case.
  rs.SetFilter("");
  rs.AddNew();
  rs.SetValue("MemberAccessLevelDescription", Value("Gold  "));
  rs.SetValue("RoutingNumber", Value("ab "));
  rs.AddNew();
  rs.SetValue("MemberAccessLevelDescription", Value("it's"));
  rs.Find("MemberAccessLevelDescription =  'gold'", true);
  EXPECT_EQ(rs.GetValue("MemberAccessLevelDescription"), Value("Gold  "));
  rs.Find("MemberAccessLevelDescription = 'it''s'", true);
  EXPECT_EQ(rs.GetValue("MemberAccessLevelDescription"), Value("it's"));
  // Variable-length texts keep their blanks.
  rs.Find("RoutingNumber='ab'", true);
  EXPECT_TRUE(rs.IsEOF());
  rs.Find("RoutingNumber='AB '", true);
  EXPECT_FALSE(rs.IsEOF());
}

TEST_F(RenewalSet, PendingAdditionsAndChangesCanBeCancelled) {
  EXPECT_FALSE(rs.HasPending());
  EXPECT_FALSE(rs.CancelPending());
  Add(Day(2004, 1, 1), 1);
  Add(Day(2004, 1, 2), 2);
  EXPECT_FALSE(rs.HasPending());
  Add(Day(2004, 1, 3), 3, 0, /*commit=*/false);
  EXPECT_TRUE(rs.HasPending());
  rs.MoveFirst();
  rs.SetValue("MemberAccessLevelID", Value(std::int16_t{9}));
  rs.SetValue("Effectivity", Day(2009, 9, 9));
  EXPECT_EQ(Levels(), (std::vector<int>{9, 2, 3}));
  EXPECT_TRUE(rs.CancelPending());
  EXPECT_FALSE(rs.HasPending());
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(Levels(), (std::vector<int>{1, 2}));
  rs.MoveFirst();
  EXPECT_EQ(rs.GetValue("Effectivity"), Value(Day(2004, 1, 1)));
  // A committed change survives a later cancel.
  rs.SetValue("MemberAccessLevelID", Value(std::int16_t{4}));
  rs.Update();
  EXPECT_FALSE(rs.CancelPending());
  EXPECT_EQ(Levels(), (std::vector<int>{4, 2}));
  // Cancelling the current addition leaves no current record.
  Add(Day(2004, 1, 5), 5, 0, false);
  EXPECT_TRUE(rs.CancelPending());
  EXPECT_FALSE(rs.HasCurrentRecord());
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.RecordCount(), 2);
}

TEST_F(RenewalSet, TextChangesAreUndoneCommittedAndDeletedCleanly) {
  for (const char* text : {"Gold", "Silver", "A longer text"}) {
    rs.AddNew();
    rs.SetValue("MemberAccessLevelDescription", Value(std::string(text).substr(0, 10)));
    rs.SetValue("RoutingNumber", Value("r1"));
    rs.Update();
  }
  rs.MoveFirst();
  rs.SetValue("MemberAccessLevelDescription", Value("Bronze"));
  rs.SetValue("MemberAccessLevelDescription", Value("Platinum"));
  rs.SetValue("RoutingNumber", Value::Null());
  rs.MoveNext();
  rs.SetValue("MemberAccessLevelDescription", Value("Iron"));
  rs.Update();
  rs.MoveNext();
  rs.SetValue("RoutingNumber", Value("r9"));
  rs.Delete();
  rs.AddNew();
  rs.SetValue("MemberAccessLevelDescription", Value("New"));
  EXPECT_TRUE(rs.CancelPending());
  auto texts = [&] {
    std::vector<std::string> out;
    rs.ForEachRecord([&](const std::vector<Value>& v) {
      out.push_back(v[5].ToText() + "/" + v[6].ToTextOrEmpty());
    });
    return out;
  };
  EXPECT_EQ(texts(), (std::vector<std::string>{"Gold/r1", "Iron/r1"}));
  // Slots freed above are reused without disturbing the kept texts.
  for (int i = 0; i < 5; ++i) {
    rs.AddNew();
    rs.SetValue("MemberAccessLevelDescription", Value("T" + std::to_string(i)));
    rs.Update();
  }
  EXPECT_EQ(texts(),
            (std::vector<std::string>{"Gold/r1", "Iron/r1", "T0/", "T1/", "T2/", "T3/", "T4/"}));
}

TEST_F(RenewalSet, ForEachRecordSeesAllInVisitingOrderWithoutMoving) {
  Add(Day(2004, 1, 1), 1);
  Add(Day(2006, 1, 1), 2);
  Add(Day(2005, 1, 1), 3, 0, false);
  rs.SetSort("Effectivity DESC");
  rs.SetFilter("MemberAccessLevelID=1");
  rs.MoveFirst();
  std::vector<int> seen;
  rs.ForEachRecord([&](const std::vector<Value>& values) { seen.push_back(Level(values[1])); });
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(rs.GetValue("MemberAccessLevelID"), Value(std::int16_t{1}));
  EXPECT_EQ(rs.RecordCount(), 1);
}

}  // namespace
}  // namespace harnolfees
