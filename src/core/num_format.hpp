// The caller-declared numeric notation, held in the exact form the numeric
// casts consume, and its fixed 32-byte packed form for the C boundary.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmere::core {

struct NumFormat {
    char32_t decimal_sep;
    char32_t group_sep;
    std::uint32_t flags;
    std::uint8_t currency[16];  // bytes past currency_len are zero
    std::uint8_t currency_len;  // 0: no currency declared

    static constexpr std::uint32_t GROUPING = 1;
    static constexpr std::uint32_t PARENTHESES = 2;
    static constexpr std::uint32_t EXPONENT = 4;
    static constexpr std::uint32_t RADIX_PREFIXES = 8;
    static constexpr std::uint32_t PERCENT = 16;
    static constexpr std::uint32_t SEPARATOR_DETECT = 32;
    static constexpr std::uint32_t CURRENCY = 64;
    static constexpr std::uint32_t ALL = 95;  // everything but SEPARATOR_DETECT

    constexpr bool has(std::uint32_t flag) const noexcept { return (flags & flag) != 0; }
};

inline constexpr NumFormat INVARIANT_FORMAT{U'.', U',', NumFormat::ALL, {}, 0};
inline constexpr NumFormat DETECT_FORMAT{U'.', U',', NumFormat::ALL | NumFormat::SEPARATOR_DETECT, {}, 0};
// What a front end uses when the caller leaves the format out.
inline constexpr NumFormat DEFAULT_FORMAT = INVARIANT_FORMAT;

inline constexpr std::size_t PACKED_FORMAT_SIZE = 32;
inline constexpr std::size_t MAX_CURRENCY_BYTES = 16;

enum class FormatError : std::uint8_t {
    NONE,
    INVALID_SEPARATOR,   // not a Unicode scalar value
    EQUAL_SEPARATORS,    // decimal and group separator are the same character
    INVALID_CURRENCY,    // too long, not strict UTF-8, or holds an ASCII digit or whitespace
};

struct FormatResult {
    NumFormat format;
    FormatError error;
};

// A currency symbol is empty (none) or 1..16 bytes of strict UTF-8 with no
// ASCII digit and none of the five whitespace bytes.
bool is_valid_currency(const unsigned char* symbol, std::size_t length) noexcept;

// The single validating constructor: separators first, then the symbol.
FormatResult make_num_format(char32_t decimal_sep, char32_t group_sep, std::uint32_t flags,
                             const unsigned char* currency, std::size_t currency_len) noexcept;

// Reads a 32-byte packed record; false when it breaks a rule (nothing else is reported).
bool decode_packed_format(const unsigned char* packed, NumFormat& out) noexcept;

void encode_packed_format(const NumFormat& format, unsigned char out[PACKED_FORMAT_SIZE]) noexcept;

}  // namespace quillmere::core
