#include <cstdio>
#include <cstring>
#include <string>

#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/date.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

constexpr FaultReason M = FaultReason::MALFORMED;
constexpr FaultReason R = FaultReason::OUT_OF_RANGE;

struct DateCase {
    std::string text;
    int year, month, day;
};

struct OrderedFaultCase {
    DateOrder order;
    std::string text;
    FaultReason reason;
    std::uint32_t offset, length;
};

::testing::AssertionResult IsDate(const Verdict<CivilDate>& v, int y, int m, int d) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (v.value.year != y || v.value.month != m || v.value.day != d) {
        return ::testing::AssertionFailure() << "got " << v.value.year << "-" << +v.value.month << "-" << +v.value.day;
    }
    return ::testing::AssertionSuccess();
}

Verdict<CivilDate> strict(const std::string& s) { return cast_date(s.data(), s.size()); }
Verdict<CivilDate> ordered(const std::string& s, DateOrder o) { return cast_date_ordered(s.data(), s.size(), o); }

std::string iso(int y, int m, int d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

TEST(StrictDate, EveryDayOfEveryYearAndTheDayAfterEachMonth) {
    char text[10] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0'};
    auto put2 = [](char* p, int v) {
        p[0] = static_cast<char>('0' + v / 10);
        p[1] = static_cast<char>('0' + v % 10);
    };
    std::int64_t day_number = days_from_civil(1, 1, 1);
    for (int y = 1; y <= 9999; ++y) {
        put2(text, y / 100);
        put2(text + 2, y % 100);
        for (int m = 1; m <= 12; ++m) {
            put2(text + 5, m);
            const int last = static_cast<int>(days_in_month(y, m));
            for (int d = 1; d <= last; ++d, ++day_number) {
                put2(text + 8, d);
                const Verdict<CivilDate> v = cast_date(text, 10);
                const CivilFields expected = civil_from_days(day_number);
                ASSERT_TRUE(v.ok() && v.value.year == expected.year && v.value.month == expected.month &&
                            v.value.day == expected.day)
                    << std::string(text, 10);
            }
            put2(text + 8, last + 1);
            ASSERT_TRUE(IsFault(cast_date(text, 10), R, 8, 2)) << std::string(text, 10);
        }
    }
}

TEST(StrictDate, ChecksFormLeftToRightThenValues) {
    const testing_support::FaultRow cases[] = {
        {"", FaultReason::EMPTY, 0, 0},
        {" \t\r\n\f", FaultReason::EMPTY, 0, 0},
        {"2024-1-05", M, 0, 9},
        {"2024-01-15T00:00", M, 0, 16},
        {"20240115", M, 0, 8},
        {"2O24-01-15", M, 0, 4},
        {"2024/01/15", M, 4, 1},
        {"2024-1a-15", M, 5, 2},
        {"2024-01_15", M, 7, 1},
        {"2024-01-1x", M, 8, 2},
        {"0000-13-45", R, 0, 4},
        {"0000-01-01", R, 0, 4},
        {"2024-00-10", R, 5, 2},
        {"2024-13-10", R, 5, 2},
        {"2024-01-00", R, 8, 2},
        {"2023-02-29", R, 8, 2},
        {"1900-02-29", R, 8, 2},
        {"  2024-04-31 ", R, 10, 2},
        {"\x0b" "2024-01-15", M, 0, 11},
        {"2024-01-15\xc3\xa9", M, 0, 12},
    };
    testing_support::expect_fault_rows(cases, strict);

    EXPECT_TRUE(IsDate(strict(" 2024-01-15\n"), 2024, 1, 15));
    EXPECT_TRUE(IsDate(strict("2000-02-29"), 2000, 2, 29));
    EXPECT_TRUE(IsDate(strict("2024-02-29"), 2024, 2, 29));
}

TEST(StrictDate, ReservedBytesOfTheRecordAreTheFieldsOnly) {
    const Verdict<CivilDate> v = strict("9999-12-31");
    ASSERT_TRUE(v.ok());
    std::uint32_t packed;
    std::memcpy(&packed, &v.value, 4);
    EXPECT_EQ(packed, 9999u | (12u << 16) | (31u << 24));
}

TEST(OrderedDate, ReadsFieldsByRole) {
    struct Case {
        DateOrder order;
        std::string text;
        int year, month, day;
    } cases[] = {
        {DateOrder::DMY, "15.01.2024", 2024, 1, 15},
        {DateOrder::DMY, "2024.01.15", 2024, 1, 15},  // a four-digit first field is the year
        {DateOrder::MDY, "2024/01/15", 2024, 1, 15},
        {DateOrder::MDY, "3/7/2024", 2024, 3, 7},
        {DateOrder::MDY, "03/07/2024", 2024, 3, 7},
        {DateOrder::DMY, "3-7-2024", 2024, 7, 3},
        {DateOrder::YMD, "2024-2-9", 2024, 2, 9},
        {DateOrder::YMD, " 0001-01-01\t", 1, 1, 1},
        {DateOrder::MDY, "12/31/9999", 9999, 12, 31},
        {DateOrder::DMY, "29/02/2000", 2000, 2, 29},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsDate(ordered(c.text, c.order), c.year, c.month, c.day)) << c.text;
}

TEST(OrderedDate, FaultTable) {
    const DateOrder Y = DateOrder::YMD, A = DateOrder::MDY, D = DateOrder::DMY;
    const OrderedFaultCase cases[] = {
        // Field 1.
        {Y, "x2024-01-01", M, 0, 1},
        {Y, "\xc3\xa9-01-01", M, 0, 1},
        {Y, "2024", M, 4, 0},
        {Y, " 1 ", M, 2, 0},
        {Y, "20240115", M, 0, 8},
        {Y, "20240-01-15", M, 0, 5},
        {Y, "1234567890123456789", M, 18, 1},
        {Y, "12345678901234567890-1-1", M, 18, 1},
        // Separators and field 2.
        {Y, "2024_01_15", M, 4, 1},
        {Y, "2024-", M, 5, 0},
        {Y, "2024-01", M, 7, 0},
        {Y, "2024-01234", M, 5, 5},
        {Y, "2024--15", M, 5, 1},
        {Y, "2024-x-15", M, 5, 1},
        {Y, "2024-01234-15", M, 5, 5},
        {Y, "2024-1234567890123456789-1", M, 23, 1},
        {D, "15/01-2024", M, 5, 1},
        {Y, "2024-01-", M, 8, 0},
        // Field 3.
        {Y, "2024-01-x", M, 8, 1},
        {Y, "2024-01-12345", M, 8, 5},
        {Y, "2024-01-1234567890123456789", M, 26, 1},
        // Role lengths: month, then day, then year.
        {Y, "2024-001-15", M, 5, 3},
        {Y, "2024-01-015", M, 8, 3},
        {A, "01/15/24", M, 6, 2},
        {Y, "15/01/2024", M, 6, 4},
        {A, "001/015/24", M, 0, 3},
        {D, "015/001/24", M, 4, 3},
        {D, "15/01/202", M, 6, 3},
        // Trailing bytes after the shape, before values.
        {Y, "2024-01-15x", M, 10, 1},
        {Y, "2024-01-15\xc3\xa9", M, 10, 2},
        {Y, "2024-01-15\xe2", M, 10, 1},
        {Y, "2024-13-45 ", R, 5, 2},
        {Y, "2024-13-45T", M, 10, 1},
        // Values: year, month, day.
        {Y, "0000-13-45", R, 0, 4},
        {A, "13/01/2024", R, 0, 2},
        {A, "02/30/2024", R, 3, 2},
        {D, "31.04.2024", R, 0, 2},
        {D, "00.04.2024", R, 0, 2},
        {D, "01.0.2024", R, 3, 1},
        {Y, "2023-2-29", R, 7, 2},
        {Y, "", FaultReason::EMPTY, 0, 0},
    };
    testing_support::expect_fault_rows(cases, [](const OrderedFaultCase& c) { return ordered(c.text, c.order); });
}

TEST(OrderedDate, IsoTextAgreesWithTheStrictCastUnderEveryOrder) {
    // Valid and invalid days alike, with three digits of the year varied.
    for (int y : {1, 99, 1899, 1900, 2000, 2023, 2024, 9999}) {
        for (int m = 0; m <= 13; ++m) {
            for (int d = 0; d <= 32; ++d) {
                const std::string s = iso(y, m, d);
                const Verdict<CivilDate> expected = strict(s);
                for (DateOrder o : {DateOrder::YMD, DateOrder::MDY, DateOrder::DMY}) {
                    ASSERT_TRUE(testing_support::same_verdict(ordered(s, o), expected)) << s;
                }
            }
        }
    }
}

TEST(SeparatedDate, ReportsFieldSpansAndWhereTheDateEnds) {
    const std::string s = " 7/31/2024 10:00";
    const TextRange t = trim(s.data(), s.size());
    const Verdict<SeparatedDate> v = parse_separated_date(t, DateOrder::MDY);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.value.month.value, 7u);
    EXPECT_EQ(v.value.month.pos, 0u);
    EXPECT_EQ(v.value.month.length, 1u);
    EXPECT_EQ(v.value.day.value, 31u);
    EXPECT_EQ(v.value.day.pos, 2u);
    EXPECT_EQ(v.value.year.value, 2024u);
    EXPECT_EQ(v.value.year.pos, 5u);
    EXPECT_EQ(v.value.year.length, 4u);
    EXPECT_EQ(v.value.end, 9u);
}

}  // namespace
}  // namespace quillmere::core
