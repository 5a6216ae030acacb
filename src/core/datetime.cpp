// Zone-less civil date-times: a separated date under a declared order, then
// optionally a space, "T" or "t" and a 24-hour or 12-hour clock.
#include "core/casts.hpp"
#include "core/date.hpp"
#include "core/digits.hpp"
#include "core/time.hpp"

namespace quillmere::core {

namespace {

enum class ClockMode { H24, AM, PM };

// The time half as written, before any value is checked. Positions are into
// the trimmed text; the second span equals the minute span when absent.
struct TimeFields {
    std::uint32_t hour = 0, minute = 0, second = 0, nanos = 0;
    std::size_t hour_pos = 0, hour_len = 0;
    std::size_t minute_pos = 0, second_pos = 0;
    bool has_minute = false;
    ClockMode mode = ClockMode::H24;
};

constexpr std::size_t min_size(std::size_t a, std::size_t b) noexcept { return a < b ? a : b; }

constexpr unsigned char fold(unsigned char b) noexcept { return static_cast<unsigned char>(b | 0x20); }

// Reads the time from x to the end of the text: hour, optional minute, second
// and fraction, optional marker, and nothing after.
inline bool read_time(const Trimmed& t, std::size_t x, TimeFields& f, Fault& fault) noexcept {
    const std::size_t n = t.length;
    if (x == n) {
        fault = end_fault(t);
        return false;
    }
    const DigitRun hour = read_digit_run(t.data, n, x);
    if (hour.overlong) {
        fault = span_fault(t, hour.end, 1);
        return false;
    }
    if (hour.length() < 1 || hour.length() > 2) {
        const std::size_t shown = hour.length() < 1 ? 1 : hour.length();
        fault = span_fault(t, x, min_size(shown, n - x));
        return false;
    }
    f.hour = static_cast<std::uint32_t>(hour.value);
    f.hour_pos = x;
    f.hour_len = hour.length();

    // Each later field needs the one before it: minutes, then seconds, then a fraction.
    std::size_t e = hour.end;
    if (e < n && t[e] == ':') {
        if (!read_two_digits(t, e + 1, f.minute, fault)) return false;
        f.minute_pos = f.second_pos = e + 1;
        f.has_minute = true;
        e += 3;
        if (e < n && t[e] == ':') {
            if (!read_two_digits(t, e + 1, f.second, fault)) return false;
            f.second_pos = e + 1;
            e += 3;
            if (e < n && t[e] == '.') {
                const Fraction fraction = read_fraction_nanos(t.data, n, e + 1);
                if (fraction.end == e + 1) {
                    fault = span_fault(t, e, 1);
                    return false;
                }
                f.nanos = fraction.nanos;
                e = fraction.end;
            }
        }
    }

    // A marker may follow directly or after one space; without a marker the
    // space is not consumed, so it becomes the trailing byte.
    const std::size_t m = e < n && t[e] == ' ' ? e + 1 : e;
    if (n - m >= 2 && (fold(t[m]) == 'a' || fold(t[m]) == 'p') && fold(t[m + 1]) == 'm') {
        f.mode = fold(t[m]) == 'p' ? ClockMode::PM : ClockMode::AM;
        e = m + 2;
    }

    if (f.mode == ClockMode::H24 && !f.has_minute) {
        fault = span_fault(t, f.hour_pos, f.hour_len);
        return false;
    }
    if (e != n) {
        fault = char_fault(t, e);
        return false;
    }
    return true;
}

}  // namespace

Verdict<CivilDateTime> cast_datetime(const char* data, std::size_t len, DateOrder order) noexcept {
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    const Verdict<SeparatedDate> parsed = parse_separated_date(t, order);
    if (!parsed.ok()) return parsed.fault();
    const SeparatedDate& d = parsed.value;
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
    TimeFields f;
    Fault fault{};
    if (!read_time(t, s + 1, f, fault)) return fault;

    // Every form fault is behind us: the date's values, then the time's.
    const Verdict<CivilDate> date = validate_date_fields(t, d);
    if (!date.ok()) return date.fault();
    const bool hour_ok = f.mode == ClockMode::H24 ? f.hour <= 23 : f.hour >= 1 && f.hour <= 12;
    if (!hour_ok) return span_fault(t, f.hour_pos, f.hour_len, FaultReason::OUT_OF_RANGE);
    if (f.minute > 59) return span_fault(t, f.minute_pos, 2, FaultReason::OUT_OF_RANGE);
    if (f.second > 59) return span_fault(t, f.second_pos, 2, FaultReason::OUT_OF_RANGE);

    std::uint32_t hour = f.hour;
    if (f.mode == ClockMode::AM) hour = f.hour % 12;
    if (f.mode == ClockMode::PM) hour = f.hour % 12 + 12;

    v.date = date.value;
    v.time.nanos = (hour * 3600ull + f.minute * 60ull + f.second) * NANOS_PER_SECOND + f.nanos;
    return Verdict<CivilDateTime>::success(v);
}

}  // namespace quillmere::core
