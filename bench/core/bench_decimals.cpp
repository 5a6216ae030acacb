// The exact decimal cast on column-like decimal text (prices, quantities,
// rates, a few long values), beside std::from_chars<double> on the same text:
// the rounded read a C++ program would otherwise use for such a column.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/casts.hpp"
#include "each_text.hpp"

namespace {

std::vector<std::string> column_decimals() {
    std::mt19937_64 rng(5);
    auto below = [&](std::uint64_t n) { return rng() % n; };
    auto padded = [](std::uint64_t v, int width) {
        char digits[24];
        const int n = std::snprintf(digits, sizeof digits, "%0*llu", width, static_cast<unsigned long long>(v));
        return std::string(digits, static_cast<std::size_t>(n));
    };
    std::vector<std::string> out;
    for (int i = 0; i < 10000; ++i) {
        std::string s;
        switch (below(5)) {
            case 0:
            case 1: s = std::to_string(below(100000)) + "." + padded(below(100), 2); break;
            case 2: s = std::to_string(below(1000000)); break;
            case 3: s = std::to_string(below(1000)) + "." + padded(below(1000000), 6); break;
            default: s = std::to_string(below(1000000000000)) + "." + padded(below(1000000000), 9); break;
        }
        if (below(4) == 0) s.insert(s.begin(), '-');
        out.push_back(std::move(s));
    }
    return out;
}

const std::vector<std::string>& inputs() {
    static const std::vector<std::string> texts = column_decimals();
    return texts;
}

void BM_cast_decimal(benchmark::State& state) {
    time_each_text(state, inputs(), [](const std::string& s) {
        return quillmere::core::cast_decimal(s.data(), s.size(), quillmere::core::INVARIANT_FORMAT);
    });
}

void BM_from_chars(benchmark::State& state) { time_each_text(state, inputs(), from_chars_double); }

BENCHMARK(BM_cast_decimal)->Name("decimals/cast_decimal column-like decimal text/quillmere");
BENCHMARK(BM_from_chars)->Name("decimals/cast_decimal column-like decimal text/std::from_chars (double)");

}  // namespace
