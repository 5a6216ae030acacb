// Conventions every text cast shares: the whitespace set, trimming, and the
// spans of faults that point at one character or at the whole trimmed text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/verdict.hpp"

namespace quillmere::core {

// Exactly tab, line feed, form feed, carriage return and space; not 0x0B, not U+00A0.
constexpr bool is_space(unsigned char b) noexcept {
    return b <= 0x20 && ((0x100003600ull >> b) & 1u) != 0;
}

constexpr bool is_digit(unsigned char b) noexcept { return static_cast<unsigned char>(b - '0') < 10; }

// Only ASCII "-" and "+" are signs.
constexpr bool is_sign(unsigned char b) noexcept { return b == '-' || b == '+'; }

// -1 when b is not a hexadecimal digit.
constexpr int hex_value(unsigned char b) noexcept {
    if (is_digit(b)) return b - '0';
    unsigned char folded = b | 0x20;
    if (folded >= 'a' && folded <= 'f') return folded - 'a' + 10;
    return -1;
}

// Length of the UTF-8 sequence a byte would start; continuation and stray
// bytes count as one, and nothing validates what follows.
constexpr std::size_t utf8_lead_length(unsigned char b) noexcept {
    return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

// ASCII case folding: capitals "A".."Z" to their small letters; every other
// byte, non-ASCII included, stays as it is.
constexpr unsigned char ascii_lower(unsigned char b) noexcept {
    return static_cast<unsigned char>(b - 'A') < 26 ? static_cast<unsigned char>(b | 0x20) : b;
}

// True when b is the small ASCII letter `small` or its capital. Setting bit
// 0x20 maps a capital onto its small letter and no other byte onto a letter.
constexpr bool is_letter(unsigned char b, char small) noexcept {
    return static_cast<unsigned char>(b | 0x20) == static_cast<unsigned char>(small);
}

// True when the n bytes at p spell `word`, given in small letters, with ASCII
// letters compared without regard to case.
constexpr bool equals_ignoring_case(const unsigned char* p, const char* word, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        if (ascii_lower(p[i]) != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

// A range of the caller's input: its bytes, its length, and the offset of its
// first byte in the input, so that every span reported inside it is an
// offset into the input. trim() gives the whole trimmed text; readers narrow
// it to a body, a number or a field.
struct TextRange {
    const unsigned char* data;
    std::size_t length;
    std::size_t offset;

    constexpr bool empty() const noexcept { return length == 0; }
    constexpr unsigned char operator[](std::size_t i) const noexcept { return data[i]; }
};

inline TextRange trim(const char* input, std::size_t len) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(input);
    std::size_t begin = 0;
    while (begin < len && is_space(p[begin])) ++begin;
    std::size_t end = len;
    while (end > begin && is_space(p[end - 1])) --end;
    // A zero-length input may come with any pointer: never form p + 0 from null.
    return TextRange{len == 0 ? nullptr : p + begin, end - begin, begin};
}

// Positions pos .. pos + length of a range as a range of their own.
constexpr TextRange sub_range(const TextRange& t, std::size_t pos, std::size_t length) noexcept {
    return TextRange{t.data + pos, length, t.offset + pos};
}

// Positions begin .. end of a range without their leading and trailing whitespace.
constexpr TextRange trim_within(const TextRange& t, std::size_t begin, std::size_t end) noexcept {
    while (begin < end && is_space(t[begin])) ++begin;
    while (end > begin && is_space(t[end - 1])) --end;
    return sub_range(t, begin, end - begin);
}

constexpr Fault empty_fault() noexcept { return Fault{FaultReason::EMPTY, Span{0, 0}}; }

// The structural span: the whole range (for a cast, the whole trimmed text).
constexpr Fault whole_text_fault(const TextRange& t, FaultReason reason = FaultReason::MALFORMED) noexcept {
    return make_fault(reason, t.offset, t.length);
}

// An explicit span given in positions of the range.
constexpr Fault span_fault(const TextRange& t, std::size_t pos, std::size_t length,
                           FaultReason reason = FaultReason::MALFORMED) noexcept {
    return make_fault(reason, t.offset + pos, length);
}

// A span of `wanted` bytes at pos, clipped to what remains of the range.
constexpr Fault clipped_fault(const TextRange& t, std::size_t pos, std::size_t wanted,
                              FaultReason reason = FaultReason::MALFORMED) noexcept {
    const std::size_t left = t.length - pos;
    return span_fault(t, pos, wanted < left ? wanted : left, reason);
}

// One offending character at pos: its UTF-8 length from the lead byte,
// clipped to what remains of the range.
constexpr Fault char_fault(const TextRange& t, std::size_t pos,
                           FaultReason reason = FaultReason::MALFORMED) noexcept {
    return clipped_fault(t, pos, utf8_lead_length(t.data[pos]), reason);
}

// The one-character span at pos of `inner`, a sub-range of `whole`: the
// length is clipped to what remains of the whole range, not of the sub-range.
constexpr Fault char_fault_within(const TextRange& whole, const TextRange& inner, std::size_t pos) noexcept {
    return char_fault(whole, static_cast<std::size_t>(inner.data - whole.data) + pos);
}

// A fault at the end of the text: nothing offends, something is missing.
constexpr Fault end_fault(const TextRange& t) noexcept { return make_fault(FaultReason::MALFORMED, t.offset + t.length, 0); }

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing past U+10FFFF.
// Returns the length of the scalar at p (1..4), or 0 when none starts there.
constexpr std::size_t utf8_scalar_length(const unsigned char* p, std::size_t left, char32_t* out = nullptr) noexcept {
    if (left == 0) return 0;
    unsigned char b0 = p[0];
    if (b0 < 0x80) {
        if (out) *out = b0;
        return 1;
    }
    std::size_t n;
    char32_t cp;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    if (out) *out = cp;
    return n;
}

constexpr bool is_valid_utf8(const unsigned char* p, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n) {
        std::size_t k = utf8_scalar_length(p + i, n - i);
        if (k == 0) return false;
        i += k;
    }
    return true;
}

constexpr bool is_scalar_value(char32_t cp) noexcept { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// Writes the UTF-8 form of a scalar value; returns its length (1..4).
constexpr std::size_t encode_utf8(char32_t cp, unsigned char out[4]) noexcept {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace quillmere::core
