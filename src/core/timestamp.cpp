// RFC 3339 instants: a full date at fixed positions, "T", an ISO clock with
// seconds and a mandatory zone designator, converted to UTC. The usual texts
// are settled first by a reader of the fixed layout that takes the date and
// the clock as two words; anything it does not accept whole goes to the
// reader of the grammar, which gives every fault.
#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/clock.hpp"
#include "core/date.hpp"
#include "core/digits.hpp"
#include "core/reference_paths.hpp"

namespace quillmere::core {

namespace {

// The zone designator as read: sign is +1, -1, or 0 for "Z", and the offset
// as a clock of hours and minutes.
struct Zone {
    int sign = 0;
    Clock offset{};
};

// Reads the designator that starts at e and must end the text.
inline bool read_zone(const TextRange& t, std::size_t e, Zone& z, Fault& fault) noexcept {
    const std::size_t n = t.length;
    if (e == n) {
        fault = whole_text_fault(t);
        return false;
    }
    const unsigned char b = t[e];
    if (b == 'Z' || b == 'z') {
        if (e + 1 != n) {
            fault = char_fault(t, e + 1);
            return false;
        }
        return true;
    }
    if (b != '+' && b != '-') {
        fault = char_fault(t, e);
        return false;
    }
    z.sign = b == '+' ? 1 : -1;
    if (!read_two_digits(t, e + 1, z.offset.hour, fault)) return false;
    z.offset.hour_span = ClockField{e + 1, 2};
    if (e + 3 == n) {
        fault = end_fault(t);
        return false;
    }
    if (t[e + 3] != ':') {
        fault = span_fault(t, e + 3, 1);
        return false;
    }
    if (!read_two_digits(t, e + 4, z.offset.minute, fault)) return false;
    z.offset.minute_span = z.offset.second_span = ClockField{e + 4, 2};
    if (e + 6 != n) {
        fault = char_fault(t, e + 6);
        return false;
    }
    return true;
}

// The shortcut: "yyyy-MM-ddTHH:mm:ss", an optional fraction, then "Z" or an
// offset "+HH:MM" ending the text, every field in range. True with the
// instant only for a text the general reader accepts with that same instant;
// false, for the general reader to judge, on anything else.
namespace fixed_layout {

// Bytes 0-7, "yyyy-MM-": digits but at 4 and 7, which hold "-".
constexpr std::uint64_t DATE_DIGITS = 0x00FFFF00FFFFFFFF;
constexpr std::uint64_t DATE_SEPARATORS = 0x2D00002D00000000;
// Bytes 8-15, "ddTHH:mm": digits but at 10 ("T" or "t", folded) and 13 (":").
constexpr std::uint64_t CLOCK_DIGITS = 0xFFFF00FFFF00FFFF;
constexpr std::uint64_t CLOCK_SEPARATORS = 0x00003A0000740000;
constexpr std::uint64_t T_FOLD = 0x0000000000200000;
constexpr std::uint64_t ZEROS = 0x3030303030303030;

// The word with '0' in place of its separators.
constexpr std::uint64_t digits_only(std::uint64_t word, std::uint64_t digits) noexcept {
    return (word & digits) | (ZEROS & ~digits);
}

constexpr bool matches(std::uint64_t word, std::uint64_t digits, std::uint64_t separators) noexcept {
    return (word & ~digits) == separators && is_eight_digits(digits_only(word, digits));
}

// Digit k of digits_only(...) - ZEROS; a separator below '0' left in place
// would borrow from the digit after it.
constexpr unsigned digit(std::uint64_t values, unsigned k) noexcept { return (values >> (8 * k)) & 0xFF; }
constexpr unsigned two(std::uint64_t values, unsigned k) noexcept {
    return digit(values, k) * 10 + digit(values, k + 1);
}

inline bool read(const TextRange& t, Instant& out) noexcept {
    const unsigned char* p = t.data;
    const std::size_t n = t.length;
    if (n < 20) return false;
    const std::uint64_t date = load_u64_le(p);
    const std::uint64_t clock = load_u64_le(p + 8) | T_FOLD;
    if (!(matches(date, DATE_DIGITS, DATE_SEPARATORS) && matches(clock, CLOCK_DIGITS, CLOCK_SEPARATORS) &&
          p[16] == ':' && is_digit(p[17]) && is_digit(p[18]))) {
        return false;
    }
    const std::uint64_t d = digits_only(date, DATE_DIGITS) - ZEROS, c = digits_only(clock, CLOCK_DIGITS) - ZEROS;
    const unsigned year = two(d, 0) * 100 + two(d, 2), month = two(d, 5), day = two(c, 0);
    const unsigned hour = two(c, 3), minute = two(c, 6), second = (p[17] - '0') * 10u + (p[18] - '0');

    // The zone ends the text: "Z" as its last byte, or an offset as its last six.
    std::size_t zone = n - 1;
    std::int64_t offset = 0;
    if ((p[zone] | 0x20) != 'z') {
        zone = n - 6;
        if (n < 25) return false;
        const unsigned char* z = p + zone;
        if (!((z[0] == '+' || z[0] == '-') && is_digit(z[1]) && is_digit(z[2]) && z[3] == ':' && is_digit(z[4]) &&
              is_digit(z[5]))) {
            return false;
        }
        const unsigned offset_hour = (z[1] - '0') * 10u + (z[2] - '0');
        const unsigned offset_minute = (z[4] - '0') * 10u + (z[5] - '0');
        if (offset_hour > 23 || offset_minute > 59) return false;
        offset = (z[0] == '+' ? 1 : -1) * static_cast<std::int64_t>(offset_hour * 3600 + offset_minute * 60);
    }
    // Between the seconds and the zone: nothing, or a point and digits.
    std::uint32_t nanos = 0;
    if (zone != 19) {
        if (p[19] != '.' || zone == 20) return false;
        const std::size_t digits = zone - 20;
        if (digits <= 8) {
            // The word that ends with the digits, shifted down to them, '0' after them.
            const unsigned half = static_cast<unsigned>(4 * digits);
            const std::uint64_t word = load_u64_le(p + zone - 8) >> (64 - 8 * digits) | ZEROS << half << half;
            if (!is_eight_digits(word)) return false;
            nanos = parse_eight_digits(word) * 10;
        } else {
            const Fraction fraction = read_fraction_nanos(p, zone, 20);
            if (fraction.end != zone) return false;
            nanos = fraction.nanos;
        }
    }

    const bool date_in_range =
        year != 0 && month - 1 <= 11 && day != 0 && (day <= 28 || day <= days_in_month(year, month));
    if (!date_in_range || hour > 23 || minute > 59 || second > 59) return false;
    const std::int64_t seconds =
        days_from_civil_four_digit_year(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    if (seconds < MIN_INSTANT_SECONDS || seconds > MAX_INSTANT_SECONDS) return false;
    out.seconds = seconds;
    out.nanos = nanos;
    return true;
}

}  // namespace fixed_layout

[[gnu::noinline]] Verdict<Instant> read_timestamp(const TextRange& t) noexcept {
    const std::size_t n = t.length;
    if (n <= 10) return whole_text_fault(t);

    // Form: date, "T", clock, zone; every value waits until the form is whole.
    const unsigned char* p = t.data;
    const Verdict<SeparatedDate> date_form = read_iso_date(t);
    if (!date_form.ok()) return date_form.fault();
    if (p[10] != 'T' && p[10] != 't') return char_fault(t, 10);
    // Seconds are required: without both colons in place the whole clock is at fault.
    if (n < 17 || p[13] != ':' || p[16] != ':') return span_fault(t, 11, n - 11);

    const Verdict<Clock> parsed = parse_clock(t, 11);
    if (!parsed.ok()) return parsed.fault();
    const Clock& c = parsed.value;
    Zone zone;
    Fault fault{};
    if (!read_zone(t, c.end, zone, fault)) return fault;

    const Verdict<CivilDate> date = validate_date_fields(t, date_form.value);
    if (!date.ok()) return date.fault();
    if (!check_clock_range(t, c, 0, 23, fault)) return fault;
    if (!check_clock_range(t, zone.offset, 0, 23, fault)) return fault;

    const CivilDate& d = date.value;
    const std::int64_t local =
        days_from_civil(d.year, d.month, d.day) * 86400 + static_cast<std::int64_t>(seconds_of_clock(c));
    const std::int64_t seconds = local - zone.sign * static_cast<std::int64_t>(seconds_of_clock(zone.offset));
    if (seconds < MIN_INSTANT_SECONDS || seconds > MAX_INSTANT_SECONDS) {
        return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    }

    Instant v{};
    v.seconds = seconds;
    v.nanos = c.nanos;
    return Verdict<Instant>::success(v);
}

}  // namespace

Verdict<Instant> cast_timestamp(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    Instant v{};
    if (fixed_layout::read(t, v)) return Verdict<Instant>::success(v);
    return read_timestamp(t);
}

Verdict<Instant> cast_timestamp_general(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    return read_timestamp(t);
}

}  // namespace quillmere::core
