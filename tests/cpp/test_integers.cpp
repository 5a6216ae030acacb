#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "core/casts.hpp"
#include "core/reference_paths.hpp"
#include "core/text.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::describe;
using testing_support::same_verdict;
using i128 = __int128;

constexpr std::uint32_t ALL = NumFormat::ALL;

NumFormat format(char32_t dec, char32_t grp, std::uint32_t flags, const std::string& currency = "") {
    FormatResult r = make_num_format(dec, grp, flags, reinterpret_cast<const unsigned char*>(currency.data()),
                                     currency.size());
    EXPECT_EQ(r.error, FormatError::NONE);
    return r.format;
}

template <class T>
Verdict<T> cast_as(const std::string& s, const NumFormat& f) {
    if constexpr (std::is_same_v<T, std::int8_t>) return cast_i8(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::int16_t>) return cast_i16(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::int32_t>) return cast_i32(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::int64_t>) return cast_i64(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::uint8_t>) return cast_u8(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::uint16_t>) return cast_u16(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::uint32_t>) return cast_u32(s.data(), s.size(), f);
    if constexpr (std::is_same_v<T, std::uint64_t>) return cast_u64(s.data(), s.size(), f);
}

std::string to_string(i128 v) {
    if (v == 0) return "0";
    const bool negative = v < 0;
    unsigned __int128 m = negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string out;
    for (; m != 0; m /= 10) out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    return negative ? "-" + out : out;
}

template <class T>
std::string outcome(const Verdict<T>& v) {
    return v.ok() ? to_string(static_cast<i128>(v.value)) : describe(v);
}

template <class T>
std::string whole_text(FaultReason reason, const std::string& text) {
    const TextRange t = trim(text.data(), text.size());
    return describe(Verdict<T>(make_fault(reason, t.offset, t.length)));
}

// What a type gives for a text naming `value`: the value, or OUT_OF_RANGE
// over the whole trimmed text.
template <class T>
std::string named_value(i128 value, const std::string& text) {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
        return whole_text<T>(FaultReason::OUT_OF_RANGE, text);
    }
    return to_string(value);
}

using AllTypes = std::tuple<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                            std::uint32_t, std::uint64_t>;

template <class F>
void for_each_type(F&& f) {
    std::apply([&](auto... zero) { (f(zero), ...); }, AllTypes{});
}

std::string malformed(std::uint32_t offset, std::uint32_t length) {
    return "MALFORMED (" + std::to_string(offset) + ", " + std::to_string(length) + ")";
}

// A row whose verdict is the same for every width: a fault, or a value that
// each type holds or refuses as out of range over the whole trimmed text.
struct Row {
    std::string text;
    std::string fault;  // empty: the text names `value`
    i128 value = 0;
    bool beyond_128_bits = false;  // OUT_OF_RANGE for every type
};

Row named(std::string text, i128 value) { return Row{std::move(text), "", value, false}; }
Row bad(std::string text, std::uint32_t offset, std::uint32_t length) {
    return Row{std::move(text), malformed(offset, length), 0, false};
}
Row huge(std::string text) { return Row{std::move(text), "", 0, true}; }

void expect_rows(const NumFormat& fmt, std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        for_each_type([&](auto zero) {
            using T = decltype(zero);
            const std::string expected = !row.fault.empty() ? row.fault
                                         : row.beyond_128_bits ? whole_text<T>(FaultReason::OUT_OF_RANGE, row.text)
                                                               : named_value<T>(row.value, row.text);
            EXPECT_EQ(outcome(cast_as<T>(row.text, fmt)), expected)
                << "text \"" << row.text << "\" as a " << (std::is_signed_v<T> ? "signed " : "unsigned ")
                << 8 * sizeof(T) << "-bit integer";
        });
    }
}

const NumFormat DEFAULT = format('.', ',', ALL);

TEST(IntegerCasts, EmptyAndWhitespace) {
    for_each_type([](auto zero) {
        using T = decltype(zero);
        for (const std::string s : {"", " ", " \t\n\f\r "}) {
            EXPECT_EQ(outcome(cast_as<T>(s, DEFAULT)), "EMPTY (0, 0)");
        }
    });
    expect_rows(DEFAULT, {bad("\v", 0, 1), bad(" 12x ", 3, 1), bad("12\xc3\xa9", 2, 2), bad("12\xe2", 2, 1),
                          bad("\xc3\xa9" "12x", 0, 2), bad("1 2", 1, 1), named("\t-7\r\n", -7)});
}

