#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "core/casts.hpp"
#include "core/decimal.hpp"
#include "core/reference_paths.hpp"
#include "quillmere.h"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::describe;
using testing_support::IsFault;

constexpr auto MALFORMED = FaultReason::MALFORMED;
constexpr auto OUT_OF_RANGE = FaultReason::OUT_OF_RANGE;

std::string text_of(const ExactDecimal& d) {
    char buf[DECIMAL_TEXT_BUFFER];
    return std::string(buf, format_decimal(d, buf));
}

u128 magnitude_of(const ExactDecimal& d) { return (u128{d.magnitude_hi} << 64) | d.magnitude_lo; }

// Every success must be canonical, whatever path produced it.
::testing::AssertionResult IsCanonical(const ExactDecimal& d) {
    const u128 m = magnitude_of(d);
    if (d.scale > MAX_DECIMAL_SCALE) return ::testing::AssertionFailure() << "scale " << +d.scale;
    if (d.negative > 1) return ::testing::AssertionFailure() << "negative " << +d.negative;
    if (d.reserved[0] != 0 || d.reserved[1] != 0) return ::testing::AssertionFailure() << "reserved bytes set";
    if (m == 0 && (d.scale != 0 || d.negative != 0)) return ::testing::AssertionFailure() << "zero with sign or scale";
    if (d.scale > 0 && m % 10 == 0) return ::testing::AssertionFailure() << "trailing fraction zero";
    return ::testing::AssertionSuccess();
}

// The verdict as one comparable string: the canonical text, or the reason and span.
template <class V>
std::string outcome(const V& v) {
    if (!v.ok()) return describe(v);
    if (!IsCanonical(v.value)) return "not canonical: " + text_of(v.value);
    return text_of(v.value);
}

ExactDecimal record(u128 magnitude, unsigned scale, bool negative) { return make_decimal(magnitude, scale, negative); }

u128 parse_u128(const char* digits) {
    u128 m = 0;
    for (const char* p = digits; *p; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
    return m;
}

TEST(DecimalText, IsCanonicalForm) {
    struct Case {
        const char* magnitude;
        unsigned scale;
        bool negative;
        const char* text;
    } cases[] = {
        {"0", 0, false, "0"},
        {"5", 3, false, "0.005"},
        {"11", 1, true, "-1.1"},
        {"100", 0, false, "100"},
        {"125", 1, false, "12.5"},
        {"1", 28, false, "0.0000000000000000000000000001"},
        {"1", 28, true, "-0.0000000000000000000000000001"},
        {"79228162514264337593543950335", 0, true, "-79228162514264337593543950335"},
        {"79228162514264337593543950335", 28, true, "-7.9228162514264337593543950335"},
        {"79228162514264337593543950335", 1, false, "7922816251426433759354395033.5"},
        {"18446744073709551616", 19, false, "1.8446744073709551616"},  // first magnitude past one word
        {"10000000000000000000", 19, false, "1.0000000000000000000"},  // the word split pads the low part
        {"10000000000000000000000000000", 0, false, "10000000000000000000000000000"},
        {"1234567890123456789", 5, false, "12345678901234.56789"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(record(parse_u128(c.magnitude), c.scale, c.negative)), c.text) << c.magnitude;
    }
}

TEST(DecimalText, LongestTextsFitTheBuffer) {
    EXPECT_EQ(text_of(record(parse_u128("79228162514264337593543950335"), 0, true)).size(), 30u);
    EXPECT_EQ(text_of(record(parse_u128("79228162514264337593543950335"), 28, true)).size(), 31u);
    EXPECT_EQ(text_of(record(1, 28, true)).size(), 31u);
}

// Any valid record survives text and back: format, then convert the text.
TEST(DecimalText, ReadsBackAsTheSameRecord) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        u128 m = (u128{rng() & 0xFFFFFFFF} << 64) | rng();
        m >>= rng() % 96;
        unsigned scale = static_cast<unsigned>(rng() % 29);
        while (m != 0 && scale > 0 && m % 10 == 0) m /= 10;  // canonical records only
        if (m == 0) scale = 0;
        const bool negative = m != 0 && (rng() & 1);
        const ExactDecimal d = record(m, scale, negative);
        const std::string text = text_of(d);
        const auto back = decimal_from_numeral(text.data(), text.size(), false);
        ASSERT_TRUE(back.ok()) << text;
        EXPECT_EQ(std::memcmp(&back.value, &d, sizeof d), 0) << text;
    }
}

