// Reading a spreadsheet's day count held as a double.
#pragma once

#include <cstdint>

namespace quillmere::core {

struct DaySplit {
    std::uint64_t days;
    std::uint64_t nanos;  // of the day, below 86400 * 10^9
};

// Whole days and nanoseconds of the day for a finite x; its sign is ignored,
// so callers pass the magnitude they mean. Among the nanosecond counts that round back to x it takes
// the roundest, so the double nearest 0.1 is 02:24:00 exactly; when none
// does, the exact value rounded to the nearest nanosecond. Integer arithmetic
// only. Meant for x below 2^32, far above any serial; larger values come back
// as their whole days (saturated) with no fraction.
DaySplit split_day_fraction(double x) noexcept;

}  // namespace quillmere::core
