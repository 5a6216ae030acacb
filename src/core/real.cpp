// The real casts: numeric text under a declared format to a correctly rounded
// binary64 or binary32.
#include <bit>
#include <cmath>

#include "core/casts.hpp"
#include "core/numeral.hpp"
#include "core/real_conversion.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

struct Real64 {
    using Float = double;
    static ConvertedReal<double> convert(const unsigned char* p, std::size_t n) noexcept { return convert_f64(p, n); }
    static bool exact(std::uint64_t m, std::int64_t q, double& out) noexcept { return exact_arithmetic_f64(m, q, out); }
    static bool approximate(std::uint64_t m, std::int64_t q, double& out) noexcept {
        std::uint64_t bits;
        if (!eisel_lemire_f64(m, q, bits)) return false;
        out = std::bit_cast<double>(bits);
        return true;
    }
};

struct Real32 {
    using Float = float;
    static ConvertedReal<float> convert(const unsigned char* p, std::size_t n) noexcept { return convert_f32(p, n); }
    static bool exact(std::uint64_t m, std::int64_t q, float& out) noexcept { return exact_arithmetic_f32(m, q, out); }
    static bool approximate(std::uint64_t m, std::int64_t q, float& out) noexcept {
        std::uint32_t bits;
        if (!eisel_lemire_f32(m, q, bits)) return false;
        out = std::bit_cast<float>(bits);
        return true;
    }
};

// The infinity test comes before the percent division: "1e309%" is out of
// range although its hundredth would be finite.
template <class Real>
Verdict<typename Real::Float> finish(typename Real::Float value, bool percent, const Trimmed& t) noexcept {
    using Float = typename Real::Float;
    if (std::isinf(value)) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    if (percent) value /= Float{100};
    return Verdict<Float>::success(value);
}

template <class Real>
Verdict<typename Real::Float> convert_and_finish(const unsigned char* numeral, std::size_t length, bool percent,
                                                 const Trimmed& t) noexcept {
    const auto converted = Real::convert(numeral, length);
    if (!converted.ok) return whole_text_fault(t);
    return finish<Real>(converted.value, percent, t);
}

template <class Real>
Verdict<typename Real::Float> normalize_and_convert(const Trimmed& t, const NumFormat& fmt) noexcept {
    char buffer[NUMERAL_CAPACITY];
    const Verdict<Numeral> numeral = normalize_numeral(t, fmt, buffer);
    if (!numeral.ok()) return numeral.fault();
    return convert_and_finish<Real>(reinterpret_cast<const unsigned char*>(buffer), numeral.value.length,
                                    numeral.value.percent, t);
}

// Plain test or normalisation, conversion, infinity, percent.
template <class Real>
Verdict<typename Real::Float> resolve_and_convert(const Trimmed& t, const NumFormat& fmt) noexcept {
    if (is_plain_numeral(t, fmt)) return convert_and_finish<Real>(t.data, t.length, false, t);
    return normalize_and_convert<Real>(t, fmt);
}

constexpr bool is_exponent_letter(char32_t c) noexcept { return c == U'e' || c == U'E'; }

// The trimmed text may go straight to the conversion: its grammar then
// refuses exactly the texts the plain test refuses.
constexpr bool takes_direct_route(const NumFormat& fmt) noexcept {
    const char32_t g = fmt.group_sep;
    return fmt.decimal_sep == U'.' && fmt.has(NumFormat::EXPONENT) && !(g >= U'0' && g <= U'9') && g != U'+' &&
           g != U'-' && g != U'.' && !is_exponent_letter(g);
}

// ---- the ASCII-separator shortcut ------------------------------------------
//
// Reads, without copying, the common lenient forms: "(...)" under PARENTHESES,
// one sign, a currency prefix or suffix, grouped digits and one decimal
// separator, no exponent and no percent. It settles only successes; whatever
// is unusual (whitespace inside, a fault, more than 19 significant digits, a
// numeral the normalised copy could not hold) is left to the general path.

// Bytes whose meaning the shortcut does not re-derive; a separator or a
// currency byte among them sends the text to the general path.
constexpr bool is_delicate(unsigned char b) noexcept {
    return is_digit(b) || is_space(b) || b == '+' || b == '-' || b == '(' || b == ')' || b == '%' || b == 'e' ||
           b == 'E' || b >= 0x80;
}

bool shortcut_applies(const Trimmed& t, const NumFormat& fmt) noexcept {
    if (fmt.decimal_sep >= 0x80 || fmt.group_sep >= 0x80) return false;
    const auto d = static_cast<unsigned char>(fmt.decimal_sep);
    const auto g = static_cast<unsigned char>(fmt.group_sep);
    if (is_delicate(d) || is_delicate(g)) return false;
    if (fmt.has(NumFormat::PERCENT) && t[t.length - 1] == '%') return false;
    if (fmt.has(NumFormat::CURRENCY)) {
        for (std::size_t i = 0; i < fmt.currency_len; ++i) {
            const unsigned char c = fmt.currency[i];
            if (c == '+' || c == '-' || c == '(' || c == ')' || c == d || c == g) return false;
        }
    }
    return true;
}

constexpr bool starts_with(const unsigned char* p, std::size_t n, const std::uint8_t* s, std::size_t k) noexcept {
    if (n < k) return false;
    for (std::size_t i = 0; i < k; ++i) {
        if (p[i] != s[i]) return false;
    }
    return true;
}

