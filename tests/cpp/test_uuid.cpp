#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>

#include "core/casts.hpp"
#include "core/text.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

constexpr auto MALFORMED = FaultReason::MALFORMED;

Verdict<Uuid> cast(const std::string& s) { return cast_uuid(s.data(), s.size()); }

::testing::AssertionResult IsUuid(const Verdict<Uuid>& v, const Uuid& expected) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (std::memcmp(v.value.bytes, expected.bytes, 16) != 0) return ::testing::AssertionFailure() << "wrong bytes";
    return ::testing::AssertionSuccess();
}

constexpr Uuid COUNTING{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

// The 32 digits of a value, each letter's case drawn from the generator.
std::string digits_of(const Uuid& u, std::mt19937_64& rng) {
    std::string out;
    for (unsigned char b : u.bytes) {
        for (unsigned nibble : {unsigned{b} >> 4, unsigned{b} & 15u}) {
            const char* set = rng() & 1 ? "0123456789ABCDEF" : "0123456789abcdef";
            out += set[nibble];
        }
    }
    return out;
}

std::string hyphenate(const std::string& d) {
    return d.substr(0, 8) + "-" + d.substr(8, 4) + "-" + d.substr(12, 4) + "-" + d.substr(16, 4) + "-" + d.substr(20);
}

// The structure form, each field with a random number of leading zeros
// (from none to a full-width field) and a random "0x" or "0X".
std::string structure_of(const Uuid& u, std::mt19937_64& rng) {
    auto field = [&](std::size_t from, std::size_t n) {
        std::string digits;
        for (std::size_t i = from; i < from + n; ++i) {
            static const char* hex = "0123456789abcdef";
            digits += hex[u.bytes[i] >> 4];
            digits += hex[u.bytes[i] & 15];
        }
        const std::size_t first_nonzero = digits.find_first_not_of('0');
        const std::size_t shortest = first_nonzero == std::string::npos ? 1 : digits.size() - first_nonzero;
        const std::size_t keep = shortest + rng() % (digits.size() - shortest + 1);
        std::string out(rng() & 1 ? "0X" : "0x");
        return out.append(digits, digits.size() - keep, keep);
    };
    std::string s = "{";
    s.append(field(0, 4)).append(",").append(field(4, 2)).append(",").append(field(6, 2)).append(",{");
    for (std::size_t i = 8; i < 16; ++i) {
        if (i != 8) s += ',';
        s.append(field(i, 1));
    }
    return s.append("}}");
}

// A prefix in random letter case followed by up to two whitespace bytes.
std::string prefix_of(std::mt19937_64& rng) {
    static const char* const prefixes[] = {"", "urn:uuid:", "guid:", "uuid:"};
    std::string p = prefixes[rng() % 4];
    for (char& c : p) {
        if (rng() & 1) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!p.empty()) p.append(rng() % 3, " \t\n\f\r"[rng() % 5]);
    return p;
}

TEST(CastUuid, EveryLayoutOfRandomValuesYieldsTheBytes) {
    std::mt19937_64 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        Uuid u;
        for (auto& b : u.bytes) b = static_cast<std::uint8_t>(rng());
        if (round < 16) std::memset(u.bytes, round * 0x11, 16);  // all-zero and all-digit-letter values
        const std::string d = digits_of(u, rng);
        const std::string hyphenated = hyphenate(d);
        const std::string layouts[] = {d, hyphenated, std::string("{").append(hyphenated).append("}"),
                                       std::string("(").append(hyphenated).append(")"), structure_of(u, rng)};
        for (const auto& layout : layouts) {
            std::string text(rng() & 1 ? " " : "");
            text.append(prefix_of(rng)).append(layout).append(rng() & 1 ? "\n" : "");
            ASSERT_TRUE(IsUuid(cast(text), u)) << text;
        }
    }
}

TEST(CastUuid, NamedFormsOfOneValue) {
    const std::string texts[] = {
        "00112233-4455-6677-8899-aabbccddeeff",
        "00112233445566778899AABBCCDDEEFF",
        "{00112233-4455-6677-8899-aabbccddeeff}",
        "(00112233-4455-6677-8899-aabbccddeeff)",
        "{0x00112233,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0xff}}",
        "{0X00112233,0X4455,0X6677,{0X88,0X99,0XAA,0XBB,0XCC,0XDD,0XEE,0XFF}}",
        "URN:UUID:00112233-4455-6677-8899-aabbccddeeff",
        "Guid: 00112233445566778899aabbccddeeff",
        "uuid:{00112233-4455-6677-8899-aabbccddeeff}",
        "uUiD:\t\r\n (00112233-4455-6677-8899-aabbccddeeff)",
        "\tguid:{0x00112233,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0xff}} ",
    };
    for (const auto& text : texts) EXPECT_TRUE(IsUuid(cast(text), COUNTING)) << text;
    const Uuid small{{0, 0, 0, 1, 0, 2, 0, 3, 4, 5, 6, 7, 8, 9, 0x0A, 0x0B}};
    EXPECT_TRUE(IsUuid(cast("{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}"), small));
    EXPECT_TRUE(IsUuid(cast("{0x00000001,0x0002,0x0003,{0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B}}"), small));
}

