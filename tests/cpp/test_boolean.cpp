#include <cctype>
#include <string>

#include "core/casts.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::IsFault;
using testing_support::IsValue;

Verdict<bool> cast(const std::string& s) { return cast_bool(s.data(), s.size()); }

TEST(CastBool, AcceptsTheLexiconInAnyAsciiCase) {
    const char* truthy[] = {"1", "t", "y", "on", "in", "yes", "true", "active", "checked", "enabled"};
    const char* falsy[] = {"0", "f", "n", "no", "out", "off", "false", "inactive", "disabled", "unchecked"};
    for (std::string word : truthy) {
        EXPECT_TRUE(IsValue(cast(word), true)) << word;
        std::string upper = word;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(IsValue(cast(upper), true)) << upper;
    }
    for (std::string word : falsy) {
        EXPECT_TRUE(IsValue(cast(word), false)) << word;
        std::string upper = word;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(IsValue(cast(upper), false)) << upper;
    }
    EXPECT_TRUE(IsValue(cast(" yes\n"), true));
    EXPECT_TRUE(IsValue(cast("\tOFF"), false));
    EXPECT_TRUE(IsValue(cast("TrUe"), true));
    EXPECT_TRUE(IsValue(cast("Unchecked"), false));
}

TEST(CastBool, AnythingElseIsMalformedOverTheTrimmedText) {
    const testing_support::SpanRow cases[] = {
        {"2", 0, 1},      {"yess", 0, 4},   {"ye", 0, 2},       {"tru", 0, 3},     {"on off", 0, 6},
        {"+1", 0, 2},     {"1.0", 0, 3},    {"  ye ", 2, 2},    {"\v", 0, 1},      {"uncheckedx", 0, 10},
        {"yes\v", 0, 4},  {"n\xc3\xb6", 0, 3}, {std::string("ON\0", 3), 0, 3}, {"ocn", 0, 3},   {"enabler", 0, 7},
        {"\xd9\xc5\xd3", 0, 3},  // bytes that fold onto "yes" only if non-ASCII were folded
        {"ina", 0, 3},    {"de", 0, 2},     {"of", 0, 2},       {"aaaaaaaaaaaaaaaaaaaa", 0, 20},
    };
    testing_support::expect_fault_rows(cases, FaultReason::MALFORMED, cast);
}

TEST(CastBool, EmptyAndWhitespaceOnlyAreEmpty) {
    EXPECT_TRUE(IsFault(cast(""), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast("   "), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast(" \t\n\f\r"), FaultReason::EMPTY, 0, 0));
    EXPECT_TRUE(IsFault(cast_bool(nullptr, 0), FaultReason::EMPTY, 0, 0));
}

}  // namespace
}  // namespace quillmere::core
