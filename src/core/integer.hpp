// The integer casts' general algorithm, without the shortcuts that cast_i8 …
// cast_u64 take first. The shortcuts must give exactly its verdicts; tests and
// the fuzzer compare the two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/num_format.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

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

}  // namespace quillmere::core
