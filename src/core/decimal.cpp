// The decimal cast: text under a numeric format to an exact, canonical
// 96-bit decimal that is never rounded, and the canonical text of such a value.
#include "core/decimal.hpp"

#include "core/casts.hpp"
#include "core/numeral.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

constexpr uint128 U128_MAX = ~uint128{0};
constexpr uint128 MAGNITUDE_MAX = DECIMAL_MAGNITUDE_LIMIT - 1;
constexpr uint128 MAGNITUDE_MAX_DIV10 = MAGNITUDE_MAX / 10;  // 7922816251426433759354395033
// Below this a u64 accumulator takes another digit without overflowing.
constexpr std::uint64_t U64_ACCUMULATE_LIMIT = 1'000'000'000'000'000'000ull;  // 10^18
// The exponent's digits and the count of fraction digits saturate here. The
// bound is far beyond any text that can exist, so the scale (fraction digits,
// plus two for a percent, less the exponent) is exact: a small bound would let
// a long enough run of fraction zeros shift the value by the difference.
constexpr std::uint64_t COUNT_SATURATION = 1'000'000'000'000'000'000ull;  // 10^18

constexpr Fault conversion_fault(FaultReason reason) noexcept { return Fault{reason, Span{0, 0}}; }

// Removes one trailing zero digit when there is one. The remainder by 10 is
// (m mod 2) + 2 * ((m div 2) mod 5), and 2^64 is 1 mod 5, so the halves of
// m div 2 can be summed instead of dividing 128 bits.
inline bool strip_trailing_zero(uint128& m) noexcept {
    auto hi = static_cast<std::uint64_t>(m >> 64);
    auto lo = static_cast<std::uint64_t>(m);
    if (hi == 0) {
        if (lo % 10 != 0) return false;
        m = lo / 10;
        return true;
    }
    if ((lo & 1) != 0) return false;
    const uint128 half = m >> 1;
    const auto half_hi = static_cast<std::uint64_t>(half >> 64);
    const auto half_lo = static_cast<std::uint64_t>(half);
    if ((half_hi % 5 + half_lo % 5) % 5 != 0) return false;
    m = half / 5;
    return true;
}

// Steps shared by every path once the digits are read: zero is plain zero; a
// negative scale multiplies exactly; a positive one sheds trailing zeros and
// must end at 28 or fewer places; the magnitude must fit 96 bits.
Verdict<ExactDecimal> finish(uint128 m, std::int64_t scale, bool negative) noexcept {
    if (m == 0) return Verdict<ExactDecimal>::success(make_decimal(0, 0, false));
    if (scale < 0) {
        for (std::int64_t k = scale; k < 0; ++k) {
            if (m > MAGNITUDE_MAX_DIV10) return conversion_fault(FaultReason::OUT_OF_RANGE);
            m *= 10;
        }
        scale = 0;
    } else {
        while (scale > 0 && strip_trailing_zero(m)) --scale;
        if (scale > static_cast<std::int64_t>(MAX_DECIMAL_SCALE)) return conversion_fault(FaultReason::OUT_OF_RANGE);
    }
    if (m > MAGNITUDE_MAX) return conversion_fault(FaultReason::OUT_OF_RANGE);
    return Verdict<ExactDecimal>::success(make_decimal(m, static_cast<unsigned>(scale), negative));
}

}  // namespace

