// Time of day: an ISO 24-hour clock read to nanoseconds since midnight.
#include "core/time.hpp"

#include "core/casts.hpp"
#include "core/digits.hpp"

namespace quillmere::core {

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
