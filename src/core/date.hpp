// The separated-date reader shared by the ordered date cast and the date-time
// cast, and the value checks both apply to its fields.
#pragma once

#include <cstddef>
#include <cstdint>

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
Verdict<SeparatedDate> parse_separated_date(const Trimmed& t, DateOrder order) noexcept;

// The fixed form "yyyy-MM-dd" in the first ten bytes of a trimmed text of at
// least ten bytes: MALFORMED over the first field or hyphen out of place, left
// to right. The fields come back unchecked, for validate_date_fields.
Verdict<SeparatedDate> read_iso_date(const Trimmed& t) noexcept;

// The value checks of a date read by parse_separated_date or read_iso_date, in the order year,
// month, day; each fault spans its field.
Verdict<CivilDate> validate_date_fields(const Trimmed& t, const SeparatedDate& d) noexcept;

}  // namespace quillmere::core
