// Column casts through the C ABI on arrays built from fuzz input, most of
// them malformed: offsets out of order, views pointing anywhere, dictionary
// indices out of range, odd lengths and array offsets. Every buffer is its
// own heap block of exactly the size the array format promises, so a read
// past one trips AddressSanitizer. Invariants: misuse is -1 and nothing else;
// a result has the input's length, faults in strictly increasing rows of the
// input, reasons 1..3, and each faulty row null in the values.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "quillmere.h"

namespace {

void require(bool ok) {
    if (!ok) __builtin_trap();
}

struct Bytes {
    const uint8_t* data;
    size_t left;
    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *data++;
    }
    // A heap block of exactly n bytes, filled from the input (zeros past its end).
    std::unique_ptr<uint8_t[]> block(size_t n) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[n == 0 ? 1 : n]);
        for (size_t i = 0; i < n; ++i) out[i] = byte();
        return out;
    }
};

void no_release_schema(ArrowSchema* s) { s->release = nullptr; }
void no_release_array(ArrowArray* a) { a->release = nullptr; }

// One array and everything it points to.
struct Built {
    ArrowSchema schema{};
    ArrowArray array{};
    ArrowSchema value_schema{};
    ArrowArray dictionary{};
    const void* buffers[6] = {};
    const void* dictionary_buffers[3] = {};
    std::vector<std::unique_ptr<uint8_t[]>> blocks;
    std::vector<int64_t> variadic_sizes;

    const void* keep(std::unique_ptr<uint8_t[]> b) {
        blocks.push_back(std::move(b));
        return blocks.back().get();
    }
};

// Offsets as the input gives them, small enough to be plausible, and a data
// block as long as the last offset claims.
template <class Offset>
bool offsets_array(Bytes& in, int64_t length, int64_t offset, Built& b, const void** buffers) {
    const size_t count = static_cast<size_t>(offset + length + 1);
    auto offsets = std::unique_ptr<uint8_t[]>(new uint8_t[count * sizeof(Offset)]);
    Offset at = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t step = in.byte();
        // Mostly growing; now and then a step back or a leap.
        at = step == 0xFF ? at - 3 : step == 0xFE ? at + 5000 : at + (step & 7);
        std::memcpy(offsets.get() + i * sizeof(Offset), &at, sizeof(Offset));
    }
    if (at < 0 || at > 4096) return false;
    buffers[1] = b.keep(std::move(offsets));
    buffers[2] = b.keep(in.block(static_cast<size_t>(at)));
    return true;
}

