#include <string>

#include "core/casts.hpp"
#include "core/text.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;
using testing_support::IsValue;

Verdict<char32_t> cast(const std::string& s) { return cast_char(s.data(), s.size()); }

constexpr auto MALFORMED = FaultReason::MALFORMED;
constexpr auto OUT_OF_RANGE = FaultReason::OUT_OF_RANGE;

TEST(CastChar, EveryScalarIsTakenVerbatim) {
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_scalar_value(cp)) continue;
        unsigned char buf[4];
        const std::size_t n = encode_utf8(cp, buf);
        ASSERT_TRUE(IsValue(cast_char(reinterpret_cast<const char*>(buf), n), cp)) << std::hex << +cp;
    }
}

TEST(CastChar, NearMissesOfOneScalarAreReadAsNotation) {
    const testing_support::SpanRow cases[] = {
        {"\xc0\x80", 0, 2},          {"\xc1\xbf", 0, 2},          {"\xe0\x80\x80", 0, 3},  // overlong
        {"\xe0\x9f\xbf", 0, 3},      {"\xf0\x8f\xbf\xbf", 0, 4},
        {"\xed\xa0\x80", 0, 3},      {"\xed\xbf\xbf", 0, 3},                               // encoded surrogates
        {"\xf4\x90\x80\x80", 0, 4},  {"\xf5\x80\x80\x80", 0, 4},                           // past U+10FFFF
        {"\xc3", 0, 1},              {"\xe2\x82", 0, 2},          {"\xff", 0, 1},  {"\x80", 0, 1},
        {"AB", 0, 1},                {" A ", 1, 1},               {" A", 1, 1},    {"A\t", 0, 1},
        {"\xc3\xa9 ", 0, 2},         {"\t\xc3\xa9\t", 1, 2},      {"\xc3\xa9\xc3\xa9", 0, 2},
        {"A\xc3\xa9", 0, 1},         {"\xf0\x9f\x98\x80!", 0, 4},
    };
    testing_support::expect_fault_rows(cases, MALFORMED, cast);
}

// Writes a declared form of cp in notation k into buf, with leading zeros,
// letter case and surrounding whitespace varied by the value so that every
// variant is met; returns its length and the trimmed text's offset and length.
struct Declared {
    std::size_t size, offset, length;
};

Declared declare(const std::uint64_t cp, int k, char* buf) {
    static const char* const prefixes[6][2] = {{"", ""},     {"U+", "u+"}, {"0x", "0X"},
                                               {"&H", "&h"}, {"&#", "&#"}, {"&#x", "&#X"}};
    const bool hex = k == 1 || k == 2 || k == 3 || k == 5;
    const bool upper = (cp >> 1) & 1;
    char digits[32];
    std::size_t n = 0;
    for (std::uint64_t rest = cp; rest != 0 || n == 0; rest = hex ? rest / 16 : rest / 10) {
        const unsigned d = static_cast<unsigned>(hex ? rest % 16 : rest % 10);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
    }
    std::size_t zeros = cp % 3;
    if (k == 0 && n + zeros == 1) zeros = 1;  // a lone digit would be verbatim
    const unsigned pad = static_cast<unsigned>(cp * 7 + k) % 5;

    std::size_t size = 0;
    if (pad == 0) buf[size++] = ' ';
    if (pad == 1) buf[size++] = '\r', buf[size++] = '\n';
    const std::size_t offset = size;
    for (const char* p = prefixes[k][upper ? 1 : 0]; *p != 0; ++p) buf[size++] = *p;
    while (zeros-- > 0) buf[size++] = '0';
    while (n > 0) buf[size++] = digits[--n];
    if (k >= 4) buf[size++] = ';';
    const std::size_t length = size - offset;
    if (pad == 0) buf[size++] = '\t';
    return Declared{size, offset, length};
}

std::string declare(std::uint64_t cp, int k) {
    char buf[64];
    return std::string(buf, declare(cp, k, buf).size);
}

TEST(CastChar, EveryCodePointThroughEveryNotation) {
    char buf[64];
    for (std::uint64_t cp = 0; cp <= 0x10FFFF; ++cp) {
        const bool scalar = is_scalar_value(static_cast<char32_t>(cp));
        for (int k = 0; k < 6; ++k) {
            const Declared d = declare(cp, k, buf);
            const Verdict<char32_t> v = cast_char(buf, d.size);
            const bool right = scalar ? v.ok() && v.value == cp
                                      : v.reason() == OUT_OF_RANGE && v.span.offset == d.offset && v.span.length == d.length;
            if (!right) {
                ASSERT_TRUE(scalar ? IsValue(v, cp) : IsFault(v, OUT_OF_RANGE, d.offset, d.length))
                    << std::string(buf, d.size);
            }
        }
    }
}

