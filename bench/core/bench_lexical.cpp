// Core cost of the character and UUID casts, without any front end.
#include <benchmark/benchmark.h>

#include <string>

#include "core/casts.hpp"

namespace {

using namespace quillmere::core;

void run_uuid(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto v = cast_uuid(text.data(), text.size());
        benchmark::DoNotOptimize(v);
    }
}

void run_char(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto v = cast_char(text.data(), text.size());
        benchmark::DoNotOptimize(v);
    }
}

BENCHMARK_CAPTURE(run_uuid, hyphenated, std::string("8c1f6d42-93be-4a7e-b0d5-2f6e1a9c3b07"));
BENCHMARK_CAPTURE(run_uuid, bare, std::string("8C1F6D4293BE4A7EB0D52F6E1A9C3B07"));
BENCHMARK_CAPTURE(run_uuid, braced_with_prefix, std::string("urn:uuid:{8c1f6d42-93be-4a7e-b0d5-2f6e1a9c3b07}"));
BENCHMARK_CAPTURE(run_uuid, structure, std::string("{0x8c1f6d42,0x93be,0x4a7e,{0xb0,0xd5,0x2f,0x6e,0x1a,0x9c,0x3b,0x07}}"));
BENCHMARK_CAPTURE(run_uuid, invalid_digit, std::string("8c1f6d42-93be-4a7e-b0d5-2f6e1a9c3bx7"));
BENCHMARK_CAPTURE(run_char, verbatim, std::string("\xc3\xa9"));
BENCHMARK_CAPTURE(run_char, unicode_notation, std::string("U+1F600"));
BENCHMARK_CAPTURE(run_char, html_reference, std::string("&#128512;"));

}  // namespace
