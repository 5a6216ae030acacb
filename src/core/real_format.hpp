// What the stages of the real conversion share: the two binary formats and
// what differs between them, building a value from its significand and
// exponent, rounding leading bits to nearest, and the one question the
// hardware paths ask of the floating-point environment.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace quillmere::core::real {

// An IEEE 754 binary format from its width and precision: everything the
// conversion needs of the encoding follows from these two.
template <class F, class B, int Precision>
struct IeeeBinary {
    using Float = F;
    using Bits = B;
    static constexpr int PRECISION = Precision;  // significand bits, the hidden one included
    static constexpr int EXPONENT_BITS = 8 * static_cast<int>(sizeof(B)) - Precision;
    static constexpr int MAX_EXPONENT = (1 << (EXPONENT_BITS - 1)) - 1;
    static constexpr int MIN_ULP_EXPONENT = 2 - MAX_EXPONENT - Precision;  // the smallest subnormal
    static constexpr Bits INFINITY_BITS = static_cast<Bits>((Bits{1} << EXPONENT_BITS) - 1) << (Precision - 1);
    static constexpr Bits SIGN_BIT = Bits{1} << (8 * sizeof(B) - 1);
    // Mantissas that one hardware operation takes exactly.
    static constexpr std::uint64_t EXACT_MANTISSA_LIMIT = std::uint64_t{1} << Precision;
    // And powers of ten: 10^k = 5^k * 2^k is exact while 5^k fits the significand.
    static constexpr int EXACT_POWER_LIMIT = [] {
        int k = 0;
        for (std::uint64_t five_k = 5; five_k < EXACT_MANTISSA_LIMIT; five_k *= 5) ++k;
        return k;
    }();
};

struct Binary64 : IeeeBinary<double, std::uint64_t, 53> {
    // m < 2^64: below 10^-342 every value rounds to zero, above 10^308 to infinity.
    static constexpr int SMALLEST_Q = -342;
    static constexpr int LARGEST_Q = 308;
    // Position of the decimal point (value = 0.d1d2... * 10^point) past which
    // the value is surely infinite, or surely rounds to zero.
    static constexpr std::int64_t INFINITE_POINT = 310;
    static constexpr std::int64_t ZERO_POINT = -330;
};

struct Binary32 : IeeeBinary<float, std::uint32_t, 24> {
    static constexpr int SMALLEST_Q = -65;
    static constexpr int LARGEST_Q = 38;
    static constexpr std::int64_t INFINITE_POINT = 40;
    static constexpr std::int64_t ZERO_POINT = -46;
};

static_assert(Binary64::MIN_ULP_EXPONENT == -1074 && Binary64::MAX_EXPONENT == 1023 &&
              Binary64::INFINITY_BITS == 0x7FF0000000000000ull && Binary64::EXACT_POWER_LIMIT == 22);
static_assert(Binary32::MIN_ULP_EXPONENT == -149 && Binary32::MAX_EXPONENT == 127 &&
              Binary32::INFINITY_BITS == 0x7F800000u && Binary32::EXACT_POWER_LIMIT == 10);

template <class Float>
using FormatOf = std::conditional_t<std::is_same_v<Float, double>, Binary64, Binary32>;

template <class Format>
typename Format::Float from_bits(typename Format::Bits bits, bool negative) noexcept {
    return std::bit_cast<typename Format::Float>(negative ? bits | Format::SIGN_BIT : bits);
}

// The bits of significand * 2^ulp_exponent, a significand of at most
// PRECISION bits. One that rounded up to 2^PRECISION carries into the
// exponent field by itself, and from the largest binade into the infinity
// pattern.
template <class Format>
typename Format::Bits encode_bits(std::uint64_t significand, int ulp_exponent) noexcept {
    using Bits = typename Format::Bits;
    return static_cast<Bits>(significand) +
           (static_cast<Bits>(ulp_exponent - Format::MIN_ULP_EXPONENT) << (Format::PRECISION - 1));
}

// Rounds to nearest, ties to even, a value whose leading 64 bits are `top`
// (bit 63 set), worth 2^exponent at bit 63, with `sticky` telling whether
// anything nonzero lies below them.
template <class Format>
typename Format::Bits round_leading_bits(std::uint64_t top, bool sticky, std::int64_t exponent) noexcept {
    if (exponent > Format::MAX_EXPONENT) return Format::INFINITY_BITS;
    std::int64_t ulp = exponent - (Format::PRECISION - 1);
    if (ulp < Format::MIN_ULP_EXPONENT) ulp = Format::MIN_ULP_EXPONENT;
    const std::int64_t fraction_bits = ulp - (exponent - 63);
    if (fraction_bits > 64) return 0;  // below half the smallest subnormal
    std::uint64_t significand = 0;
    std::uint64_t fraction = top;
    if (fraction_bits < 64) {
        significand = top >> fraction_bits;
        fraction = top & ((std::uint64_t{1} << fraction_bits) - 1);
    }
    const std::uint64_t half = std::uint64_t{1} << (fraction_bits - 1);
    const bool round_up = fraction > half || (fraction == half && (sticky || (significand & 1) != 0));
    return encode_bits<Format>(significand + (round_up ? 1 : 0), static_cast<int>(ulp));
}

// The hardware's floating-point environment is the caller's thread's: a C
// caller may have set another rounding mode with fesetround, and a library
// built with fast-math may have set flush-to-zero for the whole process. The
// casts take a hardware operation only where these questions say it gives
// the result they promise, and their integer paths otherwise. Both ask the
// hardware itself, with operations whose results tell the environment
// apart: on some processors reading the control register costs more than the
// rest of a short cast.
// The operand is hidden from the compiler, which would fold the operations
// under its own rounding and answer in the hardware's place; it stays in a
// register (a volatile variable would do too, at the cost of a store and a
// load on every cast).
inline void hide_from_compiler(double& x) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("" : "+x"(x));
#elif defined(__aarch64__)
    asm volatile("" : "+w"(x));
#else
    volatile double copy = x;
    x = copy;
#endif
}

// True when the hardware rounds to nearest, ties to even: then 1 + t and
// 1 - t, for a t far below the unit in the last place of 1, both round to 1.
// Upward rounding takes the first above 1; downward and toward zero take the
// second below it.
inline bool hardware_rounds_to_nearest() noexcept {
    double tiny = 0x1p-1022;
    hide_from_compiler(tiny);
    return 1.0 + tiny == 1.0 - tiny;
}

// True when the hardware keeps subnormals: half the smallest normal is not
// flushed to zero, and read back as an operand it is not taken as zero.
inline bool hardware_keeps_subnormals() noexcept {
    double x = 0x1p-1022;
    hide_from_compiler(x);
    const double half = x * 0.5;
    return half != 0.0 && half * 2.0 == x;
}

}  // namespace quillmere::core::real