// The C export against the text's definition, worked out digit by digit, for
// any record a caller may hold (not only canonical ones), with its NUL and
// its refusal of a buffer one byte short.
TEST(DecimalText, CExportWritesTheDefinedTextOfAnyRecord) {
    std::mt19937_64 rng(13);
    for (int i = 0; i < 20000; ++i) {
        const u128 m = ((u128{rng() & 0xFFFFFFFF} << 64) | rng()) >> (rng() % 97);
        const unsigned scale = static_cast<unsigned>(rng() % 29);
        const bool negative = rng() & 1;
        std::string digits;
        for (u128 v = m; digits.empty() || v != 0; v /= 10) digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
        if (digits.size() < scale + 1) digits.insert(0, scale + 1 - digits.size(), '0');
        if (scale > 0) digits.insert(digits.size() - scale, ".");
        const std::string expected = (negative ? "-" : "") + digits;

        const ExactDecimal d = record(m, scale, negative);
        quillmere_decimal value;
        std::memcpy(&value, &d, sizeof value);
        char text[QUILLMERE_DECIMAL_TEXT_SIZE];
        ASSERT_EQ(quillmere_decimal_to_text(&value, text, sizeof text), static_cast<int32_t>(expected.size()));
        ASSERT_EQ(std::string(text), expected);
        ASSERT_EQ(quillmere_decimal_to_text(&value, text, expected.size()), QUILLMERE_INVALID_ARGUMENT);
    }
}

TEST(DecimalFromNumeral, ReadsExactlyAndCanonically) {
    struct Case {
        const char* numeral;
        bool percent;
        const char* expected;
    } cases[] = {
        {"1.10", false, "1.1"},
        {"1.0", false, "1"},
        {"1.", false, "1"},
        {"100", false, "100"},
        {".5", false, "0.5"},
        {"+.5", false, "0.5"},
        {"-0", false, "0"},
        {"-0.00", false, "0"},
        {"+0e5", false, "0"},
        {"0e100000000", false, "0"},
        {"-0.000e-99999999", false, "0"},
        {"00000000000000000000000000000000000000000000000000123", false, "123"},
        {"1e2", false, "100"},
        {"1E+2", false, "100"},
        {"1.5e-3", false, "0.0015"},
        {"10e-29", false, "0.0000000000000000000000000001"},
        {"0.0000000000000000000000000001", false, "0.0000000000000000000000000001"},
        {"0.1000000000000000000000000000000000000000", false, "0.1"},
        {"1.0000000000000000000000000000000000000000", false, "1"},
        {"79228162514264337593543950335", false, "79228162514264337593543950335"},
        {"79228162514264337593543950335.000000000", false, "79228162514264337593543950335"},
        {"7.9228162514264337593543950335", false, "7.9228162514264337593543950335"},
        {"-7922816251426433759354395033.5", false, "-7922816251426433759354395033.5"},
        // Integer digits may pass 96 bits when an exponent brings them back.
        {"1234567890123456789012345678900000e-5", false, "12345678901234567890123456789"},
        {"340282366920938463463374607431768211455e-10", false, ""},  // 2^128 - 1: held, but too large after
        {"12.5", true, "0.125"},
        {"50", true, "0.5"},
        {"-1e2", true, "-1"},
        {"0.00000000000000000000000001", true, "0.0000000000000000000000000001"},
        {"7.9228162514264337593543950335e28", false, "79228162514264337593543950335"},
        {"7922816251426433759354395033.5e1", false, "79228162514264337593543950335"},
        {"1e28", false, "10000000000000000000000000000"},
        {"1e-28", false, "0.0000000000000000000000000001"},
        {"123456789012345678901234567890e-2", false, "1234567890123456789012345678.9"},
    };
    for (const auto& c : cases) {
        const auto v = decimal_from_numeral(c.numeral, std::strlen(c.numeral), c.percent);
        if (*c.expected == 0) {
            EXPECT_TRUE(IsFault(v, OUT_OF_RANGE, 0, 0)) << c.numeral;
        } else {
            EXPECT_EQ(outcome(v), c.expected) << c.numeral;
        }
    }
}

