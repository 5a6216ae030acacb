#include "columns/input.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quillmere::columns {

bool Error::set(Problem p, const char* format, ...) noexcept {
    problem = p;
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return false;
}

namespace {

constexpr const char* ACCEPTED =
    "utf8, large_utf8, utf8_view, binary, large_binary, binary_view, a dictionary of these, float64 or null";

struct TypeInfo {
    Layout layout;
    bool utf8;
    const char* name;
};

// Layouts this layer reads, by Arrow format string.
bool layout_of(const char* format, TypeInfo& out) {
    static const struct {
        const char* format;
        TypeInfo info;
    } known[] = {
        {"u", {Layout::OFFSETS32, true, "utf8"}},       {"z", {Layout::OFFSETS32, false, "binary"}},
        {"U", {Layout::OFFSETS64, true, "large_utf8"}}, {"Z", {Layout::OFFSETS64, false, "large_binary"}},
        {"vu", {Layout::VIEWS, true, "utf8_view"}},     {"vz", {Layout::VIEWS, false, "binary_view"}},
        {"g", {Layout::FLOAT64, false, "float64"}},     {"n", {Layout::NULLS, false, "null"}},
    };
    for (const auto& k : known) {
        if (std::strcmp(format, k.format) == 0) {
            out = k.info;
            return true;
        }
    }
    return false;
}

bool index_type_of(const char* format, std::uint8_t& width, bool& is_signed) {
    if (format[0] == '\0' || format[1] != '\0') return false;
    switch (format[0]) {
        case 'c': width = 1, is_signed = true; return true;
        case 'C': width = 1, is_signed = false; return true;
        case 's': width = 2, is_signed = true; return true;
        case 'S': width = 2, is_signed = false; return true;
        case 'i': width = 4, is_signed = true; return true;
        case 'I': width = 4, is_signed = false; return true;
        case 'l': width = 8, is_signed = true; return true;
        case 'L': width = 8, is_signed = false; return true;
        default: return false;
    }
}

bool valid_at(const std::uint8_t* validity, std::int64_t i) {
    return validity == nullptr || (validity[i >> 3] >> (i & 7)) & 1;
}

template <class Offset>
bool check_offsets(const Offset* offsets, std::int64_t length, const char* data, Error& error) {
    if (offsets[0] < 0) return error.set(Problem::MALFORMED_ARRAY, "malformed array: a negative offset at cell 0");
    // One branch-free pass: a descent anywhere shows up in the flag.
    bool descends = false;
    for (std::int64_t i = 0; i < length; ++i) descends |= offsets[i + 1] < offsets[i];
    if (descends) {
        std::int64_t at = 0;
        while (offsets[at + 1] >= offsets[at]) ++at;
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: offsets decrease at cell %lld",
                         static_cast<long long>(at));
    }
    if (offsets[length] > offsets[0] && data == nullptr) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: cells have bytes but the data buffer is null");
    }
    return true;
}

// The variadic buffers themselves; each view is checked where the loop reads
// it, since a second pass over 16 bytes per cell would cost a third of a cast.
bool check_variadic(const Cells& cells, std::int64_t variadic_count, const std::int64_t* variadic_sizes, Error& error) {
    for (std::int64_t k = 0; k < variadic_count; ++k) {
        if (variadic_sizes[k] < 0 || (variadic_sizes[k] > 0 && cells.variadic[k] == nullptr)) {
            return error.set(Problem::MALFORMED_ARRAY, "malformed array: variadic buffer %lld is null or of negative size",
                             static_cast<long long>(k));
        }
    }
    return true;
}

template <class Index>
bool check_indices(const Index* indices, const Cells& cells, std::int64_t dictionary_length, Error& error) {
    for (std::int64_t i = 0; i < cells.length; ++i) {
        const Index index = indices[i];
        // Compared as signed 128 so that no index type wraps.
        if ((static_cast<__int128>(index) < 0 || static_cast<__int128>(index) >= dictionary_length) &&
            valid_at(cells.validity, cells.offset + i)) {
            return error.set(Problem::MALFORMED_ARRAY,
                             "malformed array: dictionary index %lld at cell %lld is outside the %lld entries",
                             static_cast<long long>(index), static_cast<long long>(i),
                             static_cast<long long>(dictionary_length));
        }
    }
    return true;
}

