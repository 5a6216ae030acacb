// Zone-less civil date-times: a separated date under a declared order, then
// optionally a space, "T" or "t" and a 24-hour or 12-hour clock.
#include "core/casts.hpp"
#include "core/clock.hpp"
#include "core/date.hpp"

namespace quillmere::core {

namespace {

enum class ClockMode { H24, AM, PM };

// The time half as written, before any value is checked.
struct MarkedClock {
    Clock clock{};
    bool has_minute = false;
    ClockMode mode = ClockMode::H24;
};

// Reads the time from x to the end of the text: an hour of one or two digits,
// optional minute, second and fraction, an optional marker, and nothing after.
inline bool read_time(const TextRange& t, std::size_t x, MarkedClock& m, Fault& fault) noexcept {
    const std::size_t n = t.length;
    if (x == n) {
        fault = end_fault(t);
        return false;
    }
    Clock& c = m.clock;
    const DigitRun hour = read_digit_run(t.data, n, x);
    if (hour.overlong) {
        fault = span_fault(t, hour.end, 1);
        return false;
    }
    if (!one_or_two_digits(t, x, hour.end, c.hour, c.hour_span, fault)) return false;

    // Each later field needs the one before it: minutes, then seconds, then a fraction.
    std::size_t e = hour.end;
    if (e < n && t[e] == ':') {
        if (!read_two_digits(t, e + 1, c.minute, fault)) return false;
        c.minute_span = c.second_span = ClockField{e + 1, 2};
        m.has_minute = true;
        e += 3;
        if (e < n && t[e] == ':') {
            if (!read_two_digits(t, e + 1, c.second, fault)) return false;
            c.second_span = ClockField{e + 1, 2};
            e += 3;
            if (e < n && t[e] == '.' && !read_second_fraction(t, e, c.nanos, e, fault)) return false;
        }
    }

    // A marker may follow directly or after one space; without a marker the
    // space is not consumed, so it becomes the trailing byte.
    const std::size_t at = e < n && t[e] == ' ' ? e + 1 : e;
    if (n - at >= 2 && (is_letter(t[at], 'a') || is_letter(t[at], 'p')) && is_letter(t[at + 1], 'm')) {
        m.mode = is_letter(t[at], 'p') ? ClockMode::PM : ClockMode::AM;
        e = at + 2;
    }

    if (m.mode == ClockMode::H24 && !m.has_minute) {
        fault = span_fault(t, c.hour_span.pos, c.hour_span.length);
        return false;
    }
    if (e != n) {
        fault = char_fault(t, e);
        return false;
    }
    return true;
}

// Everything after the date fields: the date alone is midnight; otherwise a
// separator and a clock, then the date's values and the clock's.
Verdict<CivilDateTime> read_after_date(const TextRange& t, const SeparatedDate& d) noexcept {
    const std::size_t s = d.end;
    CivilDateTime v{};
    if (s == t.length) {
        const Verdict<CivilDate> date = validate_date_fields(t, d);
        if (!date.ok()) return date.fault();
        v.date = date.value;
        return Verdict<CivilDateTime>::success(v);
    }

    const unsigned char separator = t[s];
    if (separator != ' ' && separator != 'T' && separator != 't') return char_fault(t, s);
    MarkedClock m;
    Fault fault{};
    if (!read_time(t, s + 1, m, fault)) return fault;

    // Every form fault is behind us: the date's values, then the time's.
    const Verdict<CivilDate> date = validate_date_fields(t, d);
    if (!date.ok()) return date.fault();
    Clock c = m.clock;
    const bool twelve_hour = m.mode != ClockMode::H24;
    if (!check_clock_range(t, c, twelve_hour ? 1 : 0, twelve_hour ? 12 : 23, fault)) return fault;
    if (twelve_hour) c.hour = c.hour % 12 + (m.mode == ClockMode::PM ? 12 : 0);

    v.date = date.value;
    v.time.nanos = nanos_of_clock(c);
    return Verdict<CivilDateTime>::success(v);
}

}  // namespace

Verdict<CivilDateTime> cast_datetime(const char* data, std::size_t len, DateOrder order) noexcept {
    return read_separated_date<CivilDateTime>(data, len, order, read_after_date);
}

}  // namespace quillmere::core
