#include "core/numeral.hpp"

#include <cstring>

namespace quillmere::core {

namespace {

// A lone "." or "," is ambiguous when exactly three digits follow it, as in a
// thousands group, unless it follows a single "0" ("0.123" is a fraction).
bool is_ambiguous_lone_separator(const TextRange& t, std::size_t pos) noexcept {
    std::size_t after = 0;
    while (pos + 1 + after < t.length && is_digit(t[pos + 1 + after])) ++after;
    if (after != 3) return false;
    std::size_t before = 0;
    while (before < pos && is_digit(t[pos - 1 - before])) ++before;
    return !(before == 1 && t[pos - 1] == '0');
}

// Appends to the normalised numeral; false once the buffer is full.
struct NumeralWriter {
    char* buffer;
    std::size_t length;

    bool put(unsigned char c) noexcept {
        if (length == NUMERAL_CAPACITY) return false;
        buffer[length++] = static_cast<char>(c);
        return true;
    }
};

}  // namespace

Verdict<NumFormat> detect_separators(const TextRange& text, const NumFormat& fmt) noexcept {
    std::size_t dots = 0, commas = 0, last_dot = 0, last_comma = 0;
    for (std::size_t i = 0; i < text.length; ++i) {
        if (text[i] == '.') {
            ++dots;
            last_dot = i;
        } else if (text[i] == ',') {
            ++commas;
            last_comma = i;
        }
    }

    bool comma_decimal = false;
    if (dots == 0 && commas == 1) {
        if (is_ambiguous_lone_separator(text, last_comma)) return span_fault(text, last_comma, 1);
        comma_decimal = true;
    } else if (dots == 1 && commas == 0) {
        if (is_ambiguous_lone_separator(text, last_dot)) return span_fault(text, last_dot, 1);
    } else if (dots >= 2 && commas == 0) {
        comma_decimal = true;
    } else if (dots >= 1 && commas >= 1) {
        comma_decimal = last_comma > last_dot;  // the later one is the decimal separator
    }

    NumFormat resolved = fmt;
    resolved.decimal_sep = comma_decimal ? U',' : U'.';
    resolved.group_sep = comma_decimal ? U'.' : U',';
    resolved.flags &= ~NumFormat::SEPARATOR_DETECT;
    return Verdict<NumFormat>::success(resolved);
}

Verdict<CurrencyStrip> strip_currency(const TextRange& text, const NumFormat& fmt) noexcept {
    const std::size_t symbol_len = fmt.currency_len;
    if (!fmt.has(NumFormat::CURRENCY) || symbol_len == 0) {
        return Verdict<CurrencyStrip>::success({text, false, false});
    }
    const std::size_t n = text.length;

    const bool signed_prefix = n > 0 && is_sign(text[0]);
    const std::size_t body = signed_prefix ? 1 : 0;
    if (n - body >= symbol_len && std::memcmp(text.data + body, fmt.currency, symbol_len) == 0) {
        const TextRange rest = trim_within(text, body + symbol_len, n);
        if (rest.empty()) return whole_text_fault(text);
        return Verdict<CurrencyStrip>::success({rest, signed_prefix, signed_prefix && text[0] == '-'});
    }

    if (n >= symbol_len && std::memcmp(text.data + n - symbol_len, fmt.currency, symbol_len) == 0) {
        const TextRange front = trim_within(text, 0, n - symbol_len);
        if (front.empty()) return whole_text_fault(text);
        return Verdict<CurrencyStrip>::success({front, false, false});
    }

    return Verdict<CurrencyStrip>::success({text, false, false});
}

Verdict<SignedNumber> resolve_sign(const TextRange& text, const NumFormat& fmt) noexcept {
    TextRange body = text;
    const bool parenthesised = fmt.has(NumFormat::PARENTHESES) && text.length > 0 && text[0] == '(';
    if (parenthesised) {
        if (text.length < 2 || text[text.length - 1] != ')') return whole_text_fault(text);
        body = trim_within(text, 1, text.length - 1);
        if (body.empty()) return whole_text_fault(text);
    }

    const Verdict<CurrencyStrip> strip = strip_currency(body, fmt);
    if (!strip.ok()) return strip.fault();
    const TextRange& number = strip.value.number;

    // At most one sign: at the start, or right after a currency prefix, and
    // never inside parentheses.
    if (number.length > 0 && is_sign(number[0])) {
        if (strip.value.sign_before || parenthesised) return span_fault(number, 0, 1);
        return Verdict<SignedNumber>::success({sub_range(number, 1, number.length - 1), number[0] == '-'});
    }
    if (strip.value.sign_before) {
        if (parenthesised) return span_fault(number, 0, 1);
        return Verdict<SignedNumber>::success({number, strip.value.negative_before});
    }
    return Verdict<SignedNumber>::success({number, parenthesised});
}

Verdict<Numeral> normalize_numeral(const TextRange& text, const NumFormat& fmt,
                                   char (&buffer)[NUMERAL_CAPACITY]) noexcept {
    TextRange body = text;
    bool percent = false;
    if (fmt.has(NumFormat::PERCENT) && text.length > 0 && text[text.length - 1] == '%') {
        const TextRange before = trim_within(text, 0, text.length - 1);
        if (before.empty()) return whole_text_fault(text);
        body = before;
        percent = true;
    }

    const Verdict<SignedNumber> sign = resolve_sign(body, fmt);
    if (!sign.ok()) return sign.fault();
    const TextRange& number = sign.value.digits;

    NumeralWriter out{buffer, 0};
    if (sign.value.negative) out.put('-');

    const SeparatorBytes decimal = SeparatorBytes::of(fmt.decimal_sep);
    const SeparatorBytes group = SeparatorBytes::of(fmt.group_sep);
    const bool grouping = fmt.has(NumFormat::GROUPING);
    const bool exponent = fmt.has(NumFormat::EXPONENT);
    bool digit_seen = false;
    bool point_taken = false;

    std::size_t i = 0;
    while (i < number.length) {
        const unsigned char c = number[i];
        if (is_digit(c)) {
            if (!out.put(c)) return whole_text_fault(text);
            digit_seen = true;
            ++i;
        } else if (decimal.matches(number, i)) {
            if (point_taken) return span_fault(number, i, decimal.length);
            if (!out.put('.')) return whole_text_fault(text);
            point_taken = true;
            i += decimal.length;
        } else if ((c == 'e' || c == 'E') && exponent && digit_seen) {
            // The exponent is tried before the group separator, so a group
            // separator "e" reads as an exponent here.
            const std::size_t e = i++;
            if (!out.put('e')) return whole_text_fault(text);
            if (i < number.length && is_sign(number[i])) {
                if (!out.put(number[i])) return whole_text_fault(text);
                ++i;
            }
            if (i == number.length || !is_digit(number[i])) return span_fault(number, e, 1);
            for (; i < number.length; ++i) {
                if (!is_digit(number[i])) return char_fault_within(text, number, i);
                if (!out.put(number[i])) return whole_text_fault(text);
            }
        } else if (grouping && group.matches(number, i)) {
            if (point_taken || !is_between_digits(number, i, group.length)) return span_fault(number, i, group.length);
            i += group.length;
        } else {
            return char_fault_within(text, number, i);
        }
    }
    if (!digit_seen) return whole_text_fault(text);
    return Verdict<Numeral>::success({out.length, percent});
}

bool is_plain_numeral(const TextRange& text, const NumFormat& fmt) noexcept {
    ScannedDecimal scan;
    return admits_plain_numerals(fmt) && scan_plain_numeral(text.data, text.length, fmt.has(NumFormat::EXPONENT), scan);
}

}  // namespace quillmere::core
