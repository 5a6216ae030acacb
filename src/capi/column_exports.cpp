// The column exports: each decodes its notation and options, reads the Arrow
// array, and hands the column layer's result over as released-on-demand
// Arrow structs. Misuse returns -1 before anything is written.
#include <cstddef>
#include <cstring>
#include <vector>

#include "capi/quillmere.h"
#include "columns/cast_column.hpp"
#include "core/values.hpp"

namespace core = quillmere::core;
namespace columns = quillmere::columns;

namespace {

// The options record as first published; a caller's record may be longer.
constexpr std::size_t OPTIONS_V1_SIZE = offsetof(quillmere_column_options, null_token_lengths) + sizeof(const size_t*);

bool read_options(const quillmere_column_options* in, columns::Options& out, bool& fault_columns,
                  std::vector<columns::NullToken>& tokens) {
    fault_columns = false;
    if (in == nullptr) return true;
    if (in->size < OPTIONS_V1_SIZE) return false;
    switch (in->unit) {
        case 0:
        case QUILLMERE_MICROSECONDS: out.nanoseconds = false; break;
        case QUILLMERE_NANOSECONDS: out.nanoseconds = true; break;
        default: return false;
    }
    if (in->scale != QUILLMERE_SCALE_INFERRED && (in->scale < 0 || in->scale > columns::MAX_COLUMN_SCALE)) return false;
    out.scale = in->scale;
    if (in->span_unit > QUILLMERE_SPANS_CODE_POINTS) return false;
    out.spans = static_cast<columns::SpanUnit>(in->span_unit);
    out.row_base = in->row_base;
    fault_columns = in->fault_columns != 0;
    if (in->null_token_count != 0) {
        if (in->null_tokens == nullptr || in->null_token_lengths == nullptr) return false;
        tokens.reserve(in->null_token_count);
        for (std::uint32_t k = 0; k < in->null_token_count; ++k) {
            if (in->null_tokens[k] == nullptr && in->null_token_lengths[k] != 0) return false;
            tokens.push_back(columns::NullToken{in->null_tokens[k], in->null_token_lengths[k]});
        }
        out.nulls = tokens.data();
        out.null_count = tokens.size();
    }
    return true;
}

bool resolve_format(const quillmere_numformat* packed, core::NumFormat& format) {
    if (packed == nullptr) {
        format = core::DEFAULT_FORMAT;
        return true;
    }
    return core::decode_packed_format(reinterpret_cast<const unsigned char*>(packed), format);
}

void release_all(quillmere_column_result& r) {
    for (ArrowSchema* s : {&r.values_schema, &r.faults_schema, &r.fault_columns_schema}) {
        if (s->release != nullptr) s->release(s);
    }
    for (ArrowArray* a : {&r.values, &r.faults, &r.fault_columns}) {
        if (a->release != nullptr) a->release(a);
    }
}

int32_t run(columns::Options& options, const ArrowSchema* schema, const ArrowArray* array,
            const quillmere_column_options* column_options, quillmere_column_result* result) {
    std::vector<columns::NullToken> tokens;
    bool want_fault_columns;
    if (result == nullptr || !read_options(column_options, options, want_fault_columns, tokens)) {
        return QUILLMERE_INVALID_ARGUMENT;
    }
    columns::Input input;
    columns::Error error;
    if (!columns::read_arrow(schema, array, input, error)) return QUILLMERE_INVALID_ARGUMENT;
    columns::ColumnCast cast;
    if (!columns::cast_column(options, &input, 1, cast, error)) {
        return error.problem == columns::Problem::NO_MEMORY ? QUILLMERE_OUT_OF_MEMORY : QUILLMERE_INVALID_ARGUMENT;
    }
    quillmere_column_result out{};
    bool ok = columns::export_schema(cast.values->type, &out.values_schema) &&
              columns::export_array(cast.values->chunks[0], &out.values) &&
              columns::export_schema(cast.faults->type, &out.faults_schema) &&
              columns::export_array(cast.faults->chunks[0], &out.faults);
    if (ok && want_fault_columns) {
        const std::int64_t length = input.length();
        columns::Chunks* spread = columns::fault_columns(*cast.faults, &length, 1, options.row_base, error);
        ok = spread != nullptr && columns::export_schema(spread->type, &out.fault_columns_schema) &&
             columns::export_array(spread->chunks[0], &out.fault_columns);
        columns::release(spread);
    }
    if (!ok) {
        release_all(out);
        return QUILLMERE_OUT_OF_MEMORY;
    }
    out.fault_count = cast.fault_count;
    *result = out;
    return QUILLMERE_OK;
}

int32_t plain(columns::Target target, const ArrowSchema* schema, const ArrowArray* array,
              const quillmere_column_options* options, quillmere_column_result* result) {
    columns::Options o;
    o.target = target;
    return run(o, schema, array, options, result);
}

int32_t numeric(columns::Target target, const ArrowSchema* schema, const ArrowArray* array,
                const quillmere_numformat* fmt, const quillmere_column_options* options,
                quillmere_column_result* result) {
    columns::Options o;
    o.target = target;
    if (!resolve_format(fmt, o.format)) return QUILLMERE_INVALID_ARGUMENT;
    return run(o, schema, array, options, result);
}

int32_t notation(columns::Target target, bool (*valid)(std::uint32_t) noexcept, std::uint32_t value,
                 const ArrowSchema* schema, const ArrowArray* array, const quillmere_column_options* options,
                 quillmere_column_result* result) {
    if (!valid(value)) return QUILLMERE_INVALID_ARGUMENT;
    columns::Options o;
    o.target = target;
    o.notation = value;
    return run(o, schema, array, options, result);
}

using T = columns::Target;

}  // namespace

