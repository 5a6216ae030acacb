#include <string>

#include "core/civil.hpp"
#include "core/digits.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

TEST(Civil, KnownDayNumbers) {
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
    EXPECT_EQ(days_from_civil(1, 1, 1), -719162);
    EXPECT_EQ(days_from_civil(1899, 12, 30), -25569);
    EXPECT_EQ(days_from_civil(1904, 1, 1), -24107);
    EXPECT_EQ(days_from_civil(9999, 12, 31), 2932896);
    EXPECT_EQ(days_from_civil(0, 3, 1), -719468);
    EXPECT_EQ(days_from_civil(-1, 12, 31), -719529);
}

TEST(Civil, DayNumbersAreConsecutiveAndInvert) {
    // Walk every day of years -400..10400 and check both directions at once,
    // and the shortcut for four-digit years where it applies.
    std::int64_t expected = days_from_civil(-400, 1, 1);
    for (std::int64_t y = -400; y <= 10400; ++y) {
        for (unsigned m = 1; m <= 12; ++m) {
            for (unsigned d = 1; d <= days_in_month(y, m); ++d) {
                ASSERT_EQ(days_from_civil(y, m, d), expected) << y << "-" << m << "-" << d;
                if (y >= 1 && y <= 9999) {
                    ASSERT_EQ(days_from_civil_four_digit_year(static_cast<unsigned>(y), m, d), expected) << y << "-" << m;
                }
                CivilFields back = civil_from_days(expected);
                ASSERT_TRUE(back.year == y && back.month == m && back.day == d) << expected;
                ++expected;
            }
        }
    }
}

TEST(Civil, LeapYears) {
    EXPECT_TRUE(is_leap_year(2000));
    EXPECT_TRUE(is_leap_year(2024));
    EXPECT_FALSE(is_leap_year(1900));
    EXPECT_FALSE(is_leap_year(2023));
    EXPECT_TRUE(is_leap_year(0));
    EXPECT_TRUE(is_leap_year(-4));
    EXPECT_EQ(days_in_month(2024, 2), 29u);
    EXPECT_EQ(days_in_month(1900, 2), 28u);
    EXPECT_EQ(days_in_month(2023, 4), 30u);
}

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(Digits, EightAtATimeAgreesWithOneAtATime) {
    std::string samples[] = {"00000000", "12345678", "99999999", "10000001", "1234567/", ":2345678", "1234 678", "\xb0\x31\x32\x33\x34\x35\x36\x37"};
    for (const auto& s : samples) {
        bool all = true;
        std::uint32_t value = 0;
        for (char c : s) {
            all = all && is_digit(static_cast<unsigned char>(c));
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
        std::uint64_t word = load_u64_le(bytes(s));
        EXPECT_EQ(is_eight_digits(word), all) << s;
        if (all) {
            EXPECT_EQ(parse_eight_digits(word), value) << s;
        }
    }
    // Every single non-digit byte in every position is caught.
    for (int pos = 0; pos < 8; ++pos) {
        for (int b = 0; b < 256; ++b) {
            std::string s = "55555555";
            s[pos] = static_cast<char>(b);
            EXPECT_EQ(is_eight_digits(load_u64_le(bytes(s))), is_digit(static_cast<unsigned char>(b))) << pos << " " << b;
        }
    }
}

TEST(Digits, RunsStopAtTheNineteenthDigit) {
    std::string s = "x123456789012345678901";
    DigitRun r = read_digit_run(bytes(s), s.size(), 1);
    EXPECT_TRUE(r.overlong);
    EXPECT_EQ(r.end, 19u);
    s = "123456789012345678-";
    r = read_digit_run(bytes(s), s.size(), 0);
    EXPECT_FALSE(r.overlong);
    EXPECT_EQ(r.length(), 18u);
    EXPECT_EQ(r.value, 123456789012345678u);
    r = read_digit_run(bytes(s), s.size(), 18);
    EXPECT_EQ(r.length(), 0u);
    r = read_digit_run(bytes(s), 5, 5);  // at the end of the text
    EXPECT_EQ(r.length(), 0u);
}

TEST(Digits, FractionsKeepNineDigitsAndTruncate) {
    struct Case {
        std::string text;
        std::uint32_t nanos;
        std::size_t end;
    } cases[] = {
        {"5", 500000000, 1},          {"25", 250000000, 2},         {"12345678", 123456780, 8},
        {"123456789", 123456789, 9}, {"123456789987", 123456789, 12}, {"1234567x", 123456700, 7},
        {"", 0, 0},                  {"x", 0, 0},                  {"000000001Z", 1, 9},
        {"99999999999999999999", 999999999, 20},
    };
    for (const auto& c : cases) {
        Fraction f = read_fraction_nanos(bytes(c.text), c.text.size(), 0);
        EXPECT_EQ(f.nanos, c.nanos) << c.text;
        EXPECT_EQ(f.end, c.end) << c.text;
    }
}

}  // namespace
}  // namespace quillmere::core
