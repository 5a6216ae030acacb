// Plain-digit integer casts against std::from_chars on the same texts. Each
// iteration casts a batch of texts whose lengths spread evenly over every
// digit count the type can hold, with a sign on about half of them.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/casts.hpp"

namespace {

using quillmere::core::DEFAULT_FORMAT;

template <class T>
std::vector<std::string> plain_texts(int max_digits) {
    std::mt19937_64 rng(42);
    std::vector<std::string> texts;
    for (int i = 0; i < 4096; ++i) {
        const int digits = 1 + static_cast<int>(rng() % max_digits);
        std::uint64_t bound = 1;
        for (int k = 0; k < digits; ++k) bound *= 10;
        std::uint64_t magnitude = rng() % bound;
        const bool negative = (rng() & 1) != 0;
        // Stay within the type, so that both sides take their success path.
        const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
        if (magnitude > limit) magnitude %= limit;
        std::string text = negative ? "-" : "";
        text += std::to_string(magnitude);
        texts.push_back(text);
    }
    return texts;
}

template <class T, auto Cast>
void BM_quillmere(benchmark::State& state, int max_digits) {
    const auto texts = plain_texts<T>(max_digits);
    std::size_t bytes = 0;
    for (const auto& t : texts) bytes += t.size();
    for (auto _ : state) {
        T sum = 0;
        for (const auto& t : texts) {
            const auto v = Cast(t.data(), t.size(), DEFAULT_FORMAT);
            sum = static_cast<T>(sum ^ v.value);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

template <class T>
void BM_from_chars(benchmark::State& state, int max_digits) {
    const auto texts = plain_texts<T>(max_digits);
    std::size_t bytes = 0;
    for (const auto& t : texts) bytes += t.size();
    for (auto _ : state) {
        T sum = 0;
        for (const auto& t : texts) {
            T v = 0;
            std::from_chars(t.data(), t.data() + t.size(), v);
            sum = static_cast<T>(sum ^ v);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Named "<group>/<case>/<implementation>"; the peer's label states the
// throughput we must reach relative to it.
const bool registered = [] {
    struct Case {
        const char* name;
        int max_digits;
        void (*ours)(benchmark::State&, int);
        void (*peer)(benchmark::State&, int);
    };
    const Case cases[] = {
        {"cast_i64 plain digits (1-19)", 19, BM_quillmere<std::int64_t, quillmere::core::cast_i64>,
         BM_from_chars<std::int64_t>},
        {"cast_i32 plain digits (1-10)", 10, BM_quillmere<std::int32_t, quillmere::core::cast_i32>,
         BM_from_chars<std::int32_t>},
        {"cast_i64 short digits (1-6)", 6, BM_quillmere<std::int64_t, quillmere::core::cast_i64>,
         BM_from_chars<std::int64_t>},
    };
    for (const Case& c : cases) {
        const std::string prefix = std::string("integers/") + c.name;
        benchmark::RegisterBenchmark((prefix + "/quillmere").c_str(), c.ours, c.max_digits);
        benchmark::RegisterBenchmark((prefix + "/std::from_chars").c_str(), [c](benchmark::State& state) {
            c.peer(state, c.max_digits);
            state.SetLabel("target>=0.8");
        });
    }
    return true;
}();

}  // namespace