TEST(IntegerCasts, RangeEdgesOfEveryWidthInEveryDecoration) {
    const NumFormat fmt = format('.', ',', ALL, "$");
    const NumFormat nbsp = format('.', U'\u00A0', ALL);
    for_each_type([&](auto zero) {
        using T = decltype(zero);
        const i128 edges[] = {i128{std::numeric_limits<T>::min()} - 1, std::numeric_limits<T>::min(),
                              i128{std::numeric_limits<T>::min()} + 1, -1, 0, 1,
                              i128{std::numeric_limits<T>::max()} - 1, std::numeric_limits<T>::max(),
                              i128{std::numeric_limits<T>::max()} + 1};
        for (i128 v : edges) {
            const std::string digits = to_string(v < 0 ? -v : v);
            std::string grouped;  // thousands groups joined by `sep`
            auto group = [&](const std::string& sep) {
                std::string g;
                for (std::size_t i = 0; i < digits.size(); ++i) {
                    if (i > 0 && (digits.size() - i) % 3 == 0) g += sep;
                    g += digits[i];
                }
                return g;
            };
            const std::string sign = v < 0 ? "-" : "";
            const std::string texts[] = {
                sign + digits, " " + sign + digits + " ", (v < 0 ? "-" : "+") + digits, sign + group(","),
                sign + "$" + group(","), sign + "$ " + digits, "$" + sign + digits, sign + digits + " $",
                v <= 0 ? "(" + digits + ")" : digits, v <= 0 ? "($ " + group(",") + ")" : "$" + digits,
                sign + "0000000000000000000000" + digits, sign + digits + "e0", sign + digits + "e+0",
            };
            for (const std::string& text : texts) {
                EXPECT_EQ(outcome(cast_as<T>(text, fmt)), named_value<T>(v, text)) << text;
            }
            const std::string wide = sign + group("\xc2\xa0");
            EXPECT_EQ(outcome(cast_as<T>(wide, nbsp)), named_value<T>(v, wide)) << wide;
        }
    });
}

TEST(IntegerCasts, SignsParenthesesAndCurrency) {
    expect_rows(DEFAULT, {
        named("(42)", -42),    named("( 42 )", -42),  named("-0", 0),        named("(0)", 0),
        named("+0", 0),        bad("()", 0, 2),       bad("( )", 0, 3),      bad("(12", 0, 3),
        bad("(-12)", 1, 1),    bad("--1", 1, 1),      bad("+-1", 1, 1),      bad("- 5", 1, 1),
        bad("-", 0, 1),        bad("+", 0, 1),        bad(" ( - ) ", 3, 1),  bad("5-", 1, 1),
        bad("12)", 2, 1),      bad("$5", 0, 1),       bad("12%", 2, 1),      bad("%", 0, 1),
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::PARENTHESES), {bad("(42)", 0, 1)});
    const std::string euro = "\xe2\x82\xac";
    expect_rows(format('.', ',', ALL, euro), {
        named(euro + "5", 5),  named("5 " + euro, 5),  named("-" + euro + "5", -5), named(euro + " -5", -5),
        named("(" + euro + "5)", -5), bad(euro, 0, 3), bad("-" + euro, 0, 4),       bad(euro + "-", 0, 4),
        bad("-" + euro + "-5", 4, 1), bad(euro + "5" + euro, 4, 3), bad("(-" + euro + "5)", 5, 1),
        bad("(" + euro + ")", 1, 3),  bad("5$", 1, 1),
    });
    // The symbol is inert without CURRENCY, and a sign before the prefix is
    // the only sign allowed.
    expect_rows(format('.', ',', ALL & ~NumFormat::CURRENCY, "$"), {bad("$5", 0, 1), bad("5$", 1, 1)});
    expect_rows(format('.', ',', ALL, "$"), {bad("-$+5", 2, 1), named("+$5", 5), bad("$", 0, 1),
                                              bad("-$", 0, 2), bad("$-", 0, 2), bad("$5$", 2, 1)});
}

