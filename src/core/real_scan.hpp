// Stage 1 of the real conversion: the digits. The plain-numeral scanner of
// the numeral front end reads the numeral in place; a mantissa of more than
// 19 significant digits keeps its first 19, with a flag saying whether any
// dropped digit is nonzero, so that stages 2 and 3 work in one 64-bit word.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/digits.hpp"
#include "core/numeral.hpp"

namespace quillmere::core::real {

// More than 19 digits were written. Leading zeros leave the wrapped sum
// exact; past 19 significant digits, keep the first 19 and note whether
// anything dropped is nonzero.
[[gnu::noinline]] inline void keep_first_significant_digits(ScannedDecimal& out) noexcept {
    DigitCursor cursor(out);
    while (!cursor.done() && cursor.peek() == 0) cursor.advance();
    std::size_t significant = 0;
    {
        DigitCursor counter = cursor;
        while (!counter.done() && significant <= MAX_U64_DIGITS) {
            ++significant;
            counter.advance();
        }
    }
    if (significant > MAX_U64_DIGITS) {
        std::uint64_t m = 0;
        for (std::size_t i = 0; i < MAX_U64_DIGITS; ++i) {
            m = m * 10 + cursor.peek();
            cursor.advance();
        }
        // Each dropped digit raises the exponent by one.
        out.mantissa = m;
        out.exponent += static_cast<std::int64_t>(cursor.digits_left());
        out.truncated = cursor.any_nonzero_left();
    }
}

// The numeral as stages 2 to 4 take it; false when the bytes are not a plain
// numeral (an exponent only when allowed).
[[gnu::always_inline]] inline bool scan(const unsigned char* text, std::size_t length, bool exponent_allowed,
                                        ScannedDecimal& out) noexcept {
    const std::size_t digits = scan_plain_numeral(text, length, exponent_allowed, out);
    if (digits > MAX_U64_DIGITS) keep_first_significant_digits(out);
    return digits != 0;
}

}  // namespace quillmere::core::real