TEST(CastChar, ValuesPastTheLastScalarAreOutOfRangeWithoutWrapping) {
    // 2^32 + 0x41 and 2^64 + 0x41 must not wrap around onto "A".
    const std::uint64_t beyond[] = {0x110000, 0x110041, 0xFFFFFFFE, 0xFFFFFFFF, 0x100000041, 0xFFFFFFFFFFFFFFFF};
    for (std::uint64_t cp : beyond) {
        for (int k = 0; k < 6; ++k) {
            const std::string text = declare(cp, k);
            const TextRange t = trim(text.data(), text.size());
            EXPECT_TRUE(IsFault(cast(text), OUT_OF_RANGE, t.offset, t.length)) << text;
        }
    }
    const std::string huge[] = {"99999999999", "18446744073709551681", "&#x10000000000000041;",
                                "U+" + std::string(40, 'F')};
    for (const auto& text : huge) {
        EXPECT_TRUE(IsFault(cast(text), OUT_OF_RANGE, 0, static_cast<std::uint32_t>(text.size()))) << text;
    }
}

TEST(CastChar, DeclaredValuesAndTheirEdges) {
    struct Case {
        std::string text;
        char32_t value;
    } cases[] = {
        {"65", 0x41},     {"U+0041", 0x41},   {"u+41", 0x41},     {"0x41", 0x41},     {"0X41", 0x41},
        {"&H41", 0x41},   {"&h41", 0x41},     {"&#65;", 0x41},    {"&#x41;", 0x41},   {"&#X41;", 0x41},
        {" 65 ", 0x41},   {"7", '7'},         {" 7 ", 7},         {" 0 ", 0},         {"&#0;", 0},
        {"00", 0},        {"U+000041", 0x41}, {"0000065", 65},    {"U+10FFFF", 0x10FFFF},
        {"0xD7FF", 0xD7FF}, {"0xE000", 0xE000}, {"\t", 9},        {" ", ' '},         {"\v", 0x0B},
        {std::string(1, '\0'), 0},            {"0x" + std::string(60, '0') + "41", 0x41},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsValue(cast(c.text), c.value)) << c.text;
}

TEST(CastChar, MalformedDeclarationsPointAtTheOffender) {
    const testing_support::SpanRow cases[] = {
        // Over the whole trimmed text: no room for digits, or no terminator.
        {" & ", 1, 1},    {"&\t", 0, 1},    {"&#", 0, 2},      {"&#x", 0, 3},     {"0x", 0, 2},
        {"0X", 0, 2},     {"U+", 0, 2},     {"u+", 0, 2},      {"&H", 0, 2},      {"&h", 0, 2},
        {"&#65", 0, 4},   {" &#65 ", 1, 4}, {"&#X41", 0, 5},   {"&#xD800", 0, 7}, // no ";" beats the range
        // At one character.
        {"&+41", 1, 1},   {"&x41", 1, 1},   {"&\xc3\xa9""41", 1, 2},               {"&#;", 2, 1},
        {"&#x;", 3, 1},   {"&#65:", 4, 1},  {"&#65;x", 5, 1},  {"&#65;;", 5, 1},   {"&#x41 ;", 5, 1},
        {"-65", 0, 1},    {"+65", 0, 1},    {"6+5", 1, 1},     {"0xg", 2, 1},     {"U+\xc3\xa9", 2, 2},
        {"0x\xf0", 2, 1}, {"0x41g", 4, 1},  {"0x 41", 2, 1},   {"65 5", 2, 1},    {"U+0041;", 6, 1},
        {"0b101", 1, 1},  {"x41", 0, 1},    {"U+-41", 2, 1},   {"&H&H", 2, 1},    {"U+41U", 4, 1},
        {"u+FFFFFFFFFg", 11, 1},  // the form is read to the end before the range
        {"\t&#6\xe2\x82\xac;", 4, 3},
    };
    testing_support::expect_fault_rows(cases, MALFORMED, cast);
}

TEST(CastChar, OutOfRangeSpansTheTrimmedText) {
    const testing_support::SpanRow cases[] = {
        {"U+110000", 0, 8}, {"U+D800", 0, 6},   {"U+DFFF", 0, 6},  {"&#xDFFF;", 0, 8},
        {"&#55296;", 0, 8}, {"1114112", 0, 7},  {" 4294967361 ", 1, 10}, {"\n0x100000041", 1, 11},
    };
    testing_support::expect_fault_rows(cases, OUT_OF_RANGE, cast);
}

TEST(CastChar, NothingButWhitespaceIsEmpty) {
    const std::string cases[] = {"", "    ", "  \t  ", "\r\n", "\t\t"};
    for (const auto& text : cases) EXPECT_TRUE(IsFault(cast(text), FaultReason::EMPTY, 0, 0)) << text;
    EXPECT_TRUE(IsFault(cast_char(nullptr, 0), FaultReason::EMPTY, 0, 0));
}

}  // namespace
}  // namespace quillmere::core
