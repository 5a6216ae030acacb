#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/excel.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;
using u128 = unsigned __int128;
using i128 = __int128;

constexpr std::uint64_t S = NANOS_PER_SECOND;
constexpr std::uint64_t H = 3600 * S;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

::testing::AssertionResult Splits(double x, std::uint64_t days, std::uint64_t nanos) {
    const DaySplit got = split_day_fraction(x);
    if (got.days == days && got.nanos == nanos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.days << ", " << got.nanos << ")";
}

TEST(SplitDayFraction, TakesTheRoundestTimeTheDoubleStandsFor) {
    struct Case {
        double x;
        std::uint64_t days, nanos;
    } cases[] = {
        {0.0, 0, 0},
        {-0.0, 0, 0},
        {0.5, 0, 12 * H},
        {1.0 / 3.0, 0, 8 * H},
        {0.1, 0, 2 * H + 24 * 60 * S},
        {1.0 / 86400.0, 0, S},
        {44927.99998842592, 44927, 86399 * S},
        {std::nextafter(1.0, 0.0), 1, 0},
        {1e-10, 0, 8640},
        // Several multiples of 100 in the interval and no multiple of 1000:
        // the one nearest the exact value 10666666569490.9 is taken.
        {45000.123456789, 45000, 10666666569500},
        // No whole nanosecond rounds back: the exact value rounded to nearest.
        {12.3456789012345, 12, 29866657066661},
        {45000.75, 45000, 18 * H},
        {std::ldexp(1.0, -73), 0, 0},                   // exact value ~9.1e-9 ns
        {std::ldexp(1.0, -74), 0, 0},                   // below the cut-off
        {std::numeric_limits<double>::denorm_min(), 0, 0},
        {2958465.0, 2958465, 0},
        {std::nextafter(32.0, 0.0), 32, 0},             // rounds up into the next day
        {std::nextafter(2958466.0, 0.0), 2958465, 86399999960000},
        {std::ldexp(1.0, 40), std::uint64_t{1} << 40, 0},  // outside the domain: whole days only
        {1e300, ~std::uint64_t{0}, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(Splits(c.x, c.days, c.nanos)) << std::hexfloat << c.x;
}

// An independent reading of the same rule: which nanosecond counts J round
// back to x is decided from x's neighbours (nextafter) by exact comparison,
// and the roundest of them is picked by enumerating the few candidates.
struct Dyadic {
    u128 m;  // value m * 2^e
    int e;
};

Dyadic dyadic(double x) {
    int e = 0;
    const double f = std::frexp(x, &e);
    return Dyadic{static_cast<u128>(std::ldexp(f, 53)), e - 53};
}

// Sign of a - b for a = p * 2^pe and b = q * 2^qe; magnitudes stay below 2^110 here.
int compare(u128 p, int pe, u128 q, int qe) {
    const int low = pe < qe ? pe : qe;
    const u128 a = p << (pe - low);
    const u128 b = q << (qe - low);
    return a < b ? -1 : a > b ? 1 : 0;
}

constexpr u128 C = NANOS_PER_DAY;

// Does J / (86400 * 10^9) round to x under round-half-to-even?
bool rounds_to(u128 j, double x, const Dyadic& d, const Dyadic& below, const Dyadic& above) {
    // Midpoints: (x + neighbour) / 2 compared with J / C as J * 2 vs (x + n) * C.
    auto side = [&](const Dyadic& n) {
        const int low = d.e < n.e ? d.e : n.e;
        const u128 sum = (d.m << (d.e - low)) + (n.m << (n.e - low));
        return compare(j * 2, 0, sum * C, low);
    };
    const bool even = (d.m & 1) == 0;
    const int up = side(above);
    const int down = side(below);
    (void)x;
    return (up < 0 || (up == 0 && even)) && (down > 0 || (down == 0 && even));
}

DaySplit reference_split(double x) {
    const Dyadic d = dyadic(x);
    const Dyadic below = dyadic(std::nextafter(x, 0.0));
    const Dyadic above = dyadic(std::nextafter(x, INF));
    // Exact value V = m * C * 2^e; its floor and whether it is at least a half past.
    const u128 vm = d.m * C;
    const int shift = -d.e;
    const u128 floor_v = vm >> shift;
    const u128 frac = vm & ((u128{1} << shift) - 1);
    const u128 days = d.m >> shift;
    const u128 base = days * C;

    // Integer interval by binary search on either side of floor(V).
    auto in = [&](u128 j) { return rounds_to(j, x, d, below, above); };
    const u128 width = ((d.m * C) >> shift) / (u128{1} << 20) + 4;  // far wider than half an ulp
    u128 lo, hi;
    bool any = false;
    u128 seed = floor_v;
    if (!in(seed)) seed = floor_v + 1;
    if (in(seed)) {
        any = true;
        u128 a = seed > width ? seed - width : 0, b = seed;  // smallest J in [a, b] with in(J)
        while (a < b) {
            const u128 mid = a + (b - a) / 2;
            if (in(mid)) b = mid; else a = mid + 1;
        }
        lo = a;
        a = seed, b = seed + width;
        while (a < b) {
            const u128 mid = b - (b - a) / 2;
            if (in(mid)) a = mid; else b = mid - 1;
        }
        hi = a;
    }
    u128 j = 0;
    if (!any) {
        j = floor_v + ((frac << 1) >= (u128{1} << shift) ? 1 : 0);
    } else if (hi / S * S >= lo) {
        j = hi / S * S;
    } else {
        bool found = false;
        for (int k = 8; k >= 0 && !found; --k) {
            u128 step = 1;
            for (int i = 0; i < k; ++i) step *= 10;
            for (u128 c = (lo + step - 1) / step * step; c <= hi; c += step) {
                if (!found) {
                    j = c;
                    found = true;
                    continue;
                }
                // Nearer to V = vm / 2^shift?  |c - V| vs |j - V| exactly.
                auto distance_twice = [&](u128 cand) {
                    const u128 scaled = cand << shift;  // below 2^110 on this domain
                    return scaled > vm ? scaled - vm : vm - scaled;
                };
                if (distance_twice(c) < distance_twice(j)) j = c;
            }
        }
    }
    if (j - base >= C) return DaySplit{static_cast<std::uint64_t>(days + 1), static_cast<std::uint64_t>(j - base - C)};
    return DaySplit{static_cast<std::uint64_t>(days), static_cast<std::uint64_t>(j - base)};
}

TEST(SplitDayFraction, AgreesWithAnIndependentReading) {
    std::mt19937_64 rng(20240601);
    std::vector<double> xs;
    // Whole seconds and milliseconds of days across the serial range, and
    // their neighbouring doubles.
    for (int i = 0; i < 20000; ++i) {
        const double day = static_cast<double>(rng() % 2958466);
        const double second = static_cast<double>(rng() % 86400);
        const double milli = static_cast<double>(rng() % 86400000);
        const double a = day + second / 86400.0;
        const double b = day + milli / 86400000.0;
        for (double v : {a, b, second / 86400.0, milli / 86400000.0}) {
            xs.push_back(v);
            xs.push_back(std::nextafter(v, 0.0));
            xs.push_back(std::nextafter(v, INF));
        }
    }
    // Powers of two, near-integers, and doubles just below a day boundary.
    for (int e = -70; e < 22; ++e) {
        const double p = std::ldexp(1.0, e);
        xs.push_back(p);
        xs.push_back(std::nextafter(p, 0.0));
        xs.push_back(std::nextafter(p, INF));
    }
    for (int i = 0; i < 5000; ++i) {
        double v = static_cast<double>(rng() % 2958466 + 1);
        for (int k = 0; k < 4; ++k) {
            v = std::nextafter(v, 0.0);
            xs.push_back(v);
        }
    }
    // Arbitrary doubles in [2^-73, 2958466) by their bits, and uniform ones.
    std::uniform_real_distribution<double> uniform(0.0, 2958466.0);
    for (int i = 0; i < 40000; ++i) {
        const std::uint64_t bits = (rng() % ((std::uint64_t{1045} - 950) << 52)) + (std::uint64_t{950} << 52);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        xs.push_back(v);
        xs.push_back(uniform(rng));
    }
    int failures = 0;
    for (double x : xs) {
        // Below 2^-70 the reference's exact comparisons would leave 128 bits.
        if (x < std::ldexp(1.0, -70) || x >= 2958466.0) continue;
        const DaySplit want = reference_split(x);
        const DaySplit got = split_day_fraction(x);
        if (got.days != want.days || got.nanos != want.nanos) {
            ADD_FAILURE() << std::hexfloat << x << std::defaultfloat << " got (" << got.days << ", " << got.nanos
                          << ") want (" << want.days << ", " << want.nanos << ")";
            if (++failures > 10) break;
        }
    }
}

Verdict<Instant> serial(const std::string& s, ExcelEpoch epoch) { return cast_excel_serial(s.data(), s.size(), epoch); }

::testing::AssertionResult IsInstantAt(const Verdict<Instant>& v, int y, unsigned mo, unsigned d, std::uint64_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    const std::int64_t want = days_from_civil(y, mo, d) * 86400 + static_cast<std::int64_t>(nanos / S);
    if (v.value.seconds == want && v.value.nanos == nanos % S) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << v.value.seconds << ", " << v.value.nanos << ")";
}

TEST(CastExcelSerial, ReadsBothNumberings) {
    constexpr auto E1900 = ExcelEpoch::EPOCH_1900;
    constexpr auto E1904 = ExcelEpoch::EPOCH_1904;
    struct Case {
        const char* text;
        ExcelEpoch epoch;
        int y;
        unsigned m, d;
        std::uint64_t nanos;
    } cases[] = {
        {"1", E1900, 1900, 1, 1, 0},
        {"59", E1900, 1900, 2, 28, 0},
        {"61", E1900, 1900, 3, 1, 0},
        {"45000.75", E1900, 2023, 3, 15, 18 * H},
        {" 45000.5 ", E1900, 2023, 3, 15, 12 * H},
        {"2958465", E1900, 9999, 12, 31, 0},
        {"2958465.99999999999999", E1900, 9999, 12, 31, NANOS_PER_DAY - 1},  // 14 digits, truncated
        {"1.000000000000009", E1900, 1900, 1, 1, 0},                       // 15th digit dropped
        {"1.0000000000001", E1900, 1900, 1, 1, 8},
        {"0.00001157407407407", E1904, 1904, 1, 1, S - 1},  // truncated, not rounded
        {"00000000000000000000000061", E1900, 1900, 3, 1, 0},              // leading zeros, any count
        {"0", E1904, 1904, 1, 1, 0},
        {"0.5", E1904, 1904, 1, 1, 12 * H},
        {"2957003", E1904, 9999, 12, 31, 0},
        {"60", E1904, 1904, 3, 1, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsInstantAt(serial(c.text, c.epoch), c.y, c.m, c.d, c.nanos)) << c.text;
}

TEST(CastExcelSerial, Faults) {
    constexpr auto E1900 = ExcelEpoch::EPOCH_1900;
    constexpr auto E1904 = ExcelEpoch::EPOCH_1904;
    constexpr auto M = FaultReason::MALFORMED;
    constexpr auto R = FaultReason::OUT_OF_RANGE;
    struct Case {
        std::string text;
        ExcelEpoch epoch;
        FaultReason reason;
        std::uint32_t offset, length;
    } cases[] = {
        {"", E1900, FaultReason::EMPTY, 0, 0},
        {" \t", E1904, FaultReason::EMPTY, 0, 0},
        {"-1", E1900, M, 0, 1},
        {"+1", E1900, M, 0, 1},
        {"1.", E1900, M, 1, 1},
        {".5", E1900, M, 0, 1},
        {"1,5", E1900, M, 1, 1},
        {"45000.5x", E1900, M, 7, 1},
        {"1e5", E1900, M, 1, 1},
        {"1.5.5", E1900, M, 3, 1},
        {" 12\xc3\xa9", E1900, M, 3, 2},
        {"\xc3\xa9", E1900, M, 0, 2},
        {"60", E1900, R, 0, 2},
        {"60.5", E1900, R, 0, 4},
        {"0", E1900, R, 0, 1},
        {"0.5", E1900, R, 0, 3},
        {" 2958466 ", E1900, R, 1, 7},
        {"2957004", E1904, R, 0, 7},
        {"99999999999999999999", E1900, R, 0, 20},     // beyond 64 bits
        {"99999999999999999999x", E1900, M, 20, 1},  // the form is read first
    };
    testing_support::expect_fault_rows(cases, [](const Case& c) { return serial(c.text, c.epoch); });
}

TEST(CastExcelSerialFromDouble, DatesTimesAndFaults) {
    struct Case {
        ExcelEpoch epoch;
        double x;
        int y;
        unsigned m, d;
        std::uint64_t nanos;
    } cases[] = {
        {ExcelEpoch::EPOCH_1900, 1.0, 1900, 1, 1, 0},
        {ExcelEpoch::EPOCH_1900, 59.99999999999999, 1900, 2, 28, NANOS_PER_DAY - 1},
        {ExcelEpoch::EPOCH_1900, std::nextafter(32.0, 0.0), 1900, 2, 1, 0},  // rounds up to midnight
        {ExcelEpoch::EPOCH_1900, std::nextafter(2958466.0, 0.0), 9999, 12, 31, 86399999960000},
        {ExcelEpoch::EPOCH_1904, std::nextafter(2957004.0, 0.0), 9999, 12, 31, 86399999960000},
        {ExcelEpoch::EPOCH_1900, 61.25, 1900, 3, 1, 6 * H},
        {ExcelEpoch::EPOCH_1900, 45000.75, 2023, 3, 15, 18 * H},
        {ExcelEpoch::EPOCH_1900, 2958465.5, 9999, 12, 31, 12 * H},
        {ExcelEpoch::EPOCH_1904, 0.0, 1904, 1, 1, 0},
        {ExcelEpoch::EPOCH_1904, -0.0, 1904, 1, 1, 0},
        {ExcelEpoch::EPOCH_1904, 2957003.25, 9999, 12, 31, 6 * H},
        {ExcelEpoch::EPOCH_1904, std::nextafter(1.0, 0.0), 1904, 1, 2, 0},  // rounds up to midnight
    };
    for (const auto& c : cases) {
        const auto v = cast_excel_serial_from_f64(c.epoch, c.x);
        ASSERT_TRUE(v.ok()) << c.x;
        EXPECT_EQ(v.value.date.year, c.y) << c.x;
        EXPECT_EQ(v.value.date.month, c.m) << c.x;
        EXPECT_EQ(v.value.date.day, c.d) << c.x;
        EXPECT_EQ(v.value.reserved, 0u);
        EXPECT_EQ(v.value.time.nanos, c.nanos) << c.x;
    }

    constexpr auto M = FaultReason::MALFORMED;
    constexpr auto R = FaultReason::OUT_OF_RANGE;
    struct FaultCase {
        ExcelEpoch epoch;
        double x;
        FaultReason reason;
    } faults[] = {
        {ExcelEpoch::EPOCH_1900, NaN, M},
        {ExcelEpoch::EPOCH_1900, INF, M},
        {ExcelEpoch::EPOCH_1900, -INF, M},
        {ExcelEpoch::EPOCH_1900, -0.5, M},
        {ExcelEpoch::EPOCH_1900, -std::numeric_limits<double>::denorm_min(), M},
        {ExcelEpoch::EPOCH_1900, 2958466.0, R},
        {ExcelEpoch::EPOCH_1900, 1e300, R},
        {ExcelEpoch::EPOCH_1900, 0.75, R},     // day 0
        {ExcelEpoch::EPOCH_1900, 60.5, R},     // the missing 29 February
        {ExcelEpoch::EPOCH_1904, 2957004.0, R},
        {ExcelEpoch::EPOCH_1904, NaN, M},
    };
    for (const auto& f : faults) EXPECT_TRUE(IsFault(cast_excel_serial_from_f64(f.epoch, f.x), f.reason, 0, 0)) << f.x;
}

TEST(CastExcelTime, KeepsTheTimeOfDay) {
    EXPECT_EQ(cast_excel_time(45000.75).value.nanos, 18 * H);
    EXPECT_EQ(cast_excel_time(0.9999999999999999).value.nanos, 0u);
    EXPECT_EQ(cast_excel_time(-0.0).value.nanos, 0u);
    EXPECT_EQ(cast_excel_time(0.1).value.nanos, 2 * H + 24 * 60 * S);
    EXPECT_EQ(cast_excel_time(std::nextafter(2958466.0, 0.0)).value.nanos, 86399999960000u);
    EXPECT_EQ(cast_excel_time(std::nextafter(32.0, 0.0)).value.nanos, 0u);  // the day it rounds into is dropped
    for (double x : {NaN, INF, -INF, -0.5}) EXPECT_TRUE(IsFault(cast_excel_time(x), FaultReason::MALFORMED, 0, 0)) << x;
    for (double x : {2958466.0, 1e20}) {
        EXPECT_TRUE(IsFault(cast_excel_time(x), FaultReason::OUT_OF_RANGE, 0, 0)) << x;
    }
}

TEST(CastExcelDuration, SignedDaysWithinTheDurationRange) {
    struct Case {
        double x;
        std::int64_t seconds;
        std::int32_t nanos;
    } cases[] = {
        {-1.5, -129600, 0},
        {1.5, 129600, 0},
        {3652500.0, 315576000000, 0},
        {-3652500.0, -315576000000, 0},
        {-0.0, 0, 0},
        {0.1, 8640, 0},
        {-1e-10, 0, -8640},
        {-0.9999999999999999, -86400, 0},
    };
    for (const auto& c : cases) {
        const auto v = cast_excel_duration(c.x);
        ASSERT_TRUE(v.ok()) << c.x;
        EXPECT_EQ(v.value.seconds, c.seconds) << c.x;
        EXPECT_EQ(v.value.nanos, c.nanos) << c.x;
    }
    for (double x : {NaN, INF, -INF}) EXPECT_TRUE(IsFault(cast_excel_duration(x), FaultReason::MALFORMED, 0, 0));
    for (double x : {3652500.1, -3652500.1, 1e300, -1e300}) {
        EXPECT_TRUE(IsFault(cast_excel_duration(x), FaultReason::OUT_OF_RANGE, 0, 0)) << x;
    }
}

}  // namespace
}  // namespace quillmere::core
