// Excel serials: day counts from an epoch with the time of day as the
// fraction, as text (exact decimals) or as doubles (read as the roundest time
// that the double stands for).
#include "core/excel.hpp"

#include <bit>

#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/digits.hpp"
#include "core/int128.hpp"

namespace quillmere::core {

namespace {

// 86400 * 10^9 = 2^16 * 1318359375: the power of two folds into the
// double's exponent, leaving an odd factor below 2^31.
constexpr int DAY_NANOS_TWOS = 16;
constexpr std::uint64_t DAY_NANOS_ODD = 1318359375;
static_assert((std::uint64_t{1} << DAY_NANOS_TWOS) * DAY_NANOS_ODD == NANOS_PER_DAY);

// The 1900 numbering counts a 29 February 1900 that never was: serial 60.
constexpr std::int64_t LAST_SERIAL_1900 = 2958465;  // 9999-12-31
constexpr std::int64_t LAST_SERIAL_1904 = 2957003;  // 9999-12-31
constexpr std::int64_t PHANTOM_LEAP_DAY = 60;
constexpr double SERIAL_LIMIT = 2958466.0;

constexpr std::int64_t day_number_1900(std::int64_t serial) noexcept {
    return serial < PHANTOM_LEAP_DAY ? serial - 25568 : serial - 25569;
}
constexpr std::int64_t day_number_1904(std::int64_t serial) noexcept { return serial - 24107; }

constexpr bool serial_in_range(std::int64_t serial, ExcelEpoch epoch) noexcept {
    if (epoch == ExcelEpoch::EPOCH_1900) {
        return serial >= 1 && serial <= LAST_SERIAL_1900 && serial != PHANTOM_LEAP_DAY;
    }
    return serial >= 0 && serial <= LAST_SERIAL_1904;
}

constexpr std::int64_t day_number(std::int64_t serial, ExcelEpoch epoch) noexcept {
    return epoch == ExcelEpoch::EPOCH_1900 ? day_number_1900(serial) : day_number_1904(serial);
}

// The doubles are judged by their bits: a hardware comparison would follow the
// caller's floating-point environment, which may read a subnormal as zero,
// and a hardware product would round in the caller's mode.

// A double's sign and magnitude bits; for non-negative doubles the order of
// the magnitudes is the order of the values, and NaN and the infinities have
// the largest.
struct DoubleBits {
    bool negative;  // the sign bit, on a nonzero magnitude (negative zero is zero)
    std::uint64_t magnitude;

    static DoubleBits of(double x) noexcept {
        const auto bits = std::bit_cast<std::uint64_t>(x);
        const std::uint64_t magnitude = bits & ~(std::uint64_t{1} << 63);
        return DoubleBits{(bits >> 63) != 0 && magnitude != 0, magnitude};
    }
    bool finite() const noexcept { return magnitude < std::bit_cast<std::uint64_t>(__builtin_inf()); }
    bool at_least(double bound) const noexcept { return magnitude >= std::bit_cast<std::uint64_t>(bound); }
};

// The smallest day count whose product with 86400, rounded to nearest, lies
// above MAX_DURATION_SECONDS: a magnitude at least this is out of range, as
// the rounded product would say.
constexpr double duration_days_limit() noexcept {
    constexpr double bound = static_cast<double>(MAX_DURATION_SECONDS);
    double x = bound / 86400.0;
    while (86400.0 * x > bound) x = std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) - 1);
    while (86400.0 * x <= bound) x = std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1);
    return x;
}
constexpr double DURATION_DAYS_LIMIT = duration_days_limit();
static_assert(86400.0 * DURATION_DAYS_LIMIT > static_cast<double>(MAX_DURATION_SECONDS));
static_assert(86400.0 * std::bit_cast<double>(std::bit_cast<std::uint64_t>(DURATION_DAYS_LIMIT) - 1) <=
              static_cast<double>(MAX_DURATION_SECONDS));

