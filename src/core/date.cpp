// Calendar dates: the strict ISO form "yyyy-MM-dd", and three digit fields
// joined by "-", "." or "/" read under a declared field order.
#include "core/date.hpp"

#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/digits.hpp"

namespace quillmere::core {

namespace {

constexpr bool is_date_separator(unsigned char b) noexcept { return b == '-' || b == '.' || b == '/'; }

constexpr DateField field_of(const DigitRun& run) noexcept {
    return DateField{static_cast<std::uint32_t>(run.value), run.start, run.length()};
}

}  // namespace

Verdict<CivilDate> cast_date(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    if (t.length != 10) return whole_text_fault(t);
    // The whole form first, left to right, then the values.
    const Verdict<SeparatedDate> form = read_iso_date(t);
    if (!form.ok()) return form.fault();
    return validate_date_fields(t, form.value);
}

Verdict<SeparatedDate> parse_separated_date(const TextRange& t, DateOrder order) noexcept {
    const std::size_t n = t.length;

    // The common year-first shape yyyy?MM?dd, not followed by a further digit,
    // reads the same under every order; anything else takes the general path.
    if (n >= 10 && (n == 10 || !is_digit(t[10]))) {
        const unsigned char* p = t.data;
        if (is_digit(p[0]) && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3]) && is_date_separator(p[4]) &&
            is_digit(p[5]) && is_digit(p[6]) && p[7] == p[4] && is_digit(p[8]) && is_digit(p[9])) {
            return Verdict<SeparatedDate>::success(date_digits::year_first_fields(p));
        }
    }

    // Field 1, which also decides whether the text is year-first.
    if (n == 0 || !is_digit(t[0])) return span_fault(t, 0, 1);
    const DigitRun first = read_digit_run(t.data, n, 0);
    if (first.overlong) return span_fault(t, first.end, 1);
    if (first.end == n) return first.length() <= 4 ? end_fault(t) : whole_text_fault(t);
    if (first.length() > 4) return span_fault(t, 0, first.length());

    const std::size_t j = first.end;
    const unsigned char separator = t[j];
    if (!is_date_separator(separator)) return span_fault(t, j, 1);

    // Field 2.
    const std::size_t w = j + 1;
    if (w == n) return end_fault(t);
    const DigitRun second = read_digit_run(t.data, n, w);
    if (second.overlong) return span_fault(t, second.end, 1);
    if (second.end == n) return second.length() <= 4 ? end_fault(t) : span_fault(t, w, second.length());
    if (second.length() == 0) return span_fault(t, w, 1);
    if (second.length() > 4) return span_fault(t, w, second.length());
    if (t[second.end] != separator) return span_fault(t, second.end, 1);

    // Field 3; whatever follows it belongs to the caller.
    const std::size_t x = second.end + 1;
    if (x == n) return end_fault(t);
    const DigitRun third = read_digit_run(t.data, n, x);
    if (third.overlong) return span_fault(t, third.end, 1);
    if (third.length() == 0) return span_fault(t, x, 1);
    if (third.length() > 4) return span_fault(t, x, third.length());

    SeparatedDate d{};
    const DateField f1 = field_of(first), f2 = field_of(second), f3 = field_of(third);
    if (first.length() == 4 || order == DateOrder::YMD) {
        d.year = f1, d.month = f2, d.day = f3;
    } else if (order == DateOrder::MDY) {
        d.month = f1, d.day = f2, d.year = f3;
    } else {
        d.day = f1, d.month = f2, d.year = f3;
    }
    d.end = third.end;

    if (d.month.length > 2) return date_digits::field_fault(t, d.month, FaultReason::MALFORMED);
    if (d.day.length > 2) return date_digits::field_fault(t, d.day, FaultReason::MALFORMED);
    if (d.year.length != 4) return date_digits::field_fault(t, d.year, FaultReason::MALFORMED);
    return Verdict<SeparatedDate>::success(d);
}

Verdict<CivilDate> cast_date_ordered(const char* data, std::size_t len, DateOrder order) noexcept {
    return read_separated_date<CivilDate>(data, len, order, [](const TextRange& t, const SeparatedDate& d) {
        if (d.end != t.length) return Verdict<CivilDate>(char_fault(t, d.end));
        return validate_date_fields(t, d);
    });
}

}  // namespace quillmere::core