bool build(Bytes& in, Built& b, uint8_t layout) {
    const int64_t length = in.byte() % 40;
    const int64_t offset = in.byte() % 9;
    b.schema = ArrowSchema{"u", "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr, no_release_schema, nullptr};
    b.array = ArrowArray{length, 0, offset, 3, 0, b.buffers, nullptr, nullptr, no_release_array, nullptr};
    const size_t bitmap = static_cast<size_t>((offset + length + 7) / 8);
    if (in.byte() & 1) {
        b.buffers[0] = b.keep(in.block(bitmap));
        b.array.null_count = -1;
    }
    switch (layout % 6) {
        case 0:
            b.schema.format = "u";
            return offsets_array<int32_t>(in, length, offset, b, b.buffers);
        case 1:
            b.schema.format = "Z";
            return offsets_array<int64_t>(in, length, offset, b, b.buffers);
        case 2: {
            b.schema.format = "vu";
            const int64_t variadic = in.byte() % 3;
            b.array.n_buffers = 3 + variadic;
            b.buffers[1] = b.keep(in.block(static_cast<size_t>(16 * (offset + length))));
            for (int64_t k = 0; k < variadic; ++k) {
                const int64_t size = in.byte() * 4;
                b.variadic_sizes.push_back(size);
                b.buffers[2 + k] = b.keep(in.block(static_cast<size_t>(size)));
            }
            b.buffers[2 + variadic] = b.variadic_sizes.data();
            return true;
        }
        case 3: {
            // Dictionary-encoded: int8 or int32 indices into a small utf8 dictionary.
            const bool wide = in.byte() & 1;
            b.schema.format = wide ? "i" : "c";
            b.value_schema = ArrowSchema{"u", "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr, no_release_schema, nullptr};
            b.schema.dictionary = &b.value_schema;
            b.array.n_buffers = 2;
            b.buffers[1] = b.keep(in.block(static_cast<size_t>((offset + length) * (wide ? 4 : 1))));
            const int64_t entries = in.byte() % 6;
            b.dictionary = ArrowArray{entries, 0, 0, 3, 0, b.dictionary_buffers, nullptr, nullptr, no_release_array, nullptr};
            b.array.dictionary = &b.dictionary;
            return offsets_array<int32_t>(in, entries, 0, b, b.dictionary_buffers);
        }
        case 4:
            b.schema.format = "g";
            b.array.n_buffers = 2;
            b.buffers[1] = b.keep(in.block(static_cast<size_t>(8 * (offset + length))));
            return true;
        default:
            b.schema.format = "n";
            b.array.n_buffers = 0;
            b.array.null_count = length;
            return true;
    }
}

int32_t cast(uint8_t which, const ArrowSchema* s, const ArrowArray* a, const quillmere_column_options* o,
             quillmere_column_result* r) {
    switch (which % 12) {
        case 0: return cast_i64_column(s, a, nullptr, o, r);
        case 1: return cast_f64_column(s, a, nullptr, o, r);
        case 2: return cast_decimal_column(s, a, nullptr, o, r);
        case 3: return cast_char_column(s, a, o, r);
        case 4: return cast_bool_column(s, a, o, r);
        case 5: return cast_uuid_column(s, a, o, r);
        case 6: return cast_timestamp_column(s, a, o, r);
        case 7: return cast_duration_column(s, a, o, r);
        case 8: return cast_date_ordered_column(s, a, QUILLMERE_DMY, o, r);
        case 9: return cast_decimal_from_f64_column(s, a, o, r);
        case 10: return cast_excel_time_column(s, a, o, r);
        default: return cast_unix_column(s, a, QUILLMERE_NANOSECONDS, o, r);
    }
}

bool bit(const ArrowArray& a, int64_t i) {
    const auto* bits = static_cast<const uint8_t*>(a.buffers[0]);
    return bits == nullptr || ((bits[(a.offset + i) >> 3] >> ((a.offset + i) & 7)) & 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    const uint8_t layout = in.byte();
    const uint8_t which = in.byte();
    const uint8_t flags = in.byte();
    Built b;
    if (!build(in, b, layout)) return 0;

    static const char* const tokens[] = {"", "NA"};
    static const size_t token_lengths[] = {0, 2};
    quillmere_column_options options = QUILLMERE_COLUMN_OPTIONS_INIT;
    options.unit = flags & 1 ? QUILLMERE_NANOSECONDS : QUILLMERE_MICROSECONDS;
    options.span_unit = (flags >> 1) % 3;
    options.fault_columns = flags & 8;
    options.null_token_count = flags & 16 ? 2 : 0;
    options.null_tokens = tokens;
    options.null_token_lengths = token_lengths;
    options.row_base = flags & 32 ? INT64_C(1) << 40 : 0;
    options.scale = flags & 64 ? 3 : QUILLMERE_SCALE_INFERRED;

    quillmere_column_result r;
    std::memset(&r, 0x5A, sizeof r);
    const int32_t status = cast(which, &b.schema, &b.array, &options, &r);
    require(status == QUILLMERE_OK || status == QUILLMERE_INVALID_ARGUMENT);
    if (status != QUILLMERE_OK) {
        for (size_t i = 0; i < sizeof r; ++i) require(reinterpret_cast<const uint8_t*>(&r)[i] == 0x5A);
        return 0;
    }
    const int64_t n = b.array.length;
    require(r.values.length == n && r.faults.length == r.fault_count && r.faults.n_children == 4);
    const auto* rows = static_cast<const int64_t*>(r.faults.children[0]->buffers[1]);
    const auto* reasons = static_cast<const uint8_t*>(r.faults.children[1]->buffers[1]);
    for (int64_t k = 0; k < r.fault_count; ++k) {
        const int64_t row = rows[k] - options.row_base;
        require(row >= 0 && row < n && (k == 0 || rows[k] > rows[k - 1]));
        require(reasons[k] >= 1 && reasons[k] <= 3);
        require(!bit(r.values, row));
    }
    if (options.fault_columns) require(r.fault_columns.length == n && r.fault_columns.n_children == 3);
    quillmere_column_result_release(&r);
    return 0;
}