// x ≥ 2^-73 and x < 2^32, normal: x = significand * 2^exponent with the
// hidden bit set. Positions below are rationals num / 2^shift nanoseconds,
// num counted in quarters of the gap above x, so both ends of the rounding
// interval are whole numerators.
DaySplit split_normal(std::uint64_t significand, int exponent) noexcept {
    // x * 86400e9 = 4 * significand * DAY_NANOS_ODD * 2^(exponent - 2 + 16).
    const int shift = -(exponent - 2 + DAY_NANOS_TWOS);  // 7..111 on the domain
    const u128 one = u128{1} << shift;
    const u128 mask = one - 1;
    const u128 quarters = u128{significand} * 4;
    const bool power_of_two = significand == (std::uint64_t{1} << 52);
    // The gap below a power of two is half the gap above it.
    const u128 lower_num = (quarters - (power_of_two ? 1 : 2)) * DAY_NANOS_ODD;
    const u128 upper_num = (quarters + 2) * DAY_NANOS_ODD;
    const u128 exact_num = quarters * DAY_NANOS_ODD;
    // Round half to even: the ends round to x only when its significand is
    // even. (With shift >= 7 an end is an odd multiple of 2^-shift ns, so it
    // never falls on a whole nanosecond; the rule is kept for exactness.)
    const bool ends_included = (significand & 1) == 0;

    const std::uint64_t days = -exponent >= 64 ? 0 : significand >> -exponent;
    const i128 base = static_cast<i128>(days) * static_cast<i128>(NANOS_PER_DAY);

    // Smallest and largest integer nanosecond counts in the interval.
    const u128 lower_floor = lower_num >> shift;
    const bool lower_whole = (lower_num & mask) == 0;
    const u128 smallest = lower_whole && ends_included ? lower_floor : lower_floor + 1;
    const u128 upper_floor = upper_num >> shift;
    const bool upper_whole = (upper_num & mask) == 0;
    const u128 largest = upper_whole && !ends_included ? upper_floor - 1 : upper_floor;
    // Relative to midnight everything is below two days in nanoseconds, so the
    // choice itself runs in 64 bits.
    const auto lo = static_cast<std::int64_t>(static_cast<i128>(smallest) - base);
    const auto hi = static_cast<std::int64_t>(static_cast<i128>(largest) - base);
    const auto whole_part = static_cast<std::int64_t>(static_cast<i128>(exact_num >> shift) - base);
    constexpr auto SECOND = static_cast<std::int64_t>(NANOS_PER_SECOND);
    constexpr auto DAY = static_cast<std::int64_t>(NANOS_PER_DAY);

    std::int64_t chosen;
    if (lo <= hi) {
        // hi ≥ 0: the interval reaches above x, and x is at least base.
        const std::int64_t second = hi / SECOND * SECOND;
        if (second >= lo) {
            chosen = second;
        } else {
            int k = 8;
            while (k > 0 && hi / static_cast<std::int64_t>(POWERS_OF_TEN[k]) * static_cast<std::int64_t>(POWERS_OF_TEN[k]) < lo) --k;
            const auto step = static_cast<std::int64_t>(POWERS_OF_TEN[k]);
            // The multiples of 10^k on either side of the exact value; at least
            // one of them lies in [lo, hi] and no other multiple is nearer.
            const std::int64_t below = whole_part / step * step;
            const std::int64_t above = below + step;
            if (below < lo) {
                chosen = above;
            } else if (above > hi) {
                chosen = below;
            } else {
                // Compare 2 * (exact - below) with step exactly:
                // 2 * (whole_part - below) plus twice the fraction.
                const u128 twice_fraction = (exact_num & mask) << 1;
                const std::int64_t doubled = 2 * (whole_part - below) + static_cast<std::int64_t>(twice_fraction >> shift);
                const bool remainder = (twice_fraction & mask) != 0;
                chosen = (doubled < step || (doubled == step && !remainder)) ? below : above;
            }
        }
    } else {
        // No whole nanosecond rounds to x: the nearest one, halves up.
        chosen = static_cast<std::int64_t>(static_cast<i128>((exact_num + (one >> 1)) >> shift) - base);
    }

    if (chosen >= DAY) return DaySplit{days + 1, static_cast<std::uint64_t>(chosen - DAY)};
    return DaySplit{days, static_cast<std::uint64_t>(chosen)};
}

// NaN, infinities and negatives (not -0.0) are malformed; serials end before 2958466.
bool serial_double_fault(double x, Fault& fault) noexcept {
    const DoubleBits d = DoubleBits::of(x);
    if (!d.finite() || d.negative) {
        fault = unspanned_fault(FaultReason::MALFORMED);
        return true;
    }
    if (d.at_least(SERIAL_LIMIT)) {
        fault = unspanned_fault(FaultReason::OUT_OF_RANGE);
        return true;
    }
    return false;
}

}  // namespace

