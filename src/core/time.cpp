// Time of day: an ISO 24-hour clock read to nanoseconds since midnight.
#include "core/time.hpp"

#include "core/casts.hpp"
#include "core/digits.hpp"

namespace quillmere::core {

namespace {

constexpr std::size_t min_size(std::size_t a, std::size_t b) noexcept { return a < b ? a : b; }

}  // namespace

Verdict<Clock> parse_clock(const Trimmed& t, std::size_t first) noexcept {
    const std::size_t n = t.length;
    Clock c{};
    Fault fault{};

    // The hour reports what is there even at the end: a clock needs two digits.
    if (n - first < 2 || !is_digit(t[first]) || !is_digit(t[first + 1])) {
        return span_fault(t, first, min_size(n - first, 2));
    }
    c.hour = (t[first] - '0') * 10u + (t[first + 1] - '0');
    c.hour_span = ClockField{first, 2};

    if (n == first + 2) return end_fault(t);
    if (t[first + 2] != ':') return span_fault(t, first + 2, 1);
    if (!read_two_digits(t, first + 3, c.minute, fault)) return fault;
    c.minute_span = ClockField{first + 3, 2};
    c.second_span = c.minute_span;
    c.end = first + 5;
    if (n == c.end || t[c.end] != ':') return Verdict<Clock>::success(c);

    if (!read_two_digits(t, first + 6, c.second, fault)) return fault;
    c.second_span = ClockField{first + 6, 2};
    c.end = first + 8;
    if (n == c.end || t[c.end] != '.') return Verdict<Clock>::success(c);

    const Fraction fraction = read_fraction_nanos(t.data, n, first + 9);
    if (fraction.end == first + 9) return span_fault(t, first + 8, 1);
    c.nanos = fraction.nanos;
    c.end = fraction.end;
    return Verdict<Clock>::success(c);
}

Verdict<TimeOfDay> cast_time(const char* data, std::size_t len) noexcept {
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    const Verdict<Clock> parsed = parse_clock(t, 0);
    if (!parsed.ok()) return parsed.fault();
    const Clock& c = parsed.value;
    if (c.end != t.length) return char_fault(t, c.end);

    if (c.hour > 23) return span_fault(t, c.hour_span.pos, c.hour_span.length, FaultReason::OUT_OF_RANGE);
    if (c.minute > 59) return span_fault(t, c.minute_span.pos, c.minute_span.length, FaultReason::OUT_OF_RANGE);
    if (c.second > 59) return span_fault(t, c.second_span.pos, c.second_span.length, FaultReason::OUT_OF_RANGE);

    TimeOfDay v{};
    v.nanos = (c.hour * 3600ull + c.minute * 60ull + c.second) * NANOS_PER_SECOND + c.nanos;
    return Verdict<TimeOfDay>::success(v);
}

}  // namespace quillmere::core