// The digits and separators of a lenient number, read as m * 10^-f.
struct ShortcutNumber {
    std::uint64_t mantissa;
    std::int64_t fraction_digits;
    bool negative;
};

// False when the text is left to the general path.
bool read_shortcut_number(const Trimmed& t, const NumFormat& fmt, ShortcutNumber& out) noexcept {
    const unsigned char* p = t.data;
    const unsigned char* end = t.data + t.length;
    bool parenthesised = false;
    if (fmt.has(NumFormat::PARENTHESES) && *p == '(') {
        if (t.length < 3 || end[-1] != ')') return false;
        ++p;
        --end;
        if (is_space(*p) || is_space(end[-1])) return false;
        parenthesised = true;
    }

    bool sign_before = false;
    bool negative_before = false;
    if (fmt.has(NumFormat::CURRENCY) && fmt.currency_len != 0) {
        const std::size_t k = fmt.currency_len;
        const bool signed_body = *p == '-' || *p == '+';
        const unsigned char* body = signed_body ? p + 1 : p;
        if (starts_with(body, static_cast<std::size_t>(end - body), fmt.currency, k)) {
            const unsigned char* rest = body + k;
            if (rest == end || is_space(*rest) || is_space(end[-1])) return false;
            sign_before = signed_body;
            negative_before = *p == '-';
            p = rest;
        } else if (static_cast<std::size_t>(end - p) >= k && starts_with(end - k, k, fmt.currency, k)) {
            end -= k;
            if (end == p || is_space(*p) || is_space(end[-1])) return false;
        }
    }

    bool negative = parenthesised;
    if (*p == '-' || *p == '+') {
        if (sign_before || parenthesised) return false;
        negative = *p == '-';
        ++p;
    } else if (sign_before) {
        if (parenthesised) return false;
        negative = negative_before;
    }

    // The copy the general path would make: a "-", the digits and a ".".
    std::size_t numeral_length = negative ? 1 : 0;
    const auto d = static_cast<unsigned char>(fmt.decimal_sep);
    const auto g = static_cast<unsigned char>(fmt.group_sep);
    const bool grouping = fmt.has(NumFormat::GROUPING);
    const unsigned char* const number_begin = p;
    std::uint64_t m = 0;
    std::size_t significant = 0;
    std::int64_t fraction = 0;
    bool any_digit = false;
    bool after_point = false;
    for (; p != end; ++p) {
        const unsigned char c = *p;
        if (is_digit(c)) {
            any_digit = true;
            ++numeral_length;
            if (after_point) ++fraction;
            if (significant != 0 || c != '0') {
                if (++significant > 19) return false;
                m = m * 10 + static_cast<unsigned>(c - '0');
            }
        } else if (c == d) {
            if (after_point) return false;
            after_point = true;
            ++numeral_length;
        } else if (grouping && c == g && !after_point && p != number_begin && is_digit(p[-1]) && p + 1 != end &&
                   is_digit(p[1])) {
            continue;
        } else {
            return false;
        }
    }
    if (!any_digit || numeral_length > NUMERAL_CAPACITY) return false;
    out = ShortcutNumber{m, fraction, negative};
    return true;
}

template <class Real>
bool try_shortcut(const Trimmed& t, const NumFormat& fmt, typename Real::Float& value) noexcept {
    using Float = typename Real::Float;
    ShortcutNumber n;
    if (!read_shortcut_number(t, fmt, n)) return false;
    Float magnitude;
    if (n.mantissa == 0) {
        magnitude = Float{0};
    } else if (!Real::exact(n.mantissa, -n.fraction_digits, magnitude) &&
               !Real::approximate(n.mantissa, -n.fraction_digits, magnitude)) {
        return false;
    }
    value = n.negative ? -magnitude : magnitude;
    return true;
}

template <class Real>
Verdict<typename Real::Float> cast_real(const char* data, std::size_t len, const NumFormat& declared) noexcept {
    using Float = typename Real::Float;
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    NumFormat detected;
    Fault fault;
    const NumFormat* fmt = resolve_separators(t, declared, detected, fault);
    if (fmt == nullptr) return fault;

    if (takes_direct_route(*fmt)) {
        const auto converted = Real::convert(t.data, t.length);
        if (converted.ok) return finish<Real>(converted.value, false, t);
        // Refused by the conversion, so not plain either.
    } else if (is_plain_numeral(t, *fmt)) {
        return convert_and_finish<Real>(t.data, t.length, false, t);
    }

    Float value;
    if (shortcut_applies(t, *fmt) && try_shortcut<Real>(t, *fmt, value)) return finish<Real>(value, false, t);
    return normalize_and_convert<Real>(t, *fmt);
}

template <class Real>
Verdict<typename Real::Float> cast_real_general(const char* data, std::size_t len, const NumFormat& declared) noexcept {
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    NumFormat detected;
    Fault fault;
    const NumFormat* fmt = resolve_separators(t, declared, detected, fault);
    if (fmt == nullptr) return fault;
    return resolve_and_convert<Real>(t, *fmt);
}

}  // namespace

Verdict<double> cast_f64(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real<Real64>(data, len, fmt);
}
Verdict<float> cast_f32(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real<Real32>(data, len, fmt);
}
Verdict<double> cast_f64_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real_general<Real64>(data, len, fmt);
}
Verdict<float> cast_f32_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real_general<Real32>(data, len, fmt);
}

}  // namespace quillmere::core