#define QUILLMERE_COLUMN_ARGS const ArrowSchema *schema, const ArrowArray *array
#define QUILLMERE_COLUMN_TAIL const quillmere_column_options *options, quillmere_column_result *result
#define QUILLMERE_PLAIN(name, target) \
    int32_t name(QUILLMERE_COLUMN_ARGS, QUILLMERE_COLUMN_TAIL) { return plain(target, schema, array, options, result); }
#define QUILLMERE_NUMERIC(name, target)                                                              \
    int32_t name(QUILLMERE_COLUMN_ARGS, const quillmere_numformat* fmt, QUILLMERE_COLUMN_TAIL) {     \
        return numeric(target, schema, array, fmt, options, result);                                 \
    }
#define QUILLMERE_NOTATION(name, target, valid, argument)                                       \
    int32_t name(QUILLMERE_COLUMN_ARGS, uint32_t argument, QUILLMERE_COLUMN_TAIL) {             \
        return notation(target, valid, argument, schema, array, options, result);               \
    }

extern "C" {

QUILLMERE_PLAIN(cast_bool_column, T::BOOL)
QUILLMERE_PLAIN(cast_char_column, T::CHAR)
QUILLMERE_PLAIN(cast_uuid_column, T::UUID)
QUILLMERE_NUMERIC(cast_i8_column, T::I8)
QUILLMERE_NUMERIC(cast_i16_column, T::I16)
QUILLMERE_NUMERIC(cast_i32_column, T::I32)
QUILLMERE_NUMERIC(cast_i64_column, T::I64)
QUILLMERE_NUMERIC(cast_u8_column, T::U8)
QUILLMERE_NUMERIC(cast_u16_column, T::U16)
QUILLMERE_NUMERIC(cast_u32_column, T::U32)
QUILLMERE_NUMERIC(cast_u64_column, T::U64)
QUILLMERE_NUMERIC(cast_f32_column, T::F32)
QUILLMERE_NUMERIC(cast_f64_column, T::F64)
QUILLMERE_NUMERIC(cast_decimal_column, T::DECIMAL)
QUILLMERE_PLAIN(cast_decimal_from_f64_column, T::DECIMAL_FROM_F64)
QUILLMERE_PLAIN(cast_date_column, T::DATE)
QUILLMERE_NOTATION(cast_date_ordered_column, T::DATE, core::is_valid_date_order, order)
QUILLMERE_PLAIN(cast_time_column, T::TIME)
QUILLMERE_NOTATION(cast_datetime_column, T::DATETIME, core::is_valid_date_order, order)
QUILLMERE_PLAIN(cast_timestamp_column, T::TIMESTAMP)
QUILLMERE_PLAIN(cast_duration_column, T::DURATION)
QUILLMERE_NOTATION(cast_unix_column, T::UNIX, core::is_valid_unix_precision, precision)
QUILLMERE_NOTATION(cast_excel_serial_column, T::EXCEL_SERIAL, core::is_valid_excel_epoch, epoch)
QUILLMERE_NOTATION(cast_excel_serial_from_f64_column, T::EXCEL_SERIAL_FROM_F64, core::is_valid_excel_epoch, epoch)
QUILLMERE_PLAIN(cast_excel_time_column, T::EXCEL_TIME)
QUILLMERE_PLAIN(cast_excel_duration_column, T::EXCEL_DURATION)

void quillmere_column_result_release(quillmere_column_result* result) {
    if (result != nullptr) release_all(*result);
}

}  // extern "C"
