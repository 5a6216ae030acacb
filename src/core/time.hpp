// The ISO clock reader shared by the time-of-day cast and the timestamp cast.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/digits.hpp"
#include "core/text.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Where a clock field lies in the text (a position, not an input offset).
struct ClockField {
    std::size_t pos;
    std::size_t length;
};

// A clock as written; nothing is range-checked, each caller does that. Absent
// seconds read as 0 with the second span equal to the minute span.
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
inline bool read_two_digits(const Trimmed& t, std::size_t pos, std::uint32_t& value, Fault& fault) noexcept {
    const std::size_t left = t.length - pos;
    if (left >= 2 && is_digit(t[pos]) && is_digit(t[pos + 1])) {
        value = (t[pos] - '0') * 10u + (t[pos + 1] - '0');
        return true;
    }
    fault = left == 0 ? end_fault(t) : span_fault(t, pos, left < 2 ? left : 2);
    return false;
}

// Reads hh:mm[:ss[.fraction]] starting at position `first` (at most the text
// length). Fault spans are offsets into the caller's input.
inline Verdict<Clock> parse_clock(const Trimmed& t, std::size_t first) noexcept {
    const std::size_t n = t.length;
    Clock c{};
    Fault fault{};

    // The hour reports what is there even at the end: a clock needs two digits.
    if (n - first < 2 || !is_digit(t[first]) || !is_digit(t[first + 1])) {
        return span_fault(t, first, (n - first < 2 ? n - first : 2));
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

}  // namespace quillmere::core
