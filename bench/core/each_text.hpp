// The timing loop shared by the text benchmarks: one batch of texts per
// iteration, reported as texts and bytes per second.
#pragma once

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

template <class Read>
void time_each_text(benchmark::State& state, const std::vector<std::string>& texts, Read read) {
    for (auto _ : state) {
        for (const auto& s : texts) benchmark::DoNotOptimize(read(s));
    }
    std::size_t bytes = 0;
    for (const auto& s : texts) bytes += s.size();
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The peer most C++ code reads a decimal number with.
inline double from_chars_double(const std::string& s) {
    double d = 0;
    std::from_chars(s.data(), s.data() + s.size(), d);
    return d;
}
