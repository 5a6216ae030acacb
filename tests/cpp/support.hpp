// Assertions on verdicts shared by the core tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

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

// Two verdicts that say the same thing: same status and, by bytes, the same value or span.
template <class T>
bool same_verdict(const Verdict<T>& a, const Verdict<T>& b) {
    if (a.status != b.status) return false;
    if (a.ok()) return std::memcmp(&a.value, &b.value, sizeof(T)) == 0;
    return a.span.offset == b.span.offset && a.span.length == b.span.length;
}

}  // namespace quillmere::testing_support
