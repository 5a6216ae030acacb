#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/casts.hpp"
#include "core/real_conversion.hpp"
#include "core/reference_paths.hpp"
#include "core/text.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::describe;
using testing_support::IsFault;
using testing_support::same_verdict;

constexpr std::uint32_t ALL = NumFormat::ALL;
constexpr std::uint32_t DETECT = NumFormat::ALL | NumFormat::SEPARATOR_DETECT;

NumFormat format(char32_t dec, char32_t grp, std::uint32_t flags, const std::string& currency = "") {
    FormatResult r = make_num_format(dec, grp, flags, reinterpret_cast<const unsigned char*>(currency.data()),
                                     currency.size());
    EXPECT_EQ(r.error, FormatError::NONE);
    return r.format;
}

Verdict<double> f64(const std::string& s, const NumFormat& fmt = INVARIANT_FORMAT) {
    return cast_f64(s.data(), s.size(), fmt);
}
Verdict<float> f32(const std::string& s, const NumFormat& fmt = INVARIANT_FORMAT) {
    return cast_f32(s.data(), s.size(), fmt);
}

// Bit-exact comparison, so that -0.0 differs from 0.0.
template <class F>
::testing::AssertionResult HasValue(const Verdict<F>& v, F expected) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << describe(v);
    if (std::bit_cast<std::conditional_t<sizeof(F) == 8, std::uint64_t, std::uint32_t>>(v.value) !=
        std::bit_cast<std::conditional_t<sizeof(F) == 8, std::uint64_t, std::uint32_t>>(expected)) {
        char got[64], want[64];
        std::snprintf(got, sizeof got, "%a", static_cast<double>(v.value));
        std::snprintf(want, sizeof want, "%a", static_cast<double>(expected));
        return ::testing::AssertionFailure() << "got " << got << ", expected " << want;
    }
    return ::testing::AssertionSuccess();
}

std::string utf8(char32_t c) {
    unsigned char out[4];
    const std::size_t n = encode_utf8(c, out);
    return std::string(reinterpret_cast<const char*>(out), n);
}

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// ---- fixed cases ----------------------------------------------------------

struct ValueRow {
    const char* text;
    double f64;
    float f32;
};

TEST(RealCast, HardValuesUnderTheDefaultFormat) {
    const ValueRow rows[] = {
        {"2.5", 2.5, 2.5f},
        {"  2.5\t", 2.5, 2.5f},
        {"-0", -0.0, -0.0f},
        {"(0)", -0.0, -0.0f},
        {"+0.000e-999999999999999999999", 0.0, 0.0f},
        {"0e999999999", 0.0, 0.0f},
        {"1,234.5", 1234.5, 1234.5f},
        {"0.1", 0.1, 0.1f},
        {".5", 0.5, 0.5f},
        {"5.", 5.0, 5.0f},
        {"1.7976931348623158e308", 0x1.fffffffffffffp1023, INFINITY},
        {"1.7976931348623157e308", 0x1.fffffffffffffp1023, INFINITY},
        {"3.4028235e38", 3.4028235e38, 0x1.fffffep127f},
        {"3.4028235677973366e38", 3.4028235677973366e38, 0x1.fffffep127f},  // just below the single's limit
        {"1e-400", 0.0, 0.0f},
        {"-1e-400", -0.0, -0.0f},
        {"2.4703282292062328e-324", 0x1p-1074, 0.0f},
        {"2.4703282292062327e-324", 0.0, 0.0f},
        {"4.9406564584124654e-324", 0x1p-1074, 0.0f},
        {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022, 0.0f},  // largest subnormal
        {"2.2250738585072014e-308", 0x1p-1022, 0.0f},
        {"1.4012984643e-45", 1.4012984643e-45, 0x1p-149f},
        {"7.0064923216240853e-46", 7.0064923216240853e-46, 0.0f},  // just below half the smallest single
        {"7.0064923216240854e-46", 7.0064923216240854e-46, 0x1p-149f},
        {"1.1754942e-38", 1.1754942e-38, 0x0.fffffep-126f},
        {"9007199254740993", 9007199254740992.0, 9007199254740992.0f},  // tie to even
        {"9007199254740995", 9007199254740996.0, 9007199254740992.0f},
        {"9007199254740993.0000000000000000000000000001", 9007199254740994.0, 9007199254740992.0f},
        {"1.000000059604644775390625000000001", 1.0000000596046448, 0x1.000002p0f},
        {"1.000000059604644775390625", 1.0000000596046448, 1.0f},  // a single tie: even
        {"16777217", 16777217.0, 16777216.0f},
        {"123456789012345678901234567890", 1.2345678901234568e29, 1.2345679e29f},
        {"0.000000000000000000000000000001e30", 1.0, 1.0f},
    };
    for (const ValueRow& row : rows) {
        const Verdict<double> d = f64(row.text);
        if (std::isinf(row.f64)) {
            EXPECT_TRUE(IsFault(d, FaultReason::OUT_OF_RANGE, 0, static_cast<std::uint32_t>(std::strlen(row.text))));
        } else {
            EXPECT_TRUE(HasValue(d, row.f64)) << "f64 " << row.text;
        }
        const Verdict<float> s = f32(row.text);
        if (std::isinf(row.f32)) {
            EXPECT_TRUE(IsFault(s, FaultReason::OUT_OF_RANGE, 0, static_cast<std::uint32_t>(std::strlen(row.text))))
                << row.text;
        } else {
            EXPECT_TRUE(HasValue(s, row.f32)) << "f32 " << row.text;
        }
    }
}

