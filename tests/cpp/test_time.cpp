#include <cstdio>
#include <string>

#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/clock.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

constexpr FaultReason M = FaultReason::MALFORMED;
constexpr FaultReason R = FaultReason::OUT_OF_RANGE;

Verdict<TimeOfDay> time_of(const std::string& s) { return cast_time(s.data(), s.size()); }

::testing::AssertionResult IsNanos(const Verdict<TimeOfDay>& v, std::uint64_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (v.value.nanos != nanos) return ::testing::AssertionFailure() << "got " << v.value.nanos;
    return ::testing::AssertionSuccess();
}

TEST(TimeOfDay, Values) {
    const struct {
        std::string text;
        std::uint64_t nanos;
    } cases[] = {
        {"00:00", 0},
        {"23:59:59.999999999", 86399999999999},
        {"12:30", 45000000000000},
        {"12:30:00", 45000000000000},
        {"12:30:45.5", 45045500000000},
        {"12:30:45.123456789987", 45045123456789},
        {"08:15:30.12345678", 29730123456780},
        {"08:15:30.123456789", 29730123456789},
        {"08:15:30.000000001", 29730000000001},
        {"08:15:30.0000000009", 29730000000000},
        {" 08:15 ", 29700000000000},
        {"\t23:59:59\r\n", 86399000000000},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsNanos(time_of(c.text), c.nanos)) << c.text;
}

TEST(TimeOfDay, EverySecondOfTheDay) {
    for (unsigned h = 0; h < 24; ++h) {
        for (unsigned m = 0; m < 60; ++m) {
            for (unsigned s = 0; s < 60; ++s) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", h, m, s);
                ASSERT_TRUE(IsNanos(time_of(buf), (h * 3600ull + m * 60 + s) * 1000000000ull)) << buf;
            }
        }
    }
}

TEST(TimeOfDay, FractionsOfEveryLengthAgreeWithDigitByDigit) {
    // Lengths around the eight-digit step, with a non-digit at each position.
    const std::string digits = "98765432101234567890";
    for (std::size_t k = 1; k <= digits.size(); ++k) {
        const std::string fraction = digits.substr(0, k);
        std::uint64_t nanos = 0;
        for (std::size_t i = 0; i < 9; ++i) nanos = nanos * 10 + (i < k ? fraction[i] - '0' : 0);
        EXPECT_TRUE(IsNanos(time_of("00:00:00." + fraction), nanos)) << fraction;
        EXPECT_TRUE(IsFault(time_of("00:00:00." + fraction + "x"), M, 9 + static_cast<std::uint32_t>(k), 1)) << k;
    }
}

TEST(Fraction, WordAtATimeAgreesWithDigitByDigit) {
    // Mostly digits, broken by the bytes just outside the digit range and by
    // bytes that carry when a word is added to.
    const unsigned char others[] = {'/', ':', 0xFA, 0xFF, 0xB9, 'Z', '.', 0x00};
    std::uint64_t state = 0x9E3779B97F4A7C15;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int round = 0; round < 100000; ++round) {
        unsigned char text[24];
        const std::size_t length = next() % 25;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint64_t r = next();
            text[i] = r % 5 != 0 ? static_cast<unsigned char>('0' + (r >> 8) % 10) : others[(r >> 16) % sizeof others];
        }
        std::uint64_t value = 0;
        std::size_t end = 0;
        for (; end < length && text[end] >= '0' && text[end] <= '9'; ++end) {
            if (end < 9) value = value * 10 + (text[end] - '0');
        }
        for (std::size_t k = end; k < 9; ++k) value *= 10;
        const Fraction f = read_fraction_nanos(text, length, 0);
        const std::string shown(reinterpret_cast<char*>(text), length);
        ASSERT_EQ(f.end, end) << shown;
        ASSERT_EQ(f.nanos, value) << shown;
    }
}

TEST(TimeOfDay, FaultTable) {
    const testing_support::FaultRow cases[] = {
        {"", FaultReason::EMPTY, 0, 0},
        {"   ", FaultReason::EMPTY, 0, 0},
        {"9:30", M, 0, 2},
        {"T12:00", M, 0, 2},
        {"9", M, 0, 1},
        {" 9 ", M, 1, 1},
        {"12", M, 2, 0},
        {"12-30", M, 2, 1},
        {"12:", M, 3, 0},
        {"12:3", M, 3, 1},
        {"12:3x", M, 3, 2},
        {"12:30:", M, 6, 0},
        {"12:30:4", M, 6, 1},
        {"12:30:45.", M, 8, 1},
        {"12:30:45.Z", M, 8, 1},
        {"12:30.5", M, 5, 1},
        {"12:30:45,5", M, 8, 1},
        {"12:30:45Z", M, 8, 1},
        {"12:30:45\xc3\xa9", M, 8, 2},
        {"12:30:45.5\xf0\x9f", M, 10, 2},
        {"24:00", R, 0, 2},
        {" 23:60", R, 4, 2},
        {"23:59:60", R, 6, 2},
        {"99:99:99", R, 0, 2},
        {"23:99:99", R, 3, 2},
        {"99:99:99x", M, 8, 1},
    };
    testing_support::expect_fault_rows(cases, time_of);
}

TEST(Clock, SpansAndEndFromAnyStartingPosition) {
    const std::string s = "  2024-01-15T10:30:45.25+01:00";
    const TextRange t = trim(s.data(), s.size());
    const Verdict<Clock> v = parse_clock(t, 11);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.value.hour, 10u);
    EXPECT_EQ(v.value.minute, 30u);
    EXPECT_EQ(v.value.second, 45u);
    EXPECT_EQ(v.value.nanos, 250000000u);
    EXPECT_EQ(v.value.hour_span.pos, 11u);
    EXPECT_EQ(v.value.minute_span.pos, 14u);
    EXPECT_EQ(v.value.second_span.pos, 17u);
    EXPECT_EQ(v.value.end, 22u);

    const std::string hm = "10:30";
    const TextRange t2 = trim(hm.data(), hm.size());
    const Verdict<Clock> w = parse_clock(t2, 0);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(w.value.second_span.pos, w.value.minute_span.pos);
    EXPECT_EQ(w.value.end, 5u);

    // Faults carry the offset of the text in the input.
    EXPECT_TRUE(IsFault(parse_clock(t, 12), M, 14, 2));
    EXPECT_TRUE(IsFault(parse_clock(t, t.length), M, 30, 0));
}

}  // namespace
}  // namespace quillmere::core
