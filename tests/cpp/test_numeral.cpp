#include <cstring>
#include <random>
#include <string>

#include "core/numeral.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::describe;
using testing_support::IsFault;

constexpr std::uint32_t ALL = NumFormat::ALL;

NumFormat format(char32_t dec, char32_t grp, std::uint32_t flags, const std::string& currency = "") {
    FormatResult r = make_num_format(dec, grp, flags, reinterpret_cast<const unsigned char*>(currency.data()),
                                     currency.size());
    EXPECT_EQ(r.error, FormatError::NONE);
    return r.format;
}

TextRange trimmed(const std::string& s) { return trim(s.data(), s.size()); }

// The numeral and percent mark as one string ("12%" for mark 1), or the fault.
std::string normalize(const std::string& s, const NumFormat& fmt) {
    char buffer[NUMERAL_CAPACITY];
    Verdict<Numeral> v = normalize_numeral(trimmed(s), fmt, buffer);
    if (!v.ok()) return describe(v);
    return std::string(buffer, v.value.length) + (v.value.percent ? "%" : "");
}

std::string fault(std::uint32_t offset, std::uint32_t length) {
    return "MALFORMED (" + std::to_string(offset) + ", " + std::to_string(length) + ")";
}

struct Row {
    std::string text;
    std::string expected;  // the numeral (with "%" for the percent mark) or the fault
};

void expect_rows(const NumFormat& fmt, std::initializer_list<Row> rows) {
    for (const Row& row : rows) EXPECT_EQ(normalize(row.text, fmt), row.expected) << "text: " << row.text;
}

TEST(NormalizeNumeral, ParenthesesAndSigns) {
    expect_rows(format('.', ',', ALL), {
        {"(12)", "-12"},      {"( 12 )", "-12"},  {"()", fault(0, 2)},     {"( )", fault(0, 3)},
        {"(12", fault(0, 3)}, {"(", fault(0, 1)}, {"(-12)", fault(1, 1)},  {"(+12)", fault(1, 1)},
        {"-12", "-12"},       {"+12", "12"},      {"--12", fault(1, 1)},   {"- 5", fault(1, 1)},
        {"-", fault(0, 1)},   {"+", fault(0, 1)}, {"12-", fault(2, 1)},    {" (7) ", "-7"},
        {"12)", fault(2, 1)}, {"((1))", fault(1, 1)},
    });
    // Without PARENTHESES "(" is an ordinary offending character.
    expect_rows(format('.', ',', ALL & ~NumFormat::PARENTHESES), {{"(12)", fault(0, 1)}, {"-12", "-12"}});
}

TEST(NormalizeNumeral, CurrencyPrefixAndSuffix) {
    expect_rows(format('.', ',', ALL, "$"), {
        {"-$5", "-5"},         {"$-5", "-5"},         {"$ 5", "5"},          {"5$", "5"},
        {"5 $", "5"},          {"-5$", "-5"},         {"+$5", "5"},          {"-$ 5", "-5"},
        {"$", fault(0, 1)},    {"-$", fault(0, 2)},   {"$  ", fault(0, 1)},  {" $ ", fault(1, 1)},
        {"-$-5", fault(2, 1)}, {"$5$", fault(2, 1)},  {"($5)", "-5"},        {"(5$)", "-5"},
        {"(-$5)", fault(3, 1)}, {"($)", fault(1, 1)}, {"$(5)", fault(1, 1)}, {"- $5", fault(1, 1)},
        {"$+-5", fault(2, 1)},
    });
    // A multi-byte symbol; the whole-text span counts its bytes.
    expect_rows(format('.', ',', ALL, "\xe2\x82\xac"), {
        {"\xe2\x82\xac" "5", "5"},     {"5 \xe2\x82\xac", "5"},         {"-\xe2\x82\xac" "5", "-5"},
        {"\xe2\x82\xac -5", "-5"},     {"\xe2\x82\xac", fault(0, 3)},   {"5$", fault(1, 1)},
    });
    // CURRENCY without a symbol, or a symbol without CURRENCY, allows nothing.
    expect_rows(format('.', ',', ALL & ~NumFormat::CURRENCY, "$"), {{"$5", fault(0, 1)}});
    expect_rows(format('.', ',', ALL), {{"$5", fault(0, 1)}});
}