TEST(RealCast, Faults) {
    const testing_support::FaultRow rows[] = {
        {"", FaultReason::EMPTY, 0, 0},
        {" \t\r\n\f", FaultReason::EMPTY, 0, 0},
        {"\v", FaultReason::MALFORMED, 0, 1},
        {"inf", FaultReason::MALFORMED, 0, 1},
        {"-Infinity", FaultReason::MALFORMED, 1, 1},
        {"NaN", FaultReason::MALFORMED, 0, 1},
        {"nan", FaultReason::MALFORMED, 0, 1},
        {"0x1p3", FaultReason::MALFORMED, 1, 1},
        {" 1.5x ", FaultReason::MALFORMED, 4, 1},
        {"1e", FaultReason::MALFORMED, 1, 1},
        {"1e+", FaultReason::MALFORMED, 1, 1},
        {"e5", FaultReason::MALFORMED, 0, 1},
        {".", FaultReason::MALFORMED, 0, 1},
        {"1.2.3", FaultReason::MALFORMED, 3, 1},
        {"1.7976931348623159e308", FaultReason::OUT_OF_RANGE, 0, 22},
        {"  -1e309 ", FaultReason::OUT_OF_RANGE, 2, 6},
        {"1e309%", FaultReason::OUT_OF_RANGE, 0, 6},
        {"1e999999999999999999999", FaultReason::OUT_OF_RANGE, 0, 23},
    };
    testing_support::expect_fault_rows(rows, [](const std::string& s) { return f64(s); });
    testing_support::expect_fault_rows(rows, [](const std::string& s) { return f32(s); });
    EXPECT_TRUE(IsFault(f32("3.4028236e38"), FaultReason::OUT_OF_RANGE, 0, 12));
    EXPECT_TRUE(HasValue(f64("3.4028236e38"), 3.4028236e38));
    // A 257-byte numeral is too long for the normalised copy, but a plain text is read as it is.
    const std::string digits(257, '7');
    EXPECT_TRUE(IsFault(f64("$" + digits, format('.', ',', ALL, "$")), FaultReason::MALFORMED, 0, 258));
    EXPECT_TRUE(HasValue(f64(digits), std::strtod(digits.c_str(), nullptr)));
}

TEST(RealCast, PercentIsOneDivisionInTheTargetWidth) {
    EXPECT_TRUE(HasValue(f64("12.5%"), 0.125));
    EXPECT_TRUE(HasValue(f64("0.7%"), 0.006999999999999999));
    EXPECT_TRUE(HasValue(f32("0.7%"), 0.7f / 100.0f));
    EXPECT_TRUE(HasValue(f32("0.7%"), static_cast<float>(0.00699999975040555)));
    EXPECT_TRUE(HasValue(f64("(5) %"), -0.05));
    EXPECT_TRUE(HasValue(f64("-0%"), -0.0));
    EXPECT_TRUE(IsFault(f64("%"), FaultReason::MALFORMED, 0, 1));
    EXPECT_TRUE(IsFault(f64("5%", format('.', ',', ALL & ~NumFormat::PERCENT)), FaultReason::MALFORMED, 1, 1));
}

