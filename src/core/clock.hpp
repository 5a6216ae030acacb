// Clocks: the fields of a time of day as written, the readers of those
// fields, the one range check and the one conversion to nanoseconds. The
// time-of-day, date-time, timestamp and duration casts read their clocks
// with these pieces; each keeps only its own grammar (an ISO clock, a one-digit
// hour with a marker, days before the hours).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/digits.hpp"
#include "core/text.hpp"
#include "core/values.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Where a clock field lies in the text (a position, not an input offset).
struct ClockField {
    std::size_t pos;
    std::size_t length;
};

// A clock as written; nothing is range-checked until check_clock_range.
// Absent seconds read as 0 with the second span equal to the minute span.
struct Clock {
    std::uint32_t hour;
    std::uint32_t minute;
    std::uint32_t second;
    std::uint32_t nanos;  // the first nine fraction digits; later digits dropped
    ClockField hour_span;
    ClockField minute_span;
    ClockField second_span;
    std::size_t end;  // just past the last byte consumed
};

// Two digits at pos (at most the text length) that a delimiter announced. The
// fault when they are missing lies at the end of the text if nothing is left,
// else over what is there, at most two bytes.
inline bool read_two_digits(const TextRange& t, std::size_t pos, std::uint32_t& value, Fault& fault) noexcept {
    if (t.length - pos >= 2 && is_digit(t[pos]) && is_digit(t[pos + 1])) {
        value = (t[pos] - '0') * 10u + (t[pos + 1] - '0');
        return true;
    }
    fault = pos == t.length ? end_fault(t) : clipped_fault(t, pos, 2);
    return false;
}

// The digit run pos .. end as a field of one or two digits; an empty or
// longer run is the fault, over the run or at least its first byte.
inline bool one_or_two_digits(const TextRange& t, std::size_t pos, std::size_t end, std::uint32_t& value,
                              ClockField& field, Fault& fault) noexcept {
    const std::size_t digits = end - pos;
    if (digits == 0 || digits > 2) {
        fault = clipped_fault(t, pos, digits == 0 ? 1 : digits);
        return false;
    }
    value = digits == 2 ? (t[pos] - '0') * 10u + (t[pos + 1] - '0') : t[pos] - '0';
    field = ClockField{pos, digits};
    return true;
}

// The fraction of a second after the point at `point`: its first nine digits
// in nanoseconds, later digits consumed and dropped. No digit after the point
// is the fault, on the point.
inline bool read_second_fraction(const TextRange& t, std::size_t point, std::uint32_t& nanos, std::size_t& end,
                                 Fault& fault) noexcept {
    const Fraction fraction = read_fraction_nanos(t.data, t.length, point + 1);
    if (fraction.end == point + 1) {
        fault = span_fault(t, point, 1);
        return false;
    }
    nanos = fraction.nanos;
    end = fraction.end;
    return true;
}

// Reads the ISO clock hh:mm[:ss[.fraction]] starting at position `first` (at
// most the text length). Fault spans are offsets into the caller's input.
inline Verdict<Clock> parse_clock(const TextRange& t, std::size_t first) noexcept {
    const std::size_t n = t.length;
    Clock c{};
    Fault fault{};

    // The hour reports what is there even at the end: a clock needs two digits.
    if (n - first < 2 || !is_digit(t[first]) || !is_digit(t[first + 1])) return clipped_fault(t, first, 2);
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

    if (!read_second_fraction(t, first + 8, c.nanos, c.end, fault)) return fault;
    return Verdict<Clock>::success(c);
}

// The one range check of a clock: the hour within min_hour .. max_hour (0 .. 23
// on a 24-hour clock), minutes and seconds 0 .. 59 (no leap second), tested in
// that order; the first field out of range is the fault, over that field.
inline bool check_clock_range(const TextRange& t, const Clock& c, std::uint32_t min_hour, std::uint32_t max_hour,
                              Fault& fault) noexcept {
    const ClockField* bad = nullptr;
    if (c.hour < min_hour || c.hour > max_hour) {
        bad = &c.hour_span;
    } else if (c.minute > 59) {
        bad = &c.minute_span;
    } else if (c.second > 59) {
        bad = &c.second_span;
    }
    if (bad == nullptr) return true;
    fault = span_fault(t, bad->pos, bad->length, FaultReason::OUT_OF_RANGE);
    return false;
}

// Seconds since midnight of a clock whose hour (0 .. 23), minute and second
// are in range.
constexpr std::uint64_t seconds_of_clock(const Clock& c) noexcept {
    return c.hour * 3600ull + c.minute * 60ull + c.second;
}

// The one conversion of a clock to nanoseconds since midnight.
constexpr std::uint64_t nanos_of_clock(const Clock& c) noexcept {
    return seconds_of_clock(c) * NANOS_PER_SECOND + c.nanos;
}

}  // namespace quillmere::core