TEST(DecimalFromNumeral, FaultsCarryNoSpan) {
    struct Case {
        const char* numeral;
        bool percent;
        FaultReason reason;
    } cases[] = {
        {"", false, MALFORMED},
        {"-", false, MALFORMED},
        {"+", false, MALFORMED},
        {".", false, MALFORMED},
        {"+.", false, MALFORMED},
        {"1.2.3", false, MALFORMED},
        {"e5", false, MALFORMED},
        {".e5", false, MALFORMED},
        {"1e", false, MALFORMED},
        {"1e+", false, MALFORMED},
        {"1e5x", false, MALFORMED},
        {"1e5.", false, MALFORMED},
        {"1e5e5", false, MALFORMED},
        {"--1", false, MALFORMED},
        {"1-", false, MALFORMED},
        {" 1", false, MALFORMED},
        {"1,000", false, MALFORMED},
        // Form is judged before range: a stray byte after too many digits.
        {"1234567890123456789012345678901234567890123x", false, MALFORMED},
        {"0.00000000000000000000000000000000000001.", false, MALFORMED},
        {"79228162514264337593543950336", false, OUT_OF_RANGE},
        {"1e-29", false, OUT_OF_RANGE},
        {"1e+100000000", false, OUT_OF_RANGE},
        {"1e29", false, OUT_OF_RANGE},
        {"0.00000000000000000000000000001", false, OUT_OF_RANGE},
        {"0.000000000000000000000000000010", false, OUT_OF_RANGE},
        {"0.0000000000000000000000000001", true, OUT_OF_RANGE},
        // Integer digits past 2^128 are out of range even when an exponent would shrink them.
        {"340282366920938463463374607431768211456e-30", false, OUT_OF_RANGE},
        {"1234567890123456789012345678901234567890e-20", false, OUT_OF_RANGE},
        {"99999999999999999999999999999999999999999e-99", false, OUT_OF_RANGE},
        // A nonzero fraction digit past 96 bits, even after skipped zeros.
        {"7922816251426433759354395033.6", false, OUT_OF_RANGE},
        {"79228162514264337593543950335.1", false, OUT_OF_RANGE},
        {"79228162514264337593543950335.0000000001", false, OUT_OF_RANGE},
        {"1e99999", false, OUT_OF_RANGE},
        {"79228162514264337593543950335e1", false, OUT_OF_RANGE},
        {"7922816251426433759354395034e1", false, OUT_OF_RANGE},
    };
    for (const auto& c : cases) {
        const auto v = decimal_from_numeral(c.numeral, std::strlen(c.numeral), c.percent);
        EXPECT_TRUE(IsFault(v, c.reason, 0, 0)) << c.numeral;
    }
}

TEST(DecimalFromNumeral, HugeExponents) {
    const char* huge[] = {"1e100000", "1e100001", "1e999999999999999999999999", "1e4294967296"};
    for (const char* s : huge) EXPECT_TRUE(IsFault(decimal_from_numeral(s, std::strlen(s), false), OUT_OF_RANGE, 0, 0)) << s;
    const char* tiny[] = {"1e-100000", "1e-4294967296", "1e-99999999999999999999"};
    for (const char* s : tiny) EXPECT_TRUE(IsFault(decimal_from_numeral(s, std::strlen(s), false), OUT_OF_RANGE, 0, 0)) << s;
    // Integer digits past 128 bits are out of range although the exponent would bring them back.
    const std::string zeros = "1" + std::string(99990, '0') + "e-99990";
    EXPECT_TRUE(IsFault(decimal_from_numeral(zeros.data(), zeros.size(), false), OUT_OF_RANGE, 0, 0));
}