// Checks the fields every array has, then the buffers of its layout.
bool read_cells(const char* format, const ArrowArray* array, Cells& out, Error& error) {
    TypeInfo info;
    if (!layout_of(format, info)) {
        return error.set(Problem::UNSUPPORTED_TYPE, "unsupported Arrow type '%s'; accepted: %s", format, ACCEPTED);
    }
    if (array->length < 0 || array->offset < 0 || array->length > INT64_MAX - array->offset - 1) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: length %lld at offset %lld",
                         static_cast<long long>(array->length), static_cast<long long>(array->offset));
    }
    out.layout = info.layout;
    out.code_points = info.utf8;
    out.length = array->length;
    out.offset = array->offset;
    const std::int64_t wanted = info.layout == Layout::OFFSETS32 || info.layout == Layout::OFFSETS64 ? 3
                                : info.layout == Layout::NULLS                                        ? 0
                                : info.layout == Layout::FLOAT64                                      ? 2
                                                                                                      : 3;
    const bool count_ok = info.layout == Layout::VIEWS ? array->n_buffers >= wanted : array->n_buffers == wanted;
    if (!count_ok || (wanted > 0 && array->buffers == nullptr)) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: %s needs %s%lld buffers, got %lld", info.name,
                         info.layout == Layout::VIEWS ? "at least " : "", static_cast<long long>(wanted),
                         static_cast<long long>(array->n_buffers));
    }
    if (info.layout == Layout::NULLS) return true;
    out.validity = array->null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array->buffers[0]);
    if (array->buffers[1] == nullptr && array->length > 0) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: the %s buffer is null",
                         info.layout == Layout::FLOAT64 ? "values" : info.layout == Layout::VIEWS ? "views" : "offsets");
    }
    switch (info.layout) {
        case Layout::FLOAT64:
            out.doubles = static_cast<const double*>(array->buffers[1]);
            return true;
        case Layout::OFFSETS32: {
            static const std::int32_t zero32 = 0;
            const auto* offsets = array->buffers[1] ? static_cast<const std::int32_t*>(array->buffers[1]) + out.offset : &zero32;
            out.offsets = offsets;
            out.data = static_cast<const char*>(array->buffers[2]);
            return check_offsets(offsets, array->length, out.data, error);
        }
        case Layout::OFFSETS64: {
            static const std::int64_t zero64 = 0;
            const auto* offsets = array->buffers[1] ? static_cast<const std::int64_t*>(array->buffers[1]) + out.offset : &zero64;
            out.offsets = offsets;
            out.data = static_cast<const char*>(array->buffers[2]);
            return check_offsets(offsets, array->length, out.data, error);
        }
        case Layout::VIEWS: {
            const std::int64_t variadic_count = array->n_buffers - 3;
            const auto* sizes = static_cast<const std::int64_t*>(array->buffers[array->n_buffers - 1]);
            if (variadic_count > 0 && sizes == nullptr) {
                return error.set(Problem::MALFORMED_ARRAY, "malformed array: the variadic buffer sizes are missing");
            }
            static const std::int64_t no_sizes[1] = {0};
            out.views = static_cast<const std::uint8_t*>(array->buffers[1]);
            out.variadic = reinterpret_cast<const char* const*>(array->buffers + 2);
            out.variadic_count = variadic_count;
            out.variadic_sizes = variadic_count > 0 ? sizes : no_sizes;
            return check_variadic(out, variadic_count, sizes, error);
        }
        default:
            return true;
    }
}

}  // namespace