// The digit layouts read by an independent rule: the hexadecimal digits of the
// text in order, hyphens skipped.
Uuid digits_in_order(const std::string& digits_and_hyphens) {
    Uuid u{};
    int n = 0;
    for (unsigned char c : digits_and_hyphens) {
        if (c == '-') continue;
        u.bytes[n / 2] = static_cast<std::uint8_t>(u.bytes[n / 2] | hex_value(c) << (n % 2 ? 0 : 4));
        ++n;
    }
    return u;
}

// Every byte value at every position of each digit layout, behind a prefix
// and without: a hexadecimal digit changes the value, anything else is a fault
// at that position spanning the character its byte begins.
TEST(CastUuid, EveryByteAtEveryPositionOfTheDigitLayouts) {
    const std::string digits = "f0e1d2c3b4a5968778695a4b3c2d1e0f";  // no "{0x" can arise from one change
    struct Layout {
        std::string open, inner, close;
    } layouts[] = {{"", digits, ""}, {"", hyphenate(digits), ""}, {"{", hyphenate(digits), "}"},
                   {"(", hyphenate(digits), ")"}};
    for (const std::string prefix : {"", "uuid: "}) {
        for (const auto& layout : layouts) {
            const bool hyphenated = layout.inner.size() == 36;
            const bool bracketed = !layout.open.empty();
            for (std::size_t pos = 0; pos < layout.inner.size(); ++pos) {
                const bool hyphen_here = hyphenated && (pos == 8 || pos == 13 || pos == 18 || pos == 23);
                for (int b = 0; b < 256; ++b) {
                    std::string inner = layout.inner;
                    inner[pos] = static_cast<char>(b);
                    const std::string body = layout.open + inner + layout.close;
                    const std::string text = prefix + body;
                    const std::size_t at = prefix.size() + layout.open.size() + pos;
                    const Verdict<Uuid> v = cast(text);
                    const bool edge = !bracketed && (pos == 0 || pos + 1 == inner.size());
                    if (edge && is_space(static_cast<unsigned char>(b))) {
                        // Trimmed away: the body is one byte short.
                        const std::size_t start = pos == 0 ? at + 1 : prefix.size();
                        ASSERT_TRUE(IsFault(v, MALFORMED, static_cast<std::uint32_t>(start),
                                            static_cast<std::uint32_t>(inner.size() - 1)))
                            << text;
                    } else if (!bracketed && pos == 0 && (b == '{' || b == '(')) {
                        ASSERT_TRUE(IsFault(v, MALFORMED, static_cast<std::uint32_t>(prefix.size()),
                                            static_cast<std::uint32_t>(body.size())))
                            << text;
                    } else if (hyphen_here ? b == '-' : hex_value(static_cast<unsigned char>(b)) >= 0) {
                        ASSERT_TRUE(IsUuid(v, digits_in_order(inner))) << text;
                    } else {
                        const std::size_t left = text.size() - at;
                        const std::size_t length = std::min(utf8_lead_length(static_cast<unsigned char>(b)), left);
                        ASSERT_TRUE(IsFault(v, MALFORMED, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(length)))
                            << text;
                    }
                }
            }
        }
    }
}

// With two offenders the hyphens are checked first, then the digits pair by
// pair in value order: the reported one is the first hyphen, else the first digit.
TEST(CastUuid, OfTwoOffendersTheFirstInCheckingOrderIsReported) {
    const std::string good = "00112233-4455-6677-8899-aabbccddeeff";
    auto is_hyphen = [](std::size_t p) { return p == 8 || p == 13 || p == 18 || p == 23; };
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (std::size_t j = i + 1; j < good.size(); ++j) {
            std::string text = good;
            text[i] = 'g';
            text[j] = 'G';
            std::size_t expected = i;
            if (is_hyphen(j) && !is_hyphen(i)) expected = j;
            ASSERT_TRUE(IsFault(cast(text), MALFORMED, static_cast<std::uint32_t>(expected), 1)) << text;
        }
    }
}

