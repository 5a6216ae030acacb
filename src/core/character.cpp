// One Unicode scalar value: the text itself when it is exactly one UTF-8
// scalar, otherwise a code point declared in one of six notations.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

constexpr std::uint32_t SATURATED = 0xFFFFFFFFu;

struct Notation {
    std::size_t prefix;  // bytes before the first digit
    unsigned base;       // 10 or 16
    bool terminated;     // an HTML reference, closed by ";"
};

constexpr Notation DECIMAL{0, 10, false};
constexpr Notation HEX_AFTER_TWO{2, 16, false};  // "U+", "0x", "&H"
constexpr Notation HTML_DECIMAL{2, 10, true};    // "&#"
constexpr Notation HTML_HEX{3, 16, true};        // "&#x"

constexpr int digit_in_base(unsigned char b, unsigned base) noexcept {
    return base == 10 ? (is_digit(b) ? b - '0' : -1) : hex_value(b);
}

}  // namespace

Verdict<char32_t> cast_char(const char* data, std::size_t len) noexcept {
    if (len == 0) return empty_fault();

    // Verbatim: the whole untrimmed text is one strictly valid scalar, so a
    // lone space or tab is itself a character.
    if (len <= 4) {
        char32_t cp = 0;
        if (utf8_scalar_length(reinterpret_cast<const unsigned char*>(data), len, &cp) == len) {
            return Verdict<char32_t>::success(cp);
        }
    }

    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const std::size_t d = t.length;

    // The notation, from the first two or three bytes.
    Notation notation = DECIMAL;
    const unsigned char c0 = t[0];
    if (d == 1) {
        if (c0 == '&') return whole_text_fault(t);
    } else {
        const unsigned char c1 = t[1];
        if (c1 == '+') {
            if (is_letter(c0, 'u')) {
                notation = HEX_AFTER_TWO;
            } else if (c0 == '&') {
                return char_fault(t, 1);
            }
        } else if (c0 == '0' && is_letter(c1, 'x')) {
            notation = HEX_AFTER_TWO;
        } else if (c0 == '&') {
            if (is_letter(c1, 'h')) {
                notation = HEX_AFTER_TWO;
            } else if (c1 == '#') {
                if (d < 3) return whole_text_fault(t);
                notation = is_letter(t[2], 'x') ? HTML_HEX : HTML_DECIMAL;
            } else {
                return char_fault(t, 1);
            }
        }
    }
    if (notation.prefix >= d) return whole_text_fault(t);

    // Digits, saturating: a value past 32 bits stays at the ceiling and is
    // reported out of range once the form has been read to the end.
    std::size_t i = notation.prefix;
    std::uint64_t value = 0;
    for (; i < d; ++i) {
        const int digit = digit_in_base(t[i], notation.base);
        if (digit < 0) break;
        value = value * notation.base + static_cast<unsigned>(digit);
        if (value > SATURATED) value = SATURATED;
    }
    if (i == notation.prefix) return char_fault(t, i);

    if (notation.terminated) {
        if (i == d) return whole_text_fault(t);
        if (t[i] != ';') return char_fault(t, i);
        ++i;
    }
    if (i < d) return char_fault(t, i);

    if (value == SATURATED || !is_scalar_value(static_cast<char32_t>(value))) {
        return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    }
    return Verdict<char32_t>::success(static_cast<char32_t>(value));
}

}  // namespace quillmere::core
