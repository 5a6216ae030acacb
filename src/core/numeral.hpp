// The numeral front end shared by the integer, real and decimal casts, and the
// one entrance they come in by: trim, EMPTY, separators; then the sign,
// parentheses and currency rules; the plain-numeral scanner; the in-place
// reader of ASCII-separated digits their shortcuts share; and normalisation
// of lenient text into a plain ASCII numeral. Every operation works on the
// trimmed text (or a range inside it), so every span it reports is an offset
// into the caller's input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/digits.hpp"
#include "core/num_format.hpp"
#include "core/text.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// ---- the entrance -----------------------------------------------------------

// Under SEPARATOR_DETECT: decides "." or "," as the decimal separator from the
// text; the result has SEPARATOR_DETECT cleared. Faults on an ambiguous lone
// separator.
Verdict<NumFormat> detect_separators(const TextRange& text, const NumFormat& fmt) noexcept;

// Reads the trimmed text under the declared format or, under
// SEPARATOR_DETECT, under the one the text decides: read(text, format)
// gives the verdict, and an ambiguous separator is the verdict instead.
template <class T, class Read>
[[gnu::always_inline]] inline Verdict<T> read_under_format(const TextRange& text, const NumFormat& declared, Read read) noexcept {
    const NumFormat* fmt = &declared;
    NumFormat detected;
    if (declared.has(NumFormat::SEPARATOR_DETECT)) {
        const Verdict<NumFormat> resolved = detect_separators(text, declared);
        if (!resolved.ok()) return resolved.fault();
        detected = resolved.value;
        fmt = &detected;
    }
    return read(text, *fmt);
}

// How every numeric cast begins: trim, EMPTY when nothing is left, then the
// text under its resolved format. (The integer casts try their plain-digit
// shortcut between trimming and separators, so they call read_under_format
// themselves.)
template <class T, class Read>
[[gnu::always_inline]] inline Verdict<T> read_numeral_text(const char* data, std::size_t len, const NumFormat& declared, Read read) noexcept {
    const TextRange text = trim(data, len);
    if (text.empty()) return empty_fault();
    return read_under_format<T>(text, declared, read);
}

// ---- currency, sign and parentheses ---------------------------------------

// The number text left after the currency symbol is removed, and the sign that
// stood before a currency prefix, if any.
struct CurrencyStrip {
    TextRange number;
    bool sign_before;      // a "+" or "-" preceded the symbol
    bool negative_before;  // that sign was "-"
};

Verdict<CurrencyStrip> strip_currency(const TextRange& text, const NumFormat& fmt) noexcept;

// The outcome of the parentheses, currency and sign rules: the number text
// from its first byte after any sign, and whether the number is negative.
struct SignedNumber {
    TextRange digits;  // starts after the accepted sign
    bool negative;
};

Verdict<SignedNumber> resolve_sign(const TextRange& text, const NumFormat& fmt) noexcept;

// ---- separators -------------------------------------------------------------

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
    constexpr bool matches(const TextRange& t, std::size_t pos) const noexcept {
        if (t[pos] != bytes[0] || t.length - pos < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if (t[pos + k] != bytes[k]) return false;
        }
        return true;
    }
};

// The one rule of the group separator, wherever it is read: the `length`
// bytes at pos stand between two ASCII digits. (Whether a decimal separator
// may already have been read, and whether the exponent is tried first, is
// each reader's own grammar.)
constexpr bool is_between_digits(const TextRange& t, std::size_t pos, std::size_t length) noexcept {
    return pos > 0 && is_digit(t[pos - 1]) && pos + length < t.length && is_digit(t[pos + length]);
}

// Both separators as single ASCII bytes, for the casts' ASCII-separator
// shortcuts; false when either needs more than one byte.
constexpr bool ascii_separators(const NumFormat& fmt, unsigned char& decimal, unsigned char& group) noexcept {
    if (fmt.decimal_sep >= 0x80 || fmt.group_sep >= 0x80) return false;
    decimal = static_cast<unsigned char>(fmt.decimal_sep);
    group = static_cast<unsigned char>(fmt.group_sep);
    return true;
}

// ---- plain numerals -----------------------------------------------------------

