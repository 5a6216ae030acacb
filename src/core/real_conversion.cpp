// The real conversion's entry points as calls: the driver for the
// normalised route and the tests, the stages for the tests, and the percent
// division.
#include "core/real_conversion.hpp"

#include <bit>

#include "core/int128.hpp"

namespace quillmere::core {

ConvertedReal<double> convert_f64(const unsigned char* text, std::size_t length) noexcept {
    return real::convert_numeral<double>(text, length, true);
}
ConvertedReal<float> convert_f32(const unsigned char* text, std::size_t length) noexcept {
    return real::convert_numeral<float>(text, length, true);
}

template <class Float>
Float divide_by_hundred(Float x) noexcept {
    if (real::hardware_rounds_to_nearest() && real::hardware_keeps_subnormals()) return x / Float{100};
    // In integers: x = s * 2^e, so x / 100 = (s * 2^64 / 25) * 2^(e - 66). The
    // quotient's leading bits, with the rest and the remainder as a sticky
    // bit, round exactly as the division would.
    using Format = real::FormatOf<Float>;
    using Bits = typename Format::Bits;
    constexpr int FRACTION_BITS = Format::PRECISION - 1;
    const Bits bits = std::bit_cast<Bits>(x);
    const bool negative = (bits & Format::SIGN_BIT) != 0;
    const Bits magnitude = bits & ~Format::SIGN_BIT;
    const int biased = static_cast<int>(magnitude >> FRACTION_BITS);
    if (magnitude == 0 || magnitude >= Format::INFINITY_BITS) return x;  // zero and infinity stay themselves
    std::uint64_t significand = magnitude & ((Bits{1} << FRACTION_BITS) - 1);
    int exponent = Format::MIN_ULP_EXPONENT;  // subnormals have no hidden bit
    if (biased != 0) {
        significand |= std::uint64_t{1} << FRACTION_BITS;
        exponent += biased - 1;
    }
    const u128 dividend = u128{significand} << 64;
    const u128 quotient = dividend / 25;
    const bool remainder = dividend % 25 != 0;
    const auto high = static_cast<std::uint64_t>(quotient >> 64);
    const int lead = high != 0 ? std::countl_zero(high) : 64 + std::countl_zero(static_cast<std::uint64_t>(quotient));
    const u128 aligned = quotient << lead;  // quotient >= 2^64 / 25, so lead < 69
    const std::uint64_t top = static_cast<std::uint64_t>(aligned >> 64);
    const bool sticky = static_cast<std::uint64_t>(aligned) != 0 || remainder;
    // Bit 63 of top is bit 127 - lead of the quotient, worth 2^(127 - lead + exponent - 66).
    const std::int64_t top_exponent = 127 - lead + exponent - 66;
    return real::from_bits<Format>(real::round_leading_bits<Format>(top, sticky, top_exponent), negative);
}

template double divide_by_hundred(double) noexcept;
template float divide_by_hundred(float) noexcept;

bool scan_decimal(const unsigned char* text, std::size_t length, ScannedDecimal& out) noexcept {
    return real::scan(text, length, true, out);
}
bool eisel_lemire_f64(std::uint64_t m, std::int64_t q, std::uint64_t& bits) noexcept {
    return real::eisel_lemire<real::Binary64>(m, q, bits);
}
bool eisel_lemire_f32(std::uint64_t m, std::int64_t q, std::uint32_t& bits) noexcept {
    return real::eisel_lemire<real::Binary32>(m, q, bits);
}
double convert_exact_f64(const ScannedDecimal& scan) noexcept { return real::convert_exact<real::Binary64>(scan); }
float convert_exact_f32(const ScannedDecimal& scan) noexcept { return real::convert_exact<real::Binary32>(scan); }

}  // namespace quillmere::core