TEST(IntegerCasts, SeparatorsAndGroups) {
    expect_rows(DEFAULT, {
        named("1,000", 1000), named("1,2,3", 123), named("12,34,567", 1234567),
        bad("1.000", 1, 1),   bad("5.0", 1, 1),    bad(",5", 0, 1),  bad("5,", 1, 1),  bad("1,,0", 1, 1),
        bad("-,5", 1, 1),     bad("(,5)", 1, 1),   bad(".", 0, 1),   bad("1,000.5", 5, 1),
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::GROUPING), {bad("1,000", 1, 1), named("1000", 1000)});
    // Non-ASCII separators match, and are reported, by their whole byte sequence.
    expect_rows(format(U'\u066B', U'\u00A0', ALL), {
        named("1\xc2\xa0" "000", 1000), bad("1\xd9\xab" "0", 1, 2), bad("\xc2\xa0" "1", 0, 2),
        bad("1\xc2\xa0", 1, 2),         bad("1\xc2\xa0\xc2\xa0" "2", 1, 2), bad("1,000", 1, 1),
        bad("1\xc2", 1, 1),
    });
    expect_rows(format('.', U'\u202F', ALL), {named("-12\xe2\x80\xaf" "345", -12345)});
    // "é" as the group separator is skipped; the "x" after it is the fault.
    expect_rows(format('.', U'\u00E9', ALL), {bad("1\xc3\xa9" "2x", 4, 1), named("1\xc3\xa9" "2", 12)});
    // A group separator "e" is tried before the exponent.
    expect_rows(format('.', 'e', ALL), {named("1e5", 15), bad("1e", 1, 1), bad("1e+5", 1, 1),
                                         named("1E5", 100000), bad("e5", 0, 1)});
    // A decimal separator "e" is never an exponent.
    expect_rows(format('e', ',', ALL), {bad("1e5", 1, 1)});
}

TEST(IntegerCasts, SeparatorDetection) {
    const NumFormat detect = format('.', ',', ALL | NumFormat::SEPARATOR_DETECT);
    expect_rows(detect, {
        named("1,234,567", 1234567), named("1.234.567", 1234567), bad("1,234", 1, 1), bad("1,5", 1, 1),
        bad("1.234", 1, 1),          bad(" 0.5", 2, 1),           named("1234", 1234), bad("1.234,5", 5, 1),
        bad("0x1,000", 3, 1),        named("12", 12),             bad("(1.000)", 2, 1),
    });
    // The resolved separators replace the declared ones, multi-byte ones too.
    expect_rows(format(U'\u066B', U'\u00A0', ALL | NumFormat::SEPARATOR_DETECT),
                {named("1.000.000", 1000000), bad("1\xc2\xa0" "000", 1, 2)});
}

TEST(IntegerCasts, Exponent) {
    i128 e38 = 1;
    for (int k = 0; k < 38; ++k) e38 *= 10;
    expect_rows(DEFAULT, {
        named("1e3", 1000),     named("1E3", 1000),       named("0e99999999", 0),  named("0e100001", 0),
        named("7e0", 7),        named("-2e2", -200),      named("1e+2", 100),      named("(3e1)", -30),
        named("1,000e3", 1000000),  named("12e00000000000000000000002", 1200),
        named("1e18", 1000000000000000000),  named("-9223372036854775808e0", -i128{9223372036854775807} - 1),
        named("18446744073709551615e0", i128{18446744073709551615u}),
        named("1e38", e38),     huge("1e39"),             huge("2e38"),             huge("1e100000"),
        huge("1e100001"),       huge("1e4294967296"),
        bad("12e-1", 3, 1),     bad("1e+-1", 3, 1),       bad("e3", 0, 1),          bad("1e", 1, 1),
        bad("1e+", 1, 1),       bad("1e++1", 1, 1),       bad("1ex", 1, 1),         bad("1e5x", 3, 1),
        bad("1e5,000", 3, 1),   bad("1e5.0", 3, 1),       bad("1e5e5", 3, 1),       bad("-e5", 1, 1),
        bad("(e5)", 1, 1),      bad("1e5\xc3\xa9", 3, 2), bad("1e100001x", 8, 1),   bad("1 e5", 1, 1),
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::EXPONENT), {bad("1e3", 1, 1), bad("1E3", 1, 1)});
}

// Radix forms name an unsigned bit pattern; each type takes the pattern of
// its own width, read as two's complement when signed.
template <class T>
std::string radix_pattern(unsigned __int128 pattern, const std::string& text) {
    if (pattern >> (8 * sizeof(T)) != 0) return whole_text<T>(FaultReason::OUT_OF_RANGE, text);
    return to_string(static_cast<T>(static_cast<std::make_unsigned_t<T>>(pattern)));
}