// Trailing zeros past the 96-bit limit are dropped, however many.
TEST(DecimalFromNumeral, LongRunsOfZeros) {
    std::string s = "0.1" + std::string(100000, '0');
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "0.1");
    s = "-79228162514264337593543950335." + std::string(5000, '0');
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "-79228162514264337593543950335");
    s = "0." + std::string(100000, '0');
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "0");
    // Exponents are not cut short: past 100000 they still balance the fraction digits.
    s = "0." + std::string(100000, '0') + "1e100001";
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "1");
    s = "0." + std::string(100000, '0') + "15e100003%";
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size() - 1, true)), "1.5");
    s = "0." + std::string(100000, '0') + "1e100028";
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "1000000000000000000000000000");
    s = "0." + std::string(99990, '0') + "1e99990";
    EXPECT_EQ(outcome(decimal_from_numeral(s.data(), s.size(), false)), "0.1");
}

// ---- the cast ----------------------------------------------------------------

NumFormat format_of(char32_t decimal, char32_t group, std::uint32_t flags, const std::string& currency = "") {
    const FormatResult r = make_num_format(decimal, group, flags, reinterpret_cast<const unsigned char*>(currency.data()),
                                           currency.size());
    EXPECT_EQ(r.error, FormatError::NONE);
    return r.format;
}

Verdict<ExactDecimal> cast(const std::string& s, const NumFormat& fmt = INVARIANT_FORMAT) {
    return cast_decimal(s.data(), s.size(), fmt);
}

TEST(CastDecimal, Values) {
    const NumFormat dollar = format_of('.', ',', NumFormat::ALL, "$");
    const NumFormat euro = format_of(',', '.', NumFormat::ALL, "\xe2\x82\xac");
    const NumFormat spaced = format_of(',', ' ', NumFormat::ALL);
    const NumFormat bare = format_of('.', ',', 0);
    struct Case {
        std::string text;
        const NumFormat* fmt;
        std::string expected;
    } cases[] = {
        {"1.10", &INVARIANT_FORMAT, "1.1"},
        {"  12.50  ", &INVARIANT_FORMAT, "12.5"},
        {"-0.00", &INVARIANT_FORMAT, "0"},
        {"+0e5", &INVARIANT_FORMAT, "0"},
        {"1.5e-3", &INVARIANT_FORMAT, "0.0015"},
        {"12.5%", &INVARIANT_FORMAT, "0.125"},
        {"50 %", &INVARIANT_FORMAT, "0.5"},
        {"(5)%", &INVARIANT_FORMAT, "-0.05"},
        {"1,234,567.891", &INVARIANT_FORMAT, "1234567.891"},
        {"(1,234.50)", &INVARIANT_FORMAT, "-1234.5"},
        {"( 12 )", &INVARIANT_FORMAT, "-12"},
        {"-$5.25", &dollar, "-5.25"},
        {"$ -5", &dollar, "-5"},
        {"5.10 $", &dollar, "5.1"},
        {"($1,000.00)", &dollar, "-1000"},
        {"-1.234,56 \xe2\x82\xac", &euro, "-1234.56"},
        {"\xe2\x82\xac" "0,5", &euro, "0.5"},
        {"1 234 567,25", &spaced, "1234567.25"},
        {"1.234.567", &DETECT_FORMAT, "1234567"},
        {"1,234.5", &DETECT_FORMAT, "1234.5"},
        {"1.234,5", &DETECT_FORMAT, "1234.5"},
        {"0,5", &DETECT_FORMAT, "0.5"},
        {"0.123", &DETECT_FORMAT, "0.123"},
        {"12.5", &bare, "12.5"},
        {"-.5", &bare, "-0.5"},
        {"79228162514264337593543950335", &INVARIANT_FORMAT, "79228162514264337593543950335"},
        {"79,228,162,514,264,337,593,543,950,335", &INVARIANT_FORMAT, "79228162514264337593543950335"},
        {"(7.9228162514264337593543950335)", &INVARIANT_FORMAT, "-7.9228162514264337593543950335"},
        {"0.0000000000000000000000000001", &INVARIANT_FORMAT, "0.0000000000000000000000000001"},
        {"0.1" + std::string(40, '0'), &INVARIANT_FORMAT, "0.1"},
        {"1" + std::string(26, '0') + "00000e-5", &INVARIANT_FORMAT, "1" + std::string(26, '0')},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(cast(c.text, *c.fmt)), c.expected) << c.text;
}

