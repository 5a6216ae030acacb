// The decimal a double names: the shortest digit string that reads back to
// it, as an ExactDecimal.
//
// Only doubles in [2^-97, 2^97) can name a decimal that fits 96 bits and 28
// places, which keeps every quantity small: the ends of the reading interval,
// scaled to a power of ten one digit finer than the interval's width, are
// integers below 2^64, and they are computed exactly (a product with a power
// of five and a shift, or a short division). Digits are then removed from all
// three values at once while the interval still holds a multiple of the
// coarser power of ten; the last removed digit of the double itself decides
// between the two nearest candidates, a tie going to the larger.
#include <bit>

#include "core/casts.hpp"
#include "core/decimal.hpp"

namespace quillmere::core {

namespace {

// Binary exponents (of the significand's unit) of the doubles that may fit:
// x = m * 2^e with 2^52 <= m < 2^53 lies in [2^-97, 2^97) exactly for these.
constexpr int MIN_EXPONENT = -149;
constexpr int MAX_EXPONENT = 44;

// floor(e * log10 2) as floor(e * floor(2^32 log10 2) / 2^32).
constexpr int floor_log10_pow2(int e) noexcept {
    return static_cast<int>((static_cast<std::int64_t>(e) * 1292913986) >> 32);
}

constexpr u128 pow5(int n) noexcept {
    u128 p = 1;
    for (int i = 0; i < n; ++i) p *= 5;
    return p;
}

// 10^k <= 2^e < 10^(k+1), checked exactly over the range that is used.
constexpr bool log10_estimate_is_exact() noexcept {
    for (int e = MIN_EXPONENT; e <= MAX_EXPONENT; ++e) {
        const int k = floor_log10_pow2(e);
        if (e >= 0) {
            u128 ten_k = 1;
            for (int i = 0; i < k; ++i) ten_k *= 10;
            const u128 two_e = u128{1} << e;
            if (!(ten_k <= two_e && two_e < ten_k * 10)) return false;
        } else {
            // With k < 0: 10^k <= 2^e  <=>  2^(k-e) <= 5^-k, and 2^e < 10^(k+1)
            // <=>  5^-(k+1) < 2^(k+1-e).
            if (k >= 0) return false;
            if (!((u128{1} << (k - e)) <= pow5(-k))) return false;
            if (!(pow5(-(k + 1)) < (u128{1} << (k + 1 - e)))) return false;
        }
    }
    return true;
}
static_assert(log10_estimate_is_exact());

struct Pow5Table {
    u128 v[48];
};
constexpr Pow5Table make_pow5_table() noexcept {
    Pow5Table t{};
    for (int i = 0; i < 48; ++i) t.v[i] = pow5(i);
    return t;
}
constexpr Pow5Table POW5 = make_pow5_table();

struct Scaled {
    std::uint64_t value;
    bool exact;  // nothing was lost to the floor
};

// Three words, least significant first.
struct U192 {
    std::uint64_t w0, w1, w2;
};

inline U192 multiply(std::uint64_t c, u128 p) noexcept {
    const u128 low = u128{c} * static_cast<std::uint64_t>(p);
    const u128 high = u128{c} * static_cast<std::uint64_t>(p >> 64);
    const u128 middle = (low >> 64) + static_cast<std::uint64_t>(high);
    return {static_cast<std::uint64_t>(low), static_cast<std::uint64_t>(middle),
            static_cast<std::uint64_t>(high >> 64) + static_cast<std::uint64_t>(middle >> 64)};
}

// floor(v / 2^r) for 0 < r < 192, known to fit a word.
inline Scaled shift_right(const U192& v, int r) noexcept {
    if (r >= 128) {
        const int b = r - 128;
        return {v.w2 >> b, (v.w0 | v.w1) == 0 && (v.w2 & ((std::uint64_t{1} << b) - 1)) == 0};
    }
    if (r >= 64) {
        const int b = r - 64;
        const u128 top = (u128{v.w2} << 64) | v.w1;
        return {static_cast<std::uint64_t>(top >> b), v.w0 == 0 && (v.w1 & ((std::uint64_t{1} << b) - 1)) == 0};
    }
    const u128 bottom = (u128{v.w1} << 64) | v.w0;
    return {static_cast<std::uint64_t>(bottom >> r), (v.w0 & ((std::uint64_t{1} << r) - 1)) == 0};
}

// The three reading points, in quarter units of 2^e, at a power of ten.
struct Points {
    Scaled low, high;
    std::uint64_t x;
};

// floor(c * 2^e2 / 10^s) for c = c_low, c_high, c_x, exactly: c * 2^(e2-s)
// * 5^-s. Here c < 2^55, every result is below 2^64, and -47 <= s <= 11.
Points scale_points(std::uint64_t c_low, std::uint64_t c_high, std::uint64_t c_x, int e2, int s) noexcept {
    const int shift = e2 - s;
    if (s > 0) {
        // Large doubles only: here e2 >= s, and 5^s < 2^26.
        const auto divisor = static_cast<std::uint64_t>(POW5.v[s]);
        auto divide = [&](std::uint64_t c) {
            const u128 n = u128{c} << shift;
            return Scaled{static_cast<std::uint64_t>(n / divisor), n % divisor == 0};
        };
        return {divide(c_low), divide(c_high), divide(c_x).value};
    }
    const u128 p = POW5.v[-s];
    if (shift >= 0) {
        // Doubles near 1 only: the products are small and the scaling exact.
        auto scale = [&](std::uint64_t c) { return Scaled{static_cast<std::uint64_t>((u128{c} * p) << shift), true}; };
        return {scale(c_low), scale(c_high), scale(c_x).value};
    }
    return {shift_right(multiply(c_low, p), -shift), shift_right(multiply(c_high, p), -shift),
            shift_right(multiply(c_x, p), -shift).value};
}

// The interval's ends and x itself at the current power of ten, as floors;
// for the ends, whether the floor lost nothing.
struct Interval {
    std::uint64_t low;
    std::uint64_t high;
    std::uint64_t x;
    unsigned removed_digit;  // the most significant digit of x dropped last
    bool low_exact;
    bool high_exact;
    bool ends_included;  // the significand is even: an end reads back to x

