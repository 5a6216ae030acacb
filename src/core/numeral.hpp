// The numeral front end shared by the integer, real and decimal casts: it
// resolves separators, currency, sign and parentheses, and rewrites lenient
// numeric text into a plain ASCII numeral. Every operation works on the
// trimmed text, so every span it reports is an offset into the caller's input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/num_format.hpp"
#include "core/text.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// Under SEPARATOR_DETECT: decides "." or "," as the decimal separator from the
// text; the result has SEPARATOR_DETECT cleared. Faults on an ambiguous lone
// separator.
Verdict<NumFormat> detect_separators(const Trimmed& text, const NumFormat& fmt) noexcept;

// The format a numeric cast reads the trimmed text under: the declared one,
// or under SEPARATOR_DETECT the one the text decides, stored in `detected`.
// Null, with `fault` set, when detection finds an ambiguous separator.
inline const NumFormat* resolve_separators(const Trimmed& text, const NumFormat& declared, NumFormat& detected,
                                           Fault& fault) noexcept {
    if (!declared.has(NumFormat::SEPARATOR_DETECT)) return &declared;
    const Verdict<NumFormat> resolved = detect_separators(text, declared);
    if (!resolved.ok()) {
        fault = resolved.fault();
        return nullptr;
    }
    detected = resolved.value;
    return &detected;
}

// The number text left after the currency symbol is removed, and the sign that
// stood before a currency prefix, if any.
struct CurrencyStrip {
    Trimmed number;
    bool sign_before;      // a "+" or "-" preceded the symbol
    bool negative_before;  // that sign was "-"
};

Verdict<CurrencyStrip> strip_currency(const Trimmed& text, const NumFormat& fmt) noexcept;

// The outcome of the parentheses, currency and sign rules: the number text
// from its first byte after any sign, and whether the number is negative.
struct SignedNumber {
    Trimmed digits;  // starts after the accepted sign
    bool negative;
};

Verdict<SignedNumber> resolve_sign(const Trimmed& text, const NumFormat& fmt) noexcept;

inline constexpr std::size_t NUMERAL_CAPACITY = 256;

// A normalised numeral written into the caller's buffer: an optional "-",
// digits with at most one ".", optionally "e", a sign and digits.
struct Numeral {
    std::size_t length;
    bool percent;  // a "%" was removed; the value is to be divided by 100
};

Verdict<Numeral> normalize_numeral(const Trimmed& text, const NumFormat& fmt,
                                   char (&buffer)[NUMERAL_CAPACITY]) noexcept;

// True when the trimmed text is already a plain numeral that needs no rewriting.
// The format's separators must already be resolved (detection has run).
bool is_plain_numeral(const Trimmed& text, const NumFormat& fmt) noexcept;

// ---- Pieces the numeric casts share with this front end ----

// A sub-range [begin, end) of a text without its leading and trailing whitespace.
constexpr Trimmed trim_within(const Trimmed& t, std::size_t begin, std::size_t end) noexcept {
    while (begin < end && is_space(t[begin])) ++begin;
    while (end > begin && is_space(t[end - 1])) --end;
    return sub_text(t, begin, end - begin);
}

// A separator's UTF-8 form, matched as a whole byte sequence so that
// separators outside ASCII work.
struct SeparatorBytes {
    unsigned char bytes[4];
    std::size_t length;

    static constexpr SeparatorBytes of(char32_t cp) noexcept {
        SeparatorBytes s{{0, 0, 0, 0}, 0};
        s.length = encode_utf8(cp, s.bytes);
        return s;
    }

    // True when the separator's bytes stand at pos, wholly inside t.
    constexpr bool matches(const Trimmed& t, std::size_t pos) const noexcept {
        if (t[pos] != bytes[0] || t.length - pos < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if (t[pos + k] != bytes[k]) return false;
        }
        return true;
    }
};

// The one-character span at pos of `inner`, a sub-range of the trimmed text
// `whole`: the length is clipped to what remains of the whole trimmed text,
// not of the sub-range.
constexpr Fault char_fault_within(const Trimmed& whole, const Trimmed& inner, std::size_t pos) noexcept {
    return char_fault(whole, static_cast<std::size_t>(inner.data - whole.data) + pos);
}

// Both separators as single ASCII bytes, for the casts' ASCII-separator
// shortcuts; false when either needs more than one byte.
constexpr bool ascii_separators(const NumFormat& fmt, unsigned char& decimal, unsigned char& group) noexcept {
    if (fmt.decimal_sep >= 0x80 || fmt.group_sep >= 0x80) return false;
    decimal = static_cast<unsigned char>(fmt.decimal_sep);
    group = static_cast<unsigned char>(fmt.group_sep);
    return true;
}

// The digits of a numeral body (the number text after its sign) whose
// separators are ASCII, read in one pass without copying.
template <class Acc>
struct AsciiDigits {
    Acc mantissa;              // the significant digits as an integer
    std::uint32_t significant; // digits accumulated, leading zeros skipped
    std::uint32_t digits;      // every digit character, leading zeros included
    std::uint32_t fraction;    // digit characters after the decimal separator
    bool point;                // a decimal separator was read
    bool complete;             // the body had exactly the shape below; else nothing above counts
};

// Accepts digits; under `grouping` the group separator between two digits and
// before any decimal separator; when `allow_point`, one decimal separator
// followed by digits only; at least one digit; at most MaxSignificant
// significant digits (so that Acc cannot overflow). Anything else leaves
// `complete` false and the caller hands the text to its general path, which
// reports the exact fault. The digit test comes first, so a separator that is
// itself a digit reads as a digit, as it does in the general scans.
template <class Acc, unsigned MaxSignificant>
constexpr AsciiDigits<Acc> read_ascii_digits(const Trimmed& body, unsigned char decimal, unsigned char group,
                                             bool grouping, bool allow_point) noexcept {
    AsciiDigits<Acc> r{0, 0, 0, 0, false, false};
    const std::size_t n = body.length;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = body[i];
        if (is_digit(c)) {
            ++r.digits;
            if (r.point) ++r.fraction;
            if (r.significant == 0 && c == '0') continue;
            if (++r.significant > MaxSignificant) return r;
            r.mantissa = r.mantissa * 10 + (c - '0');
        } else if (c == decimal) {
            if (!allow_point || r.point) return r;
            r.point = true;
        } else if (c == group && grouping && !r.point && i > 0 && is_digit(body[i - 1]) && i + 1 < n &&
                   is_digit(body[i + 1])) {
            continue;
        } else {
            return r;
        }
    }
    r.complete = r.digits > 0;
    return r;
}

}  // namespace quillmere::core
