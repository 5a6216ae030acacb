#include "core/real_conversion.hpp"

#include <bit>
#include <cfloat>

#include "core/bigint.hpp"
#include "core/digits.hpp"
#include "core/power_table.hpp"

// The exact-arithmetic stage relies on every operation rounding once in its own width.
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not use wider intermediates");

namespace quillmere::core {

namespace {

using u128 = unsigned __int128;

// What differs between the two target widths.
struct Binary64 {
    using Float = double;
    using Bits = std::uint64_t;
    static constexpr int PRECISION = 53;            // significand bits, the hidden one included
    static constexpr int MIN_ULP_EXPONENT = -1074;  // the smallest subnormal is 2^-1074
    static constexpr int MAX_EXPONENT = 1023;
    static constexpr Bits INFINITY_BITS = 0x7FF0000000000000ull;
    static constexpr Bits SIGN_BIT = 0x8000000000000000ull;
    static constexpr std::uint64_t EXACT_MANTISSA_LIMIT = std::uint64_t{1} << 53;
    static constexpr int EXACT_POWER_LIMIT = 22;
    // m < 2^64: below 10^-342 every value rounds to zero, above 10^308 to infinity.
    static constexpr int SMALLEST_Q = -342;
    static constexpr int LARGEST_Q = 308;
    // Position of the decimal point (value = 0.d1d2... * 10^point) past which
    // the value is surely infinite, or surely rounds to zero.
    static constexpr std::int64_t INFINITE_POINT = 310;
    static constexpr std::int64_t ZERO_POINT = -330;
};

struct Binary32 {
    using Float = float;
    using Bits = std::uint32_t;
    static constexpr int PRECISION = 24;
    static constexpr int MIN_ULP_EXPONENT = -149;
    static constexpr int MAX_EXPONENT = 127;
    static constexpr Bits INFINITY_BITS = 0x7F800000u;
    static constexpr Bits SIGN_BIT = 0x80000000u;
    static constexpr std::uint64_t EXACT_MANTISSA_LIMIT = std::uint64_t{1} << 24;
    static constexpr int EXACT_POWER_LIMIT = 10;
    static constexpr int SMALLEST_Q = -65;
    static constexpr int LARGEST_Q = 38;
    static constexpr std::int64_t INFINITE_POINT = 40;
    static constexpr std::int64_t ZERO_POINT = -46;
};

constexpr double EXACT_POWERS_F64[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr float EXACT_POWERS_F32[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

constexpr std::uint64_t ZERO_DIGITS = 0x3030303030303030ull;
constexpr std::int64_t EXPONENT_CAP = 1'000'000'000'000'000;  // 10^15
constexpr std::size_t MAX_SIGNIFICANT_DIGITS = 19;
// Every halfway point between adjacent doubles has at most 768 significant
// digits, so 768 digits and a sticky bit for the rest decide every rounding.
constexpr std::size_t MAX_EXACT_DIGITS = 768;

// Accumulates a run of digits into m (wrapping; callers only trust the result
// for at most 19 significant digits) and returns the end of the run.
inline const unsigned char* read_digits(const unsigned char* p, const unsigned char* end, std::uint64_t& m) noexcept {
    while (end - p >= 8) {
        const std::uint64_t word = load_u64_le(p);
        if (!is_eight_digits(word)) break;
        m = m * 100000000 + parse_eight_digits(word);
        p += 8;
    }
    while (p != end && is_digit(*p)) {
        m = m * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    return p;
}

// Walks the digits of a scan in order, stepping over the decimal point.
class DigitCursor {
public:
    explicit DigitCursor(const ScannedDecimal& s) noexcept
        : p_(s.integer_begin), end_(s.integer_end), next_(s.fraction_begin), next_end_(s.fraction_end) {
        settle();
    }
    bool done() const noexcept { return p_ == end_; }
    unsigned peek() const noexcept { return static_cast<unsigned>(*p_ - '0'); }
    void advance() noexcept {
        ++p_;
        settle();
    }
    // True when any digit from here on is nonzero.
    bool any_nonzero_left() noexcept {
        for (;;) {
            while (end_ - p_ >= 8) {
                if (load_u64_le(p_) != ZERO_DIGITS) return true;
                p_ += 8;
            }
            while (p_ != end_) {
                if (*p_ != '0') return true;
                ++p_;
            }
            if (!in_integer_) return false;
            settle();
        }
    }
    std::size_t digits_left() const noexcept {
        const std::size_t here = static_cast<std::size_t>(end_ - p_);
        return in_integer_ ? here + static_cast<std::size_t>(next_end_ - next_) : here;
    }

private:
    void settle() noexcept {
        if (p_ == end_ && in_integer_) {
            in_integer_ = false;
            p_ = next_;
            end_ = next_end_;
        }
    }
    const unsigned char* p_;
    const unsigned char* end_;
    const unsigned char* next_;
    const unsigned char* next_end_;
    bool in_integer_ = true;
};

template <class Format>
typename Format::Float from_bits(typename Format::Bits bits, bool negative) noexcept {
    return std::bit_cast<typename Format::Float>(negative ? bits | Format::SIGN_BIT : bits);
}

// ---- stage 2 --------------------------------------------------------------

template <class Format, class Float>
bool exact_arithmetic(std::uint64_t m, std::int64_t q, Float& out, const Float* powers) noexcept {
    if (m > Format::EXACT_MANTISSA_LIMIT || q < -Format::EXACT_POWER_LIMIT || q > Format::EXACT_POWER_LIMIT) return false;
    const Float value = static_cast<Float>(m);
    out = q < 0 ? value / powers[-q] : value * powers[q];
    return true;
}

// ---- stage 3 --------------------------------------------------------------
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

template <class Format>
typename Format::Bits assemble(std::uint64_t significand, int ulp_exponent) noexcept {
    // A significand that rounded up to 2^PRECISION carries into the exponent
    // field by itself, and from the largest binade into the infinity pattern.
    using Bits = typename Format::Bits;
    return static_cast<Bits>(significand) +
           (static_cast<Bits>(ulp_exponent - Format::MIN_ULP_EXPONENT) << (Format::PRECISION - 1));
}

// The upper 128 bits of the product (high word `hi`) split at the target's
// unit in the last place, which falls `fraction_bits` bits above bit 0 of the
// low word; the lower part is held as its top word and compared with half.
struct Split {
    int exponent;  // of the leading bit of the value
    int ulp_exponent;
    int fraction_bits_in_high;  // 10..64 bits of `hi` lie below the unit
    std::uint64_t significand;
    std::uint64_t fraction_high;  // those bits of `hi`
    std::uint64_t half_high;      // one half of the unit, in the same bits
};

template <class Format>
Split split(std::uint64_t hi, int base) noexcept {
    Split s;
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
    Split s = split<Format>(hi, base);
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
        s = split<Format>(hi, base);
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
    bits = assemble<Format>(s.significand + (round_up ? 1 : 0), s.ulp_exponent);
    return true;
}

// ---- stage 4 --------------------------------------------------------------

// Rounds a value whose leading 64 bits are `top` (bit 63 set), worth 2^exponent
// at bit 63, with `sticky` telling whether anything nonzero lies below them.
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
    return assemble<Format>(significand + (round_up ? 1 : 0), static_cast<int>(ulp));
}

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

// ---- stage 1 --------------------------------------------------------------

// More than 19 digits were written. Leading zeros leave the wrapped sum
// exact; past 19 significant digits, keep the first 19 and note whether
// anything dropped is nonzero.
[[gnu::noinline]] void keep_first_significant_digits(ScannedDecimal& out) noexcept {
    DigitCursor cursor(out);
    while (!cursor.done() && cursor.peek() == 0) cursor.advance();
    std::size_t significant = 0;
    {
        DigitCursor counter = cursor;
        while (!counter.done() && significant <= MAX_SIGNIFICANT_DIGITS) {
            ++significant;
            counter.advance();
        }
    }
    if (significant > MAX_SIGNIFICANT_DIGITS) {
        std::uint64_t m = 0;
        for (std::size_t i = 0; i < MAX_SIGNIFICANT_DIGITS; ++i) {
            m = m * 10 + cursor.peek();
            cursor.advance();
        }
        // Each dropped digit raises the exponent by one.
        out.mantissa = m;
        out.exponent += static_cast<std::int64_t>(cursor.digits_left());
        out.truncated = cursor.any_nonzero_left();
    }
}

[[gnu::always_inline]] inline bool scan(const unsigned char* text, std::size_t length, ScannedDecimal& out) noexcept {
    const unsigned char* p = text;
    const unsigned char* const end = text + length;
    out.negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        out.negative = *p == '-';
        ++p;
    }
    std::uint64_t m = 0;
    out.integer_begin = p;
    p = read_digits(p, end, m);
    out.integer_end = p;
    out.fraction_begin = out.fraction_end = p;
    if (p != end && *p == '.') {
        ++p;
        out.fraction_begin = p;
        p = read_digits(p, end, m);
        out.fraction_end = p;
    }
    const std::size_t integer_digits = static_cast<std::size_t>(out.integer_end - out.integer_begin);
    const std::size_t fraction_digits = static_cast<std::size_t>(out.fraction_end - out.fraction_begin);
    if (integer_digits + fraction_digits == 0) return false;

    std::int64_t written = 0;
    if (p != end && (*p | 0x20) == 'e') {
        ++p;
        bool negative_exponent = false;
        if (p != end && (*p == '-' || *p == '+')) {
            negative_exponent = *p == '-';
            ++p;
        }
        if (p == end || !is_digit(*p)) return false;
        // Past 10^15 every nonzero value is already zero or infinite.
        while (p != end && is_digit(*p)) {
            if (written < EXPONENT_CAP) written = written * 10 + (*p - '0');
            ++p;
        }
        if (negative_exponent) written = -written;
    }
    if (p != end) return false;
    out.written_exponent = written;
    out.exponent = written - static_cast<std::int64_t>(fraction_digits);
    out.truncated = false;
    out.mantissa = m;

    if (integer_digits + fraction_digits > MAX_SIGNIFICANT_DIGITS) keep_first_significant_digits(out);
    return true;
}

// ---- the driver -----------------------------------------------------------

template <class Format>
ConvertedReal<typename Format::Float> convert(const unsigned char* text, std::size_t length, const typename Format::Float* powers) noexcept {
    using Float = typename Format::Float;
    ScannedDecimal decimal;
    if (!scan(text, length, decimal)) return {Float{0}, false};
    if (decimal.mantissa == 0) return {from_bits<Format>(0, decimal.negative), true};  // zero, whatever the exponent
    Float value;
    if (!decimal.truncated && exact_arithmetic<Format>(decimal.mantissa, decimal.exponent, value, powers)) {
        return {decimal.negative ? -value : value, true};
    }
    typename Format::Bits bits;
    if (eisel_lemire<Format>(decimal.mantissa, decimal.exponent, bits)) {
        if (!decimal.truncated) return {from_bits<Format>(bits, decimal.negative), true};
        // The value lies strictly between m and m + 1 (times 10^q); rounding
        // is monotonic, so when both ends round alike so does the value.
        typename Format::Bits upper_bits;
        if (eisel_lemire<Format>(decimal.mantissa + 1, decimal.exponent, upper_bits) && upper_bits == bits) {
            return {from_bits<Format>(bits, decimal.negative), true};
        }
    }
    return {convert_exact<Format>(decimal), true};
}

}  // namespace

bool scan_decimal(const unsigned char* text, std::size_t length, ScannedDecimal& out) noexcept {
    return scan(text, length, out);
}

bool exact_arithmetic_f64(std::uint64_t m, std::int64_t q, double& out) noexcept {
    return exact_arithmetic<Binary64>(m, q, out, EXACT_POWERS_F64);
}
bool exact_arithmetic_f32(std::uint64_t m, std::int64_t q, float& out) noexcept {
    return exact_arithmetic<Binary32>(m, q, out, EXACT_POWERS_F32);
}
bool eisel_lemire_f64(std::uint64_t m, std::int64_t q, std::uint64_t& bits) noexcept {
    return eisel_lemire<Binary64>(m, q, bits);
}
bool eisel_lemire_f32(std::uint64_t m, std::int64_t q, std::uint32_t& bits) noexcept {
    return eisel_lemire<Binary32>(m, q, bits);
}
double convert_exact_f64(const ScannedDecimal& scan) noexcept { return convert_exact<Binary64>(scan); }
float convert_exact_f32(const ScannedDecimal& scan) noexcept { return convert_exact<Binary32>(scan); }

ConvertedReal<double> convert_f64(const unsigned char* text, std::size_t length) noexcept {
    return convert<Binary64>(text, length, EXACT_POWERS_F64);
}
ConvertedReal<float> convert_f32(const unsigned char* text, std::size_t length) noexcept {
    return convert<Binary32>(text, length, EXACT_POWERS_F32);
}

}  // namespace quillmere::core