Verdict<ExactDecimal> decimal_from_numeral(const char* numeral, std::size_t length, bool percent) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(numeral);
    std::size_t i = 0;
    bool negative = false;
    if (i < length && (p[i] == '-' || p[i] == '+')) {
        negative = p[i] == '-';
        ++i;
    }

    // The mantissa: a u64 while it is small, 128 bits after that. Range faults
    // are only remembered: a later byte may still make the numeral MALFORMED.
    std::uint64_t small = 0;
    uint128 m = 0;
    bool wide = false;
    bool seen_digit = false;
    bool seen_point = false;
    bool out_of_range = false;
    std::uint64_t fraction_digits = 0;
    for (; i < length; ++i) {
        const unsigned char c = p[i];
        if (is_digit(c)) {
            seen_digit = true;
            const unsigned d = c - '0';
            if (!wide && small < U64_ACCUMULATE_LIMIT) {
                small = small * 10 + d;
                if (seen_point && fraction_digits < COUNT_SATURATION) ++fraction_digits;
                continue;
            }
            if (!wide) {
                m = small;
                wide = true;
            }
            if (out_of_range) continue;
            if (!seen_point) {
                // Integer digits may pass 96 bits (an exponent may bring them
                // back) but never 128.
                if (m > (U128_MAX - d) / 10) {
                    out_of_range = true;
                } else {
                    m = m * 10 + d;
                }
            } else if (m > (MAGNITUDE_MAX - d) / 10) {
                // Past 96 bits a fraction zero changes nothing and is dropped;
                // any other digit cannot be held.
                if (d != 0) out_of_range = true;
            } else {
                m = m * 10 + d;
                if (fraction_digits < COUNT_SATURATION) ++fraction_digits;
            }
        } else if (c == '.') {
            if (seen_point) return conversion_fault(FaultReason::MALFORMED);
            seen_point = true;
        } else if (c == 'e' || c == 'E') {
            break;
        } else {
            return conversion_fault(FaultReason::MALFORMED);
        }
    }
    if (!seen_digit) return conversion_fault(FaultReason::MALFORMED);
    if (!wide) m = small;

    std::int64_t exponent = 0;
    if (i < length) {
        ++i;  // the "e"
        bool exponent_negative = false;
        if (i < length && (p[i] == '-' || p[i] == '+')) {
            exponent_negative = p[i] == '-';
            ++i;
        }
        if (i == length) return conversion_fault(FaultReason::MALFORMED);
        std::uint64_t e = 0;
        for (; i < length; ++i) {
            if (!is_digit(p[i])) return conversion_fault(FaultReason::MALFORMED);
            e = e * 10 + (p[i] - '0');
            if (e > COUNT_SATURATION) e = COUNT_SATURATION;
        }
        exponent = exponent_negative ? -static_cast<std::int64_t>(e) : static_cast<std::int64_t>(e);
    }
    if (out_of_range) return conversion_fault(FaultReason::OUT_OF_RANGE);

    const std::int64_t scale = static_cast<std::int64_t>(fraction_digits) + (percent ? 2 : 0) - exponent;
    return finish(m, scale, negative);
}

std::size_t format_decimal(const ExactDecimal& value, char (&out)[DECIMAL_TEXT_BUFFER]) noexcept {
    // A 96-bit magnitude splits into at most two words below 10^19.
    constexpr std::uint64_t TEN_19 = 10'000'000'000'000'000'000ull;
    const uint128 m = (uint128{value.magnitude_hi} << 64) | value.magnitude_lo;
    const bool two_words = value.magnitude_hi != 0;
    const std::uint64_t low = two_words ? static_cast<std::uint64_t>(m % TEN_19) : value.magnitude_lo;
    const std::uint64_t high = two_words ? static_cast<std::uint64_t>(m / TEN_19) : 0;  // < 8 * 10^9

    // Digits of a word from its bit length (log10 2 ~ 1233 / 4096), corrected
    // by one comparison; a loop of divisions would be a long dependent chain.
    auto digit_count = [](std::uint64_t v) -> std::size_t {
        static constexpr std::uint64_t powers[20] = {
            1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull,
            1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull,
            100000000000000ull, 1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
            1000000000000000000ull, 10000000000000000000ull};
        if (v < 10) return 1;
        const auto estimate = static_cast<std::size_t>(((64 - __builtin_clzll(v)) * 1233) >> 12);
        return estimate + (v >= powers[estimate] ? 1 : 0);
    };
    const std::size_t magnitude_digits = two_words ? 19 + digit_count(high) : digit_count(low);
    const std::size_t scale = value.scale <= MAX_DECIMAL_SCALE ? value.scale : MAX_DECIMAL_SCALE;
    const std::size_t count = magnitude_digits > scale ? magnitude_digits : scale + 1;
    const std::size_t length = (value.negative != 0 ? 1 : 0) + count + (scale > 0 ? 1 : 0);

    // Digits go straight to their place, right to left: the i-th from the
    // right sits one further left once it is past the point.
    auto place = [&](std::size_t i, char c) { out[length - 1 - i - (scale > 0 && i >= scale ? 1 : 0)] = c; };
    // Two digits per step from a table of pairs: half the chain of dependent divisions.
    static constexpr char pairs[201] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    std::size_t i = 0;
    auto emit = [&](std::uint64_t v, std::size_t digits) {
        const std::size_t end = i + digits;
        for (; i + 2 <= end; i += 2, v /= 100) {
            const auto pair = static_cast<std::size_t>(v % 100) * 2;
            place(i, pairs[pair + 1]);
            place(i + 1, pairs[pair]);
        }
        if (i < end) place(i++, static_cast<char>('0' + v % 10));
    };
    if (two_words) {
        emit(low, 19);
        emit(high, magnitude_digits - 19);
    } else {
        emit(low, magnitude_digits);
    }
    for (; i < count; ++i) place(i, '0');
    if (scale > 0) out[length - 1 - scale] = '.';
    if (value.negative != 0) out[0] = '-';
    return length;
}