// Whether text under this format can be a plain numeral at all: the decimal
// separator is "." and the group separator is none of a plain numeral's own
// bytes (a digit, a sign, the point, an exponent letter), so that a text
// which reads as plain means what it would mean once normalised.
constexpr bool admits_plain_numerals(const NumFormat& fmt) noexcept {
    const char32_t g = fmt.group_sep;
    return fmt.decimal_sep == U'.' && !(g >= U'0' && g <= U'9') && g != U'+' && g != U'-' && g != U'.' &&
           g != U'e' && g != U'E';
}

// Exponent digits stop accumulating at this magnitude: every nonzero value
// with such an exponent is out of every range, and a text would need this many
// digits before the exponent could bring it back.
inline constexpr std::int64_t EXPONENT_SATURATION = 100'000'000'000'000'000;  // 10^17

// A plain numeral as scanned: an optional sign, digits with at most one ".",
// at least one digit, and, where allowed, "e" or "E", an optional sign and at
// least one digit. The digits stay where they are written.
struct ScannedDecimal {
    // The digits as one integer, exact while there are at most 19 of them. The
    // real conversion keeps the first 19 significant ones when there are more.
    std::uint64_t mantissa;
    std::uint64_t integer_value;  // the digits before the point alone, exact while at most 19
    std::int64_t exponent;  // the value is mantissa * 10^exponent, exactly unless truncated
    bool negative;
    bool truncated;  // a nonzero digit was dropped: the value lies strictly above mantissa * 10^exponent
    const unsigned char* integer_begin;
    const unsigned char* integer_end;
    const unsigned char* fraction_begin;
    const unsigned char* fraction_end;
    std::int64_t written_exponent;  // the "e" part, saturating at EXPONENT_SATURATION

    std::size_t integer_digits() const noexcept { return static_cast<std::size_t>(integer_end - integer_begin); }
    std::size_t fraction_digits() const noexcept { return static_cast<std::size_t>(fraction_end - fraction_begin); }
    std::size_t digit_count() const noexcept { return integer_digits() + fraction_digits(); }
};

// The one scanner of plain numerals: the real conversion's first stage, the
// decimal conversion's grammar, and the plain test. Returns the number of
// digits, or 0 when the bytes are not a plain numeral. Everything is worked
// out in locals and the record written once: read back at once, fields
// stored in pairs would stall.
[[gnu::always_inline]] inline std::size_t scan_plain_numeral(const unsigned char* text, std::size_t length,
                                                             bool exponent_allowed, ScannedDecimal& out) noexcept {
    const unsigned char* p = text;
    const unsigned char* const end = text + length;
    bool negative = false;
    if (p != end && is_sign(*p)) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t m = 0;
    const unsigned char* const integer_begin = p;
    p = accumulate_digits(p, end, m);
    const unsigned char* const integer_end = p;
    const std::uint64_t integer_value = m;
    const unsigned char* fraction_begin = p;
    if (p != end && *p == '.') {
        fraction_begin = ++p;
        p = accumulate_digits(p, end, m);
    }
    const unsigned char* const fraction_end = p;
    const auto fraction_digits = static_cast<std::size_t>(fraction_end - fraction_begin);
    const std::size_t digits = static_cast<std::size_t>(integer_end - integer_begin) + fraction_digits;
    if (digits == 0) return 0;

    std::int64_t written = 0;
    if (exponent_allowed && p != end && is_letter(*p, 'e')) {
        ++p;
        bool negative_exponent = false;
        if (p != end && is_sign(*p)) {
            negative_exponent = *p == '-';
            ++p;
        }
        if (p == end || !is_digit(*p)) return 0;
        while (p != end && is_digit(*p)) {
            if (written < EXPONENT_SATURATION) written = written * 10 + (*p - '0');
            ++p;
        }
        if (negative_exponent) written = -written;
    }
    if (p != end) return 0;
    out.mantissa = m;
    out.integer_value = integer_value;
    out.exponent = written - static_cast<std::int64_t>(fraction_digits);
    out.negative = negative;
    out.truncated = false;
    out.integer_begin = integer_begin;
    out.integer_end = integer_end;
    out.fraction_begin = fraction_begin;
    out.fraction_end = fraction_end;
    out.written_exponent = written;
    return digits;
}