TEST(NormalizeNumeral, SeparatorsAndGrouping) {
    expect_rows(format('.', ',', ALL), {
        {"1,234.5", "1234.5"},   {"1,2,3", "123"},         {",123", fault(0, 1)},    {"123,", fault(3, 1)},
        {"1,,2", fault(1, 1)},   {"1.234,5", fault(5, 1)}, {"1.2.3", fault(3, 1)},   {".5", ".5"},
        {"5.", "5."},            {"007.50", "007.50"},     {".", fault(0, 1)},       {"-.", fault(0, 2)},
        {"1,.5", fault(1, 1)},   {"-,5", fault(1, 1)},
    });
    // Without GROUPING the group separator is an offending character.
    expect_rows(format('.', ',', ALL & ~NumFormat::GROUPING), {{"1,234", fault(1, 1)}});
    // Multi-byte separators are matched, and reported, as whole byte sequences.
    expect_rows(format(U'\u066B', U'\u00A0', ALL), {
        {"1\xc2\xa0" "234\xd9\xab" "5", "1234.5"},
        {"1\xd9\xab" "2\xd9\xab" "3", fault(4, 2)},
        {"\xc2\xa0" "1", fault(0, 2)},
        {"1.5", fault(1, 1)},
        {"1\xc2", fault(1, 1)},  // a separator cut short is no separator
    });
}

TEST(NormalizeNumeral, Percent) {
    expect_rows(format('.', ',', ALL), {
        {"12%", "12%"},        {"12 %", "12%"},      {"(5)%", "-5%"},      {"(5%)", fault(2, 1)},
        {"%", fault(0, 1)},    {" % ", fault(1, 1)}, {"%%", fault(0, 1)},  {"(%", fault(0, 1)},
        {"( )%", fault(0, 3)}, {"-%", fault(0, 2)},  {"5%5", fault(1, 1)},
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::PERCENT), {{"12%", fault(2, 1)}});
}

TEST(NormalizeNumeral, Exponent) {
    expect_rows(format('.', ',', ALL), {
        {"1e5", "1e5"},       {"1E-5", "1e-5"},     {"1e+5", "1e+5"},     {"e5", fault(0, 1)},
        {"1e", fault(1, 1)},  {"1e+", fault(1, 1)}, {"1e5x", fault(3, 1)}, {".5e1", ".5e1"},
        {"1e5.0", fault(3, 1)}, {"1e5,0", fault(3, 1)}, {"-1.5e-3", "-1.5e-3"}, {"1e-+5", fault(1, 1)},
        {"1e5\xc3\xa9", fault(3, 2)},
    });
    expect_rows(format('.', ',', ALL & ~NumFormat::EXPONENT), {{"1e5", fault(1, 1)}});
    // A group separator "e" gives way to the exponent when one is allowed.
    expect_rows(format('.', 'e', ALL), {{"1e5", "1e5"}});
    expect_rows(format('.', 'e', ALL & ~NumFormat::EXPONENT), {{"1e5", "15"}, {"1e", fault(1, 1)}});
}

TEST(NormalizeNumeral, BufferHoldsAtMost256Bytes) {
    const std::string d256(256, '7');
    const std::string d257(257, '7');
    expect_rows(format('.', ',', ALL), {
        {d256, d256},
        {d257, fault(0, 257)},
        {"-" + d256.substr(1), "-" + d256.substr(1)},
        {"-" + d256, fault(0, 257)},
        {" " + d257 + "x", fault(1, 258)},           // the full buffer is met before the "x"
        {"x" + d257, fault(0, 1)},                   // an earlier offender wins
        {d256 + "%", d256 + "%"},                    // the dropped percent takes no room
        {"1e" + std::string(254, '0'), "1e" + std::string(254, '0')},
        {"1e" + std::string(255, '0'), fault(0, 257)},
    });
}

TEST(NormalizeNumeral, OffendingCharacterSpansClipToTheTrimmedText) {
    // A lead byte inside parentheses still takes its length from the trimmed text.
    expect_rows(format('.', ',', ALL), {{"(5\xc3)", fault(2, 2)}, {"12\xe2", fault(2, 1)}, {"12\xc3\xa9", fault(2, 2)}});
}

