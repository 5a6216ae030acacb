// Value types the casts produce, and the notations that select how temporal
// text is read. Each record has the exact layout it has at the C ABI.
#pragma once

#include <cstdint>

namespace quillmere::core {

// (-1)^negative * magnitude * 10^-scale, with a 96-bit magnitude. Canonical:
// no trailing fraction zeros, and zero is unsigned with scale 0.
struct ExactDecimal {
    std::uint64_t magnitude_lo;
    std::uint32_t magnitude_hi;
    std::uint8_t scale;     // 0..28
    std::uint8_t negative;  // 0 or 1
    std::uint8_t reserved[2];
};
static_assert(sizeof(ExactDecimal) == 16);

inline constexpr unsigned MAX_DECIMAL_SCALE = 28;

// The 16 bytes in text order: byte 0 is the first hex pair of the hyphenated form.
struct Uuid {
    std::uint8_t bytes[16];
};

// Proleptic Gregorian date, year 1..9999; packed little-endian it is one u32.
struct CivilDate {
    std::uint16_t year;
    std::uint8_t month;
    std::uint8_t day;
};
static_assert(sizeof(CivilDate) == 4);

// Nanoseconds since midnight, 0..86399999999999.
struct TimeOfDay {
    std::uint64_t nanos;
};

inline constexpr std::uint64_t NANOS_PER_SECOND = 1'000'000'000;
inline constexpr std::uint64_t NANOS_PER_DAY = 86'400 * NANOS_PER_SECOND;

struct CivilDateTime {
    CivilDate date;
    std::uint32_t reserved;  // carries nothing; kept zero
    TimeOfDay time;
};
static_assert(sizeof(CivilDateTime) == 16);

// Seconds since 1970-01-01T00:00:00Z, floor-based, plus 0..999999999 nanoseconds.
struct Instant {
    std::int64_t seconds;
    std::uint32_t nanos;
};

inline constexpr std::int64_t MIN_INSTANT_SECONDS = -62'135'596'800;  // 0001-01-01T00:00:00Z
inline constexpr std::int64_t MAX_INSTANT_SECONDS = 253'402'300'799;  // 9999-12-31T23:59:59Z

// Seconds truncated toward zero; nanos carry the same sign (or are zero).
struct SignedDuration {
    std::int64_t seconds;
    std::int32_t nanos;
};

// Ten thousand years of 365.25 days.
inline constexpr std::int64_t MAX_DURATION_SECONDS = 315'576'000'000;

// Which field of a separated date is which.
enum class DateOrder : std::uint32_t { YMD = 1, MDY = 2, DMY = 3 };

enum class UnixPrecision : std::uint32_t { SECONDS = 1, MILLISECONDS = 2, MICROSECONDS = 3, NANOSECONDS = 4 };

enum class ExcelEpoch : std::uint32_t { EPOCH_1900 = 1, EPOCH_1904 = 2 };

constexpr bool is_valid_date_order(std::uint32_t v) noexcept { return v >= 1 && v <= 3; }
constexpr bool is_valid_unix_precision(std::uint32_t v) noexcept { return v >= 1 && v <= 4; }
constexpr bool is_valid_excel_epoch(std::uint32_t v) noexcept { return v >= 1 && v <= 2; }

}  // namespace quillmere::core
