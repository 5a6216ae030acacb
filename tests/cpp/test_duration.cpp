#include <string>

#include "core/casts.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;

Verdict<SignedDuration> cast(const std::string& s) { return cast_duration(s.data(), s.size()); }

::testing::AssertionResult IsDuration(const Verdict<SignedDuration>& v, std::int64_t seconds, std::int32_t nanos) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << testing_support::describe(v);
    if (v.value.seconds == seconds && v.value.nanos == nanos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << v.value.seconds << ", " << v.value.nanos << ")";
}

struct ValueCase {
    std::string text;
    std::int64_t seconds;
    std::int32_t nanos;
};

constexpr auto M = FaultReason::MALFORMED;
constexpr auto R = FaultReason::OUT_OF_RANGE;

TEST(CastDuration, IsoForm) {
    const ValueCase cases[] = {
        {"P1DT2H30M", 95400, 0},
        {"PT0.5S", 0, 500000000},
        {"-PT0.5S", 0, -500000000},
        {"p1w", 604800, 0},
        {"PT1H1H", 7200, 0},
        {"PT1S1M", 61, 0},
        {"P1W1D", 691200, 0},
        {"pt1h2m3.25s", 3723, 250000000},
        {"PT1,5S", 1, 500000000},
        {"PT0.1234567899S", 0, 123456789},  // digits past the ninth dropped
        {"P1DT1H", 90000, 0},
        {"P0D", 0, 0},
        {"-P0D", 0, 0},
        {" -P1D\n", -86400, 0},
        {"P3652500D", 315576000000, 0},
        {"-PT315576000000.999999999S", -315576000000, -999999999},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsDuration(cast(c.text), c.seconds, c.nanos)) << c.text;
}

TEST(CastDuration, IsoFaults) {
    const testing_support::FaultRow cases[] = {
        {"P1Y", M, 2, 1},           {"P1M", M, 2, 1},          {"P1H", M, 2, 1},
        {"PT1D", M, 3, 1},          {"PT1W", M, 3, 1},         {"P1.5D", M, 1, 4},
        {"PT1.5H", M, 2, 4},        {"PT1.S", M, 3, 1},        {"PT1,S", M, 3, 1},
        {"P", M, 0, 1},             {"PT", M, 0, 2},           {"P1DT", M, 0, 4},
        {" -P ", M, 1, 2},          {"P1D2", M, 3, 1},         {"PT1.5", M, 2, 3},
        {"P1DT1HT1M", M, 6, 1},     {"PTT1H", M, 2, 1},        {"P1DTT", M, 4, 1},
        {"P-1D", M, 1, 1},          {"PD", M, 1, 1},           {"PT1H\xc3\xa9", M, 4, 2},
        {"P1D x", M, 3, 1},         {"+P1D", M, 0, 4},         {"PT1HM", M, 4, 1},
        {"P1234567890123456789D", M, 19, 1},
        {"PT315576000001S", R, 0, 15},
        {"P3652501D", R, 0, 9},
        {"-P3652501D", R, 0, 10},
        {"PT999999999999999999H", R, 0, 21},
        {"PT999999999999999999S", R, 0, 21},
    };
    testing_support::expect_fault_rows(cases, cast);
}

TEST(CastDuration, IsoTotalsBeyond128BitsAreOutOfRangeAfterTheForm) {
    // Each component adds almost 6e32 ns; a few hundred thousand overflow 128 bits.
    std::string big = "P";
    for (int i = 0; i < 300000; ++i) big += "999999999999999999W";
    EXPECT_TRUE(IsFault(cast(big), R, 0, static_cast<std::uint32_t>(big.size())));
    EXPECT_TRUE(IsFault(cast(big + "1X"), M, static_cast<std::uint32_t>(big.size()) + 1, 1));
}

TEST(CastDuration, ColonForm) {
    const ValueCase cases[] = {
        {"1.02:03:04.5", 93784, 500000000},
        {"12:30", 45000, 0},
        {"1:2:3", 3723, 0},
        {"-0:00:01.25", -1, -250000000},
        {"1.00:00", 86400, 0},
        {"23:59:59,999999999", 86399, 999999999},
        {"0:0:0.0000000019", 0, 1},
        {"3652500.00:00:00", 315576000000, 0},
        {"-3652500.00:00:00.999999999", -315576000000, -999999999},
        {"000000000000000001.00:00", 86400, 0},
        {"  -1.12:00  ", -129600, 0},
        {"00:00:00.12345678", 0, 123456780},  // eight digits in one step
    };
    for (const auto& c : cases) EXPECT_TRUE(IsDuration(cast(c.text), c.seconds, c.nanos)) << c.text;
}

