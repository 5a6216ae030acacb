// Every export is reentrant: several threads casting the same and different
// inputs at once see exactly what one thread sees. Run under ThreadSanitizer
// this also proves the exports share no state.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "quillmere.h"
#include "support.hpp"

namespace {

using Outcome = quillmere::testing_support::AbiOutcome;
using quillmere::testing_support::abi_outcome;
using Call = std::function<Outcome(const std::string&)>;

template <class Out, class F>
Call text_call(F f) {
    return [f](const std::string& s) {
        return abi_outcome<Out>([&](Out* out, uint64_t* fault) { return f(s.data(), s.size(), out, fault); });
    };
}

template <class Out, class F>
Call numeric_call(F f, const quillmere_numformat* fmt) {
    return [f, fmt](const std::string& s) {
        return abi_outcome<Out>([&](Out* out, uint64_t* fault) { return f(s.data(), s.size(), fmt, out, fault); });
    };
}

template <class Out, class F>
Call notation_call(F f, uint32_t notation) {
    return [f, notation](const std::string& s) {
        return abi_outcome<Out>([&](Out* out, uint64_t* fault) { return f(s.data(), s.size(), notation, out, fault); });
    };
}

// Doubles travel as text here so that one input list serves every call.
template <class Out, class F>
Call double_call(F f) {
    return [f](const std::string& s) {
        return abi_outcome<Out>([&](Out* out, uint64_t* fault) { return f(std::strtod(s.c_str(), nullptr), out, fault); });
    };
}

TEST(Concurrency, ThreadsSeeWhatOneThreadSees) {
    static const quillmere_numformat detect = {'.', ',', QUILLMERE_ALL | QUILLMERE_SEPARATOR_DETECT, 1, {'$'}};
    const std::vector<Call> calls = {
        text_call<uint8_t>(cast_bool),
        text_call<uint32_t>(cast_char),
        numeric_call<int8_t>(cast_i8, nullptr),
        numeric_call<int32_t>(cast_i32, &detect),
        numeric_call<uint64_t>(cast_u64, nullptr),
        numeric_call<float>(cast_f32, nullptr),
        numeric_call<double>(cast_f64, &detect),
        numeric_call<quillmere_decimal>(cast_decimal, &detect),
        double_call<quillmere_decimal>(cast_decimal_from_f64),
        text_call<quillmere_uuid>(cast_uuid),
        text_call<quillmere_date>(cast_date),
        notation_call<quillmere_date>(cast_date_ordered, QUILLMERE_DMY),
        text_call<quillmere_time>(cast_time),
        notation_call<quillmere_datetime>(cast_datetime, QUILLMERE_MDY),
        text_call<quillmere_instant>(cast_timestamp),
        text_call<quillmere_duration>(cast_duration),
        notation_call<quillmere_instant>(cast_unix, QUILLMERE_MILLISECONDS),
        notation_call<quillmere_instant>(cast_excel_serial, QUILLMERE_EPOCH_1900),
        double_call<quillmere_time>(cast_excel_time),
        double_call<quillmere_duration>(cast_excel_duration),
    };
    const std::vector<std::string> inputs = {
        "", "  ", "yes", "0", "12", "-128", "(1,234)", "$5", "1.234,5", "1e5", "0x7F", "99999999999999999999999",
        "3.14159", "0.1", "-0.0", "12.5%", "A", "U+0041", "&#x1F600;", "00112233-4455-6677-8899-aabbccddeeff",
        "2024-02-29", "15.01.2024", "23:59:59.999999999", "01/15/2024 3 pm", "2024-01-15T10:30:00+01:00",
        "P1DT2H30M", "-0:00:01.25", "1.5s", "1700000000123", "45000.75", "garbage \xc3\xa9", "\xff\xfe",
    };

    std::vector<Outcome> expected;
    for (const auto& call : calls) {
        for (const auto& input : inputs) expected.push_back(call(input));
    }

    constexpr int thread_count = 4;
    constexpr int rounds = 50;
    std::vector<int> mismatches(thread_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            const std::size_t total = calls.size() * inputs.size();
            for (int r = 0; r < rounds; ++r) {
                // Each thread walks the cases in its own order, so the same and
                // different inputs are in flight together.
                for (std::size_t k = 0; k < total; ++k) {
                    const std::size_t i = (k * (2 * t + 1) + static_cast<std::size_t>(r)) % total;
                    const Outcome got = calls[i / inputs.size()](inputs[i % inputs.size()]);
                    if (!(got == expected[i])) ++mismatches[t];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < thread_count; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
