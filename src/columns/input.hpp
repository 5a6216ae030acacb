// The cells of an input column: which layout they come in and where its
// buffers are. An Input is built only by the checks in input.cpp (Arrow
// arrays) or by a front end that owns the cells (Python sequences), so the
// cast loops can read it without a check per cell.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capi/quillmere.h"

namespace quillmere::columns {

enum class Layout : std::uint8_t {
    OFFSETS32,  // utf8, binary
    OFFSETS64,  // large_utf8, large_binary
    VIEWS,      // utf8_view, binary_view
    POINTERS,   // one (pointer, size, kind) per cell, from a front end
    FLOAT64,
    NULLS,      // every cell null
};

// Kinds of POINTERS cells.
enum CellKind : std::uint8_t {
    CELL_BYTES = 0,
    CELL_STR = 1,        // spans in code points unless bytes are asked for
    CELL_NULL = 2,
    CELL_UNENCODABLE = 3,  // a str that has no UTF-8 form: MALFORMED at code point `sizes[i]`, length 1
};

struct Cells {
    Layout layout = Layout::NULLS;
    bool code_points = false;  // text cells are utf8: spans count code points by default
    std::int64_t length = 0;
    std::int64_t offset = 0;               // of cell 0 within the buffers and the bitmap
    const std::uint8_t* validity = nullptr;  // null: every cell valid
    // OFFSETS32, OFFSETS64
    const void* offsets = nullptr;
    const char* data = nullptr;
    // VIEWS: each view is checked against its buffer's size as it is read
    const std::uint8_t* views = nullptr;
    const char* const* variadic = nullptr;
    const std::int64_t* variadic_sizes = nullptr;
    std::int64_t variadic_count = 0;
    // POINTERS
    const char* const* pointers = nullptr;
    const std::size_t* sizes = nullptr;
    const std::uint8_t* kinds = nullptr;
    // FLOAT64
    const double* doubles = nullptr;
};

// A column chunk: cells, or indices into a dictionary of cells.
struct Input {
    Cells cells;
    bool dictionary_encoded = false;
    Cells dictionary;               // the values, when dictionary_encoded
    const void* indices = nullptr;  // already past the array offset
    std::uint8_t index_width = 0;   // 1, 2, 4 or 8 bytes
    bool index_signed = true;
    std::int64_t length() const noexcept { return cells.length; }
};

// Failures of use, reported before any cell is read.
enum class Problem : std::uint8_t { NONE, UNSUPPORTED_TYPE, MALFORMED_ARRAY, INVALID_OPTION, NO_MEMORY };

struct Error {
    Problem problem = Problem::NONE;
    char message[200] = {};
    // Sets the problem and a printf-formatted message; returns false.
    bool set(Problem p, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
};

// Reads an Arrow array (or a record batch of one column) as an Input after
// checking, in one pass over offsets and indices, that no cell points outside
// its buffers (views are checked as the cast reads them). The structs are
// borrowed; nothing is retained.
bool read_arrow(const ArrowSchema* schema, const ArrowArray* array, Input& out, Error& error) noexcept;

}  // namespace quillmere::columns
