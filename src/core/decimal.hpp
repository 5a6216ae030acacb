// Exact decimals: the record of a value, the conversion of a plain numeral
// into one, and the canonical text form of a value (the one writer, which the
// Python value conversion and the C export both call).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/int128.hpp"
#include "core/numeral.hpp"
#include "core/values.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Longest canonical text: a sign and 29 digits and a point, or "-0." and 28 digits.
inline constexpr std::size_t MAX_DECIMAL_TEXT = 31;
inline constexpr std::size_t DECIMAL_TEXT_BUFFER = 48;

inline constexpr u128 DECIMAL_MAGNITUDE_LIMIT = u128{1} << 96;  // first magnitude that does not fit

// The record for a magnitude already known to be below 2^96 and a scale of at
// most 28; the reserved bytes are zero, as the C ABI copies the record whole.
//
// The record is built as its two 64-bit words: fields stored one by one
// would reach a caller that copies the record whole only through a stalled
// store-to-load forwarding, which costs more than the cast's arithmetic.
constexpr ExactDecimal make_decimal(u128 magnitude, unsigned scale, bool negative) noexcept {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the fields are the words' bytes in order");
    struct Words {
        std::uint64_t low;
        std::uint64_t high;  // magnitude_hi, then scale, negative and the reserved bytes
    };
    const Words words{static_cast<std::uint64_t>(magnitude),
                      static_cast<std::uint32_t>(magnitude >> 64) | std::uint64_t{scale & 0xFF} << 32 |
                          std::uint64_t{negative} << 40};
    return std::bit_cast<ExactDecimal>(words);
}

// The canonical record of a short plain numeral: any 19 digits are below
// 2^96 and any scale they give is at most 19, so it always fits; trailing
// zeros of the fraction are shed.
[[gnu::always_inline]] inline ExactDecimal short_decimal(const ShortNumeral& s) noexcept {
    std::uint64_t m = s.mantissa;
    unsigned scale = s.scale;
    if (m == 0) return make_decimal(0, 0, false);
    while (scale > 0 && m % 10 == 0) {
        m /= 10;
        --scale;
    }
    return make_decimal(m, scale, s.negative);
}

// Writes the canonical text of a value (digits padded to scale + 1, a leading
// "-" when negative, a "." before the last scale digits; no exponent) and
// returns its length, at most MAX_DECIMAL_TEXT. Nothing is NUL-terminated.
std::size_t format_decimal(const ExactDecimal& value, char (&out)[DECIMAL_TEXT_BUFFER]) noexcept;

// The exact conversion of a numeral: an optional sign, digits with at most
// one ".", and an optional exponent; percent divides the value by 100. Faults
// are MALFORMED or OUT_OF_RANGE with the span (0, 0): the caller owns the text
// and supplies the span.
Verdict<ExactDecimal> decimal_from_numeral(const char* numeral, std::size_t length, bool percent) noexcept;

}  // namespace quillmere::core