TEST(CastDecimal, Faults) {
    const NumFormat dollar = format_of('.', ',', NumFormat::ALL, "$");
    const NumFormat no_exponent = format_of('.', ',', NumFormat::ALL & ~NumFormat::EXPONENT);
    struct Case {
        std::string text;
        const NumFormat* fmt;
        FaultReason reason;
        std::uint32_t offset, length;
    } cases[] = {
        {"", &INVARIANT_FORMAT, FaultReason::EMPTY, 0, 0},
        {" \t\r\n\f", &INVARIANT_FORMAT, FaultReason::EMPTY, 0, 0},
        {"\v1", &INVARIANT_FORMAT, MALFORMED, 0, 1},
        {"  1e99999  ", &INVARIANT_FORMAT, OUT_OF_RANGE, 2, 7},
        {"1e-29", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 5},
        {" 79228162514264337593543950336", &INVARIANT_FORMAT, OUT_OF_RANGE, 1, 29},
        {"0.00000000000000000000000000001", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 31},
        {"0.0000000000000000000000000001%", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 31},
        {"(79,228,162,514,264,337,593,543,950,336)", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 40},
        {"1" + std::string(39, '0') + "e-20", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 44},
        {"1e", &INVARIANT_FORMAT, MALFORMED, 1, 1},
        {"1e+", &INVARIANT_FORMAT, MALFORMED, 1, 1},
        {"1e5", &no_exponent, MALFORMED, 1, 1},
        {"1.2.3", &INVARIANT_FORMAT, MALFORMED, 3, 1},
        {"1.234,5", &INVARIANT_FORMAT, MALFORMED, 5, 1},
        {",123", &INVARIANT_FORMAT, MALFORMED, 0, 1},
        {"12\xc3\xa9", &INVARIANT_FORMAT, MALFORMED, 2, 2},
        {"(12", &INVARIANT_FORMAT, MALFORMED, 0, 3},
        {"(-12)", &INVARIANT_FORMAT, MALFORMED, 1, 1},
        {"(5%)", &INVARIANT_FORMAT, MALFORMED, 2, 1},
        {"%", &INVARIANT_FORMAT, MALFORMED, 0, 1},
        {"$", &dollar, MALFORMED, 0, 1},
        {"-$-5", &dollar, MALFORMED, 2, 1},
        {"$5$", &dollar, MALFORMED, 2, 1},
        {"(-$5)", &dollar, MALFORMED, 3, 1},
        {"1,234", &DETECT_FORMAT, MALFORMED, 1, 1},
        {"1.234", &DETECT_FORMAT, MALFORMED, 1, 1},  // detection runs before the plain shortcut
        {" .123", &DETECT_FORMAT, MALFORMED, 1, 1},
        {std::string(257, '1'), &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 257},  // plain: no 256-byte limit
        // The normalised numeral holds 256 bytes: a "-" makes the 257th.
        {"+" + std::string(256, '1') + "%", &INVARIANT_FORMAT, OUT_OF_RANGE, 0, 258},
        {"-" + std::string(256, '1') + "%", &INVARIANT_FORMAT, MALFORMED, 0, 258},
    };
    testing_support::expect_fault_rows(cases, [](const Case& c) { return cast(c.text, *c.fmt); });
}

