// The decimal cast: text under a numeric format to an exact, canonical
// 96-bit decimal that is never rounded, and the canonical text of such a value.
#include "core/decimal.hpp"

#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/numeral.hpp"
#include "core/reference_paths.hpp"

namespace quillmere::core {

namespace {

constexpr u128 U128_MAX = ~u128{0};
constexpr u128 MAGNITUDE_MAX = DECIMAL_MAGNITUDE_LIMIT - 1;
constexpr u128 MAGNITUDE_MAX_DIV10 = MAGNITUDE_MAX / 10;  // 7922816251426433759354395033
// Any 28 digits stay below 2^96.
constexpr unsigned SHORTCUT_DIGITS = 28;
// Below this a u64 accumulator takes another digit without overflowing.
constexpr std::uint64_t U64_ACCUMULATE_LIMIT = POWERS_OF_TEN[18];

// Removes one trailing zero digit when there is one. The remainder by 10 is
// (m mod 2) + 2 * ((m div 2) mod 5), and 2^64 is 1 mod 5, so the halves of
// m div 2 can be summed instead of dividing 128 bits.
inline bool strip_trailing_zero(u128& m) noexcept {
    auto hi = static_cast<std::uint64_t>(m >> 64);
    auto lo = static_cast<std::uint64_t>(m);
    if (hi == 0) {
        if (lo % 10 != 0) return false;
        m = lo / 10;
        return true;
    }
    if ((lo & 1) != 0) return false;
    const u128 half = m >> 1;
    const auto half_hi = static_cast<std::uint64_t>(half >> 64);
    const auto half_lo = static_cast<std::uint64_t>(half);
    if ((half_hi % 5 + half_lo % 5) % 5 != 0) return false;
    m = half / 5;
    return true;
}

// The value m * 10^-scale as its canonical record: zero is plain zero; a
// negative scale multiplies exactly; a positive one sheds trailing zeros and
// must end at 28 or fewer places; the magnitude must fit 96 bits. Faults
// carry no span.
[[gnu::always_inline]] inline Verdict<ExactDecimal> canonical_decimal(u128 m, std::int64_t scale, bool negative) noexcept {
    if (m == 0) return Verdict<ExactDecimal>::success(make_decimal(0, 0, false));
    if (scale < 0) {
        for (std::int64_t k = scale; k < 0; ++k) {
            if (m > MAGNITUDE_MAX_DIV10) return unspanned_fault(FaultReason::OUT_OF_RANGE);
            m *= 10;
        }
        scale = 0;
    } else {
        while (scale > 0 && strip_trailing_zero(m)) --scale;
        if (scale > static_cast<std::int64_t>(MAX_DECIMAL_SCALE)) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    }
    if (m > MAGNITUDE_MAX) return unspanned_fault(FaultReason::OUT_OF_RANGE);
    return Verdict<ExactDecimal>::success(make_decimal(m, static_cast<unsigned>(scale), negative));
}

// The exact conversion of a long mantissa, digit by digit: integer digits
// may pass 96 bits (an exponent may bring them back) but never 128; past 96
// bits a fraction zero changes nothing and is dropped, and any other fraction
// digit cannot be held.
Verdict<ExactDecimal> convert_long_mantissa(const ScannedDecimal& scan, bool percent) noexcept {
    std::uint64_t small = 0;
    u128 m = 0;
    bool wide = false;
    std::int64_t fraction_digits = 0;
    for (DigitCursor cursor(scan); !cursor.done(); cursor.advance()) {
        const unsigned d = cursor.peek();
        const bool fraction = cursor.in_fraction();
        if (!wide && small < U64_ACCUMULATE_LIMIT) {
            small = small * 10 + d;
            fraction_digits += fraction;
            continue;
        }
        if (!wide) {
            m = small;
            wide = true;
        }
        if (!fraction) {
            if (m > (U128_MAX - d) / 10) return unspanned_fault(FaultReason::OUT_OF_RANGE);
            m = m * 10 + d;
        } else if (m > (MAGNITUDE_MAX - d) / 10) {
            if (d != 0) return unspanned_fault(FaultReason::OUT_OF_RANGE);
        } else {
            m = m * 10 + d;
            ++fraction_digits;
        }
    }
    if (!wide) m = small;
    return canonical_decimal(m, fraction_digits + (percent ? 2 : 0) - scan.written_exponent, scan.negative);
}

// The value of a scanned plain numeral; percent divides it by 100. Up to 19
// digits the scan's mantissa holds them all; up to 19 on each side of the
// point the two parts join in 128 bits.
[[gnu::always_inline]] inline Verdict<ExactDecimal> decimal_value(const ScannedDecimal& scan, bool percent) noexcept {
    const std::size_t fraction_digits = scan.fraction_digits();
    const std::int64_t scale =
        static_cast<std::int64_t>(fraction_digits) + (percent ? 2 : 0) - scan.written_exponent;
    if (scan.digit_count() <= MAX_U64_DIGITS) return canonical_decimal(scan.mantissa, scale, scan.negative);
    if (scan.integer_digits() <= MAX_U64_DIGITS && fraction_digits <= MAX_U64_DIGITS) {
        // The mantissa wrapped, but modulo 2^64 it is integer * 10^f + fraction,
        // and the fraction is below 2^64. Below 10^38 the joined value needs
        // none of the long mantissa's rules.
        const std::uint64_t power = POWERS_OF_TEN[fraction_digits];
        const std::uint64_t fraction = scan.mantissa - scan.integer_value * power;
        return canonical_decimal(u128{scan.integer_value} * power + fraction, scale, scan.negative);
    }
    return convert_long_mantissa(scan, percent);
}

// A value converted from the trimmed text t, or from its normalised copy: a
// fault spans the whole trimmed text.
Verdict<ExactDecimal> spanned(const TextRange& t, const Verdict<ExactDecimal>& v) noexcept {
    if (!v.ok()) return whole_text_fault(t, v.reason());
    return v;
}

Verdict<ExactDecimal> normalize_and_convert(const TextRange& t, const NumFormat& fmt) noexcept {
    char buffer[NUMERAL_CAPACITY];
    const Verdict<Numeral> numeral = normalize_numeral(t, fmt, buffer);
    if (!numeral.ok()) return numeral.fault();
    return spanned(t, decimal_from_numeral(buffer, numeral.value.length, numeral.value.percent));
}

template <bool Shortcuts>
[[gnu::noinline]] Verdict<ExactDecimal> cast_decimal_text(const char* data, std::size_t len, const NumFormat& declared) noexcept {
    return read_numeral_text<ExactDecimal>(data, len, declared, [](const TextRange& t, const NumFormat& fmt) __attribute__((always_inline)) {
        ScannedDecimal scan;
        if (admits_plain_numerals(fmt) && scan_plain_numeral(t.data, t.length, fmt.has(NumFormat::EXPONENT), scan)) {
            return spanned(t, decimal_value(scan, false));
        }
        if constexpr (Shortcuts) {
            // The ASCII-separator shortcut: 28 significant digits at most, so
            // the value needs no rule of the long mantissa.
            const Verdict<AsciiNumber<u128>> n = read_ascii_number<u128, SHORTCUT_DIGITS>(t, fmt);
            if (!n.ok()) return Verdict<ExactDecimal>(n.fault());
            const AsciiDigits<u128>& d = n.value.digits;
            if (d.complete) return spanned(t, canonical_decimal(d.mantissa, d.fraction, n.value.negative));
        }
        return normalize_and_convert(t, fmt);
    });
}

}  // namespace

Verdict<ExactDecimal> decimal_from_numeral(const char* numeral, std::size_t length, bool percent) noexcept {
    ScannedDecimal scan;
    if (!scan_plain_numeral(reinterpret_cast<const unsigned char*>(numeral), length, true, scan)) {
        return unspanned_fault(FaultReason::MALFORMED);
    }
    return decimal_value(scan, percent);
}

std::size_t format_decimal(const ExactDecimal& value, char (&out)[DECIMAL_TEXT_BUFFER]) noexcept {
    // A 96-bit magnitude splits into at most two words below 10^19.
    constexpr std::uint64_t TEN_19 = 10'000'000'000'000'000'000ull;
    const u128 m = (u128{value.magnitude_hi} << 64) | value.magnitude_lo;
    const bool two_words = value.magnitude_hi != 0;
    const std::uint64_t low = two_words ? static_cast<std::uint64_t>(m % TEN_19) : value.magnitude_lo;
    const std::uint64_t high = two_words ? static_cast<std::uint64_t>(m / TEN_19) : 0;  // < 8 * 10^9

    // Digits of a word from its bit length (log10 2 ~ 1233 / 4096), corrected
    // by one comparison; a loop of divisions would be a long dependent chain.
    auto digit_count = [](std::uint64_t v) -> std::size_t {
        if (v < 10) return 1;
        const auto estimate = static_cast<std::size_t>(((64 - __builtin_clzll(v)) * 1233) >> 12);
        return estimate + (v >= POWERS_OF_TEN[estimate] ? 1 : 0);
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

// The short plain numeral first, the rest of the cast out of line (as the
// real casts do).
Verdict<ExactDecimal> cast_decimal(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    ShortNumeral s;
    if (reads_short_numerals(fmt) && read_short_numeral(reinterpret_cast<const unsigned char*>(data), len, s)) {
        return Verdict<ExactDecimal>::success(short_decimal(s));
    }
    return cast_decimal_text<true>(data, len, fmt);
}

Verdict<ExactDecimal> cast_decimal_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_decimal_text<false>(data, len, fmt);
}

}  // namespace quillmere::core