namespace {

// Converts a numeral the front end produced or approved, giving any fault
// the span of the whole trimmed text.
Verdict<ExactDecimal> convert(const Trimmed& t, const char* numeral, std::size_t length, bool percent) noexcept {
    const Verdict<ExactDecimal> v = decimal_from_numeral(numeral, length, percent);
    if (!v.ok()) return whole_text_fault(t, v.reason());
    return v;
}

Verdict<ExactDecimal> convert_plain(const Trimmed& t) noexcept {
    return convert(t, reinterpret_cast<const char*>(t.data), t.length, false);
}

Verdict<ExactDecimal> convert_normalized(const Trimmed& t, const NumFormat& fmt) noexcept {
    char buffer[NUMERAL_CAPACITY];
    const Verdict<Numeral> numeral = normalize_numeral(t, fmt, buffer);
    if (!numeral.ok()) return numeral.fault();
    return convert(t, buffer, numeral.value.length, numeral.value.percent);
}

constexpr bool group_allows_plain(char32_t g) noexcept {
    return !((g >= U'0' && g <= U'9') || g == U'+' || g == U'-' || g == U'.' || g == U'E' || g == U'e');
}

// What a shortcut read, for finish(): it returns the verdict itself, so the
// verdict is built where the cast returns it instead of being copied there.
struct ShortDecimal {
    uint128 mantissa;
    std::int64_t fraction;
    bool negative;
};

enum class Shortcut { DECLINED, DIGITS, FAULT };

// The digits of a shortcut, at most 28 of them: 19 always fit one word, and
// the rest (at most nine) a second, scaled to join the first.
struct ShortMantissa {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::uint64_t low_scale = 1;
    std::size_t digits = 0;

    // False once a digit past the 28th arrives.
    bool push(unsigned char c) noexcept {
        if (digits < 19) {
            high = high * 10 + (c - '0');
        } else {
            low = low * 10 + (c - '0');
            low_scale *= 10;
        }
        return ++digits <= MAX_DECIMAL_SCALE;
    }

