// Counts of seconds, milliseconds, microseconds or nanoseconds since
// 1970-01-01T00:00:00Z: an optional sign and any number of digits.
#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/int128.hpp"

namespace quillmere::core {

namespace {

constexpr std::int64_t units_per_second(UnixPrecision precision) noexcept {
    switch (precision) {
        case UnixPrecision::SECONDS: return 1;
        case UnixPrecision::MILLISECONDS: return 1000;
        case UnixPrecision::MICROSECONDS: return 1000000;
        case UnixPrecision::NANOSECONDS: return 1000000000;
    }
    return 1;
}

}  // namespace

Verdict<Instant> cast_unix(const char* data, std::size_t len, UnixPrecision precision) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const bool negative = t[0] == '-';
    const std::size_t first = (negative || t[0] == '+') ? 1 : 0;
    if (first == t.length) return span_fault(t, 0, 1);

    // Nineteen digits always fit in 64 bits; past them the count goes on in 128.
    const std::size_t small_end = t.length - first > MAX_U64_DIGITS ? first + MAX_U64_DIGITS : t.length;
    std::uint64_t small = 0;
    std::size_t pos = static_cast<std::size_t>(accumulate_digits(t.data + first, t.data + small_end, small) - t.data);
    if (pos != small_end) return char_fault(t, pos);
    // Reading goes on past an overflow so that a later stray byte is still
    // reported as the form fault it is.
    i128 magnitude = static_cast<i128>(small);
    bool overflow = false;
    for (; pos < t.length; ++pos) {
        const unsigned char b = t[pos];
        if (!is_digit(b)) return char_fault(t, pos);
        if (!overflow && (__builtin_mul_overflow(magnitude, 10, &magnitude) ||
                          __builtin_add_overflow(magnitude, b - '0', &magnitude))) {
            overflow = true;
        }
    }
    if (overflow) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);

    const std::int64_t divisor = units_per_second(precision);
    std::int64_t seconds;
    std::int64_t rest;
    if (magnitude <= INT64_MAX) {  // the common case, without a 128-bit division
        const auto count = static_cast<std::int64_t>(magnitude);
        const std::int64_t signed_count = negative ? -count : count;
        seconds = signed_count / divisor;
        rest = signed_count % divisor;
    } else {
        const i128 signed_count = negative ? -magnitude : magnitude;
        const i128 wide = signed_count / divisor;
        if (wide < MIN_INSTANT_SECONDS - 1 || wide > MAX_INSTANT_SECONDS) {
            return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
        }
        seconds = static_cast<std::int64_t>(wide);
        rest = static_cast<std::int64_t>(signed_count - wide * divisor);
    }
    if (rest < 0) {  // floor, so the nanoseconds count forward from the second
        seconds -= 1;
        rest += divisor;
    }
    if (seconds < MIN_INSTANT_SECONDS || seconds > MAX_INSTANT_SECONDS) {
        return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    }
    Instant v{};
    v.seconds = seconds;
    v.nanos = static_cast<std::uint32_t>(rest * (1000000000 / divisor));
    return Verdict<Instant>::success(v);
}

}  // namespace quillmere::core
