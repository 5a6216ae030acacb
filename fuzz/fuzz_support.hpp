// What every fuzz target checks of a verdict, and the checks of values more
// than one target produces. A failed requirement traps, which libFuzzer
// reports as a crash with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/civil.hpp"
#include "core/text.hpp"
#include "core/values.hpp"
#include "quillmere.h"

namespace fuzz_support {

namespace core = quillmere::core;

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

// The status and span of any text cast: a status of 0 to 3; a fault's span
// inside the input; EMPTY exactly for a text that trims to nothing, and then
// with the span (0, 0).
inline void check_text_verdict(int32_t status, uint64_t fault, const char* data, std::size_t len) {
    require(status >= QUILLMERE_OK && status <= QUILLMERE_OUT_OF_RANGE);
    if (status == QUILLMERE_OK) return;
    const uint64_t offset = QUILLMERE_FAULT_OFFSET(fault), length = QUILLMERE_FAULT_LENGTH(fault);
    require(offset + length <= len);
    require((status == QUILLMERE_EMPTY) == core::trim(data, len).empty());
    if (status == QUILLMERE_EMPTY) require(fault == 0);
}

// The status and span of a cast from a double: never EMPTY, and a fault
// always spans (0, 0).
inline void check_double_verdict(int32_t status, uint64_t fault) {
    require(status >= QUILLMERE_OK && status <= QUILLMERE_OUT_OF_RANGE && status != QUILLMERE_EMPTY);
    if (status != QUILLMERE_OK) require(fault == 0);
}

// A span of exactly one character of the trimmed text: its lead byte's
// length, clipped to the end of the trimmed text.
inline bool is_one_character(const char* data, std::size_t len, uint64_t offset, uint64_t length) {
    const core::TextRange t = core::trim(data, len);
    if (offset < t.offset || offset >= t.offset + t.length) return false;
    return length == core::char_fault(t, offset - t.offset).span.length;
}

template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline void check_date(const quillmere_date& d) {
    require(d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12);
    require(d.day >= 1 && d.day <= core::days_in_month(d.year, d.month));
}

inline void check_datetime(const quillmere_datetime& dt) {
    check_date(dt.date);
    require(dt.reserved == 0 && dt.time < core::NANOS_PER_DAY);
}

inline void check_instant(const quillmere_instant& t) {
    require(t.seconds >= core::MIN_INSTANT_SECONDS && t.seconds <= core::MAX_INSTANT_SECONDS);
    require(t.nanos < core::NANOS_PER_SECOND);
}

inline void check_duration(const quillmere_duration& d) {
    require(d.seconds >= -core::MAX_DURATION_SECONDS && d.seconds <= core::MAX_DURATION_SECONDS);
    require(d.nanos > -1000000000 && d.nanos < 1000000000);
    require(!(d.seconds > 0 && d.nanos < 0) && !(d.seconds < 0 && d.nanos > 0));
}

}  // namespace fuzz_support
