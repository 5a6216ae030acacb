// Digit scanning shared by the casts: eight ASCII digits at a time in one
// 64-bit word, runs of digits accumulated or bounded, and fractions of a
// second; and the powers of ten the casts scale by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/text.hpp"

namespace quillmere::core {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "digit words assume little-endian loads");

inline std::uint64_t load_u64_le(const unsigned char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline std::uint32_t load_u32_le(const unsigned char* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Any 19 decimal digits fit a u64; a 20th may not.
constexpr std::size_t MAX_U64_DIGITS = 19;

// 10^0 .. 10^19, every power of ten a u64 holds.
inline constexpr std::uint64_t POWERS_OF_TEN[20] = {
    1ull,           10ull,           100ull,           1000ull,           10000ull,
    100000ull,      1000000ull,      10000000ull,      100000000ull,      1000000000ull,
    10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
    1000000000000000ull, 10000000000000000ull, 100000000000000000ull, 1000000000000000000ull,
    10000000000000000000ull};

// True when all eight bytes of the word are ASCII digits.
constexpr bool is_eight_digits(std::uint64_t v) noexcept {
    return ((v & 0xF0F0F0F0F0F0F0F0) | (((v + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) >> 4)) ==
           0x3333333333333333;
}

// The index (0 to 8) of the first byte of the word that is not an ASCII
// digit; 8 when all are. Bytes after that one may be misjudged (a carry out
// of it), never bytes before it.
constexpr unsigned first_non_digit(std::uint64_t v) noexcept {
    constexpr std::uint64_t nibbles = 0xF0F0F0F0F0F0F0F0, threes = 0x3030303030303030;
    const std::uint64_t non_digit = ((v & nibbles) ^ threes) | (((v + 0x0606060606060606) & nibbles) ^ threes);
    return non_digit == 0 ? 8 : static_cast<unsigned>(__builtin_ctzll(non_digit)) / 8;
}

// The value of eight ASCII digits, the first byte being the most significant.
constexpr std::uint32_t parse_eight_digits(std::uint64_t v) noexcept {
    v -= 0x3030303030303030;
    v = (v * 10) + (v >> 8);  // pairs
    v = (((v & 0x000000FF000000FF) * 0x000F424000000064) + (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >> 32;
    return static_cast<std::uint32_t>(v);
}

// The bytes of a text of 1 to 7 bytes in the low bytes of a word, the rest
// zero, read with three or two loads inside the text whatever its length.
inline std::uint64_t load_short_le(const unsigned char* p, std::size_t n) noexcept {
    if (n >= 4) return load_u32_le(p) | std::uint64_t{load_u32_le(p + n - 4)} << (8 * (n - 4));
    return p[0] | std::uint64_t{p[n >> 1]} << (8 * (n >> 1)) | std::uint64_t{p[n - 1]} << (8 * (n - 1));
}

// The first k (0 to 8) bytes of a word moved to its end, as the last digits
// of an eight-digit number, with '0' bytes before them. The shift of 64 bits
// that k = 0 asks for is made in two halves, each defined.
inline std::uint64_t align_digits(std::uint64_t word, std::size_t k) noexcept {
    const unsigned half = static_cast<unsigned>(4 * (8 - k));
    const std::uint64_t kept = ~std::uint64_t{0} << half << half;
    return (word << half << half) | (0x3030303030303030 & ~kept);
}

// The value of the n bytes at p when all are digits and 1 <= n <= 19; false
// otherwise. Each length takes one of four fixed sequences of word loads, all
// inside the text, with no loop.
[[gnu::always_inline]] inline bool read_digit_words(const unsigned char* p, std::size_t n,
                                                   std::uint64_t& value) noexcept {
    if (n - 1 >= MAX_U64_DIGITS) return false;  // no digit, or too many
    if (n < 8) {
        const std::uint64_t word = align_digits(load_short_le(p, n), n);
        value = parse_eight_digits(word);
        return is_eight_digits(word);
    }
    const std::uint64_t last = load_u64_le(p + n - 8);
    if (n <= 16) {
        const std::uint64_t head = align_digits(load_u64_le(p), n - 8);
        value = std::uint64_t{parse_eight_digits(head)} * 100000000 + parse_eight_digits(last);
        return is_eight_digits(head) && is_eight_digits(last);
    }
    // 17 to 19 digits: one to three, then sixteen.
    const std::uint64_t head = align_digits(load_short_le(p, n - 16), n - 16);
    const std::uint64_t middle = load_u64_le(p + n - 16);
    value = (std::uint64_t{parse_eight_digits(head)} * 100000000 + parse_eight_digits(middle)) * 100000000 +
            parse_eight_digits(last);
    return is_eight_digits(head) && is_eight_digits(middle) && is_eight_digits(last);
}

// The word with its high k bytes (0 to 8) kept and the others made '0':
// the last k digits of a run, as the low digits of an eight-digit number.
inline std::uint64_t keep_high_bytes(std::uint64_t word, std::size_t k) noexcept {
    const unsigned half = static_cast<unsigned>(4 * (8 - k));
    const std::uint64_t kept = ~std::uint64_t{0} << half << half;
    return (word & kept) | (0x3030303030303030 & ~kept);
}

// The bytes before a text that a backward read may touch.
constexpr std::size_t DIGITS_BEFORE_READ = 24;

// The value of the n bytes before `end` when all are digits and
// 1 <= n <= 19; false otherwise. The same bytes before `end` are read
// whatever n is, so a column of numbers of mixed lengths costs no
// mispredicted branch. The caller vouches for the 24 bytes before `end`.
// This form reads three words; the one below, where there is SSE2, reads
// the last sixteen bytes at once.
[[gnu::always_inline]] inline bool read_digits_before_words(const unsigned char* end, std::size_t n,
                                                           std::uint64_t& value) noexcept {
    if (n - 1 >= MAX_U64_DIGITS) return false;
    const std::size_t in_last = n < 8 ? n : 8;
    const std::size_t in_middle = n - in_last < 8 ? n - in_last : 8;
    const std::uint64_t head = keep_high_bytes(load_u64_le(end - 24), n - in_last - in_middle);
    const std::uint64_t middle = keep_high_bytes(load_u64_le(end - 16), in_middle);
    const std::uint64_t last = keep_high_bytes(load_u64_le(end - 8), in_last);
    value = (std::uint64_t{parse_eight_digits(head)} * 100000000 + parse_eight_digits(middle)) * 100000000 +
            parse_eight_digits(last);
    return is_eight_digits(head) && is_eight_digits(middle) && is_eight_digits(last);
}

#if defined(__SSE2__)
// 16 zero bytes then 16 of 0xFF: read from k, its last k bytes are set.
alignas(32) inline constexpr unsigned char LAST_BYTES_WINDOW[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

[[gnu::always_inline]] inline bool read_digits_before_sse2(const unsigned char* end, std::size_t n,
                                                          std::uint64_t& value) noexcept {
    if (n - 1 >= MAX_U64_DIGITS) return false;
    const std::size_t in_tail = n < 16 ? n : 16;
    // The one to three digits before the last sixteen bytes, as the low digits of a word.
    const std::uint64_t head = keep_high_bytes(load_u64_le(end - 24), n - in_tail);
    // The last sixteen bytes as digit values, those before the number zeroed.
    const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(LAST_BYTES_WINDOW + in_tail));
    const __m128i digits = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)), _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
    const bool tail_ok = _mm_movemask_epi8(_mm_andnot_si128(is_digit, window)) == 0;
    const __m128i kept = _mm_and_si128(digits, window);
    // Pairs, fours, then eights of digits, each step one multiply-add.
    const __m128i pairs = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(kept, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)),
                                        _mm_srli_epi16(kept, 8));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));  // (100, 1)
    const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));  // (10000, 1)
    const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
    value = std::uint64_t{parse_eight_digits(head)} * 10000000000000000 + (both & 0xFFFFFFFF) * 100000000 + (both >> 32);
    return tail_ok & is_eight_digits(head);
}
#endif

