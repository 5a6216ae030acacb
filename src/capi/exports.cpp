// The C ABI: each export is a thin frame around one core cast. The frame
// checks notation arguments, calls the core, and turns the verdict into a
// status code, a value record and an optional packed span.
#include "capi/quillmere.h"

#include <cstring>

#include "core/casts.hpp"
#include "core/decimal.hpp"

namespace core = quillmere::core;

namespace {

static_assert(sizeof(quillmere_numformat) == core::PACKED_FORMAT_SIZE);
static_assert(sizeof(quillmere_decimal) == sizeof(core::ExactDecimal));
static_assert(sizeof(quillmere_date) == sizeof(core::CivilDate));
static_assert(sizeof(quillmere_datetime) == sizeof(core::CivilDateTime));
static_assert(sizeof(quillmere_uuid) == sizeof(core::Uuid));
static_assert(QUILLMERE_DECIMAL_TEXT_SIZE == core::MAX_DECIMAL_TEXT + 1);

// Bytes of a value record at the boundary. Instants and durations are 12-byte
// records although their structs are padded to 16.
template <class T>
constexpr std::size_t record_size = sizeof(T);
template <>
constexpr std::size_t record_size<core::Instant> = 12;
template <>
constexpr std::size_t record_size<core::SignedDuration> = 12;

template <class T, class Out>
int32_t deliver(const core::Verdict<T>& verdict, Out* out, uint64_t* fault) noexcept {
    if (verdict.ok()) {
        static_assert(sizeof(Out) >= record_size<T>);
        std::memcpy(out, &verdict.value, record_size<T>);
        return QUILLMERE_OK;
    }
    if (fault != nullptr) *fault = core::pack_span(verdict.span);
    return static_cast<int32_t>(verdict.status);
}

bool resolve_format(const quillmere_numformat* packed, core::NumFormat& format) noexcept {
    if (packed == nullptr) {
        format = core::DEFAULT_FORMAT;
        return true;
    }
    return core::decode_packed_format(reinterpret_cast<const unsigned char*>(packed), format);
}

template <auto Cast, class Out>
int32_t numeric_export(const char* data, size_t len, const quillmere_numformat* fmt, Out* out,
                       uint64_t* fault) noexcept {
    core::NumFormat format;
    if (!resolve_format(fmt, format)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(Cast(data, len, format), out, fault);
}

}  // namespace

extern "C" {

uint32_t quillmere_version(void) {
    return (QUILLMERE_VERSION_MAJOR << 16) | (QUILLMERE_VERSION_MINOR << 8) | QUILLMERE_VERSION_PATCH;
}

int32_t cast_bool(const char* data, size_t len, uint8_t* out, uint64_t* fault) {
    return deliver(core::cast_bool(data, len), out, fault);
}

int32_t cast_char(const char* data, size_t len, uint32_t* out, uint64_t* fault) {
    return deliver(core::cast_char(data, len), out, fault);
}

int32_t cast_i8(const char* data, size_t len, const quillmere_numformat* fmt, int8_t* out, uint64_t* fault) {
    return numeric_export<core::cast_i8>(data, len, fmt, out, fault);
}
int32_t cast_i16(const char* data, size_t len, const quillmere_numformat* fmt, int16_t* out, uint64_t* fault) {
    return numeric_export<core::cast_i16>(data, len, fmt, out, fault);
}
int32_t cast_i32(const char* data, size_t len, const quillmere_numformat* fmt, int32_t* out, uint64_t* fault) {
    return numeric_export<core::cast_i32>(data, len, fmt, out, fault);
}
int32_t cast_i64(const char* data, size_t len, const quillmere_numformat* fmt, int64_t* out, uint64_t* fault) {
    return numeric_export<core::cast_i64>(data, len, fmt, out, fault);
}
int32_t cast_u8(const char* data, size_t len, const quillmere_numformat* fmt, uint8_t* out, uint64_t* fault) {
    return numeric_export<core::cast_u8>(data, len, fmt, out, fault);
}
int32_t cast_u16(const char* data, size_t len, const quillmere_numformat* fmt, uint16_t* out, uint64_t* fault) {
    return numeric_export<core::cast_u16>(data, len, fmt, out, fault);
}
int32_t cast_u32(const char* data, size_t len, const quillmere_numformat* fmt, uint32_t* out, uint64_t* fault) {
    return numeric_export<core::cast_u32>(data, len, fmt, out, fault);
}
int32_t cast_u64(const char* data, size_t len, const quillmere_numformat* fmt, uint64_t* out, uint64_t* fault) {
    return numeric_export<core::cast_u64>(data, len, fmt, out, fault);
}
int32_t cast_f32(const char* data, size_t len, const quillmere_numformat* fmt, float* out, uint64_t* fault) {
    return numeric_export<core::cast_f32>(data, len, fmt, out, fault);
}
int32_t cast_f64(const char* data, size_t len, const quillmere_numformat* fmt, double* out, uint64_t* fault) {
    return numeric_export<core::cast_f64>(data, len, fmt, out, fault);
}
int32_t cast_decimal(const char* data, size_t len, const quillmere_numformat* fmt, quillmere_decimal* out,
                     uint64_t* fault) {
    return numeric_export<core::cast_decimal>(data, len, fmt, out, fault);
}
int32_t cast_decimal_from_f64(double value, quillmere_decimal* out, uint64_t* fault) {
    return deliver(core::decimal_from_double(value), out, fault);
}

int32_t quillmere_decimal_to_text(const quillmere_decimal* value, char* buffer, size_t size) {
    if (value == nullptr || buffer == nullptr) return QUILLMERE_INVALID_ARGUMENT;
    core::ExactDecimal decimal;
    std::memcpy(&decimal, value, sizeof decimal);
    if (decimal.scale > core::MAX_DECIMAL_SCALE || decimal.negative > 1) return QUILLMERE_INVALID_ARGUMENT;
    char text[core::DECIMAL_TEXT_BUFFER];
    const std::size_t length = core::format_decimal(decimal, text);
    if (size <= length) return QUILLMERE_INVALID_ARGUMENT;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

int32_t cast_uuid(const char* data, size_t len, quillmere_uuid* out, uint64_t* fault) {
    return deliver(core::cast_uuid(data, len), out, fault);
}

int32_t cast_date(const char* data, size_t len, quillmere_date* out, uint64_t* fault) {
    return deliver(core::cast_date(data, len), out, fault);
}
int32_t cast_date_ordered(const char* data, size_t len, uint32_t order, quillmere_date* out, uint64_t* fault) {
    if (!core::is_valid_date_order(order)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(core::cast_date_ordered(data, len, core::DateOrder{order}), out, fault);
}
int32_t cast_time(const char* data, size_t len, quillmere_time* out, uint64_t* fault) {
    return deliver(core::cast_time(data, len), out, fault);
}
int32_t cast_datetime(const char* data, size_t len, uint32_t order, quillmere_datetime* out, uint64_t* fault) {
    if (!core::is_valid_date_order(order)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(core::cast_datetime(data, len, core::DateOrder{order}), out, fault);
}
int32_t cast_timestamp(const char* data, size_t len, quillmere_instant* out, uint64_t* fault) {
    return deliver(core::cast_timestamp(data, len), out, fault);
}
int32_t cast_duration(const char* data, size_t len, quillmere_duration* out, uint64_t* fault) {
    return deliver(core::cast_duration(data, len), out, fault);
}
int32_t cast_unix(const char* data, size_t len, uint32_t precision, quillmere_instant* out, uint64_t* fault) {
    if (!core::is_valid_unix_precision(precision)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(core::cast_unix(data, len, core::UnixPrecision{precision}), out, fault);
}
int32_t cast_excel_serial(const char* data, size_t len, uint32_t epoch, quillmere_instant* out, uint64_t* fault) {
    if (!core::is_valid_excel_epoch(epoch)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(core::cast_excel_serial(data, len, core::ExcelEpoch{epoch}), out, fault);
}
int32_t cast_excel_serial_from_f64(double value, uint32_t epoch, quillmere_datetime* out, uint64_t* fault) {
    if (!core::is_valid_excel_epoch(epoch)) return QUILLMERE_INVALID_ARGUMENT;
    return deliver(core::cast_excel_serial_from_f64(core::ExcelEpoch{epoch}, value), out, fault);
}
int32_t cast_excel_time(double value, quillmere_time* out, uint64_t* fault) {
    return deliver(core::cast_excel_time(value), out, fault);
}
int32_t cast_excel_duration(double value, quillmere_duration* out, uint64_t* fault) {
    return deliver(core::cast_excel_duration(value), out, fault);
}

}  // extern "C"