TEST(DetectSeparators, ChoosesFromDotsAndCommas) {
    struct Case {
        std::string text;
        char decimal;  // 0 when the verdict is a fault at `fault_at`
        std::uint32_t fault_at;
    } cases[] = {
        {"1234", '.', 0},      {"1,234,567", '.', 0}, {"1.234.567", ',', 0}, {"1,234.5", '.', 0},
        {"1.234,5", ',', 0},   {"0,5", ',', 0},       {"1,5", ',', 0},       {"1,23", ',', 0},
        {"1,2345", ',', 0},    {"0.123", '.', 0},     {"0,123", ',', 0},     {"1.2345", '.', 0},
        {"1,234", 0, 1},       {"12.345", 0, 2},      {".123", 0, 0},        {",123", 0, 0},
        {"00,123", 0, 2},      {"-0,123", ',', 0},    {"1,234x", 0, 1},      {"1,234 5", 0, 1},
        {"1,2345,6", '.', 0},  {"a.b,c", ',', 0},     {"1.2.3,4", ',', 0},
    };
    for (const auto& c : cases) {
        const std::string padded = "  " + c.text;
        Verdict<NumFormat> v = detect_separators(trimmed(padded), DETECT_FORMAT);
        if (c.decimal == 0) {
            EXPECT_TRUE(IsFault(v, FaultReason::MALFORMED, c.fault_at + 2, 1)) << c.text;
            continue;
        }
        ASSERT_TRUE(v.ok()) << c.text << ": " << describe(v);
        EXPECT_EQ(v.value.decimal_sep, static_cast<char32_t>(c.decimal)) << c.text;
        EXPECT_EQ(v.value.group_sep, c.decimal == '.' ? U',' : U'.') << c.text;
        EXPECT_EQ(v.value.flags, NumFormat::ALL) << c.text;
    }
}

TEST(DetectSeparators, KeepsTheOtherFieldsAndCountsSeparatorsInTheSymbol) {
    NumFormat fmt = format(U'\u00A0', U'\u202F', 0xFFFFFFFFu, "R.");
    Verdict<NumFormat> v = detect_separators(trimmed("R.5"), fmt);
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.value.decimal_sep, U'.');
    EXPECT_EQ(v.value.flags, 0xFFFFFFFFu & ~NumFormat::SEPARATOR_DETECT);
    EXPECT_EQ(v.value.currency_len, 2);
    EXPECT_EQ(std::memcmp(v.value.currency, "R.", 2), 0);
    // The "." of the symbol is a lone separator followed by three digits.
    EXPECT_TRUE(IsFault(detect_separators(trimmed("R.500"), fmt), FaultReason::MALFORMED, 1, 1));
}

TEST(NormalizeNumeral, UnderDetectionReadsBothConventions) {
    auto detect_then_normalize = [](const std::string& s) {
        Verdict<NumFormat> f = detect_separators(trimmed(s), DETECT_FORMAT);
        return f.ok() ? normalize(s, f.value) : describe(f);
    };
    EXPECT_EQ(detect_then_normalize("1.234.567"), "1234567");
    EXPECT_EQ(detect_then_normalize("1,234.5"), "1234.5");
    EXPECT_EQ(detect_then_normalize("1.234,5"), "1234.5");
    EXPECT_EQ(detect_then_normalize("0,5"), "0.5");
    EXPECT_EQ(detect_then_normalize("1,234"), fault(1, 1));
}

TEST(StripCurrency, ReportsTheSignBeforeAPrefix) {
    NumFormat fmt = format('.', ',', ALL, "US$");
    struct Case {
        std::string text;
        std::string number;
        bool sign_before, negative_before;
    } cases[] = {
        {"US$5", "5", false, false},     {"-US$ 5", "5", true, true},  {"+US$5", "5", true, false},
        {"5US$", "5", false, false},     {"-5 US$", "-5", false, false}, {"5", "5", false, false},
        {"US$5US$", "5US$", false, false}, {"--US$5", "--US$5", false, false},
    };
    for (const auto& c : cases) {
        Verdict<CurrencyStrip> v = strip_currency(trimmed(c.text), fmt);
        ASSERT_TRUE(v.ok()) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.value.number.data), v.value.number.length), c.number)
            << c.text;
        EXPECT_EQ(v.value.sign_before, c.sign_before) << c.text;
        EXPECT_EQ(v.value.negative_before, c.negative_before) << c.text;
    }
}

TEST(IsPlainNumeral, AcceptsExactlyThePlainShape) {
    NumFormat fmt = format('.', ',', ALL);
    const char* plain[] = {"1", "-1", "+1", "1.", ".5", "1.5", "007", "1e5", "1E-5", "1.5e+10", "-.5e3"};
    const char* not_plain[] = {".", "-", "+", "", "1e", "1e+", "e5", "1,000", "(1)", "1%", "$1",
                               "1.2.3", "--1", "1e5.0", "1 2", "0x10", "1ee5"};
    for (const char* s : plain) EXPECT_TRUE(is_plain_numeral(trimmed(s), fmt)) << s;
    for (const char* s : not_plain) EXPECT_FALSE(is_plain_numeral(trimmed(s), fmt)) << s;

    EXPECT_FALSE(is_plain_numeral(trimmed("1e5"), format('.', ',', ALL & ~NumFormat::EXPONENT)));
    EXPECT_TRUE(is_plain_numeral(trimmed("15"), format('.', ',', 0)));
    EXPECT_FALSE(is_plain_numeral(trimmed("1.5"), format(',', '.', ALL)));
    for (char32_t g : {U'0', U'9', U'+', U'-', U'.', U'e', U'E'}) {
        EXPECT_FALSE(is_plain_numeral(trimmed("15"), format(g == U'.' ? U',' : U'.', g, ALL)));
    }
    EXPECT_TRUE(is_plain_numeral(trimmed("15"), format('.', U'\u00A0', ALL)));
}

