// The separated-date reader shared by the ordered date cast and the date-time
// cast, and the value checks both apply to its fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/civil.hpp"
#include "core/text.hpp"
#include "core/values.hpp"
#include "core/verdict.hpp"

namespace quillmere::core {

// One digit field of a separated date: its value and where it lies in the
// trimmed text (positions, not input offsets).
struct DateField {
    std::uint32_t value;
    std::size_t pos;
    std::size_t length;
};

// The three fields by role, and the index just past the third field.
struct SeparatedDate {
    DateField year;
    DateField month;
    DateField day;
    std::size_t end;
};

// Reads three digit fields joined by one repeated "-", "." or "/" from the
// start of the trimmed text and assigns them roles under `order` (a four-digit
// first field always reads year, month, day). The shape and the field lengths
// by role are checked; bytes after the third field are left to the caller, and
// so are the values.
Verdict<SeparatedDate> parse_separated_date(const TextRange& t, DateOrder order) noexcept;

// The start of the casts that read a separated date: trim, EMPTY for nothing
// left, the date fields; read(text, fields) reads the rest and gives the verdict.
template <class T, class Read>
inline Verdict<T> read_separated_date(const char* data, std::size_t len, DateOrder order, Read read) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();
    const Verdict<SeparatedDate> parsed = parse_separated_date(t, order);
    if (!parsed.ok()) return parsed.fault();
    return read(t, parsed.value);
}

namespace date_digits {

constexpr unsigned two_digits(const unsigned char* p) noexcept { return (p[0] - '0') * 10u + (p[1] - '0'); }

// The fields of a well-formed yyyy?MM?dd at the start of the text.
constexpr SeparatedDate year_first_fields(const unsigned char* p) noexcept {
    SeparatedDate d{};
    d.year = DateField{two_digits(p) * 100 + two_digits(p + 2), 0, 4};
    d.month = DateField{two_digits(p + 5), 5, 2};
    d.day = DateField{two_digits(p + 8), 8, 2};
    d.end = 10;
    return d;
}

constexpr Fault field_fault(const TextRange& t, const DateField& f, FaultReason reason) noexcept {
    return span_fault(t, f.pos, f.length, reason);
}

}  // namespace date_digits

// The fixed form "yyyy-MM-dd" in the first ten bytes of a trimmed text of at
// least ten bytes: MALFORMED over the first field or hyphen out of place, left
// to right. The fields come back unchecked, for validate_date_fields.
inline Verdict<SeparatedDate> read_iso_date(const TextRange& t) noexcept {
    const unsigned char* p = t.data;
    if (!(is_digit(p[0]) && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3]))) return span_fault(t, 0, 4);
    if (p[4] != '-') return span_fault(t, 4, 1);
    if (!(is_digit(p[5]) && is_digit(p[6]))) return span_fault(t, 5, 2);
    if (p[7] != '-') return span_fault(t, 7, 1);
    if (!(is_digit(p[8]) && is_digit(p[9]))) return span_fault(t, 8, 2);
    return Verdict<SeparatedDate>::success(date_digits::year_first_fields(p));
}

// The value checks of a date read by parse_separated_date or read_iso_date, in the order year,
// month, day; each fault spans its field.
inline Verdict<CivilDate> validate_date_fields(const TextRange& t, const SeparatedDate& d) noexcept {
    const std::uint32_t year = d.year.value, month = d.month.value, day = d.day.value;
    using date_digits::field_fault;
    if (year == 0) return field_fault(t, d.year, FaultReason::OUT_OF_RANGE);
    if (month < 1 || month > 12) return field_fault(t, d.month, FaultReason::OUT_OF_RANGE);
    if (day < 1 || day > days_in_month(year, month)) return field_fault(t, d.day, FaultReason::OUT_OF_RANGE);

    CivilDate v{};
    v.year = static_cast<std::uint16_t>(year);
    v.month = static_cast<std::uint8_t>(month);
    v.day = static_cast<std::uint8_t>(day);
    return Verdict<CivilDate>::success(v);
}

}  // namespace quillmere::core