TEST(RealCast, FormatsAndSeparatorDetection) {
    const NumFormat detect = format('.', ',', DETECT);
    EXPECT_TRUE(IsFault(f64("1.234", detect), FaultReason::MALFORMED, 1, 1));  // ambiguous, before any shortcut
    EXPECT_TRUE(IsFault(f32("1,234", detect), FaultReason::MALFORMED, 1, 1));
    EXPECT_TRUE(HasValue(f64("1.234,5", detect), 1234.5));
    EXPECT_TRUE(HasValue(f64("0,5", detect), 0.5));
    EXPECT_TRUE(HasValue(f64("1.234.567", detect), 1234567.0));
    EXPECT_TRUE(HasValue(f64("1.5e3", detect), 1500.0));

    const NumFormat european = format(',', '.', ALL, "€");
    EXPECT_TRUE(HasValue(f64("1.234,5 €", european), 1234.5));
    EXPECT_TRUE(HasValue(f64("-€1,25", european), -1.25));
    EXPECT_TRUE(HasValue(f32("(€ 0,1)", european), -0.1f));
    EXPECT_TRUE(IsFault(f64("1,234.5", european), FaultReason::MALFORMED, 5, 1));

    const NumFormat no_exponent = format('.', ',', ALL & ~NumFormat::EXPONENT);
    EXPECT_TRUE(IsFault(f64("1e5", no_exponent), FaultReason::MALFORMED, 1, 1));
    EXPECT_TRUE(HasValue(f64("1.5", no_exponent), 1.5));

    const NumFormat dollars = format('.', ',', ALL, "$");
    EXPECT_TRUE(HasValue(f64("-$1,234.50", dollars), -1234.5));
    EXPECT_TRUE(HasValue(f64("($0.1)", dollars), -0.1));
    EXPECT_TRUE(HasValue(f64("5$", dollars), 5.0));
    EXPECT_TRUE(IsFault(f64("$5$", dollars), FaultReason::MALFORMED, 2, 1));
}

// ---- differential tests against glibc, which rounds correctly ---------------

// Every stage must agree with the oracle: the whole conversion, and the exact
// stage on its own.
void expect_converts_like_libc(const std::string& s) {
    const ConvertedReal<double> d = convert_f64(bytes(s), s.size());
    const ConvertedReal<float> f = convert_f32(bytes(s), s.size());
    ASSERT_TRUE(d.ok && f.ok) << s;
    ScannedDecimal scan;
    ASSERT_TRUE(scan_decimal(bytes(s), s.size(), scan));
    const double want_d = std::strtod(s.c_str(), nullptr);
    const float want_f = std::strtof(s.c_str(), nullptr);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(d.value), std::bit_cast<std::uint64_t>(want_d)) << s;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(convert_exact_f64(scan)), std::bit_cast<std::uint64_t>(want_d)) << s;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(f.value), std::bit_cast<std::uint32_t>(want_f)) << s;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(convert_exact_f32(scan)), std::bit_cast<std::uint32_t>(want_f)) << s;
}

std::string printf_string(const char* fmt, int precision, long double x) {
    char buffer[1400];
    std::snprintf(buffer, sizeof buffer, fmt, precision, x);
    return buffer;
}

// A decimal just below an exact decimal given in "%e" form: its last nonzero
// mantissa digit less one, then nines out to `digits` mantissa digits.
std::string just_below(std::string s, std::size_t digits) {
    const std::size_t e = s.find('e');
    std::string mantissa = s.substr(0, e), exponent = s.substr(e);
    std::size_t last = mantissa.find_last_not_of("0.");
    --mantissa[last];
    for (std::size_t i = last + 1; i < mantissa.size(); ++i) {
        if (mantissa[i] != '.') mantissa[i] = '9';
    }
    const std::size_t have = mantissa.size() - 1;
    if (have < digits) mantissa.append(digits - have, '9');
    return mantissa + exponent;
}

// The same exact decimal with a 1 as mantissa digit number `digits`.
std::string just_above(std::string s, std::size_t digits) {
    const std::size_t e = s.find('e');
    std::string mantissa = s.substr(0, e);
    const std::size_t have = mantissa.size() - 1;
    if (have < digits) mantissa.append(digits - have, '0');
    mantissa.back() = '1';
    return mantissa + s.substr(e);
}

TEST(RealConversion, RandomDoublesAndSinglesAtEveryPrecision) {
    std::mt19937_64 rng(20240501);
    for (int i = 0; i < 20000; ++i) {
        const double d = std::bit_cast<double>(rng());
        if (std::isfinite(d)) expect_converts_like_libc(printf_string("%.*Le", static_cast<int>(rng() % 25), d));
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        if (std::isfinite(f)) expect_converts_like_libc(printf_string("%.*Le", static_cast<int>(rng() % 12), f));
    }
}

