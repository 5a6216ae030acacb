// Signed durations in three notations, recognised from the text itself:
//   ISO 8601   ["-"] "P" components        "P1DT2H30M", "-PT0.5S"
//   colon      ["-"] [d "."] h ":" m [":" s ["." f]]   "1.02:30:00"
//   protobuf   ["-"] digits ["." digits] "s"            "1.5s"
// Every notation is reduced to one signed 128-bit count of nanoseconds, then
// split into seconds and nanoseconds of one sign and range-checked.
#include <cstring>

#include "core/casts.hpp"
#include "core/clock.hpp"
#include "core/int128.hpp"

namespace quillmere::core {

namespace {

constexpr i128 NANOS = static_cast<i128>(NANOS_PER_SECOND);

// Above this length a library byte search beats the plain loop.
constexpr std::size_t FAST_SEARCH_LENGTH = 15;

bool contains_colon(const TextRange& t) noexcept {
    if (t.length > FAST_SEARCH_LENGTH) return std::memchr(t.data, ':', t.length) != nullptr;
    for (std::size_t i = 0; i < t.length; ++i) {
        if (t[i] == ':') return true;
    }
    return false;
}

constexpr bool is_fraction_point(unsigned char b) noexcept { return b == '.' || b == ','; }

// The index just past the consecutive digits from pos, however many there are.
std::size_t digits_end(const TextRange& t, std::size_t pos) noexcept {
    while (pos < t.length && is_digit(t[pos])) ++pos;
    return pos;
}

// Total nanoseconds or the fault that ended the reading; `overflow` marks a
// sum beyond 128 bits, which the caller reports after the form is read.
struct Total {
    i128 nanos;
    bool overflow;
};

struct Reading {
    Total total;
    Fault fault;
    bool ok;
};

constexpr Reading read_ok(i128 nanos, bool overflow = false) noexcept {
    return Reading{Total{nanos, overflow}, Fault{}, true};
}
constexpr Reading read_fault(Fault f) noexcept { return Reading{Total{0, false}, f, false}; }

// Seconds per unit of an ISO designator, 0 when the byte names none. Weeks
// and days belong before "T", hours, minutes and seconds after it.
constexpr std::int64_t designator_seconds(unsigned char b, bool time_part) noexcept {
    switch (ascii_lower(b)) {
        case 'w': return time_part ? 0 : 604800;
        case 'd': return time_part ? 0 : 86400;
        case 'h': return time_part ? 3600 : 0;
        case 'm': return time_part ? 60 : 0;
        case 's': return time_part ? 1 : 0;
        default: return 0;
    }
}

constexpr bool is_time_mark(unsigned char b) noexcept { return is_letter(b, 't'); }

// After "P": components in any order, repeats added up, one "T" at most.
Reading read_iso(const TextRange& t, std::size_t pos) noexcept {
    const std::size_t n = t.length;
    if (pos == n) return read_fault(whole_text_fault(t));
    i128 total = 0;
    bool overflow = false;
    bool time_part = false;
    while (pos < n) {
        if (is_time_mark(t[pos])) {
            if (time_part) return read_fault(span_fault(t, pos, 1));
            if (pos + 1 < n && is_time_mark(t[pos + 1])) return read_fault(span_fault(t, pos + 1, 1));
            if (pos + 1 == n) return read_fault(whole_text_fault(t));
            time_part = true;
            ++pos;
        }
        const std::size_t first = pos;
        if (!is_digit(t[first])) return read_fault(char_fault(t, first));
        const DigitRun run = read_digit_run(t.data, n, first);
        if (run.overlong) return read_fault(span_fault(t, run.end, 1));
        pos = run.end;

        const bool has_fraction = pos < n && is_fraction_point(t[pos]);
        std::uint32_t fraction = 0;
        Fault fault{};
        if (has_fraction && !read_second_fraction(t, pos, fraction, pos, fault)) return read_fault(fault);
        if (pos == n) return read_fault(span_fault(t, first, n - first));

        const std::int64_t unit = designator_seconds(t[pos], time_part);
        if (unit == 0) return read_fault(char_fault(t, pos));
        if (has_fraction && unit != 1) return read_fault(span_fault(t, first, pos + 1 - first));
        ++pos;

        // Eighteen digits times a week in nanoseconds stays below 2^109; only
        // the running sum of very many components can leave 128 bits.
        const i128 component = static_cast<i128>(run.value) * unit * NANOS + fraction;
        if (!overflow && __builtin_add_overflow(total, component, &total)) overflow = true;
    }
    return read_ok(total, overflow);
}

// Minutes or seconds after a colon at pos - 1: one or two digits.
bool read_colon_field(const TextRange& t, std::size_t pos, std::uint32_t& value, ClockField& field,
                      Fault& fault) noexcept {
    if (pos == t.length) {
        fault = end_fault(t);
        return false;
    }
    return one_or_two_digits(t, pos, digits_end(t, pos), value, field, fault);
}

Reading read_colon(const TextRange& t, std::size_t pos) noexcept {
    const std::size_t n = t.length;
    if (pos == n) return read_fault(end_fault(t));
    if (!is_digit(t[pos])) return read_fault(char_fault(t, pos));
    const DigitRun first = read_digit_run(t.data, n, pos);
    if (first.overlong) return read_fault(span_fault(t, first.end, 1));

    // The first run is the days when a "." follows it, else the hours.
    Clock c{};
    Fault fault{};
    std::uint64_t days = 0;
    std::size_t hours_start = first.start;
    std::size_t hours_end = first.end;
    const bool has_days = first.end < n && t[first.end] == '.';
    if (has_days) {
        days = first.value;
        hours_start = first.end + 1;
        if (hours_start == n) return read_fault(end_fault(t));
        hours_end = digits_end(t, hours_start);
    }
    if (!one_or_two_digits(t, hours_start, hours_end, c.hour, c.hour_span, fault)) return read_fault(fault);
    if (hours_end == n) return read_fault(has_days ? span_fault(t, n - 1, 1) : end_fault(t));

    if (t[hours_end] != ':') return read_fault(char_fault(t, hours_end));
    if (!read_colon_field(t, hours_end + 1, c.minute, c.minute_span, fault)) return read_fault(fault);
    c.second_span = c.minute_span;
    pos = c.minute_span.pos + c.minute_span.length;
    if (pos < n) {
        if (t[pos] != ':') return read_fault(char_fault(t, pos));
        if (!read_colon_field(t, pos + 1, c.second, c.second_span, fault)) return read_fault(fault);
        pos = c.second_span.pos + c.second_span.length;
        if (pos < n) {
            if (!is_fraction_point(t[pos])) return read_fault(char_fault(t, pos));
            if (!read_second_fraction(t, pos, c.nanos, pos, fault)) return read_fault(fault);
            if (pos < n) return read_fault(char_fault(t, pos));
        }
    }

    if (!check_clock_range(t, c, 0, 23, fault)) return read_fault(fault);
    return read_ok((static_cast<i128>(days) * 86400 + static_cast<i128>(seconds_of_clock(c))) * NANOS + c.nanos);
}

Reading read_protobuf(const TextRange& t, std::size_t pos) noexcept {
    const std::size_t n = t.length;
    const bool ends_in_s = is_letter(t[n - 1], 's');
    if (!ends_in_s || n - 1 <= pos || !is_digit(t[pos])) return read_fault(whole_text_fault(t));
    const std::size_t last = n - 1;  // index of the final "s"
    // One offending character, never reaching into the final "s".
    const TextRange before_s = sub_range(t, 0, last);
    auto offender = [&](std::size_t at) { return read_fault(char_fault(before_s, at)); };

    const DigitRun run = read_digit_run(t.data, last, pos);
    if (run.overlong) return read_fault(span_fault(t, run.end, 1));
    pos = run.end;
    std::uint32_t fraction = 0;
    if (pos < last) {
        if (!is_fraction_point(t[pos])) return offender(pos);
        Fault fault{};
        if (!read_second_fraction(before_s, pos, fraction, pos, fault)) return read_fault(fault);
        if (pos < last) return offender(pos);
    }
    return read_ok(static_cast<i128>(run.value) * NANOS + fraction);
}

}  // namespace

Verdict<SignedDuration> cast_duration(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const bool negative = t[0] == '-';
    const std::size_t pos = negative ? 1 : 0;

    Reading r;
    if (pos < t.length && is_letter(t[pos], 'p')) {
        r = read_iso(t, pos + 1);
    } else if (contains_colon(t)) {
        r = read_colon(t, pos);
    } else {
        r = read_protobuf(t, pos);
    }
    if (!r.ok) return r.fault;
    if (r.total.overflow) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);

    // Every reading is a magnitude, so negating it cannot overflow.
    const i128 total = negative ? -r.total.nanos : r.total.nanos;
    std::int64_t seconds;
    std::int64_t nanos;
    if (r.total.nanos <= INT64_MAX) {  // under 292 years: a 64-bit division does
        const auto narrow = static_cast<std::int64_t>(total);
        seconds = narrow / static_cast<std::int64_t>(NANOS_PER_SECOND);  // truncates toward zero
        nanos = narrow % static_cast<std::int64_t>(NANOS_PER_SECOND);
    } else {
        const i128 wide = total / NANOS;
        const i128 magnitude = wide < 0 ? -wide : wide;
        if (magnitude > MAX_DURATION_SECONDS) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
        seconds = static_cast<std::int64_t>(wide);
        nanos = static_cast<std::int64_t>(total - wide * NANOS);
    }
    if (seconds > MAX_DURATION_SECONDS || seconds < -MAX_DURATION_SECONDS) {
        return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    }

    SignedDuration v{};
    v.seconds = seconds;
    v.nanos = static_cast<std::int32_t>(nanos);
    return Verdict<SignedDuration>::success(v);
}

}  // namespace quillmere::core