// Texts drawn from the bytes the front end reacts to, under formats that
// turn each rule on and off: the shortcuts must agree with the general path
// on every one, success or fault.
TEST(CastDecimal, ShortcutsGiveTheGeneralVerdict) {
    const NumFormat formats[] = {
        INVARIANT_FORMAT,
        DETECT_FORMAT,
        format_of('.', ',', 0),
        format_of('.', ',', NumFormat::ALL, "$"),
        format_of(',', '.', NumFormat::ALL, "\xe2\x82\xac"),
        format_of(',', ' ', NumFormat::ALL | NumFormat::SEPARATOR_DETECT, "kr"),
        format_of('.', '\'', NumFormat::GROUPING | NumFormat::CURRENCY, "$"),
        format_of('.', 'e', NumFormat::ALL),
        format_of('e', '.', NumFormat::ALL),
        format_of('%', ',', NumFormat::ALL, "-"),
        format_of('.', '(', NumFormat::ALL, "("),
        format_of('.', '1', NumFormat::ALL),
        format_of(U'\u00b7', U'\u2009', NumFormat::ALL, "$"),
    };
    const char* pieces[] = {"0", "1", "5", "9", "00", "123", "4567", ".", ",", "-", "+", "(", ")", "$", "%",
                            "e", "E", " ", "'", "kr", "\xe2\x82\xac", "\xc2\xb7", "\xe2\x80\x89", "x", "1,234",
                            "12.5", "999999999999", "000000000000"};
    std::mt19937_64 rng(5);
    int successes = 0;
    for (int i = 0; i < 60000; ++i) {
        std::string s;
        const int n = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < n; ++k) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        const NumFormat& fmt = formats[rng() % (sizeof formats / sizeof *formats)];
        const auto fast = cast_decimal(s.data(), s.size(), fmt);
        const auto general = cast_decimal_general(s.data(), s.size(), fmt);
        ASSERT_TRUE(testing_support::same_verdict(fast, general))
            << "\"" << s << "\": " << outcome(fast) << " vs " << outcome(general);
        if (fast.ok()) {
            ++successes;
            EXPECT_TRUE(IsCanonical(fast.value)) << s;
        }
    }
    EXPECT_GT(successes, 5000);  // the draw reaches the success paths, not only faults
}

// Numbers of every digit count around the shortcuts' 28-digit limit, with
// and without decoration.
TEST(CastDecimal, ShortcutLimitAgreesWithGeneralPath) {
    const NumFormat dollar = format_of('.', ',', NumFormat::ALL, "$");
    std::mt19937_64 rng(9);
    for (int digits = 1; digits <= 32; ++digits) {
        for (int trial = 0; trial < 200; ++trial) {
            std::string n;
            for (int k = 0; k < digits; ++k) n += static_cast<char>('0' + rng() % 10);
            if (trial % 3 == 0) n.insert(rng() % (n.size() + 1), ".");
            if (trial % 5 == 0) n = "9999999999999999999999999999" + n.substr(std::min<std::size_t>(n.size(), 28));
            const std::string decorated[] = {n, "-" + n, "(" + n + ")", "$" + n, "-$ " + n, n + " $"};
            for (const auto& s : decorated) {
                const auto fast = cast_decimal(s.data(), s.size(), dollar);
                const auto general = cast_decimal_general(s.data(), s.size(), dollar);
                ASSERT_TRUE(testing_support::same_verdict(fast, general)) << s;
            }
        }
    }
}

// ---- decimal from a double ----------------------------------------------

