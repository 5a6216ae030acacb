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
// The driver, real_conversion.cpp, runs them in that order; real_format.hpp
// holds what the stages share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/numeral.hpp"

namespace quillmere::core {

template <class F>
struct ConvertedReal {
    F value;
    bool ok;  // false: the bytes are not a numeral
};

// The numeral's value, signed, possibly infinite, never a NaN; an exponent
// is read only when allowed. Instantiated for double and float.
template <class Float>
ConvertedReal<Float> convert_numeral(const unsigned char* text, std::size_t length, bool exponent_allowed) noexcept;

extern template ConvertedReal<double> convert_numeral(const unsigned char*, std::size_t, bool) noexcept;
extern template ConvertedReal<float> convert_numeral(const unsigned char*, std::size_t, bool) noexcept;

inline ConvertedReal<double> convert_f64(const unsigned char* text, std::size_t length) noexcept {
    return convert_numeral<double>(text, length, true);
}
inline ConvertedReal<float> convert_f32(const unsigned char* text, std::size_t length) noexcept {
    return convert_numeral<float>(text, length, true);
}

// m * 10^q for a mantissa 0 < m < 10^19, by stages 2 and 3 alone: false when
// only stage 4, which needs the digits as written, could decide.
template <class Float>
bool convert_mantissa(std::uint64_t m, std::int64_t q, Float& out) noexcept;

extern template bool convert_mantissa(std::uint64_t, std::int64_t, double&) noexcept;
extern template bool convert_mantissa(std::uint64_t, std::int64_t, float&) noexcept;

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
