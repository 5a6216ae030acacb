// Civil-calendar arithmetic of the proleptic Gregorian calendar, shared by
// every temporal cast. Day 0 is 1970-01-01; valid for all years.
#pragma once

#include <cstdint>

namespace quillmere::core {

constexpr bool is_leap_year(std::int64_t y) noexcept { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

constexpr unsigned days_in_month(std::int64_t y, unsigned m) noexcept {
    constexpr unsigned char lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap_year(y) ? 29u : lengths[m - 1];
}

// a / b rounded toward negative infinity, for counts on either side of day 0.
constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from 1970-01-01, counting months from March so the leap day comes last.
constexpr std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
    const std::int64_t year = m <= 2 ? y - 1 : y;
    const std::int64_t month = m <= 2 ? m + 9 : m - 3;  // 0..11 from March
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * month + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The same count for the years four digits write (0001 to 9999): no era
// arithmetic, which only years below zero need, and no branch on the month,
// which a column of random dates would mispredict.
constexpr std::int64_t days_from_civil_four_digit_year(unsigned y, unsigned m, unsigned d) noexcept {
    const unsigned before_march = m <= 2;
    const std::uint64_t year = y - before_march;
    const unsigned month = m + 12 * before_march - 3;  // 0..11 from March
    const std::uint64_t doy = (153 * month + 2) / 5 + d - 1;
    return static_cast<std::int64_t>(year * 365 + year / 4 - year / 100 + year / 400 + doy) - 719468;
}

struct CivilFields {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

constexpr CivilFields civil_from_days(std::int64_t z) noexcept {
    z += 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const unsigned d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    return CivilFields{yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

}  // namespace quillmere::core
