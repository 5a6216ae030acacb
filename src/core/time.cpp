// Time of day: an ISO 24-hour clock read to nanoseconds since midnight.
#include "core/casts.hpp"
#include "core/clock.hpp"

namespace quillmere::core {

Verdict<TimeOfDay> cast_time(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const Verdict<Clock> parsed = parse_clock(t, 0);
    if (!parsed.ok()) return parsed.fault();
    const Clock& c = parsed.value;
    if (c.end != t.length) return char_fault(t, c.end);
    Fault fault{};
    if (!check_clock_range(t, c, 0, 23, fault)) return fault;
    return Verdict<TimeOfDay>::success(TimeOfDay{nanos_of_clock(c)});
}

}  // namespace quillmere::core