TEST(IntegerCasts, RadixFormsTakeTheBitsOfEachWidth) {
    struct Case {
        std::string text;
        unsigned __int128 pattern;
    } cases[] = {
        {"0x7F", 0x7F}, {"0x80", 0x80}, {"0XfF", 0xFF}, {"0xff", 0xFF}, {"&HFFFF", 0xFFFF}, {"&h8000", 0x8000},
        {"0b101", 5},   {"0B11111111", 0xFF}, {"0x00FF", 0xFF}, {"0x0", 0}, {"0b0", 0}, {"0x100", 0x100},
        {"0xFFFFFFFF", 0xFFFFFFFF}, {"0x80000000", 0x80000000}, {"0xFFFFFFFFFFFFFFFF", ~std::uint64_t{0}},
        {"0x8000000000000000", std::uint64_t{1} << 63}, {"0x10000000000000000", static_cast<unsigned __int128>(1) << 64},
        {"  0x0000000000000000000000000000000000000000001  ", 1},
        {"0b" + std::string(64, '1'), ~std::uint64_t{0}}, {"0x1" + std::string(40, '0'), ~static_cast<unsigned __int128>(0)},
    };
    for (const auto& c : cases) {
        for_each_type([&](auto zero) {
            using T = decltype(zero);
            EXPECT_EQ(outcome(cast_as<T>(c.text, DEFAULT)), radix_pattern<T>(c.pattern, c.text)) << c.text;
        });
    }
    expect_rows(DEFAULT, {
        bad("0x", 0, 2),        bad(" &h ", 1, 2),      bad("0xG1", 2, 1),      bad("0b102", 4, 1),
        bad("0x1,000", 3, 1),   bad("0x1 0", 3, 1),     bad("-0x10", 2, 1),     bad("(0x10)", 2, 1),
        bad("0x-1", 2, 1),      bad("0x1e5x", 5, 1),    bad("0x1\xc3\xa9", 3, 2), bad("0o17", 1, 1),
        bad("0x1" + std::string(40, 'f') + "z", 43, 1), bad("&x1", 0, 1),   named("0", 0),
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::RADIX_PREFIXES),
                {bad("0x10", 1, 1), bad("&h10", 0, 1), bad("0b1", 1, 1)});
}

TEST(IntegerCasts, FormFaultsWinOverAnEarlierOverflow) {
    const std::string nines(41, '9');
    expect_rows(DEFAULT, {
        huge(nines),              huge("-" + nines),          huge("(" + nines + ")"),
        bad(nines + "x", 41, 1),  bad(nines + ",", 41, 1),    bad(nines + ".0", 41, 1),
        bad(nines + "e-1", 42, 1), bad(nines + "e", 41, 1),   huge(nines + "e5"),
        huge("1" + std::string(38, '0')), huge(" 170141183460469231731687303715884105728 "),
        named("-0000000000000000000000000000000000000000000000000000000000000000", 0),
        bad("1e100001" + std::string(1, '%'), 8, 1),
    });
    // Out of range always spans the whole trimmed text, decorations included.
    const NumFormat fmt = format('.', ',', ALL, "$");
    EXPECT_EQ(outcome(cast_as<std::int8_t>("  ($ 1,280)  ", fmt)), "OUT_OF_RANGE (2, 9)");
    EXPECT_EQ(outcome(cast_as<std::uint32_t>("(42)", fmt)), "OUT_OF_RANGE (0, 4)");
    EXPECT_EQ(outcome(cast_as<std::uint8_t>("-$1", fmt)), "OUT_OF_RANGE (0, 3)");
    EXPECT_EQ(outcome(cast_as<std::uint64_t>("18446744073709551616", fmt)), "OUT_OF_RANGE (0, 20)");
    EXPECT_EQ(outcome(cast_as<std::uint64_t>("18446744073709551615", fmt)), "18446744073709551615");
}

// Every 8- and 16-bit pattern in hexadecimal and binary, and every 16-bit
// value in decimal with thousands groups: an exhaustive check of the radix
// reading and the range tests.
TEST(IntegerCasts, ExhaustiveSixteenBitValues) {
    auto hex = [](unsigned v) {
        static const char digits[] = "0123456789abcdef";
        std::string s;
        do s.insert(s.begin(), digits[v % 16]); while ((v /= 16) != 0);
        return s;
    };
    auto binary = [](unsigned v) {
        std::string s;
        do s.insert(s.begin(), static_cast<char>('0' + v % 2)); while ((v /= 2) != 0);
        return s;
    };
    for (unsigned v = 0; v <= 0xFFFF; ++v) {
        const std::string t = "0x" + hex(v);
        ASSERT_EQ(outcome(cast_as<std::int16_t>(t, DEFAULT)), radix_pattern<std::int16_t>(v, t));
        ASSERT_EQ(outcome(cast_as<std::uint16_t>(t, DEFAULT)), radix_pattern<std::uint16_t>(v, t));
    }
    for (unsigned v = 0; v <= 0x3FF; ++v) {
        for (const std::string& t : {"&H" + hex(v), "0b" + binary(v)}) {
            ASSERT_EQ(outcome(cast_as<std::int8_t>(t, DEFAULT)), radix_pattern<std::int8_t>(v, t));
            ASSERT_EQ(outcome(cast_as<std::uint8_t>(t, DEFAULT)), radix_pattern<std::uint8_t>(v, t));
        }
    }
    for (int v = -70000; v <= 70000; v += 11) {
        const std::string plain = std::to_string(v);
        std::string grouped = plain;
        if (std::abs(v) >= 1000) grouped.insert(grouped.size() - 3, ",");
        for (const std::string& t : {plain, grouped}) {
            ASSERT_EQ(outcome(cast_as<std::int16_t>(t, DEFAULT)), named_value<std::int16_t>(v, t));
            ASSERT_EQ(outcome(cast_as<std::uint16_t>(t, DEFAULT)), named_value<std::uint16_t>(v, t));
            ASSERT_EQ(outcome(cast_as<std::int8_t>(t, DEFAULT)), named_value<std::int8_t>(v, t));
        }
    }
}