double from_bits(std::uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

TEST(DecimalFromDouble, NamedValues) {
    struct Case {
        double x;
        const char* expected;  // "" for OUT_OF_RANGE
    } cases[] = {
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {123.456, "123.456"},
        {-2.5, "-2.5"},
        {100.0, "100"},
        {1e28, "10000000000000000000000000000"},
        {1e29, ""},
        {std::ldexp(1.0, 96), ""},
        {-std::ldexp(1.0, 96), ""},
        {7.922816251426433e28, "79228162514264330000000000000"},
        {1e-28, "0.0000000000000000000000000001"},
        {-1e-28, "-0.0000000000000000000000000001"},
        {1e-29, ""},
        {1.5e-28, ""},
        {5e-324, ""},
        {std::numeric_limits<double>::min(), ""},
        {std::numeric_limits<double>::max(), ""},
        {-0.0, "0"},
        {0.0, "0"},
        {1125899906842624.25, "1125899906842624.3"},  // a tie goes to the larger
        {1125899906842624.75, "1125899906842624.8"},
        {-1125899906842624.25, "-1125899906842624.3"},
        {std::ldexp(1.0, -25), "0.000000029802322387695313"},  // 2.98023223876953125e-8 is a tie too
        {9007199254740993.0, "9007199254740992"},
        {std::ldexp(1.0, 53), "9007199254740992"},
        {5e-5, "0.00005"},
        {1.0, "1"},
        {1e23, "100000000000000000000000"},
        {9.999999999999997e27, "9999999999999997000000000000"},
        {std::ldexp(1.0, -93), "0.000000000000000000000000000100974195868289511"},  // too many places
        {0.3, "0.3"},
        {2.0 / 3.0, "0.6666666666666666"},
    };
    for (const auto& c : cases) {
        const auto v = decimal_from_double(c.x);
        if (*c.expected == 0 || std::strlen(c.expected) > 31) {
            EXPECT_TRUE(IsFault(v, OUT_OF_RANGE, 0, 0)) << c.x;
        } else {
            EXPECT_EQ(outcome(v), c.expected) << c.x;
        }
    }
}

TEST(DecimalFromDouble, NonFiniteValues) {
    EXPECT_TRUE(IsFault(decimal_from_double(std::numeric_limits<double>::quiet_NaN()), MALFORMED, 0, 0));
    EXPECT_TRUE(IsFault(decimal_from_double(-std::numeric_limits<double>::quiet_NaN()), MALFORMED, 0, 0));
    EXPECT_TRUE(IsFault(decimal_from_double(from_bits(0x7FF0000000000001ull)), MALFORMED, 0, 0));
    EXPECT_TRUE(IsFault(decimal_from_double(from_bits(0xFFFFFFFFFFFFFFFFull)), MALFORMED, 0, 0));
    EXPECT_TRUE(IsFault(decimal_from_double(std::numeric_limits<double>::infinity()), OUT_OF_RANGE, 0, 0));
    EXPECT_TRUE(IsFault(decimal_from_double(-std::numeric_limits<double>::infinity()), OUT_OF_RANGE, 0, 0));
}

// An independent shortest-digit search: the exact decimal expansion from the
// C library's printf, candidates of each length checked by strtod, the nearer
// one taken and a tie going to the larger. It returns the canonical text, or
// "" when the result does not fit.
std::string reference_shortest(double x) {
    const double ax = std::fabs(x);
    char exact[200];
    // Doubles that can fit have at most ~125 significant digits.
    std::snprintf(exact, sizeof exact, "%.140e", ax);
    std::string digits;
    digits += exact[0];
    digits.append(exact + 2, exact + 142);
    const int exp10 = std::atoi(exact + 143);  // ax = 0.d1d2... * 10^(exp10 + 1)
    for (int n = 1; n <= 17; ++n) {
        // Truncated candidate and the next one up, as digit strings of length n.
        std::string down = digits.substr(0, static_cast<std::size_t>(n));
        std::string up = down;
        int i = n - 1;
        while (i >= 0 && up[static_cast<std::size_t>(i)] == '9') up[static_cast<std::size_t>(i--)] = '0';
        int up_exp = exp10;
        if (i < 0) {
            up = "1" + up.substr(0, static_cast<std::size_t>(n - 1));
            ++up_exp;
        } else {
            ++up[static_cast<std::size_t>(i)];
        }
        auto reads_back = [&](const std::string& d, int e) {
            const std::string s = d + "e" + std::to_string(e - n + 1);
            return std::strtod(s.c_str(), nullptr) == ax;
        };
        const bool down_ok = reads_back(down, exp10);
        const bool up_ok = reads_back(up, up_exp);
        if (!down_ok && !up_ok) continue;
        const std::string rest = digits.substr(static_cast<std::size_t>(n));
        const bool half_or_more = rest[0] >= '5';
        const bool take_up = up_ok && (!down_ok || half_or_more);
        std::string d = take_up ? up : down;
        int e = (take_up ? up_exp : exp10) - n + 1;  // value = d * 10^e
        while (d.size() > 1 && d.back() == '0') {
            d.pop_back();
            ++e;
        }
        if (d == "0") return "0";
        // To canonical text with the range rules.
        if (e >= 0) {
            if (d.size() + static_cast<std::size_t>(e) > 29) return "";
            d.append(static_cast<std::size_t>(e), '0');
            if (parse_u128(d.c_str()) >= DECIMAL_MAGNITUDE_LIMIT) return "";
            return (x < 0 ? "-" : "") + d;
        }
        const std::size_t scale = static_cast<std::size_t>(-e);
        if (scale > 28) return "";
        if (d.size() < scale + 1) d.insert(0, scale + 1 - d.size(), '0');
        return (x < 0 ? "-" : "") + d.substr(0, d.size() - scale) + "." + d.substr(d.size() - scale);
    }
    return "?";
}

TEST(DecimalFromDouble, MatchesAnIndependentShortestSearch) {
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> exponent(1023 - 100, 1023 + 99);
    auto check = [](double x) {
        const std::string expected = reference_shortest(x);
        const auto v = decimal_from_double(x);
        if (expected.empty()) {
            EXPECT_TRUE(IsFault(v, OUT_OF_RANGE, 0, 0)) << std::hexfloat << x;
        } else {
            EXPECT_EQ(outcome(v), expected) << std::hexfloat << x;
        }
    };
    for (int i = 0; i < 6000; ++i) {
        check(from_bits((std::uint64_t(exponent(rng)) << 52) | (rng() >> 12) | ((rng() & 1) << 63)));
    }
    // Powers of two and their neighbours: the narrow lower gap.
    for (int e = -100; e < 100; ++e) {
        const double p = std::ldexp(1.0, e);
        std::uint64_t b;
        std::memcpy(&b, &p, sizeof b);
        for (std::uint64_t d = 0; d < 3; ++d) check(from_bits(b - 1 + d));
    }
    // Short decimals, integers near 2^53, and quarter steps above 2^50 (ties).
    for (int i = 0; i < 3000; ++i) {
        char s[64];
        std::snprintf(s, sizeof s, "%llue%d", static_cast<unsigned long long>(rng() % 100000000),
                      static_cast<int>(rng() % 50) - 35);
        check(std::strtod(s, nullptr));
        check(static_cast<double>((std::uint64_t{1} << 53) - (rng() % 100000)));
        check(std::ldexp(1.0, 50) + static_cast<double>(rng() % 1000000) + 0.25 * static_cast<double>(rng() % 4));
    }
}

}  // namespace
}  // namespace quillmere::core

namespace quillmere::core {
namespace {

// Every magnitude of k digits and of k + 1 digits, for every k a 96-bit
// magnitude allows, written out without and with fraction places.
TEST(DecimalText, DigitCountsAtEveryPowerOfTen) {
    unsigned __int128 power = 1;
    for (int k = 1; k <= 29; ++k) {
        power *= 10;
        for (unsigned __int128 m : {power - 1, power}) {
            if (m >> 96 != 0) continue;
            std::string digits;
            for (unsigned __int128 v = m; v != 0; v /= 10) digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
            ExactDecimal d{static_cast<std::uint64_t>(m), static_cast<std::uint32_t>(m >> 64), 0, 0, {0, 0}};
            char out[DECIMAL_TEXT_BUFFER];
            EXPECT_EQ(std::string(out, format_decimal(d, out)), digits);
            if (digits.size() > 3) {
                d.scale = 3;
                d.negative = 1;
                std::string expected = "-";
                expected.append(digits, 0, digits.size() - 3).append(".").append(digits, digits.size() - 3);
                EXPECT_EQ(std::string(out, format_decimal(d, out)), expected) << digits;
            }
        }
    }
}

}  // namespace
}  // namespace quillmere::core