bool read_arrow(const ArrowSchema* schema, const ArrowArray* array, Input& out, Error& error) noexcept {
    if (schema == nullptr || array == nullptr || schema->format == nullptr || schema->release == nullptr ||
        array->release == nullptr) {
        return error.set(Problem::MALFORMED_ARRAY, "not an Arrow array: a null or released structure");
    }
    // A record batch (or a struct) of exactly one column stands for that column.
    if (std::strcmp(schema->format, "+s") == 0) {
        if (schema->n_children != 1 || array->n_children != 1 || schema->children == nullptr ||
            array->children == nullptr) {
            return error.set(Problem::UNSUPPORTED_TYPE,
                             "a table or struct of %lld columns; pass one column (accepted: %s)",
                             static_cast<long long>(schema->n_children), ACCEPTED);
        }
        if (array->null_count != 0 || array->offset != 0) {
            return error.set(Problem::UNSUPPORTED_TYPE, "a struct with null rows or an offset; pass its column");
        }
        const ArrowArray* child = array->children[0];
        if (child == nullptr || child->length < array->length) {
            return error.set(Problem::MALFORMED_ARRAY, "malformed array: a column shorter than its batch");
        }
        ArrowArray narrowed = *child;
        narrowed.length = array->length;
        narrowed.release = child->release;
        return read_arrow(schema->children[0], &narrowed, out, error);
    }
    out = Input{};
    if (schema->dictionary == nullptr) return read_cells(schema->format, array, out.cells, error);

    if (!index_type_of(schema->format, out.index_width, out.index_signed)) {
        return error.set(Problem::UNSUPPORTED_TYPE, "dictionary indices of Arrow type '%s' are not integers",
                         schema->format);
    }
    if (array->dictionary == nullptr || array->n_buffers != 2 || array->buffers == nullptr) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: a dictionary array without its dictionary");
    }
    if (array->length < 0 || array->offset < 0 || array->length > INT64_MAX - array->offset) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: length %lld at offset %lld",
                         static_cast<long long>(array->length), static_cast<long long>(array->offset));
    }
    if (!read_cells(schema->dictionary->format, array->dictionary, out.dictionary, error)) return false;
    if (out.dictionary.layout == Layout::FLOAT64 || out.dictionary.layout == Layout::NULLS) {
        return error.set(Problem::UNSUPPORTED_TYPE, "unsupported Arrow type: a dictionary of '%s'; accepted: %s",
                         schema->dictionary->format, ACCEPTED);
    }
    out.dictionary_encoded = true;
    out.cells.layout = out.dictionary.layout;
    out.cells.code_points = out.dictionary.code_points;
    out.cells.length = array->length;
    out.cells.offset = array->offset;
    out.cells.validity = array->null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array->buffers[0]);
    if (array->buffers[1] == nullptr && array->length > 0) {
        return error.set(Problem::MALFORMED_ARRAY, "malformed array: the indices buffer is null");
    }
    out.indices = static_cast<const std::uint8_t*>(array->buffers[1]) + array->offset * out.index_width;
    const std::int64_t entries = out.dictionary.length;
    switch (out.index_width) {
        case 1:
            return out.index_signed ? check_indices(static_cast<const std::int8_t*>(out.indices), out.cells, entries, error)
                                    : check_indices(static_cast<const std::uint8_t*>(out.indices), out.cells, entries, error);
        case 2:
            return out.index_signed ? check_indices(static_cast<const std::int16_t*>(out.indices), out.cells, entries, error)
                                    : check_indices(static_cast<const std::uint16_t*>(out.indices), out.cells, entries, error);
        case 4:
            return out.index_signed ? check_indices(static_cast<const std::int32_t*>(out.indices), out.cells, entries, error)
                                    : check_indices(static_cast<const std::uint32_t*>(out.indices), out.cells, entries, error);
        default:
            return out.index_signed ? check_indices(static_cast<const std::int64_t*>(out.indices), out.cells, entries, error)
                                    : check_indices(static_cast<const std::uint64_t*>(out.indices), out.cells, entries, error);
    }
}

}  // namespace quillmere::columns
