#include <array>
#include <cstring>
#include <string>

#include "core/num_format.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using Packed = std::array<unsigned char, PACKED_FORMAT_SIZE>;

Packed packed(std::uint32_t dec, std::uint32_t grp, std::uint32_t flags, std::uint32_t len, const std::string& sym) {
    Packed p{};
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) p[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(0, dec);
    put(4, grp);
    put(8, flags);
    put(12, len);
    std::memcpy(p.data() + 16, sym.data(), sym.size() < 16 ? sym.size() : 16);
    return p;
}

FormatError build(char32_t dec, char32_t grp, const std::string& sym) {
    return make_num_format(dec, grp, 0, reinterpret_cast<const unsigned char*>(sym.data()), sym.size()).error;
}

TEST(NumFormat, ConstructorChecksSeparatorsBeforeTheSymbol) {
    EXPECT_EQ(build('.', '.', ""), FormatError::EQUAL_SEPARATORS);
    EXPECT_EQ(build('.', '.', "1$"), FormatError::EQUAL_SEPARATORS);
    EXPECT_EQ(build('.', ',', ""), FormatError::NONE);
    EXPECT_EQ(build('.', ',', "US$"), FormatError::NONE);
    EXPECT_EQ(build('.', ',', "\xe2\x82\xac"), FormatError::NONE);
    EXPECT_EQ(build('.', ',', "\v"), FormatError::NONE);  // 0x0B is not whitespace
    EXPECT_EQ(build('.', ',', std::string(16, '$')), FormatError::NONE);
    EXPECT_EQ(build('.', ',', std::string(17, '$')), FormatError::INVALID_CURRENCY);
    EXPECT_EQ(build('.', ',', "$ "), FormatError::INVALID_CURRENCY);
    EXPECT_EQ(build('.', ',', "1$"), FormatError::INVALID_CURRENCY);
    EXPECT_EQ(build('.', ',', "\xe2\x82"), FormatError::INVALID_CURRENCY);
    EXPECT_EQ(build(0xD800, ',', ""), FormatError::INVALID_SEPARATOR);
}

TEST(NumFormat, DecodesPackedRecordsInRuleOrder) {
    struct Case {
        Packed record;
        bool valid;
    } cases[] = {
        {packed('.', ',', 95, 0, ""), true},
        {packed(',', ',', 95, 0, ""), false},
        {packed(0xD800, ',', 95, 0, ""), false},
        {packed('.', 0xDFFF, 95, 0, ""), false},
        {packed(0x10FFFF, ',', 95, 0, ""), true},
        {packed(0x110000, ',', 95, 0, ""), false},
        {packed('.', ',', 0xFFFFFFFF, 0, ""), true},
        {packed('.', ',', 95, 0, "garbage"), true},  // bytes past the length are ignored
        {packed('.', ',', 95, 17, std::string(16, '$')), false},
        {packed('.', ',', 95, 16, std::string(16, '$')), true},
        {packed('.', ',', 95, 2, "1$"), false},
        {packed('.', ',', 95, 2, "\xc3\x28"), false},
        {packed('.', ',', 95, 3, "\xe2\x82\xac"), true},
        {packed('.', ',', 95, 3, "\xe2\x82\xac\x31"), true},  // the digit lies past the length
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        NumFormat f{};
        EXPECT_EQ(decode_packed_format(cases[i].record.data(), f), cases[i].valid) << "case " << i;
    }
}

TEST(NumFormat, EncodingRoundTripsAndMatchesTheDetectPreset) {
    Packed out{};
    encode_packed_format(DETECT_FORMAT, out.data());
    Packed expected{0x2E, 0, 0, 0, 0x2C, 0, 0, 0, 0x7F, 0, 0, 0};
    EXPECT_EQ(out, expected);

    Packed record = packed(0x202F, 0xA0, 127, 3, "\xe2\x82\xac");
    NumFormat f{};
    ASSERT_TRUE(decode_packed_format(record.data(), f));
    EXPECT_EQ(f.decimal_sep, 0x202Fu);
    EXPECT_EQ(f.group_sep, 0xA0u);
    EXPECT_EQ(f.currency_len, 3);
    encode_packed_format(f, out.data());
    EXPECT_EQ(out, record);

    // A zero length declares nothing, and re-encodes with a clean symbol field.
    ASSERT_TRUE(decode_packed_format(packed('.', ',', 95, 0, "junk").data(), f));
    EXPECT_EQ(f.currency_len, 0);
    encode_packed_format(f, out.data());
    EXPECT_EQ(out, packed('.', ',', 95, 0, ""));
}

}  // namespace
}  // namespace quillmere::core
