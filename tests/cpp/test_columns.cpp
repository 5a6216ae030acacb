// The column exports from several threads at once: each thread casts the
// same borrowed input and sees exactly what one thread sees, and releasing
// results on other threads than the ones that made them is safe. Run under
// ThreadSanitizer this also proves the column layer shares no state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quillmere.h"

namespace {

struct Utf8Column {
    std::vector<int32_t> offsets{0};
    std::string data;
    const void* buffers[3] = {};
    ArrowSchema schema{};
    ArrowArray array{};

    explicit Utf8Column(const std::vector<std::string>& cells) {
        for (const std::string& cell : cells) {
            data += cell;
            offsets.push_back(static_cast<int32_t>(data.size()));
        }
        buffers[1] = offsets.data();
        buffers[2] = data.data();
        schema = ArrowSchema{"u", "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr,
                             [](ArrowSchema* s) { s->release = nullptr; }, nullptr};
        array = ArrowArray{static_cast<int64_t>(cells.size()), 0, 0, 3, 0, buffers, nullptr, nullptr,
                           [](ArrowArray* a) { a->release = nullptr; }, nullptr};
    }
};

// Values and fault rows of one cast, as plain data.
struct Seen {
    std::vector<int64_t> values;
    std::vector<int64_t> fault_rows;
    bool operator==(const Seen&) const = default;
};

Seen read(const quillmere_column_result& r) {
    Seen seen;
    const auto* values = static_cast<const int64_t*>(r.values.buffers[1]);
    seen.values.assign(values, values + r.values.length);
    const auto* rows = static_cast<const int64_t*>(r.faults.children[0]->buffers[1]);
    seen.fault_rows.assign(rows, rows + r.faults.length);
    return seen;
}

void release(quillmere_column_result& r) {
    if (r.values.release == nullptr) return;  // never filled
    quillmere_column_result_release(&r);
}

TEST(ConcurrencyColumns, ThreadsCastingOneInputSeeWhatOneThreadSees) {
    std::vector<std::string> cells;
    for (int i = 0; i < 4000; ++i) cells.push_back(i % 13 == 0 ? " x" + std::to_string(i) : std::to_string(i * 7919));
    const Utf8Column column(cells);
    quillmere_column_options options = QUILLMERE_COLUMN_OPTIONS_INIT;
    options.fault_columns = 1;

    quillmere_column_result first;
    ASSERT_EQ(cast_i64_column(&column.schema, &column.array, nullptr, &options, &first), QUILLMERE_OK);
    const Seen alone = read(first);
    ASSERT_EQ(alone.fault_rows.size(), 308u);

    // Results made on one thread are released on another.
    std::vector<quillmere_column_result> handed(4);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                quillmere_column_result r;
                if (cast_i64_column(&column.schema, &column.array, nullptr, &options, &r) != QUILLMERE_OK ||
                    !(read(r) == alone)) {
                    ++mismatches[t];
                    continue;
                }
                if (round == 24) {
                    handed[t] = r;
                } else {
                    release(r);
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    threads.clear();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(mismatches[t], 0);
        threads.emplace_back([&handed, t] { release(handed[(t + 1) % 4]); });
    }
    for (std::thread& t : threads) t.join();
    release(first);
}

}  // namespace
