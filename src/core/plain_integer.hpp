// A sign and 1 to 19 digits, nothing else: the text every integer cast
// settles before its general algorithm, whatever the format, because such a
// text holds nothing any later step would change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "core/digits.hpp"

namespace quillmere::core {

// The value of a magnitude and its sign when T holds it. Written without a
// branch on the sign, which is as unpredictable as the data.
template <class T>
constexpr bool integer_in_range(std::uint64_t magnitude, bool negative, T& value) noexcept {
    using U = std::make_unsigned_t<T>;
    constexpr std::uint64_t max = static_cast<U>(std::numeric_limits<T>::max());
    // A signed type holds one more below zero (|min| = max + 1); an unsigned one only -0.
    const std::uint64_t limit = std::is_signed_v<T> ? max + negative : negative ? 0 : max;
    const std::uint64_t bits = negative ? 0 - magnitude : magnitude;  // wraps into two's complement
    value = static_cast<T>(static_cast<U>(bits));
    return magnitude <= limit;
}

// The value of the n bytes at p when they are a plain integer T holds;
// false for anything else, which the cast itself then reads. The caller
// vouches for the 24 bytes before p + n (see read_digits_before).
template <class T>
[[gnu::always_inline]] inline bool read_plain_integer_before_end(const unsigned char* p, std::size_t n,
                                                                 T& value) noexcept {
    if (n == 0) return false;
    const bool negative = p[0] == '-';
    const std::size_t signs = negative || p[0] == '+';
    std::uint64_t magnitude;
    return read_digits_before(p + n, n - signs, magnitude) && integer_in_range<T>(magnitude, negative, value);
}

}  // namespace quillmere::core
