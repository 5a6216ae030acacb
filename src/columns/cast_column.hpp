// Casting whole columns: every cell through its core cast, into an Arrow value
// array whose validity is "input valid and cast succeeded", plus a table of
// the faults in row order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "columns/arrow_data.hpp"
#include "columns/input.hpp"
#include "core/num_format.hpp"

namespace quillmere::columns {

// One per cast of the core, named as the casts are.
enum class Target : std::uint8_t {
    BOOL,
    CHAR,
    UUID,
    I8,
    I16,
    I32,
    I64,
    U8,
    U16,
    U32,
    U64,
    F32,
    F64,
    DECIMAL,
    DATE,  // notation 0: strict ISO; otherwise a DateOrder
    TIME,
    DATETIME,
    TIMESTAMP,
    DURATION,
    UNIX,
    EXCEL_SERIAL,
    DECIMAL_FROM_F64,
    EXCEL_SERIAL_FROM_F64,
    EXCEL_TIME,
    EXCEL_DURATION,
};
inline constexpr int TARGET_COUNT = 25;

constexpr bool reads_doubles(Target t) noexcept { return t >= Target::DECIMAL_FROM_F64; }
constexpr bool takes_format(Target t) noexcept { return t >= Target::I8 && t <= Target::DECIMAL; }

enum class SpanUnit : std::uint8_t { NATURAL, BYTES, CODE_POINTS };

struct NullToken {
    const char* data;
    std::size_t size;
};

inline constexpr int INFERRED_SCALE = -1;
inline constexpr int MAX_COLUMN_SCALE = 38;

struct Options {
    Target target = Target::BOOL;
    core::NumFormat format = core::DEFAULT_FORMAT;
    std::uint32_t notation = 0;  // DateOrder, UnixPrecision or ExcelEpoch, already range-checked
    bool nanoseconds = false;
    int scale = INFERRED_SCALE;  // decimals: 0..38 or INFERRED_SCALE
    SpanUnit spans = SpanUnit::NATURAL;
    std::int64_t row_base = 0;
    const NullToken* nulls = nullptr;
    std::size_t null_count = 0;
};

// The cast of a column of one or more chunks. Holds one reference to each.
struct ColumnCast {
    Chunks* values = nullptr;  // one chunk per input chunk
    Chunks* faults = nullptr;  // one record batch per input chunk: row, reason, offset, length
    std::int64_t fault_count = 0;

    ColumnCast() = default;
    ColumnCast(const ColumnCast&) = delete;
    ColumnCast& operator=(const ColumnCast&) = delete;
    ~ColumnCast() {
        release(values);
        release(faults);
    }
};

// Casts the chunks as one column: rows count on across chunks from
// row_base, and a decimal column's inferred scale holds every chunk's
// successes. False (with `error` set, nothing in `out`) for misuse: an input
// the target cannot read, an invalid option, or no memory.
bool cast_column(const Options& options, const Input* inputs, std::size_t count, ColumnCast& out,
                 Error& error) noexcept;

// The faults spread back over the rows: per chunk, a struct array as long as
// the chunk whose nullable reason, offset and length are set on faulty rows.
// `lengths` are the chunk lengths of the cast column.
Chunks* fault_columns(const Chunks& faults, const std::int64_t* lengths, std::size_t count, std::int64_t row_base,
                      Error& error) noexcept;

}  // namespace quillmere::columns
