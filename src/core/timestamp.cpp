// RFC 3339 instants: a full date at fixed positions, "T", an ISO clock with
// seconds and a mandatory zone designator, converted to UTC.
#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/clock.hpp"
#include "core/date.hpp"

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

}  // namespace

Verdict<Instant> cast_timestamp(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
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

}  // namespace quillmere::core
