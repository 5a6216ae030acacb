// Integer casts of every width, one generic routine: trim, separators, radix
// forms, then parentheses, currency and sign, and the digits read exactly in
// 128 bits. Two shortcuts settle the common texts first; each gives exactly
// the verdict the general algorithm would.
#include "core/integer.hpp"

#include <cstring>
#include <limits>
#include <type_traits>

#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/numeral.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

// An exponent that reaches this is too large for any nonzero mantissa.
constexpr std::uint32_t EXPONENT_CAP = 100001;
// More decimal digits than this could leave 64 bits.
constexpr unsigned MAX_U64_DIGITS = 19;

// The two words of a verdict, computed before the verdict is built, so the
// plain-digit path can choose between success and fault without a branch.
struct VerdictParts {
    std::uint64_t word;    // the value's bits, or the packed span
    std::uint32_t status;  // 0, or the fault reason
};

template <class T>
inline Verdict<T> assemble(const VerdictParts& parts) noexcept {
    return Verdict<T>::from_words(parts.word, parts.status);
}

template <class T>
constexpr VerdictParts success_parts(T value) noexcept {
    return {static_cast<std::make_unsigned_t<T>>(value), 0};
}

constexpr VerdictParts out_of_range_parts(const Trimmed& text) noexcept {
    return {pack_span(whole_text_fault(text).span), static_cast<std::uint32_t>(FaultReason::OUT_OF_RANGE)};
}

template <class T>
Verdict<T> out_of_range(const Trimmed& text) noexcept {
    return whole_text_fault(text, FaultReason::OUT_OF_RANGE);
}

template <class T>
Verdict<T> range_checked(i128 value, const Trimmed& text) noexcept {
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return out_of_range<T>(text);
    return Verdict<T>::success(static_cast<T>(value));
}

// A magnitude of at most 19 digits and its sign. Written without a branch on
// the sign, which is as unpredictable as the data.
template <class T>
constexpr VerdictParts range_checked_parts(std::uint64_t magnitude, bool negative, const Trimmed& text) noexcept {
    using U = std::make_unsigned_t<T>;
    constexpr std::uint64_t max = static_cast<U>(std::numeric_limits<T>::max());
    // A signed type holds one more below zero (|min| = max + 1); an unsigned one only -0.
    const std::uint64_t limit = std::is_signed_v<T> ? max + negative : negative ? 0 : max;
    if (magnitude > limit) return out_of_range_parts(text);
    const std::uint64_t bits = negative ? 0 - magnitude : magnitude;  // wraps into two's complement
    return success_parts<T>(static_cast<T>(static_cast<U>(bits)));
}

// Shortcut 1: an optional sign and 1 to 19 digits, nothing else. Such a text
// holds no separator, parenthesis, currency byte or prefix, so every earlier
// step of the general algorithm would let it through unchanged.
template <class T, bool EightAtATime = true>
inline bool read_plain_digits(const Trimmed& text, VerdictParts& verdict) noexcept {
    const unsigned char* p = text.data;
    const std::size_t n = text.length;
    const bool negative = p[0] == '-';
    std::size_t i = negative || p[0] == '+';
    const std::size_t count = n - i;
    if (count - 1 >= MAX_U64_DIGITS) return false;  // no digit, or too many
    std::uint64_t magnitude = 0;
    if (EightAtATime && count >= 8) {
        const std::uint64_t word = load_u64_le(p + i);
        if (!is_eight_digits(word)) return false;
        magnitude = parse_eight_digits(word);
        i += 8;
        if (n - i >= 8) {
            const std::uint64_t second = load_u64_le(p + i);
            if (!is_eight_digits(second)) return false;
            magnitude = magnitude * 100000000 + parse_eight_digits(second);
            i += 8;
        }
    }
    // Two digits a step halve the multiply chain and the loop's branches.
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
    verdict = range_checked_parts<T>(magnitude, negative, text);
    return true;
}

