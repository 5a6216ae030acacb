// Integer casts of every width, one generic routine: trim, separators, radix
// forms, then parentheses, currency and sign, and the digits read exactly in
// 128 bits. Two shortcuts settle the common texts first; each gives exactly
// the verdict the general algorithm would.
#include <limits>
#include <type_traits>

#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/int128.hpp"
#include "core/numeral.hpp"
#include "core/plain_integer.hpp"
#include "core/reference_paths.hpp"

namespace quillmere::core {

namespace {

// An exponent that reaches this is too large for any nonzero mantissa.
constexpr std::uint32_t INTEGER_EXPONENT_LIMIT = 100001;

template <class T>
Verdict<T> out_of_range(const TextRange& text) noexcept {
    return whole_text_fault(text, FaultReason::OUT_OF_RANGE);
}

template <class T>
Verdict<T> range_checked(i128 value, const TextRange& text) noexcept {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return out_of_range<T>(text);
    return Verdict<T>::success(static_cast<T>(value));
}

// A magnitude of at most 19 digits and its sign, as the words of its verdict,
// so that the plain-digit path chooses between success and fault without a
// branch.
template <class T>
inline VerdictWords range_checked_words(std::uint64_t magnitude, bool negative, const TextRange& text) noexcept {
    T value;
    if (!integer_in_range<T>(magnitude, negative, value)) {
        return fault_words(whole_text_fault(text, FaultReason::OUT_OF_RANGE));
    }
    return success_words(value);
}

// Shortcut 1: an optional sign and 1 to 19 digits, nothing else. Such a text
// holds no separator, parenthesis, currency byte or prefix, so every earlier
// step of the general algorithm would let it through unchanged. Short texts
// take a loop, two digits a step; long ones are read as whole words,
// whatever their length, so that a column of long numbers of mixed lengths
// costs no mispredicted loop exit per number.
template <class T, bool Words = true>
inline bool read_plain_digits(const TextRange& text, VerdictWords& verdict) noexcept {
    const unsigned char* p = text.data;
    const std::size_t n = text.length;
    const bool negative = p[0] == '-';
    std::size_t i = negative || p[0] == '+';
    std::uint64_t magnitude = 0;
    if constexpr (Words) {
        if (!read_digit_words(p + i, n - i, magnitude)) return false;
    } else {
        if (n - i - 1 >= MAX_U64_DIGITS) return false;  // no digit, or too many
        for (; n - i >= 2; i += 2) {
            const unsigned high = static_cast<unsigned>(p[i]) - '0';
            const unsigned low = static_cast<unsigned>(p[i + 1]) - '0';
            if ((high > 9) | (low > 9)) return false;
            magnitude = magnitude * 100 + (high * 10 + low);
        }
        if (i < n) {
            const unsigned digit = static_cast<unsigned>(p[i]) - '0';
            if (digit > 9) return false;
            magnitude = magnitude * 10 + digit;
        }
    }
    verdict = range_checked_words<T>(magnitude, negative, text);
    return true;
}

// log2 of the radix a prefix names, or 0 when the text has no radix prefix.
unsigned radix_prefix_bits(const TextRange& text) noexcept {
    const unsigned char first = text[0];
    const unsigned char letter = text[1];
    if (first == '0' && is_letter(letter, 'x')) return 4;
    if (first == '&' && is_letter(letter, 'h')) return 4;
    if (first == '0' && is_letter(letter, 'b')) return 1;
    return 0;
}

// Hexadecimal or binary digits after the prefix, as a w-bit pattern. Every
// digit is read even after the number has grown too large, so that a bad
// byte further on is still the fault.
template <class T>
Verdict<T> read_radix(const TextRange& text, unsigned bits_per_digit) noexcept {
    using U = std::make_unsigned_t<T>;
    if (text.length == 2) return whole_text_fault(text);
    u128 value = 0;
    bool overflow = false;
    for (std::size_t i = 2; i < text.length; ++i) {
        const unsigned char c = text[i];
        const int digit = bits_per_digit == 4 ? hex_value(c) : (c == '0' || c == '1') ? c - '0' : -1;
        if (digit < 0) return char_fault(text, i);
        if (value >> (128 - bits_per_digit) != 0) overflow = true;
        value = value << bits_per_digit | static_cast<unsigned>(digit);
    }
    if (overflow || value >> (8 * sizeof(T)) != 0) return out_of_range<T>(text);
    // Signed types read the same bits as two's complement: "0xFF" is -1 for i8.
    return Verdict<T>::success(static_cast<T>(static_cast<U>(value)));
}

constexpr i128 power_of_ten(std::uint32_t exponent) noexcept {
    i128 p = 1;
    while (exponent-- > 0) p *= 10;
    return p;
}

// The largest power of ten a signed 128-bit integer holds is 10^38.
constexpr std::uint32_t MAX_I128_POWER = 38;

// The general scan of the number text after its sign: digits accumulated
// exactly with a sticky overflow mark, group separators between digits, and
// an exponent that keeps the value whole. A fault of form anywhere wins over
// an overflow met earlier, so the scan never stops at an overflow.
template <class T>
Verdict<T> read_decimal(const TextRange& text, const SignedNumber& sign, const NumFormat& fmt) noexcept {
    const TextRange& n = sign.digits;
    const SeparatorBytes decimal = SeparatorBytes::of(fmt.decimal_sep);
    const SeparatorBytes group = SeparatorBytes::of(fmt.group_sep);
    const bool grouping = fmt.has(NumFormat::GROUPING);
    const bool exponent_allowed = fmt.has(NumFormat::EXPONENT);

    i128 mantissa = 0;
    bool overflow = false;
    bool digit_seen = false;
    bool has_exponent = false;
    std::uint32_t exponent = 0;
    bool exponent_too_large = false;

    std::size_t i = 0;
    while (i < n.length) {
        const unsigned char c = n[i];
        if (is_digit(c)) {
            if (!overflow && (__builtin_mul_overflow(mantissa, 10, &mantissa) ||
                              __builtin_add_overflow(mantissa, c - '0', &mantissa))) {
                overflow = true;
            }
            digit_seen = true;
            ++i;
            continue;
        }
        if (decimal.matches(n, i)) return span_fault(n, i, decimal.length);
        // The group separator is tried before the exponent, so a group
        // separator "e" between two digits groups them.
        if (grouping && group.matches(n, i)) {
            if (!is_between_digits(n, i, group.length)) return span_fault(n, i, group.length);
            i += group.length;
            continue;
        }
        if ((c == 'e' || c == 'E') && exponent_allowed && digit_seen) {
            const std::size_t e = i++;
            if (i < n.length && n[i] == '+') ++i;
            if (i == n.length) return span_fault(n, e, 1);
            if (n[i] == '-') return span_fault(n, i, 1);  // never a negative exponent
            if (!is_digit(n[i])) return span_fault(n, e, 1);
            for (; i < n.length; ++i) {
                if (!is_digit(n[i])) return char_fault_within(text, n, i);
                if (!exponent_too_large) {
                    exponent = exponent * 10 + (n[i] - '0');
                    exponent_too_large = exponent >= INTEGER_EXPONENT_LIMIT;
                }
            }
            has_exponent = true;
            break;
        }
        return char_fault_within(text, n, i);
    }

    if (!digit_seen) return whole_text_fault(text);
    if (overflow) return out_of_range<T>(text);
    i128 value = mantissa;
    if (has_exponent && mantissa != 0 && exponent != 0) {
        if (exponent_too_large || exponent > MAX_I128_POWER) return out_of_range<T>(text);
        if (__builtin_mul_overflow(mantissa, power_of_ten(exponent), &value)) return out_of_range<T>(text);
    }
    if (sign.negative) value = -value;  // |value| <= 2^127 - 1, so this cannot wrap
    return range_checked<T>(value, text);
}

// Everything the text needs once separators are resolved: a radix form, or
// the sign rules, the ASCII-separator shortcut and the general scan.
template <class T, bool Shortcuts>
Verdict<T> read_integer(const TextRange& text, const NumFormat& fmt) noexcept {
    // A radix form starts the text: no sign, parenthesis or currency before it.
    if (fmt.has(NumFormat::RADIX_PREFIXES) && text.length >= 2) {
        if (const unsigned bits = radix_prefix_bits(text)) return read_radix<T>(text, bits);
    }

    const Verdict<SignedNumber> sign = resolve_sign(text, fmt);
    if (!sign.ok()) return sign.fault();
    if (sign.value.digits.empty()) return whole_text_fault(text);

    if constexpr (Shortcuts) {
        // Shortcut 2: single-byte separators and at most 19 significant
        // digits, grouped or not; anything else goes on to the general scan.
        unsigned char decimal_byte, group_byte;
        if (ascii_separators(fmt, decimal_byte, group_byte)) {
            const AsciiDigits<std::uint64_t> digits = read_ascii_digits<std::uint64_t, MAX_U64_DIGITS>(
                sign.value.digits, decimal_byte, group_byte, fmt.has(NumFormat::GROUPING), false);
            if (digits.complete) {
                return Verdict<T>::from_words(range_checked_words<T>(digits.mantissa, sign.value.negative, text));
            }
        }
    }

    return read_decimal<T>(text, sign.value, fmt);
}

// Everything after trimming and the plain-digit shortcut. The trimmed text
// arrives as scalars so that the callers below can jump here as a tail call.
template <class T, bool Shortcuts>
[[gnu::noinline]] Verdict<T> cast_trimmed(const unsigned char* data, std::size_t length, std::size_t offset,
                                          const NumFormat& declared) noexcept {
    return read_under_format<T>(TextRange{data, length, offset}, declared, read_integer<T, Shortcuts>);
}

// Long texts of 64-bit types try the plain-digit shortcut here, out of line:
// the digit words need many constants in registers, which would make every
// short text pay for saving and restoring them.
template <class T>
[[gnu::noinline]] Verdict<T> cast_long_plain(const unsigned char* data, std::size_t length, std::size_t offset,
                                             const NumFormat& fmt) noexcept {
    VerdictWords plain;
    if (read_plain_digits<T>(TextRange{data, length, offset}, plain)) return Verdict<T>::from_words(plain);
    return cast_trimmed<T, true>(data, length, offset, fmt);
}

template <class T, bool Shortcuts>
inline Verdict<T> cast_integer(const char* input, std::size_t len, const NumFormat& fmt) noexcept {
    const TextRange text = trim(input, len);
    if (text.empty()) return empty_fault();
    if constexpr (Shortcuts) {
        // 64-bit types read texts of more than four bytes as digit words;
        // the short loop settles the rest.
        if (sizeof(T) == 8 && text.length > 4) return cast_long_plain<T>(text.data, text.length, text.offset, fmt);
        VerdictWords plain;
        if (read_plain_digits<T, false>(text, plain)) return Verdict<T>::from_words(plain);
    }
    return cast_trimmed<T, Shortcuts>(text.data, text.length, text.offset, fmt);
}

}  // namespace

template <class T>
Verdict<T> cast_integer_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<T, false>(data, len, fmt);
}

template Verdict<std::int8_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::int16_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::int32_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::int64_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::uint8_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::uint16_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::uint32_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;
template Verdict<std::uint64_t> cast_integer_general(const char*, std::size_t, const NumFormat&) noexcept;

Verdict<std::int8_t> cast_i8(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::int8_t, true>(data, len, fmt);
}
Verdict<std::int16_t> cast_i16(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::int16_t, true>(data, len, fmt);
}
Verdict<std::int32_t> cast_i32(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::int32_t, true>(data, len, fmt);
}
Verdict<std::int64_t> cast_i64(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::int64_t, true>(data, len, fmt);
}
Verdict<std::uint8_t> cast_u8(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::uint8_t, true>(data, len, fmt);
}
Verdict<std::uint16_t> cast_u16(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::uint16_t, true>(data, len, fmt);
}
Verdict<std::uint32_t> cast_u32(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::uint32_t, true>(data, len, fmt);
}
Verdict<std::uint64_t> cast_u64(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_integer<std::uint64_t, true>(data, len, fmt);
}

}  // namespace quillmere::core
