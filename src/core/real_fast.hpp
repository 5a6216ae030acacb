// Stages 2 and 3 of the real conversion, for a mantissa m of at most 19
// digits and a decimal exponent q: exact hardware arithmetic when m and 10^q
// are both exact and the hardware rounds to nearest (Clinger), else
// Eisel-Lemire, a 128-bit product with a power of five from the generated
// table that refuses the rare cases it cannot round with certainty.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>

#include "core/int128.hpp"
#include "core/power_table.hpp"
#include "core/real_format.hpp"

// The exact-arithmetic stage relies on every operation rounding once in its own width.
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not use wider intermediates");

namespace quillmere::core::real {

inline constexpr double EXACT_POWERS_F64[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                                1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr float EXACT_POWERS_F32[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// ---- stage 2 ----------------------------------------------------------------

// m * 10^q by one multiplication or division, when m and 10^q are exact in
// the format: the operation then rounds once, correctly, provided the
// hardware rounds to nearest. An integer (q = 0) is exact as it stands and
// needs neither the operation nor the question. False otherwise.
template <class Format>
[[gnu::always_inline]] inline bool exact_arithmetic(std::uint64_t m, std::int64_t q, typename Format::Float& out) noexcept {
    using Float = typename Format::Float;
    if (m > Format::EXACT_MANTISSA_LIMIT || q < -Format::EXACT_POWER_LIMIT || q > Format::EXACT_POWER_LIMIT) return false;
    const Float value = static_cast<Float>(m);  // exact: m is at most 2^PRECISION
    if (q == 0) {
        out = value;
        return true;
    }
    if (!hardware_rounds_to_nearest()) return false;
    const Float* powers;
    if constexpr (std::is_same_v<Float, double>) {
        powers = EXACT_POWERS_F64;
    } else {
        powers = EXACT_POWERS_F32;
    }
    out = q < 0 ? value / powers[-q] : value * powers[q];
    return true;
}

// ---- stage 3 ----------------------------------------------------------------
//
// With w = m shifted left until its top bit is set, and T the table entry
// floor(5^q * 2^(127 - L)), L = floor(log2 5^q), the value m * 10^q equals
// w * T * 2^(q - lz - 127 + L) up to the error of T. The 192-bit product is
// formed in two steps, the high 128 bits of w * T_high first. Both truncations
// only ever lose: the true product lies at or above the computed one, by less
// than 2^128 after the first step and by less than 2^64 after the second (not
// at all when 0 <= q <= 55, where T is exact). So a computed fraction of the
// unit in the last place that is clearly below or at/above one half cannot be
// wrong, and only the few patterns just below half are referred onwards.

// The upper 128 bits of the product (high word `hi`) split at the target's
// unit in the last place, which falls `fraction_bits` bits above bit 0 of the
// low word; the lower part is held as its top word and compared with half.
struct UnitSplit {
    int exponent;  // of the leading bit of the value
    int ulp_exponent;
    int fraction_bits_in_high;  // 10..64 bits of `hi` lie below the unit
    std::uint64_t significand;
    std::uint64_t fraction_high;  // those bits of `hi`
    std::uint64_t half_high;      // one half of the unit, in the same bits
};

template <class Format>
UnitSplit split_at_unit(std::uint64_t hi, int base) noexcept {
    UnitSplit s;
    s.exponent = base + (hi >> 63 ? 127 : 126);
    s.ulp_exponent = s.exponent - (Format::PRECISION - 1);
    if (s.ulp_exponent < Format::MIN_ULP_EXPONENT) s.ulp_exponent = Format::MIN_ULP_EXPONENT;
    s.fraction_bits_in_high = s.ulp_exponent - base - 64;
    if (s.fraction_bits_in_high >= 64) {
        s.significand = 0;
        s.fraction_high = hi;
        s.half_high = std::uint64_t{1} << 63;
    } else {
        s.significand = hi >> s.fraction_bits_in_high;
        s.fraction_high = hi & ((std::uint64_t{1} << s.fraction_bits_in_high) - 1);
        s.half_high = std::uint64_t{1} << (s.fraction_bits_in_high - 1);
    }
    return s;
}

template <class Format>
bool eisel_lemire(std::uint64_t m, std::int64_t q, typename Format::Bits& bits) noexcept {
    if (q < Format::SMALLEST_Q) {
        bits = 0;
        return true;
    }
    if (q > Format::LARGEST_Q) {
        bits = Format::INFINITY_BITS;
        return true;
    }
    const int exp10 = static_cast<int>(q);
    const int lz = std::countl_zero(m);
    const std::uint64_t w = m << lz;
    const Pow5Entry& power = POWERS_OF_FIVE[exp10 - SMALLEST_POWER_OF_FIVE];
    const int log2_pow5 = (exp10 * 152170) >> 16;
    const int base = exp10 - lz - 63 + log2_pow5;  // weight of bit 0 of the upper 128 bits

    const u128 first = static_cast<u128>(w) * power.high;
    std::uint64_t hi = static_cast<std::uint64_t>(first >> 64);
    std::uint64_t lo = static_cast<std::uint64_t>(first);
    UnitSplit s = split_at_unit<Format>(hi, base);
    if (s.exponent > Format::MAX_EXPONENT) {
        bits = Format::INFINITY_BITS;
        return true;
    }
    // The product stays below 2^192: a unit this coarse has the value below half of it.
    if (s.fraction_bits_in_high > 64) {
        bits = 0;
        return true;
    }
    bool round_up;
    if (s.fraction_high + 1 != s.half_high && (s.fraction_high != s.half_high || lo != 0)) {
        round_up = s.fraction_high >= s.half_high;
    } else {
        const u128 second = static_cast<u128>(w) * power.low;
        const std::uint64_t carry = static_cast<std::uint64_t>(second >> 64);
        const std::uint64_t low = static_cast<std::uint64_t>(second);
        lo += carry;
        hi += lo < carry ? 1 : 0;  // cannot overflow: w * (T_high + 1) < 2^128
        s = split_at_unit<Format>(hi, base);
        if (s.exponent > Format::MAX_EXPONENT) {
            bits = Format::INFINITY_BITS;
            return true;
        }
        const bool below_half = s.fraction_high < s.half_high;
        const bool at_half = s.fraction_high == s.half_high && lo == 0;
        if (exp10 >= 0 && exp10 <= 55) {
            // Exact product: a true tie goes to the even significand.
            round_up = !below_half && (!at_half || low != 0 || (s.significand & 1) != 0);
        } else {
            // The missing part is positive and below 2^64: just under half, it may reach half.
            if (s.fraction_high + 1 == s.half_high && lo == ~std::uint64_t{0} && low != 0) return false;
            round_up = !below_half;
        }
    }
    bits = encode_bits<Format>(s.significand + (round_up ? 1 : 0), s.ulp_exponent);
    return true;
}

}  // namespace quillmere::core::real
