// The real casts: numeric text under a declared format to a correctly rounded
// binary64 or binary32. The cast reads as its rule does: trim, separators,
// the plain numeral or its normalised copy, conversion, infinity, percent.
#include <cmath>
#include <type_traits>

#include "core/casts.hpp"
#include "core/numeral.hpp"
#include "core/real_conversion.hpp"
#include "core/reference_paths.hpp"

namespace quillmere::core {

namespace {

// The infinity test comes before the percent division: "1e309%" is out of
// range although its hundredth would be finite.
template <class Float>
[[gnu::always_inline]] inline Verdict<Float> real_verdict(Float value, bool percent, const TextRange& t) noexcept {
    if (std::isinf(value)) return whole_text_fault(t, FaultReason::OUT_OF_RANGE);
    if (percent) value = divide_by_hundred(value);
    return Verdict<Float>::success(value);
}

template <class Float>
Verdict<Float> normalize_and_convert(const TextRange& t, const NumFormat& fmt) noexcept {
    char buffer[NUMERAL_CAPACITY];
    const Verdict<Numeral> numeral = normalize_numeral(t, fmt, buffer);
    if (!numeral.ok()) return numeral.fault();
    const auto* digits = reinterpret_cast<const unsigned char*>(buffer);
    ConvertedReal<Float> converted;
    if constexpr (std::is_same_v<Float, double>) {
        converted = convert_f64(digits, numeral.value.length);
    } else {
        converted = convert_f32(digits, numeral.value.length);
    }
    if (!converted.ok) return whole_text_fault(t);
    return real_verdict(converted.value, numeral.value.percent, t);
}

// The ASCII-separator shortcut, in place of normalisation: it settles the
// lenient texts whose at most 19 significant digits stages 2 and 3 convert.
// False hands the text on.
template <class Float>
bool read_ascii_real(const TextRange& t, const NumFormat& fmt, Verdict<Float>& verdict) noexcept {
    const Verdict<AsciiNumber<std::uint64_t>> n = read_ascii_number<std::uint64_t, MAX_U64_DIGITS>(t, fmt);
    if (!n.ok()) {
        verdict = n.fault();
        return true;
    }
    const AsciiDigits<std::uint64_t>& d = n.value.digits;
    if (!d.complete) return false;
    Float magnitude = Float{0};
    if (d.mantissa != 0 && !real::convert_mantissa(d.mantissa, -static_cast<std::int64_t>(d.fraction), magnitude)) {
        return false;
    }
    verdict = real_verdict(n.value.negative ? -magnitude : magnitude, false, t);
    return true;
}

template <class Float, bool Shortcuts>
[[gnu::noinline]] Verdict<Float> cast_real(const char* data, std::size_t len, const NumFormat& declared) noexcept {
    return read_numeral_text<Float>(data, len, declared, [](const TextRange& t, const NumFormat& fmt) __attribute__((always_inline)) {
        // A plain numeral goes straight to the conversion, whose scan is the
        // plain test: a text it refuses is not plain.
        if (admits_plain_numerals(fmt)) {
            const ConvertedReal<Float> plain = real::convert_numeral<Float>(t.data, t.length, fmt.has(NumFormat::EXPONENT));
            if (plain.ok) return real_verdict(plain.value, false, t);
        }
        if constexpr (Shortcuts) {
            Verdict<Float> verdict;
            if (read_ascii_real(t, fmt, verdict)) return verdict;
        }
        return normalize_and_convert<Float>(t, fmt);
    });
}

// The short plain numeral, the common cell, read before anything else; the
// rest of the cast is out of line, so that the common cell does not set up
// the general reader's large frame.
template <class Float>
[[gnu::always_inline]] inline Verdict<Float> cast_real_shortcut_first(const char* data, std::size_t len,
                                                                      const NumFormat& fmt) noexcept {
    ShortNumeral s;
    Float value;
    if (reads_short_numerals(fmt) && read_short_numeral(reinterpret_cast<const unsigned char*>(data), len, s) &&
        real::convert_short_numeral(s, value)) {
        return Verdict<Float>::success(value);
    }
    return cast_real<Float, true>(data, len, fmt);
}

}  // namespace

Verdict<double> cast_f64(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real_shortcut_first<double>(data, len, fmt);
}
Verdict<float> cast_f32(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real_shortcut_first<float>(data, len, fmt);
}
Verdict<double> cast_f64_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real<double, false>(data, len, fmt);
}
Verdict<float> cast_f32_general(const char* data, std::size_t len, const NumFormat& fmt) noexcept {
    return cast_real<float, false>(data, len, fmt);
}

}  // namespace quillmere::core
