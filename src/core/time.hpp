// The ISO clock reader shared by the time-of-day cast and the timestamp cast.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Reads hh:mm[:ss[.fraction]] starting at position `first` (at most the text
// length). Fault spans are offsets into the caller's input.
Verdict<Clock> parse_clock(const Trimmed& t, std::size_t first) noexcept;

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

}  // namespace quillmere::core