TEST(RealConversion, RandomDigitStrings) {
    // Mantissas of 1 to 45 digits with the point anywhere and exponents across
    // both ranges, so every stage and both boundaries are reached.
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        std::string s = rng() % 2 ? "-" : "";
        const int length = 1 + static_cast<int>(rng() % 45);
        const int point = static_cast<int>(rng() % (length + 1));
        for (int k = 0; k < length; ++k) {
            if (k == point) s += '.';
            s += static_cast<char>('0' + rng() % 10);
        }
        const int span = rng() % 2 ? 60 : 700;
        s += "e" + std::to_string(static_cast<int>(rng() % span) - span / 2 - (rng() % 2 ? 0 : 300));
        expect_converts_like_libc(s);
    }
}

TEST(RealConversion, HalfwayPointsAndTheirNeighbours) {
    // Halfway points between adjacent doubles are exact in long double, and
    // between adjacent singles exact in double; printf writes them exactly.
    // Each is tried as the tie, just below it and just above it, with up to
    // 800 mantissa digits so that the last digit decides.
    std::mt19937_64 rng(99);
    auto try_halfway = [&](long double h) {
        const std::string exact = printf_string("%.*Le", 800, h);
        expect_converts_like_libc(exact);
        const std::size_t digits = 20 + rng() % 781;
        expect_converts_like_libc(just_below(exact, digits));
        expect_converts_like_libc(just_above(exact, digits));
        expect_converts_like_libc(just_above(exact, 800));
        expect_converts_like_libc(just_below(exact, 800));
    };
    for (int i = 0; i < 400; ++i) {
        double d = std::bit_cast<double>(rng() & 0x7FFFFFFFFFFFFFFFull);
        if (i % 4 == 0) d = std::bit_cast<double>(rng() % 0x0030000000000000ull);  // subnormals and just above
        if (!std::isfinite(d) || d == 0x1.fffffffffffffp1023) continue;
        try_halfway((static_cast<long double>(d) + std::nextafter(d, INFINITY)) / 2);
        float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()) & 0x7FFFFFFFu);
        if (i % 4 == 0) f = std::bit_cast<float>(static_cast<std::uint32_t>(rng() % 0x01800000u));
        if (!std::isfinite(f) || f == 0x1.fffffep127f) continue;
        try_halfway((static_cast<double>(f) + static_cast<double>(std::nextafter(f, INFINITY))) / 2);
    }
    // Both sides of the largest finite values and of the smallest subnormals.
    try_halfway((static_cast<long double>(0x1.fffffffffffffp1023) + 0x1p1024L) / 2);
    try_halfway((static_cast<double>(0x1.fffffep127f) + 0x1p128) / 2);
    try_halfway(0x1p-1075L);
    try_halfway(0x1p-150L);
    try_halfway(0x3p-1075L);
}

TEST(RealConversion, SinglesRoundOnceFromTheDecimal) {
    // Just above a tie between singles: rounding through the nearest double
    // would land on the tie and round to even, i.e. down.
    std::mt19937_64 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng() % 0x7F000000u) & ~1u);
        const double tie = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, INFINITY))) / 2;
        const std::string above = just_above(printf_string("%.*Le", 120, tie), 200);
        const ConvertedReal<float> r = convert_f32(bytes(above), above.size());
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.value, std::nextafter(f, INFINITY)) << above;
    }
}

TEST(RealConversion, EiselLemireAgreesWithTheExactStageWheneverItDecides) {
    std::mt19937_64 rng(11);
    int decided = 0;
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t m = rng() >> (rng() % 64) | 1;
        const std::int64_t q = static_cast<std::int64_t>(rng() % 700) - 350;
        const std::string s = std::to_string(m) + "e" + std::to_string(q);
        ScannedDecimal scan;
        ASSERT_TRUE(scan_decimal(bytes(s), s.size(), scan));
        std::uint64_t bits64;
        if (eisel_lemire_f64(m, q, bits64)) {
            ++decided;
            ASSERT_EQ(bits64, std::bit_cast<std::uint64_t>(convert_exact_f64(scan))) << s;
        }
        std::uint32_t bits32;
        if (eisel_lemire_f32(m, q, bits32)) {
            ASSERT_EQ(bits32, std::bit_cast<std::uint32_t>(convert_exact_f32(scan))) << s;
        }
    }
    EXPECT_GT(decided, 99000);  // the exact stage is the rare exception
}

TEST(RealConversion, RefusesWhatIsNotANumeral) {
    for (const char* s : {"", "-", "+", ".", "-.", "e1", "1e", "1e+", "1e-", "1..2", "1.2.3", "--1", "1-", " 1", "1 ",
                          "1e1.5", "1x", "0x10", "inf", "nan", "1,5", "1e5e5", "١"}) {
        EXPECT_FALSE(convert_f64(bytes(s), std::strlen(s)).ok) << s;
        EXPECT_FALSE(convert_f32(bytes(s), std::strlen(s)).ok) << s;
    }
}

