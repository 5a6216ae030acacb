/*
 * quillmere: exact, explainable text casting through a plain C interface.
 *
 * Every cast returns a status: 0 on success (the value is written to *out),
 * 1 EMPTY, 2 MALFORMED or 3 OUT_OF_RANGE (the offending span is written to
 * *fault when fault is not null: offset in bits 0-31, length in bits 32-63,
 * both in bytes of the input), or -1 for an invalid argument (an invalid
 * packed format or an enumeration out of range; nothing is written then).
 *
 * Text is any bytes, not necessarily NUL-terminated or UTF-8; data may be
 * null when len is 0. All functions are reentrant, keep no state and never
 * allocate. Value records are little-endian and written only on success,
 * with exactly the bytes of the record.
 */
#ifndef QUILLMERE_H
#define QUILLMERE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define QUILLMERE_API
#else
#  define QUILLMERE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library version; quillmere_version() reports the build actually loaded. */
#define QUILLMERE_VERSION_MAJOR 0
#define QUILLMERE_VERSION_MINOR 8
#define QUILLMERE_VERSION_PATCH 0
#define QUILLMERE_VERSION_STRING "0.8.0"

/* Status codes. */
#define QUILLMERE_OK 0
#define QUILLMERE_EMPTY 1
#define QUILLMERE_MALFORMED 2
#define QUILLMERE_OUT_OF_RANGE 3
#define QUILLMERE_INVALID_ARGUMENT (-1)

/* Helpers for the packed fault span. */
#define QUILLMERE_FAULT_OFFSET(span) ((uint32_t)((span) & 0xFFFFFFFFu))
#define QUILLMERE_FAULT_LENGTH(span) ((uint32_t)((span) >> 32))

/* Numeric format flags. */
#define QUILLMERE_GROUPING 1u
#define QUILLMERE_PARENTHESES 2u
#define QUILLMERE_EXPONENT 4u
#define QUILLMERE_RADIX_PREFIXES 8u
#define QUILLMERE_PERCENT 16u
#define QUILLMERE_SEPARATOR_DETECT 32u
#define QUILLMERE_CURRENCY 64u
#define QUILLMERE_ALL 95u

/* Date field orders. */
#define QUILLMERE_YMD 1u
#define QUILLMERE_MDY 2u
#define QUILLMERE_DMY 3u

/* Unix-epoch precisions. */
#define QUILLMERE_SECONDS 1u
#define QUILLMERE_MILLISECONDS 2u
#define QUILLMERE_MICROSECONDS 3u
#define QUILLMERE_NANOSECONDS 4u

/* Excel serial numberings. */
#define QUILLMERE_EPOCH_1900 1u
#define QUILLMERE_EPOCH_1904 2u

/*
 * The 32-byte packed numeric format. Pass null for the default format:
 * "." decimal, "," group, flags QUILLMERE_ALL, no currency.
 */
typedef struct quillmere_numformat {
    uint32_t decimal_sep;  /* a Unicode scalar value */
    uint32_t group_sep;    /* a Unicode scalar value other than decimal_sep */
    uint32_t flags;        /* QUILLMERE_GROUPING | ...; other bits are ignored */
    uint32_t currency_len; /* 0 (no currency) to 16 */
    uint8_t currency[16];  /* UTF-8, no ASCII digit or whitespace; bytes past currency_len ignored */
} quillmere_numformat;

/* An exact decimal: (-1)^negative * magnitude * 10^-scale, magnitude < 2^96. */
typedef struct quillmere_decimal {
    uint64_t magnitude_lo;
    uint32_t magnitude_hi;
    uint8_t scale;    /* 0..28 */
    uint8_t negative; /* 0 or 1 */
    uint8_t reserved[2];
} quillmere_decimal;

/* UUID bytes in text order (RFC 4122 big-endian field order). */
typedef struct quillmere_uuid {
    uint8_t bytes[16];
} quillmere_uuid;

/* A proleptic Gregorian date. */
typedef struct quillmere_date {
    uint16_t year; /* 1..9999 */
    uint8_t month; /* 1..12 */
    uint8_t day;   /* 1..31 */
} quillmere_date;

/* Nanoseconds since midnight, 0..86399999999999. */
typedef uint64_t quillmere_time;

/* A zone-less date-time; the four bytes after the date carry nothing. */
typedef struct quillmere_datetime {
    quillmere_date date;
    uint32_t reserved;
    quillmere_time time;
} quillmere_datetime;

/*
 * Seconds since 1970-01-01T00:00:00Z (floor-based) and 0..999999999
 * nanoseconds. The record is 12 bytes; the exports write exactly those.
 */
typedef struct quillmere_instant {
    int64_t seconds;
    uint32_t nanos;
} quillmere_instant;

/*
 * Seconds truncated toward zero and nanoseconds of the same sign. The record
 * is 12 bytes; the exports write exactly those.
 */
typedef struct quillmere_duration {
    int64_t seconds;
    int32_t nanos;
} quillmere_duration;

