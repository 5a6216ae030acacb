// Stage 4 of the real conversion, exact in every case: the first 768
// significant digits as a big integer D (any nonzero digit past them a sticky
// bit), the value D * 10^e taken as D * 5^e * 2^e or as the quotient
// D / 5^-e * 2^e, and its leading 64 bits rounded to nearest, ties to even.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/bigint.hpp"
#include "core/numeral.hpp"
#include "core/real_format.hpp"

namespace quillmere::core::real {

// Every halfway point between adjacent doubles has at most 768 significant
// digits, so 768 digits and a sticky bit for the rest decide every rounding.
inline constexpr std::size_t MAX_EXACT_DIGITS = 768;

template <class Format>
typename Format::Float convert_exact(const ScannedDecimal& scan) noexcept {
    DigitCursor cursor(scan);
    // Leading zeros, and where the decimal point stands relative to the first
    // significant digit: value = 0.d1d2... * 10^point.
    std::int64_t point = scan.written_exponent + (scan.integer_end - scan.integer_begin);
    while (!cursor.done() && cursor.peek() == 0) {
        --point;
        cursor.advance();
    }
    if (cursor.done()) return from_bits<Format>(0, scan.negative);
    if (point > Format::INFINITE_POINT) return from_bits<Format>(Format::INFINITY_BITS, scan.negative);
    if (point < Format::ZERO_POINT) return from_bits<Format>(0, scan.negative);

    // D: the first 768 significant digits, nineteen at a time.
    BigInt digits;
    std::size_t count = 0;
    while (!cursor.done() && count < MAX_EXACT_DIGITS) {
        std::uint64_t chunk = 0;
        std::uint64_t scale = 1;
        for (int i = 0; i < 19 && !cursor.done() && count < MAX_EXACT_DIGITS; ++i, ++count) {
            chunk = chunk * 10 + cursor.peek();
            scale *= 10;
            cursor.advance();
        }
        digits.multiply(scale);
        digits.add(chunk);
    }
    const bool sticky_digits = cursor.any_nonzero_left();

    // value = D * 10^e10 = D * 5^e10 * 2^e10
    const std::int64_t e10 = point - static_cast<std::int64_t>(count);
    std::uint64_t top;
    bool sticky;
    std::int64_t exponent;
    if (e10 >= 0) {
        digits.multiply_by_power_of_five(static_cast<unsigned>(e10));
        top = digits.leading_bits(sticky);
        sticky = sticky || sticky_digits;
        exponent = static_cast<std::int64_t>(digits.bit_length()) - 1 + e10;
    } else {
        // D / 5^k * 2^-k: scale D and 5^k so that the divisor's top limb is
        // normalised and the quotient has 63 or 64 bits.
        const unsigned k = static_cast<unsigned>(-e10);
        BigInt divisor(1);
        divisor.multiply_by_power_of_five(k);
        const std::size_t divisor_bits = divisor.bit_length();
        const std::size_t digit_bits = digits.bit_length();
        std::size_t limbs = (divisor_bits + 63) / 64;
        if (digit_bits > 64 * limbs + 63) limbs = (digit_bits - 63 + 63) / 64;
        const std::size_t divisor_shift = 64 * limbs - divisor_bits;
        const std::size_t digit_shift = 64 * limbs + 63 - digit_bits;
        divisor.shift_left(divisor_shift);
        digits.shift_left(digit_shift);
        const std::uint64_t quotient = digits.divide_into_limb(divisor);
        const int lead = std::countl_zero(quotient);  // 0 or 1
        top = quotient << lead;
        sticky = !digits.is_zero() || sticky_digits;
        exponent = 63 - lead + static_cast<std::int64_t>(divisor_shift) - static_cast<std::int64_t>(digit_shift) -
                   static_cast<std::int64_t>(k);
    }
    return from_bits<Format>(round_leading_bits<Format>(top, sticky, exponent), scan.negative);
}

}  // namespace quillmere::core::real