DaySplit split_day_fraction(double x) noexcept {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x) & ~(std::uint64_t{1} << 63);
    const int biased = static_cast<int>(bits >> 52);
    const std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    // Below 2^-73 day (under a hundredth of a nanosecond) nothing is left;
    // this also covers zero and every subnormal.
    if (biased < 1023 - 73) return DaySplit{0, 0};
    const std::uint64_t significand = mantissa | (std::uint64_t{1} << 52);
    const int exponent = biased - 1075;
    if (exponent > 32 - 53) {
        // x ≥ 2^32: no caller goes there; whole days only, saturating.
        if (exponent > 63 - 52) return DaySplit{~std::uint64_t{0}, 0};
        return DaySplit{exponent >= 0 ? significand << exponent : significand >> -exponent, 0};
    }
    return split_normal(significand, exponent);
}

Verdict<CivilDateTime> cast_excel_serial_from_f64(ExcelEpoch epoch, double x) noexcept {
    Fault fault;
    if (serial_double_fault(x, fault)) return fault;
    const DaySplit split = split_day_fraction(x);
    // The day count is the rounded one: a time that rounds up to midnight
    // belongs to the next day.
    const auto serial = static_cast<std::int64_t>(split.days);
    if (!serial_in_range(serial, epoch)) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    const CivilFields date = civil_from_days(day_number(serial, epoch));
    CivilDateTime v{};
    v.date.year = static_cast<std::uint16_t>(date.year);
    v.date.month = static_cast<std::uint8_t>(date.month);
    v.date.day = static_cast<std::uint8_t>(date.day);
    v.time.nanos = split.nanos;
    return Verdict<CivilDateTime>::success(v);
}

Verdict<TimeOfDay> cast_excel_time(double x) noexcept {
    Fault fault;
    if (serial_double_fault(x, fault)) return fault;
    TimeOfDay v{};
    v.nanos = split_day_fraction(x).nanos;
    return Verdict<TimeOfDay>::success(v);
}

Verdict<SignedDuration> cast_excel_duration(double x) noexcept {
    const DoubleBits d = DoubleBits::of(x);
    if (!d.finite()) return unspanned_fault(FaultReason::MALFORMED);
    if (d.at_least(DURATION_DAYS_LIMIT)) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    // The magnitude is split; its sign comes back at the end.
    const DaySplit split = split_day_fraction(x);
    const bool negative = d.negative;
    const i128 magnitude = static_cast<i128>(split.days) * static_cast<i128>(NANOS_PER_DAY) + split.nanos;
    const i128 total = negative ? -magnitude : magnitude;
    SignedDuration v{};
    v.seconds = static_cast<std::int64_t>(total / static_cast<i128>(NANOS_PER_SECOND));
    v.nanos = static_cast<std::int32_t>(total % static_cast<i128>(NANOS_PER_SECOND));
    return Verdict<SignedDuration>::success(v);
}

Verdict<Instant> cast_excel_serial(const char* data, std::size_t len, ExcelEpoch epoch) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const std::size_t n = t.length;
    if (!is_digit(t[0])) return char_fault(t, 0);

    std::size_t pos = 0;
    std::int64_t serial = 0;
    bool overflow = false;
    for (; pos < n && is_digit(t[pos]); ++pos) {
        if (!overflow && (__builtin_mul_overflow(serial, 10, &serial) ||
                          __builtin_add_overflow(serial, t[pos] - '0', &serial))) {
            overflow = true;
        }
    }

    std::uint64_t day_nanos = 0;
    if (pos < n && t[pos] == '.') {
        const std::size_t point = pos++;
        // Fourteen digits resolve a day to under a nanosecond; later digits
        // are read and dropped.
        constexpr std::size_t KEPT = 14;
        std::uint64_t fraction = 0;
        std::size_t kept = 0;
        for (; pos < n && is_digit(t[pos]); ++pos) {
            if (kept < KEPT) {
                fraction = fraction * 10 + (t[pos] - '0');
                ++kept;
            }
        }
        if (kept == 0) return span_fault(t, point, 1);
        day_nanos = static_cast<std::uint64_t>(u128{fraction} * NANOS_PER_DAY / POWERS_OF_TEN[kept]);
    }
    if (pos < n) return char_fault(t, pos);
    if (overflow || !serial_in_range(serial, epoch)) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);

    Instant v{};
    v.seconds = day_number(serial, epoch) * 86400 + static_cast<std::int64_t>(day_nanos / NANOS_PER_SECOND);
    v.nanos = static_cast<std::uint32_t>(day_nanos % NANOS_PER_SECOND);
    return Verdict<Instant>::success(v);
}

}  // namespace quillmere::core
