// The short-numeral shortcut of the real and decimal casts must give exactly
// the general path's verdict: on numerals near its limits (every length of
// integer and fraction up to and past 19 digits, signs, a point at either
// end, leading and trailing zeros, values whose rounding is hard) and on
// every change of one byte, every byte dropped and every byte doubled. Each
// text is cast from a buffer of its exact length, so that a sanitizer sees
// any read past its end.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "core/casts.hpp"
#include "core/numeral.hpp"
#include "core/plain_integer.hpp"
#include "core/reference_paths.hpp"
#include "support.hpp"

namespace quillmere::core {
namespace {

using testing_support::describe;
using testing_support::same_verdict;

constexpr NumFormat COMMA_DECIMAL{U',', U'.', NumFormat::ALL, {}, 0};

// A verdict as its reason and span, or its value's bytes in hex.
template <class T>
std::string shown(const Verdict<T>& v) {
    if (!v.ok()) return describe(v);
    std::string text = "value 0x";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&v.value);
    for (std::size_t i = sizeof(T); i-- > 0;) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

::testing::AssertionResult SameAsGeneral(const std::string& s, const NumFormat& fmt) {
    const std::unique_ptr<char[]> exact(new char[s.size() + 1]);  // no byte past the text to read by chance
    s.copy(exact.get(), s.size());
    const char* t = exact.get();
    const std::size_t n = s.size();
    const char* which = nullptr;
    std::string detail;
    if (const auto a = cast_f64(t, n, fmt), b = cast_f64_general(t, n, fmt); !same_verdict(a, b)) {
        which = "f64";
        detail = shown(a) + " vs " + shown(b);
    } else if (const auto c = cast_f32(t, n, fmt), d = cast_f32_general(t, n, fmt); !same_verdict(c, d)) {
        which = "f32";
        detail = shown(c) + " vs " + shown(d);
    } else if (const auto e = cast_decimal(t, n, fmt), f = cast_decimal_general(t, n, fmt); !same_verdict(e, f)) {
        which = "decimal";
        detail = shown(e) + " vs " + shown(f);
    }
    if (which == nullptr) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << which << " \"" << s << "\": shortcut " << detail << " (general)";
}

std::string digits(std::mt19937_64& rng, std::size_t count) {
    std::string d;
    const int style = static_cast<int>(rng() % 4);  // random, all nines, leading zeros, trailing zeros
    for (std::size_t i = 0; i < count; ++i) {
        char c = static_cast<char>('0' + rng() % 10);
        if (style == 1) c = '9';
        if (style == 2 && i < count / 2) c = '0';
        if (style == 3 && i >= count / 2) c = '0';
        d += c;
    }
    return d;
}

TEST(ShortNumeralShortcut, AgreesWithTheGeneralPath) {
    std::mt19937_64 rng(11);
    // Halfway points between doubles and their neighbours, which stage 3
    // refuses, and texts of every other shape the shortcut must hand on.
    const std::string chosen[] = {"4503599627370496.5", "4503599627370497.5", "9007199254740993", "9007199254740992",
                                  "18014398509481985", "0.1", "-0.0", "+.5", "5.", ".", "-", "1e5",
                                  "9999999999999999999", "10000000000000000000", "0.0000000000000000001"};
    const unsigned char replacements[] = {'0', '1', '5', '9', '.', ',', '-', '+', 'e', ' ', '\t', 0x00, 0x2F, 0x3A, 0xC3, 0xFF};
    std::size_t read = 0;
    auto check_around = [&](const std::string& s, const NumFormat& fmt) {
        ShortNumeral unused;
        read += read_short_numeral(reinterpret_cast<const unsigned char*>(s.data()), s.size(), unused);
        ASSERT_TRUE(SameAsGeneral(s, fmt));
        for (std::size_t at = 0; at < s.size(); ++at) {
            for (const unsigned char b : replacements) {
                std::string changed = s;
                changed[at] = static_cast<char>(b);
                ASSERT_TRUE(SameAsGeneral(changed, fmt));
            }
            ASSERT_TRUE(SameAsGeneral(s.substr(0, at) + s.substr(at + 1), fmt));
            ASSERT_TRUE(SameAsGeneral(s.substr(0, at + 1) + s.substr(at), fmt));
        }
    };
    for (const std::string& s : chosen) check_around(s, INVARIANT_FORMAT);
    for (int round = 0; round < 500; ++round) {
        const std::size_t integer = rng() % 22, fraction = rng() % 22;
        std::string s = std::string(rng() % 3 == 0 ? "-" : rng() % 5 == 0 ? "+" : "") + digits(rng, integer);
        if (fraction != 0 || rng() % 4 == 0) s += "." + digits(rng, fraction);
        // Mostly the invariant format; some where the shortcut must stand aside.
        const NumFormat& fmt = round % 7 == 0 ? DETECT_FORMAT : round % 7 == 1 ? COMMA_DECIMAL : INVARIANT_FORMAT;
        check_around(s, fmt);
    }
    EXPECT_GT(read, 150u);  // the draw reaches the shortcut, not only the texts it hands on
}

// The column's backward read of plain integers over the bytes before them:
// it must accept exactly the plain integers the cast itself accepts, with
// the same value, whatever digits come before the text.
template <class T>
::testing::AssertionResult SameAsCast(const std::string& before, const std::string& s,
                                      Verdict<T> (*cast)(const char*, std::size_t, const NumFormat&)) {
    const std::string all = before + s;
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[all.size()]);  // ends where the text ends
    all.copy(reinterpret_cast<char*>(exact.get()), all.size());
    const unsigned char* text = exact.get() + before.size();
    T value{};
    const bool read = read_plain_integer_before_end(text, s.size(), value);
    const Verdict<T> verdict = cast(reinterpret_cast<const char*>(text), s.size(), INVARIANT_FORMAT);
    // Both forms of the digit read see the same bytes and must agree.
    const std::size_t signs = !s.empty() && (s[0] == '-' || s[0] == '+');
    std::uint64_t words = 0, chosen = 0;
    const bool by_words = read_digits_before_words(text + s.size(), s.size() - signs, words);
    if (by_words != read_digits_before(text + s.size(), s.size() - signs, chosen) || (by_words && words != chosen)) {
        return ::testing::AssertionFailure() << "\"" << s << "\": the two digit reads disagree";
    }
    const bool plain = !s.empty() && s.size() <= 20 &&
                       s.find_first_not_of("0123456789", s[0] == '-' || s[0] == '+') == std::string::npos &&
                       s.size() - (s[0] == '-' || s[0] == '+') - 1 < MAX_U64_DIGITS;
    if (read == (plain && verdict.ok()) && (!read || value == verdict.value)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << s << "\" after \"" << before << "\": read " << read << " value "
                                         << +value << ", cast " << shown(verdict);
}

TEST(PlainIntegerBeforeEnd, AgreesWithTheIntegerCasts) {
    std::mt19937_64 rng(12);
    const unsigned char replacements[] = {'0', '9', '-', '+', ' ', 'x', 0x00, 0x2F, 0x3A, 0xC3, 0xFF};
    auto check = [&](const std::string& s) {
        std::string before(DIGITS_BEFORE_READ, '0');
        for (char& c : before) c = static_cast<char>(rng() % 2 ? '0' + rng() % 10 : rng() % 256);
        ASSERT_TRUE(SameAsCast<std::int64_t>(before, s, cast_i64));
        ASSERT_TRUE(SameAsCast<std::uint64_t>(before, s, cast_u64));
        ASSERT_TRUE(SameAsCast<std::int32_t>(before, s, cast_i32));
        ASSERT_TRUE(SameAsCast<std::uint16_t>(before, s, cast_u16));
        ASSERT_TRUE(SameAsCast<std::int8_t>(before, s, cast_i8));
    };
    for (int round = 0; round < 400; ++round) {
        const std::string s = std::string(rng() % 3 == 0 ? "-" : rng() % 5 == 0 ? "+" : "") + digits(rng, rng() % 21);
        check(s);
        for (std::size_t at = 0; at < s.size(); ++at) {
            for (const unsigned char b : replacements) {
                std::string changed = s;
                changed[at] = static_cast<char>(b);
                check(changed);
            }
            check(s.substr(0, at) + s.substr(at + 1));
        }
    }
    for (const char* s : {"9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
                          "18446744073709551615", "-0", "+0", "-", "+", ""}) {
        check(s);
    }
}

}  // namespace
}  // namespace quillmere::core