TEST(CastDuration, ColonFaults) {
    const testing_support::FaultRow cases[] = {
        {"24:00", R, 0, 2},
        {"0:60", R, 2, 2},
        {"0:0:60", R, 4, 2},
        {"1.24:00", R, 2, 2},
        {"99:99:99", R, 0, 2},  // hours first
        {"3652501.00:00:00", R, 0, 16},
        {"1:2:3:4", M, 5, 1},
        {":30", M, 0, 1},
        {"-:30", M, 1, 1},
        {"+1:30", M, 0, 1},
        {"x1:30", M, 0, 1},
        {"\xc3\xa9:1", M, 0, 2},
        {"123:00", M, 0, 3},
        {"1.:00", M, 2, 1},
        {"1.123:00", M, 2, 3},
        {"1.2.3:00", M, 3, 1},
        {"1:", M, 2, 0},
        {"1:2:", M, 4, 0},
        {"1:x", M, 2, 1},
        {"1:123", M, 2, 3},
        {"1:2:345", M, 4, 3},
        {"1:2x", M, 3, 1},
        {"12:30.5", M, 5, 1},
        {"1:2:3.", M, 5, 1},
        {"1:2:3.x", M, 5, 1},
        {"1:2:3.5x", M, 7, 1},
        {"1:2:3.5\xe2\x82", M, 7, 2},  // truncated lead, clipped to the text
        {"1:2:3x", M, 5, 1},
        {"1 :2", M, 1, 1},
        {"1234567890123456789.00:00", M, 18, 1},
    };
    testing_support::expect_fault_rows(cases, cast);
}

TEST(CastDuration, ProtobufForm) {
    const ValueCase cases[] = {
        {"1.5s", 1, 500000000},
        {"1,5s", 1, 500000000},
        {"-0.000000001s", 0, -1},
        {"0s", 0, 0},
        {"-0s", 0, 0},
        {"10S", 10, 0},
        {"315576000000s", 315576000000, 0},
        {"-315576000000.999999999s", -315576000000, -999999999},
        {"1.1234567891s", 1, 123456789},
        {"000000000000000001s", 1, 0},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsDuration(cast(c.text), c.seconds, c.nanos)) << c.text;
}

TEST(CastDuration, ProtobufFaults) {
    const testing_support::FaultRow cases[] = {
        {"1.02", M, 0, 4},  // no ":" and no "P": the protobuf form, not a colon form
        {"1.5", M, 0, 3},
        {"s", M, 0, 1},
        {"-s", M, 0, 2},
        {"-", M, 0, 1},
        {"+1s", M, 0, 3},
        {".5s", M, 0, 3},
        {"x1s", M, 0, 3},
        {"1 s", M, 1, 1},
        {"1.s", M, 1, 1},
        {"1..5s", M, 1, 1},
        {"1.5xs", M, 3, 1},
        {"1\xc3\xa9s", M, 1, 2},
        {"1.5\xe2s", M, 3, 1},  // lead byte of three, clipped before the "s"
        {"1ss", M, 1, 1},
        {"1e3s", M, 1, 1},
        {"1234567890123456789s", M, 18, 1},
        {"315576000001s", R, 0, 13},
        {" -315576000001s ", R, 1, 14},
        {"999999999999999999s", R, 0, 19},
    };
    testing_support::expect_fault_rows(cases, cast);
}

TEST(CastDuration, EmptyAndLongTexts) {
    EXPECT_TRUE(IsFault(cast(""), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast(" \t\r\n\f"), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast_duration(nullptr, 0), FaultReason::EMPTY, 0, 0));
    // The colon search takes another path past fifteen bytes; both must agree.
    for (std::size_t pad = 0; pad < 40; ++pad) {
        const std::string zeros(pad, '0');
        if (pad < 18) {
            EXPECT_TRUE(IsDuration(cast(zeros + "1.00:00:01"), 86401, 0)) << pad;
            EXPECT_TRUE(IsFault(cast(zeros + "1.02"), M, 0, static_cast<std::uint32_t>(pad + 4))) << pad;
        }
        std::int32_t nanos = 500000000;
        for (std::size_t i = 0; i < pad; ++i) nanos /= 10;
        EXPECT_TRUE(IsDuration(cast("1." + zeros + "5s"), 1, nanos)) << pad;
    }
}

}  // namespace
}  // namespace quillmere::core