    // The smallest and largest multiples of the current power inside.
    std::uint64_t first() const noexcept { return low + ((low_exact && ends_included) ? 0 : 1); }
    std::uint64_t last() const noexcept { return high - ((high_exact && !ends_included) ? 1 : 0); }
};

// Moves to a power of ten D times coarser when the interval still holds a
// multiple of it; the constant divisor keeps the divisions cheap.
template <std::uint64_t D>
[[gnu::always_inline]] inline bool coarsen(Interval& iv) noexcept {
    Interval next = iv;
    next.low = iv.low / D;
    next.high = iv.high / D;
    next.low_exact = iv.low_exact && iv.low % D == 0;
    next.high_exact = iv.high_exact && iv.high % D == 0;
    if (next.first() > next.last()) return false;
    next.x = iv.x / D;
    next.removed_digit = static_cast<unsigned>((iv.x % D) / (D / 10));
    iv = next;
    return true;
}

}  // namespace

Verdict<ExactDecimal> decimal_from_double(double x) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const bool negative = (bits >> 63) != 0;
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    if (biased == 0x7FF) return unspanned_fault(fraction != 0 ? FaultReason::MALFORMED : FaultReason::OUT_OF_RANGE);
    if (biased == 0 && fraction == 0) return Verdict<ExactDecimal>::success(make_decimal(0, 0, false));
    // Subnormals are far below 10^-28.
    if (biased == 0) return unspanned_fault(FaultReason::OUT_OF_RANGE);

    const int e = biased - 1075;
    if (e < MIN_EXPONENT || e > MAX_EXPONENT) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    const std::uint64_t m = fraction | (std::uint64_t{1} << 52);

    // In quarter units of 2^e: x is 4m, the upper end half a unit above, the
    // lower end half a unit below, or a quarter at a power of two, whose lower
    // neighbour is twice as close.
    const bool power_of_two = fraction == 0;
    const std::uint64_t c_mid = 4 * m;
    const std::uint64_t c_high = c_mid + 2;
    const std::uint64_t c_low = c_mid - (power_of_two ? 1 : 2);
    const int e2 = e - 2;

    // The interval is at least 0.75 * 2^e >= 0.75 * 10^k wide, so it holds a
    // multiple of 10^(k-1); start one digit finer than that.
    const int k = floor_log10_pow2(e);
    const int s = k - 2;
    const Points at = scale_points(c_low, c_high, c_mid, e2, s);

    Interval iv{at.low.value, at.high.value, at.x, 0, at.low.exact, at.high.exact, (m & 1) == 0};
    int exponent10 = s;
    coarsen<10>(iv);  // always holds
    exponent10 += 1;
    // Most doubles keep 16 or 17 digits: test one more digit before big steps.
    if (coarsen<10>(iv)) {
        exponent10 += 1;
        while (coarsen<100000000>(iv)) exponent10 += 8;
        if (coarsen<10000>(iv)) exponent10 += 4;
        if (coarsen<100>(iv)) exponent10 += 2;
        if (coarsen<10>(iv)) exponent10 += 1;
    }

    // The two candidates nearest x are floor(x) and floor(x) + 1 at this
    // power; the first removed digit of x says which is nearer, and 5 (a tie
    // or more) picks the larger.
    std::uint64_t digits = iv.x;
    if ((iv.removed_digit >= 5 && digits + 1 <= iv.last()) || digits < iv.first()) ++digits;

    // A multiple of ten would have allowed a coarser power, so the digits
    // end in a nonzero digit; only an integer needs zeros appended.
    u128 magnitude = digits;
    for (; exponent10 > 0; --exponent10) {
        magnitude *= 10;
        if (magnitude >= DECIMAL_MAGNITUDE_LIMIT) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    }
    if (-exponent10 > static_cast<int>(MAX_DECIMAL_SCALE)) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    return Verdict<ExactDecimal>::success(make_decimal(magnitude, static_cast<unsigned>(-exponent10), negative));
}

}  // namespace quillmere::core