/* The library version packed as major << 16 | minor << 8 | patch (0.8.0 is 2048). */
QUILLMERE_API uint32_t quillmere_version(void);

QUILLMERE_API int32_t cast_bool(const char *data, size_t len, uint8_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_char(const char *data, size_t len, uint32_t *out, uint64_t *fault);

QUILLMERE_API int32_t cast_i8(const char *data, size_t len, const quillmere_numformat *fmt, int8_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_i16(const char *data, size_t len, const quillmere_numformat *fmt, int16_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_i32(const char *data, size_t len, const quillmere_numformat *fmt, int32_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_i64(const char *data, size_t len, const quillmere_numformat *fmt, int64_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_u8(const char *data, size_t len, const quillmere_numformat *fmt, uint8_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_u16(const char *data, size_t len, const quillmere_numformat *fmt, uint16_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_u32(const char *data, size_t len, const quillmere_numformat *fmt, uint32_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_u64(const char *data, size_t len, const quillmere_numformat *fmt, uint64_t *out, uint64_t *fault);
QUILLMERE_API int32_t cast_f32(const char *data, size_t len, const quillmere_numformat *fmt, float *out, uint64_t *fault);
QUILLMERE_API int32_t cast_f64(const char *data, size_t len, const quillmere_numformat *fmt, double *out, uint64_t *fault);
QUILLMERE_API int32_t cast_decimal(const char *data, size_t len, const quillmere_numformat *fmt, quillmere_decimal *out, uint64_t *fault);
QUILLMERE_API int32_t cast_decimal_from_f64(double value, quillmere_decimal *out, uint64_t *fault);

/*
 * The canonical text of an exact decimal, the text Python's decimal.Decimal
 * is given for it: the magnitude's digits, padded with zeros to at least
 * scale + 1 digits, a leading "-" when negative, and a "." before the last
 * scale digits; no exponent ("0.005", "-1.1", "100"). A record is written as
 * it stands: trailing fraction zeros and a negative zero are kept.
 *
 * Writes the text and a terminating NUL to buffer and returns the text's
 * length (1 to 31, the NUL not counted). QUILLMERE_DECIMAL_TEXT_SIZE bytes
 * hold the longest text and its NUL. Returns -1 and writes nothing when value
 * or buffer is null, when the record's scale exceeds 28 or its negative byte
 * is neither 0 nor 1, or when size is too small for the text and its NUL.
 */
#define QUILLMERE_DECIMAL_TEXT_SIZE 32
QUILLMERE_API int32_t quillmere_decimal_to_text(const quillmere_decimal *value, char *buffer, size_t size);

QUILLMERE_API int32_t cast_uuid(const char *data, size_t len, quillmere_uuid *out, uint64_t *fault);

QUILLMERE_API int32_t cast_date(const char *data, size_t len, quillmere_date *out, uint64_t *fault);
QUILLMERE_API int32_t cast_date_ordered(const char *data, size_t len, uint32_t order, quillmere_date *out, uint64_t *fault);
QUILLMERE_API int32_t cast_time(const char *data, size_t len, quillmere_time *out, uint64_t *fault);
QUILLMERE_API int32_t cast_datetime(const char *data, size_t len, uint32_t order, quillmere_datetime *out, uint64_t *fault);
QUILLMERE_API int32_t cast_timestamp(const char *data, size_t len, quillmere_instant *out, uint64_t *fault);
QUILLMERE_API int32_t cast_duration(const char *data, size_t len, quillmere_duration *out, uint64_t *fault);
QUILLMERE_API int32_t cast_unix(const char *data, size_t len, uint32_t precision, quillmere_instant *out, uint64_t *fault);
QUILLMERE_API int32_t cast_excel_serial(const char *data, size_t len, uint32_t epoch, quillmere_instant *out, uint64_t *fault);
QUILLMERE_API int32_t cast_excel_serial_from_f64(double value, uint32_t epoch, quillmere_datetime *out, uint64_t *fault);
QUILLMERE_API int32_t cast_excel_time(double value, quillmere_time *out, uint64_t *fault);
QUILLMERE_API int32_t cast_excel_duration(double value, quillmere_duration *out, uint64_t *fault);

/*
 * Column casts over the Arrow C Data Interface.
 *
 * The structs below are the stable Arrow ABI, declared here under Arrow's own
 * guards so that this header coexists with Arrow's and nanoarrow's.
 */
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
    const char *format;
    const char *name;
    const char *metadata;
    int64_t flags;
    int64_t n_children;
    struct ArrowSchema **children;
    struct ArrowSchema *dictionary;
    void (*release)(struct ArrowSchema *);
    void *private_data;
};

struct ArrowArray {
    int64_t length;
    int64_t null_count;
    int64_t offset;
    int64_t n_buffers;
    int64_t n_children;
    const void **buffers;
    struct ArrowArray **children;
    struct ArrowArray *dictionary;
    void (*release)(struct ArrowArray *);
    void *private_data;
};

#endif /* ARROW_C_DATA_INTERFACE */

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
    int (*get_schema)(struct ArrowArrayStream *, struct ArrowSchema *out);
    int (*get_next)(struct ArrowArrayStream *, struct ArrowArray *out);
    const char *(*get_last_error)(struct ArrowArrayStream *);
    void (*release)(struct ArrowArrayStream *);
    void *private_data;
};

#endif /* ARROW_C_STREAM_INTERFACE */

/*
 * A column export casts every cell of one Arrow array and returns 0 with
 * *result filled, -1 for misuse (an unsupported type, a malformed array, an
 * invalid format, notation or option) or -2 when memory ran out; *result is
 * written only on success. The input is borrowed for the call: nothing in
 * the result points into it.
 *
 * Input types: utf8, large_utf8, utf8_view, binary, large_binary,
 * binary_view, a dictionary of any of these, and null; the *_from_f64
 * casts read float64 instead. A null cell stays null and is not a fault.
 *
 * Value types: int8..uint64, float32/float64, bool, utf8 (char), the
 * arrow.uuid extension on fixed_size_binary(16), decimal128(38, scale),
 * date32, time64, timestamp (with zone "UTC" for instants), duration.
 * Temporal values are in microseconds unless nanoseconds are asked for; a
 * value the unit cannot hold is OUT_OF_RANGE. Validity is "input valid and
 * cast succeeded".
 *
 * Faults: a struct array (a record batch) with one row per faulty cell in row
 * order: row int64 (row_base + index in the array), reason uint8 (1, 2, 3),
 * offset and length uint32 (bytes for binary input, code points for utf8
 * input, unless span_unit says otherwise). On request, the same as
 * row-aligned fault columns: a struct array as long as the input whose
 * nullable children reason, offset and length are set on faulty rows only.
 */
#define QUILLMERE_OUT_OF_MEMORY (-2)

/* Span units of column faults. */
#define QUILLMERE_SPANS_NATURAL 0u     /* code points for utf8 input, bytes for binary input */
#define QUILLMERE_SPANS_BYTES 1u
#define QUILLMERE_SPANS_CODE_POINTS 2u

/* Decimal columns: choose the smallest scale that holds every success exactly. */
#define QUILLMERE_SCALE_INFERRED (-1)

/*
 * Options of a column cast; pass null for the defaults. `size` is the size
 * of the record as the caller knows it (sizeof at its build): fields past it
 * take their defaults, so records of older and newer headers both work.
 * Start from QUILLMERE_COLUMN_OPTIONS_INIT.
 */
typedef struct quillmere_column_options {
    uint32_t size;
    uint32_t unit;        /* temporal values: QUILLMERE_MICROSECONDS (also 0) or QUILLMERE_NANOSECONDS */
    int32_t scale;        /* decimal columns: 0..38, or QUILLMERE_SCALE_INFERRED */
    uint32_t span_unit;   /* QUILLMERE_SPANS_* */
    int64_t row_base;     /* added to every fault row */
    uint32_t fault_columns;    /* nonzero: also fill result->fault_columns */
    uint32_t null_token_count; /* cells equal to one of these, after trimming, are null */
    const char *const *null_tokens;
    const size_t *null_token_lengths;
} quillmere_column_options;

#define QUILLMERE_COLUMN_OPTIONS_INIT \
    { (uint32_t)sizeof(quillmere_column_options), QUILLMERE_MICROSECONDS, QUILLMERE_SCALE_INFERRED, \
      QUILLMERE_SPANS_NATURAL, 0, 0u, 0u, NULL, NULL }

/*
 * What a column cast returns. The caller owns every pair and releases each
 * exactly once, or all at once with quillmere_column_result_release;
 * fault_columns is left released (release == NULL) unless asked for.
 */
typedef struct quillmere_column_result {
    struct ArrowSchema values_schema;
    struct ArrowArray values;
    struct ArrowSchema faults_schema;
    struct ArrowArray faults;
    struct ArrowSchema fault_columns_schema;
    struct ArrowArray fault_columns;
    int64_t fault_count;
} quillmere_column_result;

QUILLMERE_API int32_t cast_bool_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_char_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_uuid_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_i8_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_i16_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_i32_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_i64_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_u8_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_u16_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_u32_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_u64_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_f32_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_f64_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_decimal_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_numformat *fmt, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_decimal_from_f64_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_date_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_date_ordered_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    uint32_t order, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_time_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_datetime_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    uint32_t order, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_timestamp_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_duration_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_unix_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    uint32_t precision, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_excel_serial_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    uint32_t epoch, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_excel_serial_from_f64_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    uint32_t epoch, const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_excel_time_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);
QUILLMERE_API int32_t cast_excel_duration_column(const struct ArrowSchema *schema, const struct ArrowArray *array,
    const quillmere_column_options *options, quillmere_column_result *result);

/* Releases every pair of the result that is still held; a released pair is left as it is. */
QUILLMERE_API void quillmere_column_result_release(quillmere_column_result *result);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMERE_H */