// log2 of the radix a prefix names, or 0 when the text has no radix prefix.
unsigned radix_prefix_bits(const Trimmed& text) noexcept {
    const unsigned char first = text[0];
    const unsigned char letter = text[1] | 0x20;
    if (first == '0' && letter == 'x') return 4;
    if (first == '&' && letter == 'h') return 4;
    if (first == '0' && letter == 'b') return 1;
    return 0;
}

// Hexadecimal or binary digits after the prefix, as a w-bit pattern. Every
// digit is read even after the number has grown too large, so that a bad
// byte further on is still the fault.
template <class T>
Verdict<T> read_radix(const Trimmed& text, unsigned bits_per_digit) noexcept {
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
Verdict<T> read_decimal(const Trimmed& text, const SignedNumber& sign, const NumFormat& fmt) noexcept {
    const Trimmed& n = sign.digits;
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
            const std::size_t next = i + group.length;
            if (i == 0 || !is_digit(n[i - 1]) || next >= n.length || !is_digit(n[next])) {
                return span_fault(n, i, group.length);
            }
            i = next;
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
                    exponent_too_large = exponent >= EXPONENT_CAP;
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

// Everything after trimming and the plain-digit shortcut. The trimmed text
// arrives as scalars so that the callers below can jump here as a tail call.
template <class T, bool Shortcuts>
[[gnu::noinline]] Verdict<T> cast_trimmed(const unsigned char* data, std::size_t length, std::size_t offset,
                                          const NumFormat& declared) noexcept {
    const Trimmed text{data, length, offset};
    NumFormat detected;
    Fault fault;
    const NumFormat* fmt = resolve_separators(text, declared, detected, fault);
    if (fmt == nullptr) return fault;

    // A radix form starts the text: no sign, parenthesis or currency before it.
    if (fmt->has(NumFormat::RADIX_PREFIXES) && text.length >= 2) {
        if (const unsigned bits = radix_prefix_bits(text)) return read_radix<T>(text, bits);
    }

    const Verdict<SignedNumber> sign = resolve_sign(text, *fmt);
    if (!sign.ok()) return sign.fault();
    if (sign.value.digits.empty()) return whole_text_fault(text);

    if constexpr (Shortcuts) {
        // Shortcut 2: single-byte separators and at most 19 significant
        // digits, grouped or not; anything else goes on to the general scan.
        unsigned char decimal_byte, group_byte;
        if (ascii_separators(*fmt, decimal_byte, group_byte)) {
            const AsciiDigits<std::uint64_t> digits = read_ascii_digits<std::uint64_t, MAX_U64_DIGITS>(
                sign.value.digits, decimal_byte, group_byte, fmt->has(NumFormat::GROUPING), false);
            if (digits.complete) return assemble<T>(range_checked_parts<T>(digits.mantissa, sign.value.negative, text));
        }
    }

    return read_decimal<T>(text, sign.value, *fmt);
}

// Long texts of 64-bit types try the plain-digit shortcut here, out of line:
// the eight-digit words need many constants in registers, which would make
// every short text pay for saving and restoring them.
template <class T>
[[gnu::noinline]] Verdict<T> cast_long_plain(const unsigned char* data, std::size_t length, std::size_t offset,
                                             const NumFormat& fmt) noexcept {
    VerdictParts plain;
    if (read_plain_digits<T>(Trimmed{data, length, offset}, plain)) return assemble<T>(plain);
    return cast_trimmed<T, true>(data, length, offset, fmt);
}

template <class T, bool Shortcuts>
inline Verdict<T> cast_integer(const char* input, std::size_t len, const NumFormat& fmt) noexcept {
    const Trimmed text = trim(input, len);
    if (text.empty()) return empty_fault();
    if constexpr (Shortcuts) {
        // The short loop alone settles every plain text of up to eight bytes.
        if (sizeof(T) == 8 && text.length > 8) return cast_long_plain<T>(text.data, text.length, text.offset, fmt);
        VerdictParts plain;
        if (read_plain_digits<T, false>(text, plain)) return assemble<T>(plain);
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
