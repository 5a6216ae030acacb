#include <cstring>
#include <string>

#include "core/casts.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

constexpr FaultReason M = FaultReason::MALFORMED;
constexpr FaultReason R = FaultReason::OUT_OF_RANGE;
constexpr DateOrder Y = DateOrder::YMD, A = DateOrder::MDY, D = DateOrder::DMY;

constexpr std::uint64_t hms(std::uint64_t h, std::uint64_t m, std::uint64_t s, std::uint64_t ns = 0) {
    return (h * 3600 + m * 60 + s) * 1000000000 + ns;
}

Verdict<CivilDateTime> dt(const std::string& s, DateOrder o) { return cast_datetime(s.data(), s.size(), o); }

::testing::AssertionResult IsDateTime(const Verdict<CivilDateTime>& v, int y, int mo, int d, std::uint64_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    const CivilDateTime& x = v.value;
    if (x.date.year != y || x.date.month != mo || x.date.day != d || x.time.nanos != nanos || x.reserved != 0) {
        return ::testing::AssertionFailure() << "got " << x.date.year << "-" << +x.date.month << "-" << +x.date.day
                                             << " " << x.time.nanos << " reserved " << x.reserved;
    }
    return ::testing::AssertionSuccess();
}

TEST(CivilDateTime, Values) {
    const struct {
        DateOrder order;
        std::string text;
        int year, month, day;
        std::uint64_t nanos;
    } cases[] = {
        {Y, "2024-01-15", 2024, 1, 15, 0},
        {Y, "2024-01-15T10:30", 2024, 1, 15, hms(10, 30, 0)},
        {Y, "2024-01-15t10:30:45.25", 2024, 1, 15, hms(10, 30, 45, 250000000)},
        {Y, "2024-01-15 10:30:45.1234567891", 2024, 1, 15, hms(10, 30, 45, 123456789)},
        {Y, "2024-01-15 9:05", 2024, 1, 15, hms(9, 5, 0)},
        {Y, "2024-01-15 09:05", 2024, 1, 15, hms(9, 5, 0)},
        {Y, "2024-01-15 3 pm", 2024, 1, 15, hms(15, 0, 0)},
        {Y, "2024-01-15 3PM", 2024, 1, 15, hms(15, 0, 0)},
        {Y, "2024-01-15 3pM", 2024, 1, 15, hms(15, 0, 0)},
        {Y, "2024-01-15 12 AM", 2024, 1, 15, 0},
        {Y, "2024-01-15 12 Am", 2024, 1, 15, 0},
        {Y, "2024-01-15 11:59:59.5 am", 2024, 1, 15, hms(11, 59, 59, 500000000)},
        {Y, "2024-01-15 12:30 pm", 2024, 1, 15, hms(12, 30, 0)},
        {Y, "2024-01-15 1:00pm", 2024, 1, 15, hms(13, 0, 0)},
        {Y, "2024-01-15T07aM", 2024, 1, 15, hms(7, 0, 0)},
        {Y, "2024-01-15 00:00", 2024, 1, 15, 0},
        {Y, "2024-01-15 23:59:59.999999999", 2024, 1, 15, hms(23, 59, 59, 999999999)},
        {Y, " 2024-01-15 10:30 \n", 2024, 1, 15, hms(10, 30, 0)},
        {D, "15/01/2024 23:59:59", 2024, 1, 15, hms(23, 59, 59)},
        {D, "2024/01/15 1 am", 2024, 1, 15, hms(1, 0, 0)},
        {A, "1.15.2024 12:00", 2024, 1, 15, hms(12, 0, 0)},
        {A, "2/29/2000", 2000, 2, 29, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsDateTime(dt(c.text, c.order), c.year, c.month, c.day, c.nanos)) << c.text;
}

TEST(CivilDateTime, TwelveHourClockMapsEveryHour) {
    for (unsigned h = 1; h <= 12; ++h) {
        const std::string base = "2024-01-15 " + std::to_string(h);
        EXPECT_TRUE(IsDateTime(dt(base + " am", Y), 2024, 1, 15, hms(h % 12, 0, 0))) << h;
        EXPECT_TRUE(IsDateTime(dt(base + ":07 PM", Y), 2024, 1, 15, hms(h % 12 + 12, 7, 0))) << h;
    }
}

TEST(CivilDateTime, FaultTable) {
    const struct {
        DateOrder order;
        std::string text;
        FaultReason reason;
        std::uint32_t offset, length;
    } cases[] = {
        {Y, "", FaultReason::EMPTY, 0, 0},
        {Y, " \t ", FaultReason::EMPTY, 0, 0},
        // The date's own faults come first.
        {Y, "2024-01", M, 7, 0},
        {A, "01/15/24 10:30", M, 6, 2},
        {Y, "2024-01-015 10:30", M, 8, 3},
        {Y, "2024-01-1510:30", M, 8, 4},
        // Separator and hour.
        {Y, "2024-01-15_10:30", M, 10, 1},
        {Y, "2024-01-15\xc3\xa9", M, 10, 2},
        {Y, "2024-01-15T", M, 11, 0},
        {Y, "2024-01-15 :30", M, 11, 1},
        {Y, "2024-01-15 \xc3\xa9", M, 11, 1},
        {Y, "2024-01-15 100:30", M, 11, 3},
        {Y, "2024-01-15 1234567890123456789", M, 29, 1},
        {Y, "2024-01-15 15", M, 11, 2},
        {Y, "2024-01-15 3", M, 11, 1},
        {Y, "2024-01-15 3.5", M, 11, 1},
        {Y, "2024-01-15 3 p", M, 11, 1},
        // Minutes, seconds, fraction.
        {Y, "2024-01-15 9:5", M, 13, 1},
        {Y, "2024-01-15 9:", M, 13, 0},
        {Y, "2024-01-15 9:x5", M, 13, 2},
        {Y, "2024-01-15 10:30:", M, 17, 0},
        {Y, "2024-01-15 10:30:4", M, 17, 1},
        {Y, "2024-01-15 10:30:45.", M, 19, 1},
        {Y, "2024-01-15 10:30:45.pm", M, 19, 1},
        {Y, "2024-01-15 10:30.5", M, 16, 1},
        {Y, "2024-01-15 10:30:45,5", M, 19, 1},
        // Marker and trailing bytes.
        {Y, "2024-01-15 10:30  pm", M, 16, 1},
        {Y, "2024-01-15 10:30 p.m.", M, 16, 1},
        {Y, "2024-01-15 10:30pmx", M, 18, 1},
        {Y, "2024-01-15 10:30 pm x", M, 19, 1},
        {Y, "2024-01-15T10:30:00Z", M, 19, 1},
        {Y, "2024-01-15T10:30:00+01:00", M, 19, 1},
        {Y, "2024-01-15T10:30:00\xe2\x82", M, 19, 2},
        // Values: date before time, then hour, minute, second.
        {Y, "2023-02-29 25:00", R, 8, 2},
        {Y, "0000-01-01 10:00", R, 0, 4},
        {Y, "2024-13-01 10:00", R, 5, 2},
        {Y, "2023-02-29", R, 8, 2},
        {Y, "2024-01-15 24:00", R, 11, 2},
        {D, "15/01/2024 24:00", R, 11, 2},
        {Y, "2024-01-15 0 am", R, 11, 1},
        {Y, "2024-01-15 13 pm", R, 11, 2},
        {Y, "2024-01-15 00:30 pm", R, 11, 2},
        {Y, "2024-01-15 23:60", R, 14, 2},
        {Y, "2024-01-15 9:60", R, 13, 2},
        {Y, "2024-01-15 9:59:60", R, 16, 2},
        {Y, "2024-01-15 99:99:99", R, 11, 2},
        {Y, " 2024-01-15 9:99:99 pm", R, 14, 2},
    };
    testing_support::expect_fault_rows(cases, [](const auto& c) { return dt(c.text, c.order); });
}

TEST(CivilDateTime, DateOnlyTextAgreesWithTheOrderedDateCast) {
    const char* texts[] = {"2024-01-15", "15.01.2024", "1/2/2024", "2023-02-29", "0000-01-01", "2024-1",
                           "01/15/24",   "2024-01-15x", "13/13/2024", "31.4.2024", "2024-01-15\xf0"};
    for (const char* s : texts) {
        for (DateOrder o : {Y, A, D}) {
            const Verdict<CivilDate> date = cast_date_ordered(s, std::strlen(s), o);
            const Verdict<CivilDateTime> both = dt(s, o);
            ASSERT_EQ(date.status, both.status) << s;
            if (date.ok()) {
                EXPECT_EQ(std::memcmp(&date.value, &both.value.date, sizeof(CivilDate)), 0) << s;
                EXPECT_EQ(both.value.time.nanos, 0u);
            } else {
                EXPECT_EQ(date.span.offset, both.span.offset) << s;
                EXPECT_EQ(date.span.length, both.span.length) << s;
            }
        }
    }
}

}  // namespace
}  // namespace quillmere::core
