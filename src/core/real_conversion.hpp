// Correctly rounded conversion of an ASCII decimal numeral to IEEE binary64
// and, separately and directly, to binary32. The numeral is an optional sign,
// digits with at most one ".", at least one digit, then optionally "e" or "E",
// an optional sign and at least one digit; nothing else is read.
//
// The conversion runs in stages, one file each, in reading order; each hands
// on what it cannot settle:
//   real_scan.hpp   1. the digits, read in place: the first 19 significant
//                      ones as a 64-bit mantissa m and a decimal exponent q,
//                      with a flag for nonzero digits dropped past them;
//   real_fast.hpp   2. exact hardware arithmetic when m and 10^q are both
//                      exact and the hardware rounds to nearest;
//                   3. Eisel-Lemire: m times a 128-bit approximation of 5^q
//                      from the generated power_table.hpp, accepted only when
//                      the approximation cannot sit on the other side of a
//                      rounding boundary (a truncated mantissa: m and m + 1
//                      must agree);
//   real_exact.hpp  4. a big-integer quotient of all significant digits (up
//                      to 768, the rest as a sticky bit), exact in every case.
// real_format.hpp holds what the stages share. The driver, last, is this
// header's: it is inline so that a cast's plain route runs it without a call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/numeral.hpp"
#include "core/real_exact.hpp"
#include "core/real_fast.hpp"
#include "core/real_format.hpp"
#include "core/real_scan.hpp"

namespace quillmere::core {

template <class F>
struct ConvertedReal {
    F value;
    bool ok;  // false: the bytes are not a numeral
};

namespace real {

// Stages 2 and 3 on m * 10^q for a mantissa 0 < m < 10^19: false when only
// stage 4, which needs the digits as written, could decide.
template <class Float>
[[gnu::always_inline]] inline bool convert_mantissa(std::uint64_t m, std::int64_t q, Float& out) noexcept {
    using Format = FormatOf<Float>;
    if (exact_arithmetic<Format>(m, q, out)) return true;
    typename Format::Bits bits;
    if (!eisel_lemire<Format>(m, q, bits)) return false;
    out = from_bits<Format>(bits, false);
    return true;
}

// A short plain numeral, m / 10^k with k at most 19: an integer that the
// format holds exactly as it stands, else stage 3 alone. Stage 2 would divide
// here, a long instruction that stage 3's product with the table replaces,
// and taking one stage every time spares a branch the data would decide.
// False in the rare case stage 3 cannot decide; the general route then does.
template <class Float>
[[gnu::always_inline]] inline bool convert_short_numeral(const ShortNumeral& s, Float& out) noexcept {
    using Format = FormatOf<Float>;
    typename Format::Bits bits = 0;
    if (s.scale == 0 && s.mantissa <= Format::EXACT_MANTISSA_LIMIT) {
        bits = std::bit_cast<typename Format::Bits>(static_cast<Float>(s.mantissa));  // zero too
    } else if (s.mantissa != 0 && !eisel_lemire<Format>(s.mantissa, -static_cast<std::int64_t>(s.scale), bits)) {
        return false;
    }
    out = from_bits<Format>(bits, s.negative);
    return true;
}

// The driver: the numeral's value, signed, possibly infinite, never a NaN;
// not ok when the bytes are not a numeral (an exponent only where allowed).
template <class Float>
[[gnu::always_inline]] inline ConvertedReal<Float> convert_numeral(const unsigned char* text, std::size_t length,
                                                                   bool exponent_allowed) noexcept {
    using Format = FormatOf<Float>;
    ScannedDecimal decimal;
    if (!scan(text, length, exponent_allowed, decimal)) return {Float{0}, false};
    if (decimal.mantissa == 0) return {from_bits<Format>(0, decimal.negative), true};  // zero, whatever the exponent
    Float value;
    if (!decimal.truncated && exact_arithmetic<Format>(decimal.mantissa, decimal.exponent, value)) {
        return {decimal.negative ? -value : value, true};
    }
    typename Format::Bits bits;
    if (eisel_lemire<Format>(decimal.mantissa, decimal.exponent, bits)) {
        if (!decimal.truncated) return {from_bits<Format>(bits, decimal.negative), true};
        // The value lies strictly between m and m + 1 (times 10^q); rounding
        // is monotonic, so when both ends round alike so does the value.
        typename Format::Bits upper;
        if (eisel_lemire<Format>(decimal.mantissa + 1, decimal.exponent, upper) && upper == bits) {
            return {from_bits<Format>(bits, decimal.negative), true};
        }
    }
    return {convert_exact<Format>(decimal), true};
}

}  // namespace real

// The driver as a call, for the normalised route and for tests.
ConvertedReal<double> convert_f64(const unsigned char* text, std::size_t length) noexcept;
ConvertedReal<float> convert_f32(const unsigned char* text, std::size_t length) noexcept;

// x / 100 as one IEEE division in the format rounds it to nearest, ties to
// even, whatever rounding mode the caller's thread has set.
template <class Float>
Float divide_by_hundred(Float x) noexcept;

extern template double divide_by_hundred(double) noexcept;
extern template float divide_by_hundred(float) noexcept;

// The stages on their own, for tests.
// Stage 1; false when the bytes are not a numeral.
bool scan_decimal(const unsigned char* text, std::size_t length, ScannedDecimal& out) noexcept;
// Stage 3 for m > 0: the bits of the positive result (infinite or zero when q
// lies beyond the table), or false when the approximation cannot decide.
bool eisel_lemire_f64(std::uint64_t m, std::int64_t q, std::uint64_t& bits) noexcept;
bool eisel_lemire_f32(std::uint64_t m, std::int64_t q, std::uint32_t& bits) noexcept;
// Stage 4: the correctly rounded value of every digit of a scan, signed.
double convert_exact_f64(const ScannedDecimal& scan) noexcept;
float convert_exact_f32(const ScannedDecimal& scan) noexcept;

}  // namespace quillmere::core
