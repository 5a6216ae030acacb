#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>

#include "core/casts.hpp"
#include "core/reference_paths.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

constexpr FaultReason M = FaultReason::MALFORMED;
constexpr FaultReason R = FaultReason::OUT_OF_RANGE;

Verdict<Instant> ts(const std::string& s) { return cast_timestamp(s.data(), s.size()); }

::testing::AssertionResult IsInstant(const Verdict<Instant>& v, std::int64_t seconds, std::uint32_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (v.value.seconds != seconds || v.value.nanos != nanos) {
        return ::testing::AssertionFailure() << "got (" << v.value.seconds << ", " << v.value.nanos << ")";
    }
    return ::testing::AssertionSuccess();
}

TEST(Timestamp, Values) {
    const struct {
        std::string text;
        std::int64_t seconds;
        std::uint32_t nanos;
    } cases[] = {
        {"2024-01-15T10:30:00Z", 1705314600, 0},
        {"2024-01-15t10:30:00z", 1705314600, 0},
        {"2024-01-15T10:30:00+01:00", 1705311000, 0},
        {"2024-01-15T10:30:00-05:30", 1705334400, 0},
        {"2024-01-15T10:30:00-00:00", 1705314600, 0},
        {"2024-01-15T10:30:00+00:00", 1705314600, 0},
        {"2024-01-15T10:30:00.123456789123Z", 1705314600, 123456789},
        {"2024-01-15T10:30:00.5+23:59", 1705314600 - 86340, 500000000},
        {"2024-01-15T10:30:00.5-23:59", 1705314600 + 86340, 500000000},
        {"1970-01-01T00:00:00Z", 0, 0},
        {"1969-12-31T23:59:59.999999999Z", -1, 999999999},
        {"1970-01-01T00:00:00+00:01", -60, 0},
        {"0001-01-01T00:00:00Z", -62135596800, 0},
        {"0001-01-01T00:01:00+00:01", -62135596800, 0},
        {"9999-12-31T23:59:59.999999999Z", 253402300799, 999999999},
        {"9999-12-31T23:58:59-00:01", 253402300799, 0},
        {"2000-02-29T12:00:00Z", 951825600, 0},
        {" \t2024-01-15T10:30:00Z\n", 1705314600, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsInstant(ts(c.text), c.seconds, c.nanos)) << c.text;
}

TEST(Timestamp, FaultTable) {
    const testing_support::FaultRow cases[] = {
        {"", FaultReason::EMPTY, 0, 0},
        {"\r\n", FaultReason::EMPTY, 0, 0},
        // Length, date shape, "T".
        {"2024-01-15", M, 0, 10},
        {" 2024-01-1 ", M, 1, 9},
        {"2024-O1-15T10:30:00Z", M, 5, 2},
        {"24-01-15T10:30:00Z", M, 0, 4},
        {"2024/01-15T10:30:00Z", M, 4, 1},
        {"2024-01/15T10:30:00Z", M, 7, 1},
        {"2024-01-1xT10:30:00Z", M, 8, 2},
        {"2024-01-15 10:30:00Z", M, 10, 1},
        {"2024-01-15\xc3\xa9" "10:30:00Z", M, 10, 2},
        // Clock shape: seconds are required.
        {"2024-01-15T10:30Z", M, 11, 6},
        {"2024-01-15T", M, 11, 0},
        {"2024-01-15T10:30", M, 11, 5},
        {"2024-01-15T10-30-00Z", M, 11, 9},
        {"2024-01-15T1x:30:00Z", M, 11, 2},
        {"2024-01-15T10:3x:00Z", M, 14, 2},
        {"2024-01-15T10:30:", M, 17, 0},
        {"2024-01-15T10:30:0", M, 17, 1},
        {"2024-01-15T10:30:0xZ", M, 17, 2},
        {"2024-01-15T10:30:00.Z", M, 19, 1},
        // Zone shape.
        {"2024-01-15T10:30:00", M, 0, 19},
        {"2023-02-30T00:00:00", M, 0, 19},
        {"2024-01-15T10:30:00.5", M, 0, 21},
        {"2024-01-15T10:30:00ZZ", M, 20, 1},
        {"2024-01-15T10:30:00Z\xc3\xa9", M, 20, 2},
        {"2024-01-15T10:30:00 Z", M, 19, 1},
        {"2024-01-15T10:30:00,5Z", M, 19, 1},
        {"2024-01-15T10:30:00UTC", M, 19, 1},
        {"2024-01-15T10:30:00+", M, 20, 0},
        {"2024-01-15T10:30:00+1", M, 20, 1},
        {"2024-01-15T10:30:00+1:00", M, 20, 2},
        {"2024-01-15T10:30:00+01", M, 22, 0},
        {"2024-01-15T10:30:00+0100", M, 22, 1},
        {"2024-01-15T10:30:00+01:", M, 23, 0},
        {"2024-01-15T10:30:00+01:0", M, 23, 1},
        {"2024-01-15T10:30:00+01:x0", M, 23, 2},
        {"2024-01-15T10:30:00+01:00Z", M, 25, 1},
        {"2024-01-15T10:30:00+01:00:00", M, 25, 1},
        // Values: date, clock, offset, then the instant's range.
        {"0000-01-01T00:00:00Z", R, 0, 4},
        {"2024-00-15T10:30:00Z", R, 5, 2},
        {"2024-02-30T00:00:00Z", R, 8, 2},
        {"2023-02-29T99:99:99+99:99", R, 8, 2},
        {"2024-01-15T24:00:00Z", R, 11, 2},
        {"2024-01-15T23:60:00Z", R, 14, 2},
        {"2024-01-15T23:59:60Z", R, 17, 2},
        {"2024-01-15T23:59:59+24:00", R, 20, 2},
        {"2024-01-15T10:30:00+24:00", R, 20, 2},
        {"2024-01-15T10:30:00.25-23:60", R, 26, 2},
        {"0001-01-01T00:00:00+00:01", R, 0, 25},
        {"9999-12-31T23:59:59-00:01", R, 0, 25},
        {"  9999-12-31T23:59:59.5-23:59 ", R, 2, 27},
    };
    testing_support::expect_fault_rows(cases, ts);
}

TEST(Timestamp, OffsetsShiftTheInstantExactly) {
    // Every offset on the grid of 15 minutes, both signs, against the same instant in UTC.
    const Verdict<Instant> utc = ts("2024-06-30T12:00:00.75Z");
    ASSERT_TRUE(utc.ok());
    for (int h = 0; h <= 23; ++h) {
        for (int m = 0; m <= 59; m += 15) {
            for (char sign : {'+', '-'}) {
                char buf[40];
                std::snprintf(buf, sizeof buf, "2024-06-30T12:00:00.75%c%02d:%02d", sign, h, m);
                const std::int64_t shift = (sign == '+' ? -1 : 1) * (h * 3600 + m * 60);
                EXPECT_TRUE(IsInstant(ts(buf), utc.value.seconds + shift, 750000000)) << buf;
            }
        }
    }
}

// The fixed-layout shortcut must give exactly the verdict of the general
// reader: on timestamps near the layout (fields at and past their limits,
// fractions of every length, each zone form, surrounding whitespace), and on
// every change of one byte, every byte dropped and every byte doubled.
::testing::AssertionResult SameAsGeneral(const std::string& s) {
    const Verdict<Instant> fast = ts(s), general = cast_timestamp_general(s.data(), s.size());
    // Field by field: the padding after the nanoseconds is nobody's business.
    const bool same_value = fast.value.seconds == general.value.seconds && fast.value.nanos == general.value.nanos;
    const bool same_span = fast.span.offset == general.span.offset && fast.span.length == general.span.length;
    const bool same = fast.status == general.status && (fast.ok() ? same_value : same_span);
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << s << "\": shortcut " << testing_support::describe(fast)
                                         << ", general " << testing_support::describe(general);
}

TEST(Timestamp, FixedLayoutShortcutAgreesWithTheGeneralReader) {
    std::mt19937 rng(3);
    const auto pick = [&rng](std::initializer_list<const char*> options) {
        return std::string(options.begin()[rng() % options.size()]);
    };
    const unsigned char replacements[] = {'0', '1', '5', '9', '/', ':', '-', '+', '.',
                                          ' ', 'T', 't', 'Z', 'z', 'x', 0x00, 0xC3, 0xFF};
    for (int round = 0; round < 400; ++round) {
        const std::string date = pick({"2024", "0001", "0000", "9999", "1970", "2000", "1900", "2023"}) + "-" +
                                 pick({"01", "02", "00", "12", "13", "06"}) + "-" +
                                 pick({"01", "28", "29", "30", "31", "00", "15"});
        const std::string clock = pick({"00", "23", "24", "09"}) + ":" + pick({"00", "59", "60"}) + ":" +
                                  pick({"00", "59", "60", "07"});
        const std::string fraction = pick({"", ".", ".1", ".12", ".123456", ".1234567", ".12345678", ".123456789",
                                           ".1234567891", ".1234567891234"});
        const std::string zone = pick({"Z", "z", "+00:00", "-00:00", "+23:59", "-23:59", "+24:00", "+05:60", "+01:30"});
        std::string s = date + pick({"T", "t"}) + clock + fraction + zone;
        if (round % 5 == 0) s = " " + s + "\t";
        ASSERT_TRUE(SameAsGeneral(s));
        for (std::size_t at = 0; at < s.size(); ++at) {
            for (const unsigned char b : replacements) {
                std::string changed = s;
                changed[at] = static_cast<char>(b);
                ASSERT_TRUE(SameAsGeneral(changed));
            }
            ASSERT_TRUE(SameAsGeneral(s.substr(0, at) + s.substr(at + 1)));
            ASSERT_TRUE(SameAsGeneral(s.substr(0, at + 1) + s.substr(at)));
        }
    }
}

}  // namespace
}  // namespace quillmere::core