TEST(CastUuid, WrongLengthsAndBracketsSpanTheBody) {
    const testing_support::SpanRow cases[] = {
        {"00112233-4455-6677-8899-aabbccddeef", 0, 35},
        {"00112233-4455-6677-8899-aabbccddeeff0", 0, 37},
        {"00112233445566778899aabbccddeef", 0, 31},
        {"00112233445566778899aabbccddeeff0", 0, 33},
        {"{00112233445566778899aabbccddeeff}", 0, 34},   // a bracket means 38 bytes
        {"{00112233445566778899aabbccddeef", 0, 32},     // 32 bytes, but not bare
        {"{00112233-4455-6677-8899-aabbccddeef}", 0, 37},
        {"(00112233-4455-6677-8899-aabbccddeeff0)", 0, 39},
        {"uuid", 0, 4},
        {"0", 0, 1},
        {"{", 0, 1},
        {" uuid:  0011 ", 8, 4},
        {"uuid:uuid:00112233-4455-6677-8899-aabbccddeeff", 5, 41},  // one prefix at most
        {"urn\x1auuid:00112233-4455-6677-8899-aabbccddeeff", 0, 45},  // ":" is not a letter to fold
        {"urn:uuid00112233-4455-6677-8899-aabbccddeeff", 0, 44},
    };
    testing_support::expect_fault_rows(cases, MALFORMED, cast);
}

TEST(CastUuid, PrefixesAndBracketsFaultWhereTheyEnd) {
    const testing_support::SpanRow cases[] = {
        {"urn:uuid:", 0, 9},
        {"  URN:UUID: \t ", 2, 9},
        {"guid:", 0, 5},
        {"Uuid:\n", 0, 5},
        {"{00112233-4455-6677-8899-aabbccddeeff)", 37, 1},
        {"(00112233-4455-6677-8899-aabbccddeeff}", 37, 1},
        {"(00112233-4455-6677-8899-aabbccddeeff(", 37, 1},
        {"{00112233-4455-6677-8899-aabbccddeeff\xc3", 37, 1},
        {"guid:{00112233-4455-6677-8899-aabbccddeef\xc3\xa9", 42, 1},
        {"00112233_4455-6677-8899-aabbccddeeff", 8, 1},
        {"0011223g-4455-6677-8899-aabbccddeeff", 7, 1},
        {"urn:uuid: 0011223g-4455-6677-8899-aabbccddeeff", 17, 1},
        {"00112233-4455-6677-8899-aabbccddee\xc3\xa9", 34, 2},
        {"0011223\xe2\x82\xac""455-6677-8899-aabbccddeeff", 8, 1},  // hyphens first, even inside a character
    };
    testing_support::expect_fault_rows(cases, MALFORMED, cast);
}

TEST(CastUuid, StructureFormFaults) {
    const testing_support::SpanRow cases[] = {
        {"{0x00112233,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0x100}}", 66, 1},
        {"{0x001122334,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0xff}}", 11, 1},
        {"{0x1,0x12345,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 11, 1},
        {"{0x,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 3, 1},
        {"{0x1,1x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 5, 1},
        {"{0x1,0y2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 5, 1},
        {"{0x1,\xc3\xa9x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 5, 2},
        {"{0x1;0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 4, 1},
        {"{0x1, 0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 5, 1},
        {"{0x1g,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 4, 1},
        {"{0x1,0x2,0x3,0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", 13, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb,0xc}}", 45, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa}}", 41, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}x", 47, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}}", 47, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}} }", 47, 1},
        {"{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}", 0, 46},
        {"uuid: {0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}", 6, 46},
        {"{0x", 2, 1},
        {"{0X1,", 4, 1},
    };
    testing_support::expect_fault_rows(cases, MALFORMED, cast);
}

// Cut short anywhere, the structure form faults at its last byte when a field
// was due or under way without digits, and over the whole body when a
// punctuation byte was due or digits were being read.
TEST(CastUuid, StructureFormCutShortAnywhere) {
    const std::string full = "{0x00112233,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0xff}}";
    for (std::size_t k = 3; k < full.size(); ++k) {
        const unsigned char next = full[k], last = full[k - 1];
        const bool digit_next = hex_value(next) >= 0 && !(next == '0' && full[k + 1] == 'x');
        const bool punctuation_next = next == ',' || next == '{' || next == '}';
        const bool whole = punctuation_next || (digit_next && last != 'x');
        const Verdict<Uuid> v = cast(full.substr(0, k));
        if (whole) {
            EXPECT_TRUE(IsFault(v, MALFORMED, 0, static_cast<std::uint32_t>(k))) << full.substr(0, k);
        } else {
            EXPECT_TRUE(IsFault(v, MALFORMED, static_cast<std::uint32_t>(k - 1), 1)) << full.substr(0, k);
        }
    }
}

TEST(CastUuid, NothingButWhitespaceIsEmpty) {
    for (const std::string text : {"", " ", " \t\n\f\r"}) {
        EXPECT_TRUE(IsFault(cast(text), FaultReason::EMPTY, 0, 0)) << text;
    }
    EXPECT_TRUE(IsFault(cast_uuid(nullptr, 0), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast("\v"), MALFORMED, 0, 1));
}

}  // namespace
}  // namespace quillmere::core