// ---- the shortcuts give exactly the general path's verdict ----------------

TEST(RealCast, ShortcutsMatchTheGeneralPath) {
    const NumFormat formats[] = {
        INVARIANT_FORMAT,
        DETECT_FORMAT,
        format(',', '.', ALL),
        format(',', ' ', ALL),
        format('.', '\'', ALL, "$"),
        format('.', ',', ALL, "$"),
        format(',', '.', ALL, "€"),
        format('.', ',', ALL, "R$"),
        format('.', ',', NumFormat::GROUPING | NumFormat::CURRENCY, "kr"),
        format('.', ',', NumFormat::PARENTHESES),
        format('.', ',', 0),
        format('.', '_', ALL | NumFormat::SEPARATOR_DETECT, "."),
        format(U'·', U'’', ALL),
    };
    const char* pieces[] = {"0", "1", "7", "9", "00", "123", "4567", "12345678", "9007199254740993",
                            ".", ",", "-", "+", "(", ")", "$", "€", "R$", "kr", "%", " ", "e", "E",
                            "e5", "e-3", "'", "_", "·", "’", "x", "1,234", "1.234", "0.000"};
    std::mt19937_64 rng(3);
    auto check = [&](const std::string& s, const NumFormat& fmt) {
        ASSERT_TRUE(same_verdict(cast_f64(s.data(), s.size(), fmt), cast_f64_general(s.data(), s.size(), fmt)))
            << "f64 \"" << s << "\": " << describe(cast_f64(s.data(), s.size(), fmt)) << " vs "
            << describe(cast_f64_general(s.data(), s.size(), fmt));
        ASSERT_TRUE(same_verdict(cast_f32(s.data(), s.size(), fmt), cast_f32_general(s.data(), s.size(), fmt)))
            << "f32 \"" << s << "\"";
    };
    for (int i = 0; i < 60000; ++i) {
        const NumFormat& fmt = formats[rng() % std::size(formats)];
        std::string s;
        // Mostly well-formed lenient numbers, some random concatenations.
        if (rng() % 4 != 0) {
            const char* opens[] = {"", "", "-", "+", "(", "$", "-$", "€", "(R$", "kr "};
            const char* closes[] = {"", "", ")", "$", " €", "%", " %", "kr", ")%"};
            s += opens[rng() % std::size(opens)];
            const int groups = 1 + static_cast<int>(rng() % 4);
            const char* stray_separators[] = {",", ".", "'"};
            for (int g = 0; g < groups; ++g) {
                if (g != 0) s += rng() % 4 ? utf8(fmt.group_sep) : stray_separators[rng() % 3];
                s += pieces[rng() % 8];
            }
            if (rng() % 2) {
                s += rng() % 4 ? utf8(fmt.decimal_sep) : stray_separators[rng() % 3];
                s += pieces[rng() % 9];
            }
            s += closes[rng() % std::size(closes)];
        } else {
            const int n = static_cast<int>(rng() % 6);
            for (int k = 0; k < n; ++k) s += pieces[rng() % std::size(pieces)];
        }
        check(s, fmt);
    }
    // Well-formed numbers in each format's own separators and currency, the
    // forms the shortcut settles by itself.
    for (int i = 0; i < 20000; ++i) {
        const NumFormat& fmt = formats[rng() % std::size(formats)];
        const std::string currency(reinterpret_cast<const char*>(fmt.currency), fmt.currency_len);
        std::string number = std::to_string(rng() >> (rng() % 64));
        for (std::size_t at = number.size(); at > 3 && rng() % 2; at -= 3) number.insert(at - 3, utf8(fmt.group_sep));
        if (rng() % 2) number += utf8(fmt.decimal_sep) + std::to_string(rng() >> (rng() % 64)).substr(0, rng() % 25);
        switch (rng() % 5) {
            case 0: number = "-" + number; break;
            case 1: number = "(" + number + ")"; break;
            case 2: number = (rng() % 2 ? "-" : "") + currency + number; break;
            case 3: number = number + currency; break;
            default: break;
        }
        check(number, fmt);
    }
    // The normalised copy's limit applies to the shortcut's forms too.
    const NumFormat dollars = format('.', ',', ALL, "$");
    check("$" + std::string(255, '0') + "1", dollars);
    check("$" + std::string(254, '0') + "1", dollars);
    check("-$" + std::string(255, '0'), dollars);
}

}  // namespace
}  // namespace quillmere::core
