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
bool is_plain_numeral(const Trimmed& text, const NumFormat& fmt) noexcept;

}  // namespace quillmere::core
