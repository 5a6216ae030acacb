// Every cast of the core: pure functions of (bytes, length, notation) that
// return a Verdict by value. They never allocate, block, throw or keep state.
// A zero length may come with any data pointer; it is never read then.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/num_format.hpp"
#include "core/values.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Lexical casts.
Verdict<bool> cast_bool(const char* data, std::size_t len) noexcept;
Verdict<char32_t> cast_char(const char* data, std::size_t len) noexcept;
Verdict<Uuid> cast_uuid(const char* data, std::size_t len) noexcept;

// Numeric casts under a validated format.
Verdict<std::int8_t> cast_i8(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::int16_t> cast_i16(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::int32_t> cast_i32(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::int64_t> cast_i64(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::uint8_t> cast_u8(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::uint16_t> cast_u16(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::uint32_t> cast_u32(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<std::uint64_t> cast_u64(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<float> cast_f32(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<double> cast_f64(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<ExactDecimal> cast_decimal(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
// The shortest decimal that reads back as x; faults carry the span (0, 0).
Verdict<ExactDecimal> decimal_from_double(double x) noexcept;

// Temporal casts. Notation values are already range-checked by the front ends.
Verdict<CivilDate> cast_date(const char* data, std::size_t len) noexcept;
Verdict<CivilDate> cast_date_ordered(const char* data, std::size_t len, DateOrder order) noexcept;
Verdict<TimeOfDay> cast_time(const char* data, std::size_t len) noexcept;
Verdict<CivilDateTime> cast_datetime(const char* data, std::size_t len, DateOrder order) noexcept;
Verdict<Instant> cast_timestamp(const char* data, std::size_t len) noexcept;
Verdict<SignedDuration> cast_duration(const char* data, std::size_t len) noexcept;
Verdict<Instant> cast_unix(const char* data, std::size_t len, UnixPrecision precision) noexcept;
Verdict<Instant> cast_excel_serial(const char* data, std::size_t len, ExcelEpoch epoch) noexcept;
// Casts from a double; faults carry the span (0, 0).
Verdict<CivilDateTime> cast_excel_serial_from_f64(ExcelEpoch epoch, double x) noexcept;
Verdict<TimeOfDay> cast_excel_time(double x) noexcept;
Verdict<SignedDuration> cast_excel_duration(double x) noexcept;

}  // namespace quillmere::core
