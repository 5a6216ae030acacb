// The casts with their shortcuts turned off: the general algorithm of each,
// which tests and fuzzers compare the shortcuts against. Each gives the
// verdict its cast gives, by the longer road.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/num_format.hpp"
#include "core/values.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Trim, separators, radix forms, sign rules, the general digit scan.
template <class T>
Verdict<T> cast_integer_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;

extern template Verdict<std::int8_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::int16_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::int32_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::int64_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::uint8_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::uint16_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::uint32_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
extern template Verdict<std::uint64_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;

// Trim, separators, the plain numeral or its normalised copy, conversion,
// the infinity test and the percent division.
Verdict<double> cast_f64_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;
Verdict<float> cast_f32_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;

// Trim, separators, the plain numeral or its normalised copy, the exact conversion.
Verdict<ExactDecimal> cast_decimal_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept;

// Trim, the date, "T", the clock and the zone read field by field.
Verdict<Instant> cast_timestamp_general(const char* data, std::size_t len) noexcept;

}  // namespace quillmere::core
