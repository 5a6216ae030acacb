// The casts that reach a value through floating-point arithmetic give the
// verdict they give under the default environment whatever rounding mode the
// caller's thread has set (and, on x86, with flush-to-zero or
// denormals-are-zero set as a fast-math library leaves them). Each case is
// cast through the C ABI, as a C caller with its own fesetround would, first
// under round-to-nearest and then under every other environment; the other
// suites prove the round-to-nearest verdicts right.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "quillmere.h"
#include "support.hpp"

namespace {

using Outcome = quillmere::testing_support::AbiOutcome;
using quillmere::testing_support::abi_outcome;

// Every cast of one input that can meet hardware floating-point arithmetic.
using Probe = std::function<std::vector<Outcome>()>;

Probe text_probe(std::string text) {
    return [text] {
        const char* s = text.data();
        const size_t n = text.size();
        return std::vector<Outcome>{
            abi_outcome<double>([&](double* out, uint64_t* fault) { return cast_f64(s, n, nullptr, out, fault); }),
            abi_outcome<float>([&](float* out, uint64_t* fault) { return cast_f32(s, n, nullptr, out, fault); }),
        };
    };
}

Probe double_probe(double x) {
    return [x] {
        return std::vector<Outcome>{
            abi_outcome<quillmere_decimal>([&](auto* out, uint64_t* fault) { return cast_decimal_from_f64(x, out, fault); }),
            abi_outcome<quillmere_datetime>([&](auto* out, uint64_t* fault) {
                return cast_excel_serial_from_f64(x, QUILLMERE_EPOCH_1900, out, fault);
            }),
            abi_outcome<quillmere_time>([&](auto* out, uint64_t* fault) { return cast_excel_time(x, out, fault); }),
            abi_outcome<quillmere_duration>([&](auto* out, uint64_t* fault) { return cast_excel_duration(x, out, fault); }),
        };
    };
}

std::string shortest(double d) {
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
}

double next_up(double x, int steps) { return std::bit_cast<double>(std::bit_cast<uint64_t>(x) + steps); }

std::vector<Probe> probes() {
    std::vector<Probe> out;
    std::mt19937_64 rng(29);
    // Texts for every route of the real casts: the exact hardware stage
    // (short mantissas, small exponents), the other stages, the ASCII
    // shortcut, normalisation, and the percent division, whose results
    // reach the subnormals.
    for (const char* s : {"0.3", "0.1", "2.5", "-0.3", "123456.789", "9007199254740993", "1e22", "3e-22", "0.7%",
                          "12.5%", "-0.3%", "1e-320%", "4.9e-324%", "2.2250738585072014e-306%", "1.5e-43%",
                          "3.4028235e38%", "(1,234.56)", "(0.3)", "$0.3", "1,234.5%", "0,3", "1.7976931348623157e308",
                          "0.3000000000000000000001", "1.000000059604644775390625000000001"}) {
        out.push_back(text_probe(s));
    }
    for (int i = 0; i < 2000; ++i) {
        const double d = std::bit_cast<double>(rng());
        if (!std::isfinite(d)) continue;
        out.push_back(text_probe(shortest(d)));
        const std::string short_decimal = std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000);
        out.push_back(text_probe(short_decimal));
        out.push_back(text_probe(short_decimal + "%"));
        out.push_back(text_probe(shortest(std::ldexp(static_cast<double>(rng() >> 11), -1074 + static_cast<int>(rng() % 120))) + "%"));
    }
    // Doubles for the decimal and Excel casts, the duration bound's
    // neighbourhood among them.
    for (double x : {0.1, 1.0 / 3, 0.5, 45000.123456789, 44927.99998842592, 3652500.0, -3652500.0, 2958465.999999,
                     59.99999999999999, 1e-10}) {
        out.push_back(double_probe(x));
    }
    for (int step = -4; step <= 4; ++step) {
        out.push_back(double_probe(next_up(3652500.0, step)));
        out.push_back(double_probe(-next_up(3652500.0, step)));
    }
    for (int i = 0; i < 2000; ++i) {
        out.push_back(double_probe(std::bit_cast<double>(rng())));
        out.push_back(double_probe(static_cast<double>(rng() % 3000000000) / 1000.0));
    }
    return out;
}

struct Environment {
    const char* name;
    int rounding;
    unsigned mxcsr_flags;  // flush-to-zero 0x8000, denormals-are-zero 0x0040
};

// Sets an environment for its lifetime and restores the caller's after.
class Within {
public:
    explicit Within(const Environment& e) : rounding_(std::fegetround()) {
        std::fesetround(e.rounding);
#if defined(__SSE__)
        csr_ = _mm_getcsr();
        _mm_setcsr(csr_ | e.mxcsr_flags);
#endif
    }
    ~Within() {
#if defined(__SSE__)
        _mm_setcsr(csr_);
#endif
        std::fesetround(rounding_);
    }

private:
    int rounding_;
    unsigned csr_ = 0;
};

TEST(RoundingModes, EveryEnvironmentGivesTheVerdictsOfRoundToNearest) {
    const std::vector<Probe> cases = probes();
    std::vector<std::vector<Outcome>> nearest;
    nearest.reserve(cases.size());
    for (const Probe& p : cases) nearest.push_back(p());

    std::vector<Environment> environments = {
        {"upward", FE_UPWARD, 0}, {"downward", FE_DOWNWARD, 0}, {"toward zero", FE_TOWARDZERO, 0}};
#if defined(__SSE__)
    environments.push_back({"flush to zero", FE_TONEAREST, 0x8000});
    environments.push_back({"denormals are zero", FE_TONEAREST, 0x0040});
    environments.push_back({"upward, both", FE_UPWARD, 0x8040});
#endif
    for (const Environment& e : environments) {
        std::vector<std::vector<Outcome>> seen;
        seen.reserve(cases.size());
        {
            const Within within(e);
            for (const Probe& p : cases) seen.push_back(p());
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            ASSERT_EQ(seen[i], nearest[i]) << e.name << ", case " << i;
        }
    }
}

// The reproducer: under upward rounding "0.3" reads as the double nearest
// 0.3, as a longer text with the same nearest double does.
TEST(RoundingModes, UpwardRoundingReadsPointThreeAsTheNearestDouble) {
    double short_text = 0, long_text = 0;
    {
        const Within within({"upward", FE_UPWARD, 0});
        ASSERT_EQ(cast_f64("0.3", 3, nullptr, &short_text, nullptr), QUILLMERE_OK);
        ASSERT_EQ(cast_f64("0.3000000000000000000001", std::strlen("0.3000000000000000000001"), nullptr, &long_text, nullptr), QUILLMERE_OK);
    }
    EXPECT_EQ(std::bit_cast<uint64_t>(short_text), 0x3FD3333333333333u);
    EXPECT_EQ(std::bit_cast<uint64_t>(long_text), 0x3FD3333333333333u);
}

}  // namespace
