// Assertions on verdicts shared by the core tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/verdict.hpp"

namespace quillmere::testing_support {

using core::FaultReason;
using core::Verdict;

inline const char* reason_name(std::uint8_t status) {
    switch (status) {
        case 0: return "success";
        case 1: return "EMPTY";
        case 2: return "MALFORMED";
        case 3: return "OUT_OF_RANGE";
        default: return "?";
    }
}

template <class T>
std::string describe(const Verdict<T>& v) {
    std::ostringstream out;
    if (v.ok()) {
        out << "success";
    } else {
        out << reason_name(v.status) << " (" << v.span.offset << ", " << v.span.length << ")";
    }
    return out.str();
}

template <class T>
::testing::AssertionResult IsFault(const Verdict<T>& v, FaultReason reason, std::uint32_t offset,
                                   std::uint32_t length) {
    if (!v.ok() && v.reason() == reason && v.span.offset == offset && v.span.length == length) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << describe(v) << ", expected "
                                         << reason_name(static_cast<std::uint8_t>(reason)) << " (" << offset
                                         << ", " << length << ")";
}

template <class T, class U>
::testing::AssertionResult IsValue(const Verdict<T>& v, const U& expected) {
    if (!v.ok()) return ::testing::AssertionFailure() << "got " << describe(v);
    if (!(v.value == static_cast<T>(expected))) {
        return ::testing::AssertionFailure() << "got value " << +v.value << ", expected " << +static_cast<T>(expected);
    }
    return ::testing::AssertionSuccess();
}

// One row of a fault table: an input and the fault its cast must report.
struct FaultRow {
    std::string text;
    FaultReason reason;
    std::uint32_t offset;
    std::uint32_t length;
};

// Checks every row of a fault table, naming the row's text when one fails.
// `cast` takes the text, or, for tables with more columns (an order, an
// epoch, a format), the row itself.
template <class Rows, class Cast>
void expect_fault_rows(const Rows& rows, Cast cast) {
    for (const auto& row : rows) {
        if constexpr (std::is_invocable_v<Cast, decltype(row)>) {
            EXPECT_TRUE(IsFault(cast(row), row.reason, row.offset, row.length)) << row.text;
        } else {
            EXPECT_TRUE(IsFault(cast(row.text), row.reason, row.offset, row.length)) << row.text;
        }
    }
}

// A row of a table whose rows share one reason: the input and the span.
struct SpanRow {
    std::string text;
    std::uint32_t offset;
    std::uint32_t length;
};

template <class Rows, class Cast>
void expect_fault_rows(const Rows& rows, FaultReason reason, Cast cast) {
    for (const auto& row : rows) EXPECT_TRUE(IsFault(cast(row.text), reason, row.offset, row.length)) << row.text;
}

// Two verdicts that say the same thing: same status and, by bytes, the same value or span.
template <class T>
bool same_verdict(const Verdict<T>& a, const Verdict<T>& b) {
    if (a.status != b.status) return false;
    if (a.ok()) return std::memcmp(&a.value, &b.value, sizeof(T)) == 0;
    return a.span.offset == b.span.offset && a.span.length == b.span.length;
}

// The observable result of one C ABI call: status, value bytes and packed span.
struct AbiOutcome {
    std::int32_t status;
    std::array<unsigned char, 16> value;
    std::uint64_t fault;

    bool operator==(const AbiOutcome&) const = default;
};

// Calls an export as call(out, fault) with a fresh, zeroed value record of type Out.
template <class Out, class Call>
AbiOutcome abi_outcome(Call call) {
    AbiOutcome o{};
    Out out{};
    o.status = call(&out, &o.fault);
    std::memcpy(o.value.data(), &out, sizeof out < 16 ? sizeof out : 16);
    return o;
}

}  // namespace quillmere::testing_support
