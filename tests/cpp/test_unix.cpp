#include <random>
#include <string>

#include "core/casts.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;
using i128 = __int128;

constexpr auto SEC = UnixPrecision::SECONDS;
constexpr auto MS = UnixPrecision::MILLISECONDS;
constexpr auto US = UnixPrecision::MICROSECONDS;
constexpr auto NS = UnixPrecision::NANOSECONDS;

Verdict<Instant> cast(const std::string& s, UnixPrecision p) { return cast_unix(s.data(), s.size(), p); }

::testing::AssertionResult IsInstant(const Verdict<Instant>& v, std::int64_t seconds, std::uint32_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (v.value.seconds == seconds && v.value.nanos == nanos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << v.value.seconds << ", " << v.value.nanos << ")";
}

std::string decimal(i128 v) {
    if (v == 0) return "0";
    const bool negative = v < 0;
    std::string digits;
    for (; v != 0; v /= 10) digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -(v % 10) : v % 10)));
    return negative ? "-" + digits : digits;
}

TEST(CastUnix, CountsAtEveryPrecision) {
    struct Case {
        std::string text;
        UnixPrecision precision;
        std::int64_t seconds;
        std::uint32_t nanos;
    } cases[] = {
        {"0", SEC, 0, 0},          {"0", MS, 0, 0},           {"0", US, 0, 0},          {"0", NS, 0, 0},
        {"-0", NS, 0, 0},          {"+1700000000", SEC, 1700000000, 0},
        {"-1", MS, -1, 999000000}, {"-1500", MS, -2, 500000000}, {"1500", MS, 1, 500000000},
        {"-1", US, -1, 999999000}, {"-1", NS, -1, 999999999},    {"1", US, 0, 1000},
        {"1700000000123456789", NS, 1700000000, 123456789},
        {"-62135596800", SEC, -62135596800, 0},
        {"253402300799", SEC, 253402300799, 0},
        {"253402300799999", MS, 253402300799, 999000000},
        {"253402300799999999999", NS, 253402300799, 999999999},
        {"-62135596800000000000", NS, -62135596800, 0},
        {" \t42\n", SEC, 42, 0},
        {"0000000000000000000000000000000000000000000000000000000000001", SEC, 1, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsInstant(cast(c.text, c.precision), c.seconds, c.nanos)) << c.text;
}

TEST(CastUnix, Faults) {
    constexpr auto M = FaultReason::MALFORMED;
    constexpr auto R = FaultReason::OUT_OF_RANGE;
    const std::string sixty(60, '9');
    struct Case {
        std::string text;
        UnixPrecision precision;
        FaultReason reason;
        std::uint32_t offset, length;
    } cases[] = {
        {"", SEC, FaultReason::EMPTY, 0, 0},
        {"  ", NS, FaultReason::EMPTY, 0, 0},
        {"-", SEC, M, 0, 1},
        {" + ", SEC, M, 1, 1},
        {"12 34", SEC, M, 2, 1},
        {"1.5", SEC, M, 1, 1},
        {"1e9", SEC, M, 1, 1},
        {"--1", SEC, M, 1, 1},
        {"+-1", SEC, M, 1, 1},
        {"1_000", SEC, M, 1, 1},
        {"1234567x90123456", SEC, M, 7, 1},       // inside a word of eight
        {"-12345678901234567x", NS, M, 18, 1},
        {"1234567890123456789x", NS, M, 19, 1},   // just past the 64-bit part
        {"x", SEC, M, 0, 1},
        {"12\xc3\xa9", SEC, M, 2, 2},
        {"-62135596801", SEC, R, 0, 12},
        {"253402300800", SEC, R, 0, 12},
        {"253402300800000", MS, R, 0, 15},
        {"-62135596800001", MS, R, 0, 15},
        {sixty, NS, R, 0, 60},
        {"-" + sixty, NS, R, 0, 61},
        {sixty + "x", NS, M, 60, 1},
        {"99999999999999999999", SEC, R, 0, 20},  // past 64 bits, within 128
        {"170141183460469231731687303715884105727", NS, R, 0, 39},  // 2^127 - 1
        {"170141183460469231731687303715884105728", NS, R, 0, 39},  // 2^127
    };
    testing_support::expect_fault_rows(cases, [](const Case& c) { return cast(c.text, c.precision); });
}

TEST(CastUnix, EveryInstantInRangeReadsBackFromItsCount) {
    // Counts built from (seconds, remainder) exactly, then read back.
    constexpr std::int64_t divisors[] = {1, 1000, 1000000, 1000000000};
    constexpr UnixPrecision precisions[] = {SEC, MS, US, NS};
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<std::int64_t> second(MIN_INSTANT_SECONDS, MAX_INSTANT_SECONDS);
    for (int i = 0; i < 20000; ++i) {
        const int p = i % 4;
        const std::int64_t divisor = divisors[p];
        std::int64_t s = second(rng);
        if (i % 97 == 0) s = MIN_INSTANT_SECONDS;
        if (i % 89 == 0) s = MAX_INSTANT_SECONDS;
        if (i % 83 == 0) s = -1 + static_cast<std::int64_t>(rng() % 3);
        const std::int64_t r = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(divisor));
        const i128 count = static_cast<i128>(s) * divisor + r;
        const std::string text = (count >= 0 && (rng() & 1)) ? "+" + decimal(count) : decimal(count);
        ASSERT_TRUE(IsInstant(cast(text, precisions[p]), s, static_cast<std::uint32_t>(r * (1000000000 / divisor))))
            << text;
    }
}

}  // namespace
}  // namespace quillmere::core
