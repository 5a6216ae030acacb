// Core cost of the calendar casts on typical ISO text, before any front end.
#include <benchmark/benchmark.h>

#include <cstring>

#include "core/casts.hpp"

namespace {

using namespace quillmere::core;

template <class F>
void run(benchmark::State& state, const char* text, F cast) {
    const std::size_t len = std::strlen(text);
    for (auto _ : state) {
        const char* p = text;
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(cast(p, len));
    }
}

void BM_cast_date(benchmark::State& s) { run(s, "2024-01-15", cast_date); }
void BM_cast_date_ordered(benchmark::State& s) {
    run(s, "15.01.2024", [](const char* p, std::size_t n) { return cast_date_ordered(p, n, DateOrder::DMY); });
}
void BM_cast_time(benchmark::State& s) { run(s, "12:30:45.123456", cast_time); }
void BM_cast_datetime(benchmark::State& s) {
    run(s, "2024-01-15T12:30:45.123456", [](const char* p, std::size_t n) { return cast_datetime(p, n, DateOrder::YMD); });
}
void BM_cast_timestamp(benchmark::State& s) { run(s, "2024-01-15T12:30:45.123456+05:30", cast_timestamp); }
void BM_cast_timestamp_fault(benchmark::State& s) { run(s, "2024-01-15T12:30:45", cast_timestamp); }

BENCHMARK(BM_cast_date);
BENCHMARK(BM_cast_date_ordered);
BENCHMARK(BM_cast_time);
BENCHMARK(BM_cast_datetime);
BENCHMARK(BM_cast_timestamp);
BENCHMARK(BM_cast_timestamp_fault);

}  // namespace