[[gnu::always_inline]] inline bool read_digits_before(const unsigned char* end, std::size_t n,
                                                     std::uint64_t& value) noexcept {
#if defined(__SSE2__)
    return read_digits_before_sse2(end, n, value);
#else
    return read_digits_before_words(end, n, value);
#endif
}

// Accumulates the run of digits from p into m, eight at a time while eight
// are left, and returns the end of the run. m wraps past 19 digits: callers
// trust it only for runs they know to be short enough.
[[gnu::always_inline]] inline const unsigned char* accumulate_digits(const unsigned char* p, const unsigned char* end, std::uint64_t& m) noexcept {
    while (end - p >= 8) {
        const std::uint64_t word = load_u64_le(p);
        if (!is_eight_digits(word)) break;
        m = m * 100000000 + parse_eight_digits(word);
        p += 8;
    }
    while (p != end && is_digit(*p)) {
        m = m * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    return p;
}

// A run of consecutive digits starting at `start`. At most 18 digits are
// accumulated; when an 18-digit run goes on, `overlong` is set and `end` is the
// index of that nineteenth digit, which callers report as the offending byte.
struct DigitRun {
    std::uint64_t value;
    std::size_t start;
    std::size_t end;
    bool overlong;

    constexpr std::size_t length() const noexcept { return end - start; }
};

constexpr std::size_t MAX_DIGIT_RUN = 18;

constexpr DigitRun read_digit_run(const unsigned char* text, std::size_t length, std::size_t start) noexcept {
    std::uint64_t value = 0;
    std::size_t i = start;
    while (i < length && is_digit(text[i])) {
        if (i - start == MAX_DIGIT_RUN) return DigitRun{value, start, i, true};
        value = value * 10 + (text[i] - '0');
        ++i;
    }
    return DigitRun{value, start, i, false};
}

// The digits of a fraction of a second, from `start` (just after the point).
// The first nine digits give the nanoseconds; later digits are consumed and
// dropped, truncating toward zero. `end == start` means no digit followed.
struct Fraction {
    std::uint32_t nanos;
    std::size_t end;
};

inline Fraction read_fraction_nanos(const unsigned char* text, std::size_t length, std::size_t start) noexcept {
    std::size_t i = start;
    std::uint32_t value = 0;
    std::size_t kept = 0;
    if (length - i >= 8) {
        const std::uint64_t word = load_u64_le(text + i);
        if (!is_eight_digits(word)) {
            // Fewer than eight digits: they end at the first non-digit byte.
            // Bytes after it may be misjudged (a carry out of it), never before.
            const std::uint64_t threes = 0x3030303030303030;
            const unsigned digits = first_non_digit(word);
            // The digits, then '0' bytes in place of the rest: the value scaled to eight places.
            const std::uint64_t kept_bytes = digits == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * digits);
            return Fraction{parse_eight_digits((word & kept_bytes) | (threes & ~kept_bytes)) * 10, i + digits};
        }
        value = parse_eight_digits(word);
        kept = 8;
        i += 8;
    }
    for (; i < length && is_digit(text[i]); ++i) {
        if (kept < 9) {
            value = value * 10 + (text[i] - '0');
            ++kept;
        }
    }
    return Fraction{value * static_cast<std::uint32_t>(POWERS_OF_TEN[9 - kept]), i};
}

}  // namespace quillmere::core