// Every plain text normalises to itself (less a "+" sign, with "e" lowered):
// the shortcut that skips normalisation cannot change a verdict. Also checks
// the shape of every numeral normalisation produces.
TEST(NormalizeNumeral, AgreesWithThePlainTestOnGeneratedTexts) {
    std::mt19937 rng(20240611);
    const char alphabet[] = "0123456789012345.,eE+-()% $";
    const NumFormat formats[] = {format('.', ',', ALL), format('.', ' ', ALL), format('.', U'\u00A0', 0),
                                 format(',', '.', ALL), format('.', ',', NumFormat::EXPONENT)};
    char buffer[NUMERAL_CAPACITY];
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int len = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < len; ++k) s += alphabet[rng() % (sizeof alphabet - 1)];
        for (const NumFormat& fmt : formats) {
            const TextRange t = trimmed(s);
            if (t.empty()) continue;
            Verdict<Numeral> v = normalize_numeral(t, fmt, buffer);
            if (is_plain_numeral(t, fmt)) {
                std::string expected(reinterpret_cast<const char*>(t.data), t.length);
                if (expected[0] == '+') expected.erase(0, 1);
                for (char& c : expected) c = c == 'E' ? 'e' : c;
                ASSERT_TRUE(v.ok()) << s;
                ASSERT_EQ(std::string(buffer, v.value.length), expected) << s;
            }
            if (!v.ok()) {
                ASSERT_EQ(v.reason(), FaultReason::MALFORMED) << s;
                ASSERT_GE(v.span.offset, t.offset) << s;
                ASSERT_LE(v.span.offset + v.span.length, t.offset + t.length) << s;
                continue;
            }
            // -? digits and at most one "." with a digit somewhere, then e[+-]?digits.
            const std::string out(buffer, v.value.length);
            std::size_t i = out[0] == '-' ? 1 : 0, digits = 0, points = 0;
            for (; i < out.size() && out[i] != 'e'; ++i) {
                if (out[i] == '.') {
                    ++points;
                    continue;
                }
                ASSERT_TRUE(is_digit(static_cast<unsigned char>(out[i]))) << s << " -> " << out;
                ++digits;
            }
            ASSERT_GE(digits, 1u) << s;
            ASSERT_LE(points, 1u) << s;
        }
    }
}

TEST(ReadAsciiDigits, TakesDigitsAndSeparatorsOrGivesUp) {
    struct Case {
        std::string text;
        bool complete;
        std::uint64_t mantissa;
        std::uint32_t digits, fraction;
    } cases[] = {
        {"1,234", true, 1234, 4, 0},    {"0012.50", true, 1250, 6, 2}, {".5", true, 5, 1, 1},
        {"5.", true, 5, 1, 0},          {"1,2,3", true, 123, 3, 0},    {"000", true, 0, 3, 0},
        {"1.2,3", false, 0, 0, 0},      {",1", false, 0, 0, 0},        {"1,", false, 0, 0, 0},
        {"1,,2", false, 0, 0, 0},       {".", false, 0, 0, 0},         {"1.2.3", false, 0, 0, 0},
        {"1e5", false, 0, 0, 0},        {"000000000012345678901234567890", false, 0, 0, 0},
        {"0000000000123456789012345678", true, 123456789012345678u, 28, 0},
    };
    for (const auto& c : cases) {
        auto r = read_ascii_digits<std::uint64_t, 19>(trimmed(c.text), '.', ',', true, true);
        EXPECT_EQ(r.complete, c.complete) << c.text;
        if (!c.complete || !r.complete) continue;
        EXPECT_EQ(r.mantissa, c.mantissa) << c.text;
        EXPECT_EQ(r.digits, c.digits) << c.text;
        EXPECT_EQ(r.fraction, c.fraction) << c.text;
    }
    EXPECT_FALSE((read_ascii_digits<std::uint64_t, 19>(trimmed("1.5"), '.', ',', true, false).complete));
    EXPECT_FALSE((read_ascii_digits<std::uint64_t, 19>(trimmed("1,5"), '.', ',', false, true).complete));
}

}  // namespace
}  // namespace quillmere::core
