// Correctly rounded conversion of an ASCII decimal numeral to IEEE binary64
// and, separately and directly, to binary32. The numeral is an optional sign,
// digits with at most one ".", at least one digit, then optionally "e" or "E",
// an optional sign and at least one digit; nothing else is read.
//
// The conversion runs in stages, each handing on what it cannot settle:
//   1. scan: the first 19 significant digits as a 64-bit mantissa m and a
//      decimal exponent q, with a flag for nonzero digits dropped past them;
//   2. exact floating-point arithmetic when m and 10^q are both exact;
//   3. Eisel-Lemire: m times a 128-bit approximation of 5^q, accepted only when
//      the approximation cannot sit on the other side of a rounding boundary
//      (for a truncated mantissa, m and m + 1 must agree);
//   4. a big-integer quotient of all significant digits (up to 768, the rest
//      as a sticky bit), exact in every case.
// Stages 2 to 4 are exposed for the casts' shortcuts and for tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmere::core {

template <class F>
struct ConvertedReal {
    F value;
    bool ok;  // false: the bytes are not a numeral
};

// Signed, possibly infinite; never a NaN.
ConvertedReal<double> convert_f64(const unsigned char* text, std::size_t length) noexcept;
ConvertedReal<float> convert_f32(const unsigned char* text, std::size_t length) noexcept;

// A numeral read up to its first 19 significant digits.
struct ScannedDecimal {
    std::uint64_t mantissa;  // the first 19 significant digits, or all when fewer
    std::int64_t exponent;   // the value is mantissa * 10^exponent, exactly unless truncated
    bool negative;
    bool truncated;  // a nonzero digit was dropped: the value lies strictly above mantissa * 10^exponent
    // The digits as written, for the exact stage.
    const unsigned char* integer_begin;
    const unsigned char* integer_end;
    const unsigned char* fraction_begin;
    const unsigned char* fraction_end;
    std::int64_t written_exponent;  // the "e" part; its magnitude stops growing at 10^15
};

// False when the bytes are not a numeral.
bool scan_decimal(const unsigned char* text, std::size_t length, ScannedDecimal& out) noexcept;

// Stage 2: m * 10^q by one exact multiplication or division, when
// m <= 2^53 and |q| <= 22 (binary32: m <= 2^24, |q| <= 10). False otherwise.
bool exact_arithmetic_f64(std::uint64_t m, std::int64_t q, double& out) noexcept;
bool exact_arithmetic_f32(std::uint64_t m, std::int64_t q, float& out) noexcept;

// Stage 3 for m > 0: the bits of the positive result (infinite or zero when q
// lies beyond the table), or false when the approximation cannot decide.
bool eisel_lemire_f64(std::uint64_t m, std::int64_t q, std::uint64_t& bits) noexcept;
bool eisel_lemire_f32(std::uint64_t m, std::int64_t q, std::uint32_t& bits) noexcept;

// Stage 4: the correctly rounded value of every digit of a scan, signed.
double convert_exact_f64(const ScannedDecimal& scan) noexcept;
float convert_exact_f32(const ScannedDecimal& scan) noexcept;

}  // namespace quillmere::core

#include "core/num_format.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// The real casts with neither shortcut: plain test or normalisation, then
// conversion, the infinity test and the percent division. cast_f64 and
// cast_f32 give exactly these verdicts, faster.
Verdict<double> cast_f64_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<float> cast_f32_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;

}  // namespace quillmere::core