// The shortcuts must give exactly the general algorithm's verdict. Texts are
// drawn from the bytes that matter to some rule, under formats that enable
// and disable each rule, and both paths are run on every type.
template <class T>
void expect_shortcuts_agree(const std::string& s, const NumFormat& fmt) {
    const Verdict<T> fast = cast_as<T>(s, fmt);
    const Verdict<T> general = cast_integer_general<T>(s.data(), s.size(), fmt);
    ASSERT_TRUE(same_verdict(fast, general)) << "\"" << s << "\": shortcut " << outcome(fast) << ", general "
                                             << outcome(general);
}

TEST(IntegerCasts, ShortcutsAgreeWithTheGeneralAlgorithm) {
    const NumFormat formats[] = {
        format('.', ',', ALL),
        format('.', ',', ALL | NumFormat::SEPARATOR_DETECT, "$"),
        format(',', '.', ALL, "$"),
        format('.', ' ', NumFormat::GROUPING | NumFormat::PARENTHESES),
        format('.', 'e', ALL),
        format('.', '1', ALL),
        format('.', U'\u00A0', ALL, "-"),
        format(U'\u066B', ',', ALL, "kr"),
        format('.', ',', 0),
    };
    const std::string pieces[] = {"0", "1", "5", "9", "00", "123", "999", "9223372036854775807",
                                  "18446744073709551615", "99999999999999999999", "-", "+", "(", ")",
                                  ",", ".", "e", "E", " ", "$", "kr", "x", "0x", "&h", "0b", "%",
                                  "\xc2\xa0", "\xd9\xab"};
    std::mt19937 rng(7);
    for (int round = 0; round < 6000; ++round) {
        std::string s;
        const int count = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < count; ++k) s += pieces[rng() % std::size(pieces)];
        for (const NumFormat& fmt : formats) {
            for_each_type([&](auto zero) { expect_shortcuts_agree<decltype(zero)>(s, fmt); });
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}


// The plain-digit shortcut reads a text in words chosen by its length; every
// length up to one past the longest, signed or not, and every single-byte
// change of such a text, must still give the general algorithm's verdict.
TEST(IntegerCasts, PlainDigitWordsAgreeWithTheGeneralAlgorithm) {
    const NumFormat fmt = format('.', ',', ALL);
    const unsigned char replacements[] = {'0', '9', '/', ':', '-', '+', ' ', '.', ',', 'e', 'x', 0x00, 0x80, 0xFF};
    std::mt19937_64 rng(11);
    for (std::size_t digits = 1; digits <= 21; ++digits) {
        for (const char* sign : {"", "-", "+"}) {
            for (int sample = 0; sample < 4; ++sample) {
                std::string s = sign;
                for (std::size_t k = 0; k < digits; ++k) s += static_cast<char>('0' + rng() % 10);
                if (sample == 1) std::fill(s.begin() + static_cast<std::ptrdiff_t>(std::strlen(sign)), s.end(), '9');
                for_each_type([&](auto zero) { expect_shortcuts_agree<decltype(zero)>(s, fmt); });
                for (std::size_t at = 0; at < s.size(); ++at) {
                    for (const unsigned char b : replacements) {
                        std::string changed = s;
                        changed[at] = static_cast<char>(b);
                        for_each_type([&](auto zero) { expect_shortcuts_agree<decltype(zero)>(changed, fmt); });
                        if (::testing::Test::HasFatalFailure()) return;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace quillmere::core
