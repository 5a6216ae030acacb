// The real cast against std::from_chars<double> and strtod on three kinds of
// input: random doubles in shortest form, integers, and 20- to 40-digit mantissas.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/casts.hpp"
#include "each_text.hpp"

namespace {

using quillmere::core::INVARIANT_FORMAT;

std::vector<std::string> shortest_doubles() {
    std::mt19937_64 rng(1);
    std::vector<std::string> out;
    while (out.size() < 10000) {
        const double d = std::bit_cast<double>(rng());
        if (!std::isfinite(d)) continue;
        char buffer[64];
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, d);  // shortest round-trip form
        out.emplace_back(buffer, r.ptr);
    }
    return out;
}

std::vector<std::string> integers() {
    std::mt19937_64 rng(2);
    std::vector<std::string> out;
    for (int i = 0; i < 10000; ++i) out.push_back(std::to_string(rng() >> (rng() % 64)));
    return out;
}

std::vector<std::string> long_mantissas() {
    std::mt19937_64 rng(3);
    std::vector<std::string> out;
    for (int i = 0; i < 10000; ++i) {
        const int digits = 20 + static_cast<int>(rng() % 21);
        const int point = 1 + static_cast<int>(rng() % (digits - 1));
        std::string s;
        for (int k = 0; k < digits; ++k) {
            if (k == point) s += '.';
            s += static_cast<char>('0' + (k == 0 ? 1 + rng() % 9 : rng() % 10));
        }
        s += 'e';
        s += std::to_string(static_cast<int>(rng() % 600) - 300);
        out.push_back(s);
    }
    return out;
}

const std::vector<std::string>& inputs(int kind) {
    static const std::vector<std::string> sets[3] = {shortest_doubles(), integers(), long_mantissas()};
    return sets[kind];
}

void BM_cast_f64(benchmark::State& state, int kind) {
    time_each_text(state, inputs(kind), [](const std::string& s) {
        return quillmere::core::cast_f64(s.data(), s.size(), INVARIANT_FORMAT);
    });
}

void BM_from_chars(benchmark::State& state, int kind) { time_each_text(state, inputs(kind), from_chars_double); }

void BM_strtod(benchmark::State& state, int kind) {
    time_each_text(state, inputs(kind), [](const std::string& s) { return std::strtod(s.c_str(), nullptr); });
}

// Registered as "reals/<inputs>/<implementation>" so the report pairs each
// peer with us; a peer's label is the throughput ratio we must reach.
const bool registered = [] {
    struct Case {
        const char* name;
        int kind;
        const char* from_chars_target;
        const char* strtod_target;
    };
    const Case cases[] = {
        {"cast_f64 shortest-form doubles", 0, "target>=0.8", "target>=3"},
        {"cast_f64 integers", 1, "", ""},
        {"cast_f64 20-40 digit mantissas", 2, "", ""},
    };
    for (const Case& c : cases) {
        const std::string prefix = std::string("reals/") + c.name;
        benchmark::RegisterBenchmark((prefix + "/quillmere").c_str(), BM_cast_f64, c.kind);
        benchmark::RegisterBenchmark((prefix + "/std::from_chars").c_str(), [c](benchmark::State& state) {
            BM_from_chars(state, c.kind);
            state.SetLabel(c.from_chars_target);
        });
        benchmark::RegisterBenchmark((prefix + "/strtod").c_str(), [c](benchmark::State& state) {
            BM_strtod(state, c.kind);
            state.SetLabel(c.strtod_target);
        });
    }
    return true;
}();

}  // namespace