    uint128 value() const noexcept { return uint128{high} * low_scale + low; }
};

// Plain shortcut: a sign, digits with at most one ".", no exponent, at most
// 28 digits. Such a text is plain, and its value needs no range check: 28
// digits stay below 2^96 and within 28 places. False hands the text on.
bool plain_shortcut(const Trimmed& t, const NumFormat& fmt, ShortDecimal& out) noexcept {
    if (fmt.decimal_sep != U'.' || !group_allows_plain(fmt.group_sep)) return false;
    std::size_t i = 0;
    bool negative = false;
    if (i < t.length && (t[i] == '-' || t[i] == '+')) {
        negative = t[i] == '-';
        ++i;
    }
    std::size_t point = t.length;  // index of the "." if any
    // At most 19 bytes after the sign hold at most 19 digits, which always fit
    // one word: the common case needs no digit count.
    if (t.length - i <= 19) {
        const std::size_t first = i;
        std::uint64_t m = 0;
        for (; i < t.length; ++i) {
            const unsigned d = static_cast<unsigned>(t[i]) - '0';
            if (d < 10) {
                m = m * 10 + d;
            } else if (t[i] == '.' && point == t.length) {
                point = i;
            } else {
                return false;
            }
        }
        if (t.length - first == (point == t.length ? 0u : 1u)) return false;  // no digit
        const std::size_t fraction = point == t.length ? 0 : t.length - point - 1;
        out = ShortDecimal{m, static_cast<std::int64_t>(fraction), negative};
        return true;
    }
    ShortMantissa mantissa;
    for (; i < t.length; ++i) {
        const unsigned char c = t[i];
        if (is_digit(c)) {
            if (!mantissa.push(c)) return false;
        } else if (c == '.' && point == t.length) {
            point = i;
        } else {
            return false;
        }
    }
    if (mantissa.digits == 0) return false;
    const std::size_t fraction = point == t.length ? 0 : t.length - point - 1;
    out = ShortDecimal{mantissa.value(), static_cast<std::int64_t>(fraction), negative};
    return true;
}

// ASCII-separator shortcut, in place of normalisation: the front end's
// parentheses, currency and sign rules, then digits read directly with
// single-byte separators. Anything else (a percent sign, an exponent, a
// misplaced separator, more than 28 digits) goes to normalisation, which
// reports it; a fault of the sign rules is already the verdict it would give.
Shortcut ascii_shortcut(const Trimmed& t, const NumFormat& fmt, ShortDecimal& out, Fault& fault) noexcept {
    unsigned char decimal;
    unsigned char group;
    if (!ascii_separators(fmt, decimal, group)) return Shortcut::DECLINED;
    if (fmt.has(NumFormat::PERCENT) && t[t.length - 1] == '%') return Shortcut::DECLINED;
    const Verdict<SignedNumber> sign = resolve_sign(t, fmt);
    if (!sign.ok()) {
        fault = sign.fault();
        return Shortcut::FAULT;
    }
    const Trimmed& n = sign.value.digits;
    const bool grouping = fmt.has(NumFormat::GROUPING);
    ShortMantissa mantissa;
    std::size_t fraction = 0;
    bool point = false;
    for (std::size_t i = 0; i < n.length; ++i) {
        const unsigned char c = n[i];
        if (is_digit(c)) {
            if (!mantissa.push(c)) return Shortcut::DECLINED;
            if (point) ++fraction;
        } else if (c == decimal) {
            if (point) return Shortcut::DECLINED;
            point = true;
        } else if (c == 'e' || c == 'E') {
            return Shortcut::DECLINED;  // an exponent, or a fault the front end reports
        } else if (grouping && c == group) {
            if (point || i == 0 || !is_digit(n[i - 1]) || i + 1 == n.length || !is_digit(n[i + 1])) return Shortcut::DECLINED;
        } else {
            return Shortcut::DECLINED;
        }
    }
    if (mantissa.digits == 0) return Shortcut::DECLINED;
    out = ShortDecimal{mantissa.value(), static_cast<std::int64_t>(fraction), sign.value.negative};
    return Shortcut::DIGITS;
}

}  // namespace

Verdict<ExactDecimal> cast_decimal(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    NumFormat detected;
    Fault fault;
    const NumFormat* resolved = resolve_separators(t, fmt, detected, fault);
    if (resolved == nullptr) return fault;
    const NumFormat& f = *resolved;
    ShortDecimal digits;
    if (plain_shortcut(t, f, digits)) return finish(digits.mantissa, digits.fraction, digits.negative);
    if (is_plain_numeral(t, f)) return convert_plain(t);
    switch (ascii_shortcut(t, f, digits, fault)) {
        case Shortcut::DIGITS: return finish(digits.mantissa, digits.fraction, digits.negative);
        case Shortcut::FAULT: return fault;
        case Shortcut::DECLINED: break;
    }
    return convert_normalized(t, f);
}

Verdict<ExactDecimal> cast_decimal_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    const Trimmed t = trim(data, len);
    if (t.empty()) return empty_fault();
    NumFormat detected;
    Fault fault;
    const NumFormat* f = resolve_separators(t, fmt, detected, fault);
    if (f == nullptr) return fault;
    return is_plain_numeral(t, *f) ? convert_plain(t) : convert_normalized(t, *f);
}

}  // namespace quillmere::core