// Walks the digits of a scan in order, stepping over the decimal point.
class DigitCursor {
public:
    explicit DigitCursor(const ScannedDecimal& s) noexcept
        : p_(s.integer_begin), end_(s.integer_end), next_(s.fraction_begin), next_end_(s.fraction_end) {
        settle();
    }
    bool done() const noexcept { return p_ == end_; }
    unsigned peek() const noexcept { return static_cast<unsigned>(*p_ - '0'); }
    bool in_fraction() const noexcept { return !in_integer_; }
    void advance() noexcept {
        ++p_;
        settle();
    }
    // True when any digit from here on is nonzero.
    bool any_nonzero_left() noexcept {
        constexpr std::uint64_t ZERO_DIGITS = 0x3030303030303030ull;
        for (;;) {
            while (end_ - p_ >= 8) {
                if (load_u64_le(p_) != ZERO_DIGITS) return true;
                p_ += 8;
            }
            while (p_ != end_) {
                if (*p_ != '0') return true;
                ++p_;
            }
            if (!in_integer_) return false;
            settle();
        }
    }
    std::size_t digits_left() const noexcept {
        const std::size_t here = static_cast<std::size_t>(end_ - p_);
        return in_integer_ ? here + static_cast<std::size_t>(next_end_ - next_) : here;
    }

private:
    void settle() noexcept {
        if (p_ == end_ && in_integer_) {
            in_integer_ = false;
            p_ = next_;
            end_ = next_end_;
        }
    }
    const unsigned char* p_;
    const unsigned char* end_;
    const unsigned char* next_;
    const unsigned char* next_end_;
    bool in_integer_ = true;
};

// True when the trimmed text is already a plain numeral under the format (an
// exponent only under EXPONENT), which needs no rewriting. The format's
// separators must already be resolved.
bool is_plain_numeral(const TextRange& text, const NumFormat& fmt) noexcept;

// ---- short plain numerals -------------------------------------------------------

// A plain numeral of at most 19 digits and no exponent, as written: its value
// is mantissa / 10^scale, with the sign apart.
struct ShortNumeral {
    std::uint64_t mantissa;
    std::uint32_t scale;  // digits after the point
    bool negative;
};

// Whether the real and decimal casts may try the untrimmed text as a short
// plain numeral before anything else: a plain numeral means what it says
// under the format, and no separator is detected from the text.
constexpr bool reads_short_numerals(const NumFormat& fmt) noexcept {
    return admits_plain_numerals(fmt) && !fmt.has(NumFormat::SEPARATOR_DETECT);
}

// The common cell of a numeric column, read without the general scanner's
// record: an optional sign, then 1 to 19 digits with at most one "." among,
// before or after them, and nothing else. The point is found a word at a
// time and each side read as digit words chosen by length, so nothing in
// here loops. False hands the text on (whitespace, an exponent, more digits,
// anything else); every text it reads is a plain numeral of the same value.
[[gnu::always_inline]] inline bool read_short_numeral(const unsigned char* p, std::size_t n,
                                                      ShortNumeral& out) noexcept {
    // The sign without a branch: in a column it is as often there as not.
    if (n == 0) return false;
    const std::size_t sign_length = is_sign(*p);
    const bool negative = *p == '-';
    p += sign_length;
    n -= sign_length;
    if (n - 1 > MAX_U64_DIGITS) return false;  // 1 to 20 bytes: at most 19 digits and the point
    // The integer digits end at the first byte that is not one; the words
    // that find it give their value too. A text shorter than a word reads
    // as zero bytes past its end, which are not digits.
    const std::uint64_t first = n < 8 ? load_short_le(p, n) : load_u64_le(p);
    std::size_t point = first_non_digit(first);
    std::uint64_t integer = parse_eight_digits(align_digits(first, point));
    if (point == 8 && n > 8) {
        const std::uint64_t second = n < 16 ? load_short_le(p + 8, n - 8) : load_u64_le(p + 8);
        const std::size_t more = first_non_digit(second);
        point += more;
        if (more < 8 || n == 16) {
            integer = integer * POWERS_OF_TEN[more] + parse_eight_digits(align_digits(second, more));
        } else {
            // Seventeen digits or more: the last word overlaps digits already seen.
            point = n - 8 + first_non_digit(load_u64_le(p + n - 8));
            if (!read_digit_words(p, point, integer)) return false;  // twenty digits
        }
    }
    std::uint64_t fraction = 0;
    std::size_t scale = 0;
    if (point != n) {
        if (p[point] != '.') return false;
        scale = n - point - 1;
        if (scale == 0 ? point == 0 : !read_digit_words(p + point + 1, scale, fraction)) return false;
    }
    out = ShortNumeral{integer * POWERS_OF_TEN[scale] + fraction, static_cast<std::uint32_t>(scale), negative};
    return true;
}

