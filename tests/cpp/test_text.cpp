#include <string>

#include "core/num_format.hpp"
#include "core/text.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

TEST(Whitespace, IsExactlyTheFiveBytes) {
    for (int b = 0; b < 256; ++b) {
        bool expected = b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
        EXPECT_EQ(is_space(static_cast<unsigned char>(b)), expected) << b;
    }
}

TEST(Trim, RecordsOffsetAndLength) {
    struct Case {
        std::string input;
        std::size_t offset, length;
    } cases[] = {
        {"", 0, 0}, {" \t\n\f\r", 5, 0}, {"x", 0, 1}, {" x ", 1, 1}, {"\v x", 0, 3}, {"\xc2\xa0x", 0, 3}, {"  ab c \n", 2, 4},
    };
    for (const auto& c : cases) {
        TextRange t = trim(c.input.data(), c.input.size());
        if (t.length != 0) {
            EXPECT_EQ(t.offset, c.offset) << c.input;
        }
        EXPECT_EQ(t.length, c.length) << c.input;
    }
    // A zero length is never read, whatever the pointer.
    EXPECT_TRUE(trim(nullptr, 0).empty());
}

TEST(CharFault, SpansTheLeadBytesLengthClippedToTheText) {
    struct Case {
        std::string text;
        std::size_t pos;
        std::uint32_t length;
    } cases[] = {
        {"12x", 2, 1}, {"12\xc3\xa9", 2, 2}, {"1\xe2\x82\xac", 1, 3}, {"\xf0\x9f\x98\x80", 0, 4},
        {"1\xe2", 1, 1},          // truncated lead: what remains
        {"1\xe2\x82", 1, 2},      // clipped, not validated
        {"\x80x", 0, 1},          // stray continuation byte
        {"\xff\x41\x41\x41", 0, 4},  // 0xF8..0xFF still imply four
    };
    for (const auto& c : cases) {
        TextRange t{reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size(), 3};
        Fault f = char_fault(t, c.pos);
        EXPECT_EQ(f.span.offset, 3 + c.pos) << c.text;
        EXPECT_EQ(f.span.length, c.length) << c.text;
    }
}

TEST(Span, SaturatesEachFieldAndPacksOffsetLow) {
    Fault f = make_fault(FaultReason::MALFORMED, 0x1'0000'0005ull, 7);
    EXPECT_EQ(f.span.offset, 0xFFFFFFFFu);
    EXPECT_EQ(f.span.length, 7u);
    f = make_fault(FaultReason::MALFORMED, 7, 0x1'0000'0000ull);
    EXPECT_EQ(f.span.offset, 7u);
    EXPECT_EQ(f.span.length, 0xFFFFFFFFu);
    EXPECT_EQ(pack_span(Span{1, 5}), 0x0000000500000001ull);
}

TEST(Verdict, StaysSmallEnoughForRegisters) {
    EXPECT_LE(sizeof(Verdict<std::int64_t>), 16u);
    EXPECT_LE(sizeof(Verdict<double>), 16u);
    Verdict<int> ok = Verdict<int>::success(5);
    EXPECT_TRUE(ok.ok());
    Verdict<int> bad = make_fault(FaultReason::OUT_OF_RANGE, 1, 2);
    EXPECT_EQ(bad.reason(), FaultReason::OUT_OF_RANGE);
}

TEST(Utf8, StrictScalarsOnly) {
    struct Case {
        std::string bytes;
        std::size_t length;  // 0: not one valid scalar at the start
    } cases[] = {
        {"A", 1},           {"\xc3\xa9", 2},         {"\xe2\x82\xac", 3},     {"\xf4\x8f\xbf\xbf", 4},
        {"\xc0\x80", 0},    {"\xc1\xbf", 0},         {"\xe0\x9f\xbf", 0},     // overlong
        {"\xed\xa0\x80", 0},                                                 // surrogate
        {"\xf4\x90\x80\x80", 0},                                             // above U+10FFFF
        {"\xc3", 0},        {"\xe2\x82", 0},         {"\x80", 0},             {"\xff", 0},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(utf8_scalar_length(p, c.bytes.size()), c.length) << c.bytes;
    }
    // Every scalar value round-trips through the encoder and the strict decoder.
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_scalar_value(cp)) continue;
        unsigned char buf[4];
        std::size_t n = encode_utf8(cp, buf);
        char32_t back = 0;
        ASSERT_EQ(utf8_scalar_length(buf, n, &back), n);
        ASSERT_EQ(back, cp);
    }
}

}  // namespace
}  // namespace quillmere::core