// ---- the shortcuts' digits ----------------------------------------------------

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
constexpr AsciiDigits<Acc> read_ascii_digits(const TextRange& body, unsigned char decimal, unsigned char group,
                                             bool grouping, bool allow_point) noexcept {
    // The first 19 significant digits go to one word; up to nine more, for a
    // wider Acc, to a second, joined to the first at the end.
    static_assert(MaxSignificant <= MAX_U64_DIGITS + 9);
    AsciiDigits<Acc> r{0, 0, 0, 0, false, false};
    std::uint64_t high = 0, low = 0, low_scale = 1;
    const std::size_t n = body.length;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = body[i];
        if (is_digit(c)) {
            ++r.digits;
            if (r.point) ++r.fraction;
            if (r.significant == 0 && c == '0') continue;
            if (++r.significant > MaxSignificant) return r;
            if (MaxSignificant <= MAX_U64_DIGITS || r.significant <= MAX_U64_DIGITS) {
                high = high * 10 + (c - '0');
            } else {
                low = low * 10 + (c - '0');
                low_scale *= 10;
            }
        } else if (c == decimal) {
            if (!allow_point || r.point) return r;
            r.point = true;
        } else if (c == group && grouping && !r.point && is_between_digits(body, i, 1)) {
            continue;
        } else {
            return r;
        }
    }
    if constexpr (MaxSignificant <= MAX_U64_DIGITS) {
        r.mantissa = high;
    } else {
        r.mantissa = static_cast<Acc>(high) * low_scale + low;
    }
    r.complete = r.digits > 0;
    return r;
}

// A number the real and decimal shortcuts read in place: its digits and sign.
template <class Acc>
struct AsciiNumber {
    AsciiDigits<Acc> digits;  // not complete: the text is left to normalisation
    bool negative;
};

inline constexpr std::size_t NUMERAL_CAPACITY = 256;

// The ASCII-separator shortcut of the real and decimal casts, in place of
// normalisation: the sign, parentheses and currency rules, then the digits
// read without copying. A fault of the sign rules is the verdict
// normalisation would give. Texts it does not settle (separators outside
// ASCII, a percent sign, an exponent, a numeral longer than normalisation
// could hold, anything irregular) come back incomplete.
template <class Acc, unsigned MaxSignificant>
inline Verdict<AsciiNumber<Acc>> read_ascii_number(const TextRange& t, const NumFormat& fmt) noexcept {
    constexpr AsciiNumber<Acc> declined{AsciiDigits<Acc>{0, 0, 0, 0, false, false}, false};
    unsigned char decimal;
    unsigned char group;
    // Normalisation tries the exponent before the group separator, which the
    // in-place reader does not: an exponent letter as group separator is left to it.
    if (!ascii_separators(fmt, decimal, group) || is_letter(group, 'e')) {
        return Verdict<AsciiNumber<Acc>>::success(declined);
    }
    if (fmt.has(NumFormat::PERCENT) && t[t.length - 1] == '%') return Verdict<AsciiNumber<Acc>>::success(declined);
    const Verdict<SignedNumber> sign = resolve_sign(t, fmt);
    if (!sign.ok()) return sign.fault();
    AsciiNumber<Acc> n{read_ascii_digits<Acc, MaxSignificant>(sign.value.digits, decimal, group,
                                                             fmt.has(NumFormat::GROUPING), true),
                       sign.value.negative};
    // The copy normalisation would make: a "-", the digits and a ".".
    if (n.negative + n.digits.digits + n.digits.point > NUMERAL_CAPACITY) n.digits.complete = false;
    return Verdict<AsciiNumber<Acc>>::success(n);
}

// ---- normalisation ------------------------------------------------------------

// A normalised numeral written into the caller's buffer: an optional "-",
// digits with at most one ".", optionally "e", a sign and digits.
struct Numeral {
    std::size_t length;
    bool percent;  // a "%" was removed; the value is to be divided by 100
};

Verdict<Numeral> normalize_numeral(const TextRange& text, const NumFormat& fmt,
                                   char (&buffer)[NUMERAL_CAPACITY]) noexcept;

}  // namespace quillmere::core
