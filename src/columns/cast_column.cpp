// The column loops. Each (layout, cast) pair gets its own loop, with the core
// cast inlined into it: read a cell, cast it, store the value or clear its
// validity bit and log the fault. Nothing in the loop allocates but the fault
// log's occasional growth, and nothing in it checks the input again.
#include "columns/cast_column.hpp"

#include <array>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "core/casts.hpp"
#include "core/civil.hpp"
#include "core/decimal.hpp"
#include "core/numeral.hpp"
#include "core/plain_integer.hpp"

namespace quillmere::columns {

namespace {

namespace core = quillmere::core;

struct Text {
    const char* data;
    std::size_t size;
};

constexpr bool is_space(unsigned char c) noexcept { return c <= 0x20 && ((0x100003600ull >> c) & 1); }

// Offset and length of the text without the whitespace the casts trim.
core::Span trimmed_span(Text t) noexcept {
    std::size_t begin = 0, end = t.size;
    while (begin < end && is_space(static_cast<unsigned char>(t.data[begin]))) ++begin;
    while (end > begin && is_space(static_cast<unsigned char>(t.data[end - 1]))) --end;
    return core::Span{core::saturate_u32(begin), core::saturate_u32(end - begin)};
}

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

std::uint64_t count_code_points(const unsigned char* p, std::size_t n) noexcept {
    std::uint64_t count = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        count += 8 - static_cast<unsigned>(__builtin_popcountll(word & ~(word << 1) & 0x8080808080808080ull));
    }
    for (; i < n; ++i) count += !is_continuation(p[i]);
    return count;
}

// A byte span of UTF-8 text as code points. A span that starts or ends inside
// a character grows to whole characters, as the scalar casts do for a str,
// so slicing the text still gives the offending characters.
core::Span to_code_points(Text t, core::Span span) noexcept {
    const auto* u = reinterpret_cast<const unsigned char*>(t.data);
    const std::size_t n = t.size;
    std::size_t start = span.offset < n ? span.offset : n;
    std::size_t end = start + span.length < n ? start + span.length : n;
    while (start > 0 && start < n && is_continuation(u[start])) --start;
    while (end > start && end < n && is_continuation(u[end])) ++end;
    return core::Span{core::saturate_u32(count_code_points(u, start)),
                      core::saturate_u32(count_code_points(u + start, end - start))};
}

// Faults as four growing columns, in row order.
struct FaultLog {
    Buffer rows, reasons, offsets, lengths;
    std::size_t count = 0;
    std::size_t capacity = 0;
    bool out_of_memory = false;

    bool grow() noexcept {
        const std::size_t wanted = capacity == 0 ? 256 : capacity * 2;
        if (!rows.resize(wanted * 8) || !reasons.resize(wanted) || !offsets.resize(wanted * 4) ||
            !lengths.resize(wanted * 4)) {
            out_of_memory = true;
            return false;
        }
        capacity = wanted;
        return true;
    }

    void push(std::int64_t row, std::uint8_t reason, core::Span span) noexcept {
        if (count == capacity && !grow()) return;
        rows.as<std::int64_t>()[count] = row;
        reasons.as<std::uint8_t>()[count] = reason;
        offsets.as<std::uint32_t>()[count] = span.offset;
        lengths.as<std::uint32_t>()[count] = span.length;
        ++count;
    }
};

// What the loops leave for one chunk until every chunk is cast.
struct ChunkState {
    std::int64_t length = 0;
    std::int64_t first_row = 0;  // row_base plus the rows of earlier chunks
    Buffer validity;
    std::int64_t null_count = 0;
    Buffer values;  // fixed-width values; int64 offsets for text values
    Buffer data;    // text values' bytes
    FaultLog faults;
    std::int64_t broken_at = -1;  // the first cell whose view points outside its buffers
};

// What every loop shares: validity, null tokens, the fault log, span units.
struct Sink {
    ChunkState& state;
    const Options& options;
    std::uint8_t* validity;

    void clear(std::int64_t i) noexcept {
        validity[i >> 3] &= static_cast<std::uint8_t>(~(1u << (i & 7)));
        ++state.null_count;
    }

    bool is_null_token(Text t) const noexcept {
        const core::Span s = trimmed_span(t);
        for (std::size_t k = 0; k < options.null_count; ++k) {
            const NullToken& token = options.nulls[k];
            if (token.size == s.length && (token.size == 0 || std::memcmp(token.data, t.data + s.offset, token.size) == 0)) {
                return true;
            }
        }
        return false;
    }

    // Spans of text cells are bytes from the core, converted where asked.
    [[gnu::noinline]] void text_fault(std::int64_t i, core::Fault fault, Text t, bool is_str) noexcept {
        clear(i);
        core::Span span = fault.span;
        const bool code_points =
            options.spans == SpanUnit::CODE_POINTS || (options.spans == SpanUnit::NATURAL && is_str);
        if (code_points) span = to_code_points(t, span);
        state.faults.push(state.first_row + i, static_cast<std::uint8_t>(fault.reason), span);
    }

    [[gnu::noinline]] void plain_fault(std::int64_t i, core::FaultReason reason, core::Span span) noexcept {
        clear(i);
        state.faults.push(state.first_row + i, static_cast<std::uint8_t>(reason), span);
    }
};

// --- readers: one per layout ---

struct BitmapValidity {
    const std::uint8_t* bits;
    std::int64_t offset;
    bool valid(std::int64_t i) const noexcept {
        const std::int64_t at = offset + i;
        return bits == nullptr || ((bits[at >> 3] >> (at & 7)) & 1);
    }
};

template <class Offset>
struct OffsetsReader : BitmapValidity {
    static constexpr bool has_kinds = false;
    const Offset* offsets;
    const char* data;
    bool code_points;
    const char* first_byte;  // of cell 0: the bytes from here to a cell's end are the column's
    explicit OffsetsReader(const Cells& c)
        : BitmapValidity{c.validity, c.offset}, offsets(static_cast<const Offset*>(c.offsets)), data(c.data),
          code_points(c.code_points), first_byte(c.data == nullptr ? nullptr : c.data + offsets[0]) {}
    Text at(std::int64_t i) const noexcept {
        const Offset begin = offsets[i];
        return Text{data + begin, static_cast<std::size_t>(offsets[i + 1] - begin)};
    }
    // Also the lowest byte a read backwards from the cell's end may touch.
    Text at(std::int64_t i, const char*& floor) const noexcept {
        floor = first_byte;
        return at(i);
    }
    bool is_str(std::int64_t) const noexcept { return code_points; }
};

// A view past its buffer reads as an empty cell and marks the chunk broken;
// the cast then reports the array as malformed and keeps nothing.
struct ViewsReader : BitmapValidity {
    static constexpr bool has_kinds = false;
    const std::uint8_t* views;
    const char* const* variadic;
    const std::int64_t* sizes;
    std::uint64_t count;
    bool code_points;
    mutable std::int64_t broken_at = -1;
    // Stand-ins for an array without buffers, so that buffer 0 can always be read.
    static constexpr const char* NO_BUFFER[1] = {nullptr};
    static constexpr std::int64_t NO_SIZE[1] = {0};
    explicit ViewsReader(const Cells& c)
        : BitmapValidity{c.validity, c.offset}, views(c.views + 16 * c.offset),
          variadic(c.variadic_count > 0 ? c.variadic : NO_BUFFER),
          sizes(c.variadic_count > 0 ? c.variadic_sizes : NO_SIZE),
          count(static_cast<std::uint64_t>(c.variadic_count)), code_points(c.code_points) {}
    Text at(std::int64_t i) const noexcept {
        const char* floor;
        return at(i, floor);
    }
    // A text held in its view may be read back into the views before it;
    // one in a buffer, back to the buffer's start. Both places are worked
    // out and one chosen, with no branch: texts of mixed lengths fall on
    // either side of the twelve bytes a view holds.
    Text at(std::int64_t i, const char*& floor) const noexcept {
        const std::uint8_t* view = views + 16 * i;
        std::int32_t size, buffer, start;
        std::memcpy(&size, view, 4);
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&start, view + 12, 4);
        const bool held = size <= 12;  // in the view; the bytes after the size are text
        const std::uint32_t index = held ? 0 : static_cast<std::uint32_t>(buffer);
        const std::int64_t offset = held ? 0 : start;
        const bool outside = size < 0 || (!held && (index >= count || offset < 0 || offset + size > sizes[index]));
        if (outside) [[unlikely]] {
            if (broken_at < 0) broken_at = i;
            floor = reinterpret_cast<const char*>(views);
            return Text{nullptr, 0};
        }
        const char* in_buffer = variadic[index];
        floor = held ? reinterpret_cast<const char*>(views) : in_buffer;
        return Text{held ? reinterpret_cast<const char*>(view + 4) : in_buffer + offset, static_cast<std::size_t>(size)};
    }
    bool is_str(std::int64_t) const noexcept { return code_points; }
};

struct PointersReader {
    static constexpr bool has_kinds = true;
    const char* const* pointers;
    const std::size_t* sizes;
    const std::uint8_t* kinds;
    explicit PointersReader(const Cells& c) : pointers(c.pointers), sizes(c.sizes), kinds(c.kinds) {}
    bool valid(std::int64_t i) const noexcept { return kinds[i] != CELL_NULL; }
    Text at(std::int64_t i) const noexcept { return Text{pointers[i], sizes[i]}; }
    Text at(std::int64_t i, const char*& floor) const noexcept {
        floor = pointers[i];  // each text is its own block
        return at(i);
    }
    bool is_str(std::int64_t i) const noexcept { return kinds[i] == CELL_STR; }
};

// The text of any cell, for the rare paths that revisit one.
Text text_at(const Cells& c, std::int64_t i) noexcept {
    switch (c.layout) {
        case Layout::OFFSETS32: return OffsetsReader<std::int32_t>(c).at(i);
        case Layout::OFFSETS64: return OffsetsReader<std::int64_t>(c).at(i);
        case Layout::VIEWS: return ViewsReader(c).at(i);
        case Layout::POINTERS: return PointersReader(c).at(i);
        default: return Text{nullptr, 0};
    }
}

bool is_str_at(const Cells& c, std::int64_t i) noexcept {
    return c.layout == Layout::POINTERS ? c.kinds[i] == CELL_STR : c.code_points;
}

std::int64_t index_at(const Input& in, std::int64_t i) noexcept {
    switch (in.index_width) {
        case 1: return in.index_signed ? static_cast<const std::int8_t*>(in.indices)[i] : static_cast<const std::uint8_t*>(in.indices)[i];
        case 2: return in.index_signed ? static_cast<const std::int16_t*>(in.indices)[i] : static_cast<const std::uint16_t*>(in.indices)[i];
        case 4: return in.index_signed ? static_cast<const std::int32_t*>(in.indices)[i] : static_cast<const std::uint32_t*>(in.indices)[i];
        default: return static_cast<const std::int64_t*>(in.indices)[i];
    }
}

// --- writers: one per kind of value ---

template <class T>
struct PlainWriter {
    T* out;
    explicit PlainWriter(ChunkState& s) : out(s.values.as<T>()) {}
    bool put(std::int64_t i, T v) noexcept {
        out[i] = v;
        return true;
    }
    void zero(std::int64_t i) noexcept { out[i] = T{}; }
};

struct BoolWriter {
    std::uint8_t* bits;  // starts all zero
    explicit BoolWriter(ChunkState& s) : bits(s.values.as<std::uint8_t>()) {}
    bool put(std::int64_t i, bool v) noexcept {
        bits[i >> 3] |= static_cast<std::uint8_t>(std::uint8_t{v} << (i & 7));
        return true;
    }
    void zero(std::int64_t) noexcept {}
};

// One character as UTF-8; the loop visits every row in order, so the offsets fill up as it goes.
struct CharWriter {
    std::int64_t* offsets;
    unsigned char* data;
    std::int64_t cursor = 0;
    explicit CharWriter(ChunkState& s) : offsets(s.values.as<std::int64_t>()), data(s.data.as<unsigned char>()) {
        offsets[0] = 0;
    }
    bool put(std::int64_t i, char32_t c) noexcept {
        const std::uint32_t v = c;
        unsigned char* p = data + cursor;
        if (v < 0x80) {
            p[0] = static_cast<unsigned char>(v);
            cursor += 1;
        } else if (v < 0x800) {
            p[0] = static_cast<unsigned char>(0xC0 | (v >> 6));
            p[1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
            cursor += 2;
        } else if (v < 0x10000) {
            p[0] = static_cast<unsigned char>(0xE0 | (v >> 12));
            p[1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
            p[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
            cursor += 3;
        } else {
            p[0] = static_cast<unsigned char>(0xF0 | (v >> 18));
            p[1] = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
            p[2] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
            p[3] = static_cast<unsigned char>(0x80 | (v & 0x3F));
            cursor += 4;
        }
        offsets[i + 1] = cursor;
        return true;
    }
    void zero(std::int64_t i) noexcept { offsets[i + 1] = cursor; }
};

// 16-byte records stored as they come: UUID bytes, or exact decimals that
// are rescaled once the column's scale is known.
template <class T>
struct RecordWriter {
    static_assert(sizeof(T) == 16);
    unsigned char* out;
    explicit RecordWriter(ChunkState& s) : out(s.values.as<unsigned char>()) {}
    bool put(std::int64_t i, const T& v) noexcept {
        std::memcpy(out + 16 * i, &v, 16);
        return true;
    }
    bool put_short(std::int64_t i, const core::ShortNumeral& s) noexcept
        requires std::is_same_v<T, core::ExactDecimal>
    {
        return put(i, core::short_decimal(s));
    }
    void zero(std::int64_t i) noexcept { std::memset(out + 16 * i, 0, 16); }
};

// Decimals under a declared scale, rescaled as they are stored: a value that
// needs more places or more than 38 digits is refused (OUT_OF_RANGE, never rounded).
constexpr std::array<unsigned __int128, MAX_COLUMN_SCALE + 1> POWERS_OF_TEN = [] {
    std::array<unsigned __int128, MAX_COLUMN_SCALE + 1> powers{};
    unsigned __int128 v = 1;
    for (auto& p : powers) {
        p = v;
        v *= 10;
    }
    return powers;
}();

bool store_scaled(unsigned char* slot, const core::ExactDecimal& d, int scale) noexcept {
    const unsigned __int128 magnitude = (static_cast<unsigned __int128>(d.magnitude_hi) << 64) | d.magnitude_lo;
    const int shift = scale - d.scale;
    // decimal128(38) holds magnitudes below 10^38, so before the shift below 10^(38 - shift).
    if (shift < 0 || magnitude >= POWERS_OF_TEN[MAX_COLUMN_SCALE - shift]) return false;
    const unsigned __int128 scaled = magnitude * POWERS_OF_TEN[shift];
    const __int128 v = d.negative ? -static_cast<__int128>(scaled) : static_cast<__int128>(scaled);
    std::memcpy(slot, &v, 16);
    return true;
}

struct ScaledDecimalWriter {
    unsigned char* out;
    int scale;
    ScaledDecimalWriter(ChunkState& s, int declared) : out(s.values.as<unsigned char>()), scale(declared) {}
    bool put(std::int64_t i, const core::ExactDecimal& d) noexcept { return store_scaled(out + 16 * i, d, scale); }
    // The digits as written, when they need no more places than the column
    // has: the value is the same as the canonical record's, rescaled.
    // Anything else goes through put.
    bool put_short(std::int64_t i, const core::ShortNumeral& s) noexcept {
        const int shift = scale - static_cast<int>(s.scale);
        if (shift < 0) return put(i, core::short_decimal(s));  // fewer places once trailing zeros are shed
        // Below 10^19 times at most 10^19 stays below 10^38; only a larger shift needs the test.
        if (shift > 19 && s.mantissa >= POWERS_OF_TEN[MAX_COLUMN_SCALE - shift]) return false;
        const unsigned __int128 scaled = static_cast<unsigned __int128>(s.mantissa) * POWERS_OF_TEN[shift];
        // Negated without a branch: the sign is as unpredictable as the digits.
        const unsigned __int128 mask = -static_cast<unsigned __int128>(s.negative);
        const unsigned __int128 v = (scaled ^ mask) - mask;
        std::memcpy(out + 16 * i, &v, 16);
        return true;
    }
    void zero(std::int64_t i) noexcept { std::memset(out + 16 * i, 0, 16); }
};

struct DateWriter {
    std::int32_t* out;
    explicit DateWriter(ChunkState& s) : out(s.values.as<std::int32_t>()) {}
    bool put(std::int64_t i, core::CivilDate d) noexcept {
        out[i] = static_cast<std::int32_t>(core::days_from_civil(d.year, d.month, d.day));
        return true;
    }
    void zero(std::int64_t i) noexcept { out[i] = 0; }
};

// 64-bit temporal values in microseconds (truncated, as the Python casts
// truncate) or nanoseconds, where a value the unit cannot hold is refused.
struct TemporalWriter {
    std::int64_t* out;
    bool nanoseconds;
    TemporalWriter(ChunkState& s, bool ns) : out(s.values.as<std::int64_t>()), nanoseconds(ns) {}

    bool store(std::int64_t i, std::int64_t seconds, std::int64_t nanos) noexcept {
        if (!nanoseconds) {
            out[i] = seconds * 1'000'000 + nanos / 1000;  // |seconds| < 2^39: no overflow
            return true;
        }
        const __int128 v = static_cast<__int128>(seconds) * 1'000'000'000 + nanos;
        if (v < INT64_MIN || v > INT64_MAX) return false;
        out[i] = static_cast<std::int64_t>(v);
        return true;
    }
    bool put(std::int64_t i, core::TimeOfDay t) noexcept {
        out[i] = nanoseconds ? static_cast<std::int64_t>(t.nanos) : static_cast<std::int64_t>(t.nanos / 1000);
        return true;
    }
    bool put(std::int64_t i, const core::CivilDateTime& v) noexcept {
        const std::int64_t days = core::days_from_civil(v.date.year, v.date.month, v.date.day);
        const auto nanos = static_cast<std::int64_t>(v.time.nanos);
        return store(i, days * 86400 + nanos / 1'000'000'000, nanos % 1'000'000'000);
    }
    bool put(std::int64_t i, const core::Instant& v) noexcept { return store(i, v.seconds, v.nanos); }
    bool put(std::int64_t i, const core::SignedDuration& v) noexcept { return store(i, v.seconds, v.nanos); }
    void zero(std::int64_t i) noexcept { out[i] = 0; }
};

// --- the loops ---

template <class Cast>
concept ReadsPlainIntegers = requires(const Cast& c, Text t, const char* floor, typename Cast::Value& v) {
    c.read_plain(t, floor, v);
};

template <class Reader, class Cast, class Writer>
void cast_text_cells(const Cells& cells, const Cast& cast, Writer& writer, Sink& sink) noexcept {
    const Reader reader(cells);
    const std::int64_t n = cells.length;
    const bool has_tokens = sink.options.null_count != 0;
    for (std::int64_t i = 0; i < n; ++i) {
        if (!reader.valid(i)) {
            writer.zero(i);
            sink.clear(i);
            continue;
        }
        if constexpr (Reader::has_kinds) {
            if (reader.kinds[i] == CELL_UNENCODABLE) [[unlikely]] {
                writer.zero(i);
                sink.plain_fault(i, core::FaultReason::MALFORMED, core::Span{core::saturate_u32(reader.sizes[i]), 1});
                continue;
            }
        }
        const char* floor;
        const Text text = reader.at(i, floor);
        if (has_tokens && sink.is_null_token(text)) {
            writer.zero(i);
            sink.clear(i);
            continue;
        }
        if constexpr (ReadsPlainIntegers<Cast>) {
            // Plain integers are read backwards from their end, over bytes
            // of the column before them, so their length costs no branch.
            typename Cast::Value v;
            if (cast.read_plain(text, floor, v)) [[likely]] {
                writer.put(i, v);
                continue;
            }
        }
        if constexpr (requires(core::ShortNumeral& s) { cast.read_short(text, s); }) {
            // The decimal's digits go to the writer in registers: a 16-byte
            // record leaving the cast through memory would be read back
            // across a stalled store forwarding.
            core::ShortNumeral s;
            if (cast.read_short(text, s) && writer.put_short(i, s)) [[likely]] continue;
        }
        const auto verdict = cast(text.data, text.size);
        if (verdict.ok() && writer.put(i, verdict.value)) [[likely]] {
            continue;
        }
        writer.zero(i);
        const core::Fault fault = verdict.ok() ? core::Fault{core::FaultReason::OUT_OF_RANGE, trimmed_span(text)}
                                               : verdict.fault();
        sink.text_fault(i, fault, text, reader.is_str(i));
    }
    if constexpr (std::is_same_v<Reader, ViewsReader>) sink.state.broken_at = reader.broken_at;
}

template <class Cast, class Writer>
void cast_double_cells(const Cells& cells, const Cast& cast, Writer& writer, Sink& sink) noexcept {
    const BitmapValidity validity{cells.validity, cells.offset};
    const double* values = cells.doubles + cells.offset;
    for (std::int64_t i = 0; i < cells.length; ++i) {
        if (!validity.valid(i)) {
            writer.zero(i);
            sink.clear(i);
            continue;
        }
        const auto verdict = cast(values[i]);
        if (verdict.ok() && writer.put(i, verdict.value)) [[likely]] {
            continue;
        }
        writer.zero(i);
        sink.plain_fault(i, verdict.ok() ? core::FaultReason::OUT_OF_RANGE : verdict.reason(), core::Span{0, 0});
    }
}

template <class Writer>
void null_cells(std::int64_t n, Writer& writer, Sink& sink) noexcept {
    for (std::int64_t i = 0; i < n; ++i) {
        writer.zero(i);
        sink.clear(i);
    }
}

template <class Cast, class Writer>
void cast_cells(const Cells& cells, const Cast& cast, Writer& writer, Sink& sink) noexcept {
    switch (cells.layout) {
        case Layout::OFFSETS32: return cast_text_cells<OffsetsReader<std::int32_t>>(cells, cast, writer, sink);
        case Layout::OFFSETS64: return cast_text_cells<OffsetsReader<std::int64_t>>(cells, cast, writer, sink);
        case Layout::VIEWS: return cast_text_cells<ViewsReader>(cells, cast, writer, sink);
        case Layout::POINTERS: return cast_text_cells<PointersReader>(cells, cast, writer, sink);
        case Layout::NULLS: return null_cells(cells.length, writer, sink);
        case Layout::FLOAT64: return;  // refused before any loop runs
    }
}

template <class Cast, class Writer>
void cast_doubles(const Cells& cells, const Cast& cast, Writer& writer, Sink& sink) noexcept {
    if (cells.layout == Layout::NULLS) return null_cells(cells.length, writer, sink);
    cast_double_cells(cells, cast, writer, sink);
}

// Each cast as a type of its own, so that the loop calls it directly and the
// optimiser can inline it: a function pointer would be an indirect call per cell.
template <auto Cast>
struct TextCast {
    auto operator()(const char* d, std::size_t n) const noexcept { return Cast(d, n); }
};
template <auto Cast>
struct NumericCast {
    const core::NumFormat& format;
    auto operator()(const char* d, std::size_t n) const noexcept { return Cast(d, n, format); }
};
// An integer cast, with its plain integers read apart from the rest where
// the 24 bytes before their end are readable (from `floor` on).
template <auto Cast>
struct IntegerCast : NumericCast<Cast> {
    using Value = decltype(Cast(nullptr, 0, core::INVARIANT_FORMAT).value);
    bool read_plain(Text t, const char* floor, Value& v) const noexcept {
        if (t.size == 0 || t.data + t.size - floor < static_cast<std::ptrdiff_t>(core::DIGITS_BEFORE_READ)) {
            return false;
        }
        return core::read_plain_integer_before_end(reinterpret_cast<const unsigned char*>(t.data), t.size, v);
    }
};
// The decimal cast, with its short plain numerals read apart from the rest.
struct DecimalCast {
    const core::NumFormat& format;
    bool shortcut;
    explicit DecimalCast(const core::NumFormat& f) : format(f), shortcut(core::reads_short_numerals(f)) {}
    bool read_short(Text t, core::ShortNumeral& s) const noexcept {
        return shortcut && core::read_short_numeral(reinterpret_cast<const unsigned char*>(t.data), t.size, s);
    }
    auto operator()(const char* d, std::size_t n) const noexcept { return core::cast_decimal(d, n, format); }
};
template <auto Cast, class Notation>
struct NotationCast {
    Notation notation;
    auto operator()(const char* d, std::size_t n) const noexcept { return Cast(d, n, notation); }
};
template <auto Cast>
struct DoubleCast {
    auto operator()(double x) const noexcept { return Cast(x); }
};
struct ExcelSerialFromDouble {
    core::ExcelEpoch epoch;
    auto operator()(double x) const noexcept { return core::cast_excel_serial_from_f64(epoch, x); }
};

// Calls `body(cast, writer)` with the target's cast and writer.
template <class Body>
void with_target(const Options& o, ChunkState& s, Body&& body) noexcept {
    const core::NumFormat& f = o.format;
    const bool ns = o.nanoseconds;
    switch (o.target) {
        case Target::BOOL: { BoolWriter w(s); return body(TextCast<core::cast_bool>{}, w); }
        case Target::CHAR: { CharWriter w(s); return body(TextCast<core::cast_char>{}, w); }
        case Target::UUID: { RecordWriter<core::Uuid> w(s); return body(TextCast<core::cast_uuid>{}, w); }
        case Target::I8: { PlainWriter<std::int8_t> w(s); return body(IntegerCast<core::cast_i8>{{f}}, w); }
        case Target::I16: { PlainWriter<std::int16_t> w(s); return body(IntegerCast<core::cast_i16>{{f}}, w); }
        case Target::I32: { PlainWriter<std::int32_t> w(s); return body(IntegerCast<core::cast_i32>{{f}}, w); }
        case Target::I64: { PlainWriter<std::int64_t> w(s); return body(IntegerCast<core::cast_i64>{{f}}, w); }
        case Target::U8: { PlainWriter<std::uint8_t> w(s); return body(IntegerCast<core::cast_u8>{{f}}, w); }
        case Target::U16: { PlainWriter<std::uint16_t> w(s); return body(IntegerCast<core::cast_u16>{{f}}, w); }
        case Target::U32: { PlainWriter<std::uint32_t> w(s); return body(IntegerCast<core::cast_u32>{{f}}, w); }
        case Target::U64: { PlainWriter<std::uint64_t> w(s); return body(IntegerCast<core::cast_u64>{{f}}, w); }
        case Target::F32: { PlainWriter<float> w(s); return body(NumericCast<core::cast_f32>{f}, w); }
        case Target::F64: { PlainWriter<double> w(s); return body(NumericCast<core::cast_f64>{f}, w); }
        case Target::DECIMAL: {
            if (o.scale != INFERRED_SCALE) {
                ScaledDecimalWriter w(s, o.scale);
                return body(DecimalCast{f}, w);
            }
            RecordWriter<core::ExactDecimal> w(s);
            return body(DecimalCast{f}, w);
        }
        case Target::DATE: {
            DateWriter w(s);
            if (o.notation == 0) return body(TextCast<core::cast_date>{}, w);
            return body(NotationCast<core::cast_date_ordered, core::DateOrder>{core::DateOrder{o.notation}}, w);
        }
        case Target::TIME: { TemporalWriter w(s, ns); return body(TextCast<core::cast_time>{}, w); }
        case Target::DATETIME: {
            TemporalWriter w(s, ns);
            return body(NotationCast<core::cast_datetime, core::DateOrder>{core::DateOrder{o.notation}}, w);
        }
        case Target::TIMESTAMP: { TemporalWriter w(s, ns); return body(TextCast<core::cast_timestamp>{}, w); }
        case Target::DURATION: { TemporalWriter w(s, ns); return body(TextCast<core::cast_duration>{}, w); }
        case Target::UNIX: {
            TemporalWriter w(s, ns);
            return body(NotationCast<core::cast_unix, core::UnixPrecision>{core::UnixPrecision{o.notation}}, w);
        }
        case Target::EXCEL_SERIAL: {
            TemporalWriter w(s, ns);
            return body(NotationCast<core::cast_excel_serial, core::ExcelEpoch>{core::ExcelEpoch{o.notation}}, w);
        }
        case Target::DECIMAL_FROM_F64: {
            if (o.scale != INFERRED_SCALE) {
                ScaledDecimalWriter w(s, o.scale);
                return body(DoubleCast<core::decimal_from_double>{}, w);
            }
            RecordWriter<core::ExactDecimal> w(s);
            return body(DoubleCast<core::decimal_from_double>{}, w);
        }
        case Target::EXCEL_SERIAL_FROM_F64: {
            TemporalWriter w(s, ns);
            return body(ExcelSerialFromDouble{core::ExcelEpoch{o.notation}}, w);
        }
        case Target::EXCEL_TIME: { TemporalWriter w(s, ns); return body(DoubleCast<core::cast_excel_time>{}, w); }
        case Target::EXCEL_DURATION: { TemporalWriter w(s, ns); return body(DoubleCast<core::cast_excel_duration>{}, w); }
    }
}

// Bytes per value of a target's value buffer; 0 for a bitmap, -1 for text.
int value_width(Target t) noexcept {
    switch (t) {
        case Target::BOOL: return 0;
        case Target::CHAR: return -1;
        case Target::I8: case Target::U8: return 1;
        case Target::I16: case Target::U16: return 2;
        case Target::I32: case Target::U32: case Target::F32: case Target::DATE: return 4;
        case Target::UUID: case Target::DECIMAL: case Target::DECIMAL_FROM_F64: return 16;
        default: return 8;
    }
}

bool allocate_chunk(const Options& o, std::int64_t n, ChunkState& s) noexcept {
    s.length = n;
    const auto count = static_cast<std::size_t>(n);
    const std::size_t bitmap = (count + 7) / 8;
    if (!s.validity.allocate(bitmap)) return false;
    std::memset(s.validity.data(), 0xFF, bitmap);
    const int width = value_width(o.target);
    if (width == 0) {
        if (!s.values.allocate(bitmap)) return false;
        std::memset(s.values.data(), 0, bitmap);
        return true;
    }
    if (width < 0) return s.values.allocate((count + 1) * 8) && s.data.allocate(count * 4);
    return s.values.allocate(count * static_cast<std::size_t>(width));
}

void cast_cells_of(const Options& o, const Cells& cells, ChunkState& s) noexcept {
    Sink sink{s, o, s.validity.as<std::uint8_t>()};
    if (reads_doubles(o.target)) {
        with_target(o, s, [&](const auto& cast, auto& writer) {
            if constexpr (std::is_invocable_v<decltype(cast), double>) cast_doubles(cells, cast, writer, sink);
        });
    } else {
        with_target(o, s, [&](const auto& cast, auto& writer) {
            if constexpr (std::is_invocable_v<decltype(cast), const char*, std::size_t>) {
                cast_cells(cells, cast, writer, sink);
            }
        });
    }
}

// --- dictionaries: each entry cast once, then gathered by index ---

template <class Copy>
void gather(const Input& in, const ChunkState& entries, const std::int64_t* entry_fault, ChunkState& s, Copy copy) noexcept {
    const BitmapValidity row_valid{in.cells.validity, in.cells.offset};
    const BitmapValidity entry_valid{entries.validity.as<std::uint8_t>(), 0};
    std::uint8_t* validity = s.validity.as<std::uint8_t>();
    const auto clear = [&](std::int64_t i) {
        validity[i >> 3] &= static_cast<std::uint8_t>(~(1u << (i & 7)));
        ++s.null_count;
    };
    const FaultLog& log = entries.faults;
    for (std::int64_t i = 0; i < s.length; ++i) {
        if (!row_valid.valid(i)) {
            copy.zero(i);
            clear(i);
            continue;
        }
        const std::int64_t e = index_at(in, i);
        if (entry_valid.valid(e)) {
            copy.copy(e, i);
            continue;
        }
        copy.zero(i);
        clear(i);
        const std::int64_t k = entry_fault[e];
        if (k >= 0) {
            const core::Span span{log.offsets.as<std::uint32_t>()[k], log.lengths.as<std::uint32_t>()[k]};
            s.faults.push(s.first_row + i, log.reasons.as<std::uint8_t>()[k], span);
        }
    }
}

struct FixedCopy {
    const unsigned char* from;
    unsigned char* to;
    std::size_t width;
    void copy(std::int64_t e, std::int64_t i) const noexcept { std::memcpy(to + width * i, from + width * e, width); }
    void zero(std::int64_t i) const noexcept { std::memset(to + width * i, 0, width); }
};

template <std::size_t Width>
struct WidthCopy {
    const unsigned char* from;
    unsigned char* to;
    void copy(std::int64_t e, std::int64_t i) const noexcept { std::memcpy(to + Width * i, from + Width * e, Width); }
    void zero(std::int64_t i) const noexcept { std::memset(to + Width * i, 0, Width); }
};

struct BitCopy {
    const std::uint8_t* from;
    std::uint8_t* to;  // starts all zero
    void copy(std::int64_t e, std::int64_t i) const noexcept {
        to[i >> 3] |= static_cast<std::uint8_t>(((from[e >> 3] >> (e & 7)) & 1) << (i & 7));
    }
    void zero(std::int64_t) const noexcept {}
};

struct TextCopy {
    const std::int64_t* from_offsets;
    const unsigned char* from_data;
    std::int64_t* offsets;
    unsigned char* data;
    std::int64_t cursor = 0;
    void copy(std::int64_t e, std::int64_t i) noexcept {
        const std::int64_t begin = from_offsets[e], size = from_offsets[e + 1] - begin;
        std::memcpy(data + cursor, from_data + begin, static_cast<std::size_t>(size));
        cursor += size;
        offsets[i + 1] = cursor;
    }
    void zero(std::int64_t i) noexcept { offsets[i + 1] = cursor; }
};

bool cast_dictionary(const Options& o, const Input& in, ChunkState& s) noexcept {
    ChunkState entries;
    entries.first_row = 0;
    if (!allocate_chunk(o, in.dictionary.length, entries)) return false;
    cast_cells_of(o, in.dictionary, entries);
    if (entries.faults.out_of_memory) return false;
    if (entries.broken_at >= 0) {
        s.broken_at = entries.broken_at;
        return true;
    }

    Buffer entry_fault_buffer;
    if (!entry_fault_buffer.allocate(static_cast<std::size_t>(in.dictionary.length) * 8)) return false;
    auto* entry_fault = entry_fault_buffer.as<std::int64_t>();
    for (std::int64_t e = 0; e < in.dictionary.length; ++e) entry_fault[e] = -1;
    for (std::size_t k = 0; k < entries.faults.count; ++k) entry_fault[entries.faults.rows.as<std::int64_t>()[k]] = static_cast<std::int64_t>(k);

    const auto* from = entries.values.as<const unsigned char>();
    auto* to = s.values.as<unsigned char>();
    switch (value_width(o.target)) {
        case 0: gather(in, entries, entry_fault, s, BitCopy{from, to}); break;
        case -1: {
            s.values.as<std::int64_t>()[0] = 0;
            gather(in, entries, entry_fault, s,
                   TextCopy{entries.values.as<const std::int64_t>(), entries.data.as<const unsigned char>(),
                            s.values.as<std::int64_t>(), s.data.as<unsigned char>()});
            break;
        }
        case 1: gather(in, entries, entry_fault, s, WidthCopy<1>{from, to}); break;
        case 2: gather(in, entries, entry_fault, s, WidthCopy<2>{from, to}); break;
        case 4: gather(in, entries, entry_fault, s, WidthCopy<4>{from, to}); break;
        case 8: gather(in, entries, entry_fault, s, WidthCopy<8>{from, to}); break;
        default: gather(in, entries, entry_fault, s, WidthCopy<16>{from, to}); break;
    }
    return true;
}

// --- decimals: one scale for the whole column ---

// Rescales every stored decimal to the inferred scale; a value that then
// needs more than 38 digits becomes OUT_OF_RANGE over its trimmed text.
void finish_decimals(const Options& o, const Input& in, ChunkState& s, int scale) noexcept {
    std::uint8_t* validity = s.validity.as<std::uint8_t>();
    auto* slots = s.values.as<unsigned char>();
    FaultLog late;
    for (std::int64_t i = 0; i < s.length; ++i) {
        if (!((validity[i >> 3] >> (i & 7)) & 1)) continue;
        core::ExactDecimal d;
        std::memcpy(&d, slots + 16 * i, 16);
        if (store_scaled(slots + 16 * i, d, scale)) continue;
        std::memset(slots + 16 * i, 0, 16);
        validity[i >> 3] &= static_cast<std::uint8_t>(~(1u << (i & 7)));
        ++s.null_count;
        core::Span span{0, 0};
        if (!reads_doubles(o.target)) {
            const Cells& cells = in.dictionary_encoded ? in.dictionary : in.cells;
            const std::int64_t at = in.dictionary_encoded ? index_at(in, i) : i;
            const Text text = text_at(cells, at);
            span = trimmed_span(text);
            const bool code_points =
                o.spans == SpanUnit::CODE_POINTS || (o.spans == SpanUnit::NATURAL && is_str_at(cells, at));
            if (code_points) span = to_code_points(text, span);
        }
        late.push(s.first_row + i, static_cast<std::uint8_t>(core::FaultReason::OUT_OF_RANGE), span);
    }
    if (late.count == 0) return;
    // Both logs are in row order: merge them.
    FaultLog merged;
    std::size_t a = 0, b = 0;
    const FaultLog& early = s.faults;
    const auto take = [&merged](const FaultLog& log, std::size_t k) {
        merged.push(log.rows.as<std::int64_t>()[k], log.reasons.as<std::uint8_t>()[k],
                    core::Span{log.offsets.as<std::uint32_t>()[k], log.lengths.as<std::uint32_t>()[k]});
    };
    while (a < early.count || b < late.count) {
        const bool from_early = b == late.count ||
                                (a < early.count && early.rows.as<std::int64_t>()[a] < late.rows.as<std::int64_t>()[b]);
        if (from_early) {
            take(early, a++);
        } else {
            take(late, b++);
        }
    }
    merged.out_of_memory |= early.out_of_memory || late.out_of_memory;
    s.faults = std::move(merged);
}

// --- assembling the Arrow arrays ---

std::string value_format(const Options& o, int scale, bool large_text) {
    const char* unit = o.nanoseconds ? "n" : "u";
    switch (o.target) {
        case Target::BOOL: return "b";
        case Target::CHAR: return large_text ? "U" : "u";
        case Target::UUID: return "w:16";
        case Target::I8: return "c";
        case Target::I16: return "s";
        case Target::I32: return "i";
        case Target::I64: return "l";
        case Target::U8: return "C";
        case Target::U16: return "S";
        case Target::U32: return "I";
        case Target::U64: return "L";
        case Target::F32: return "f";
        case Target::F64: return "g";
        case Target::DECIMAL:
        case Target::DECIMAL_FROM_F64: return "d:38," + std::to_string(scale);
        case Target::DATE: return "tdD";
        case Target::TIME:
        case Target::EXCEL_TIME: return std::string("tt") + unit;
        case Target::DATETIME:
        case Target::EXCEL_SERIAL_FROM_F64: return std::string("ts") + unit + ":";
        case Target::TIMESTAMP:
        case Target::UNIX:
        case Target::EXCEL_SERIAL: return std::string("ts") + unit + ":UTC";
        case Target::DURATION:
        case Target::EXCEL_DURATION: return std::string("tD") + unit;
    }
    return "n";
}

ArrayNode* value_node(const Options& o, ChunkState& s, const std::string& format, bool large_text) {
    const bool text = value_width(o.target) < 0;
    ArrayNode* node = new_node("", s.length, text ? 3 : 2);
    if (node == nullptr) return nullptr;
    node->format = format;
    node->null_count = s.null_count;
    if (o.target == Target::UUID) set_uuid_extension(*node);
    if (text && !large_text) {
        // Narrowed in place: each 32-bit offset lands at or before the one it is read from.
        auto* wide = s.values.as<std::int64_t>();
        auto* narrow = s.values.as<std::int32_t>();
        for (std::int64_t i = 0; i <= s.length; ++i) narrow[i] = static_cast<std::int32_t>(wide[i]);
    }
    node->buffers[0] = std::move(s.validity);
    node->buffers[1] = std::move(s.values);
    if (text) node->buffers[2] = std::move(s.data);
    return node;
}

ArrayNode* child_node(const char* name, const char* format, std::int64_t length, Buffer&& values) {
    ArrayNode* node = new_node(format, length, 2);
    if (node == nullptr) return nullptr;
    node->name = name;
    node->flags = 0;
    node->buffers[1] = std::move(values);
    return node;
}

ArrayNode* struct_node(std::int64_t length) {
    ArrayNode* node = new_node("+s", length, 1);
    if (node != nullptr) node->flags = 0;
    return node;
}

// Adds each child, or releases them all (and the node) once one is null.
ArrayNode* with_children(ArrayNode* node, std::initializer_list<ArrayNode*> children) {
    bool ok = node != nullptr;
    for (ArrayNode* child : children) ok = ok && child != nullptr;
    if (!ok) {
        for (ArrayNode* child : children) release(child);
        release(node);
        return nullptr;
    }
    for (ArrayNode* child : children) node->children.push_back(child);
    return node;
}

ArrayNode* fault_node(FaultLog& log) {
    const auto n = static_cast<std::int64_t>(log.count);
    for (Buffer* b : {&log.rows, &log.reasons, &log.offsets, &log.lengths}) {
        if (b->data() == nullptr && !b->allocate(0)) return nullptr;
    }
    return with_children(struct_node(n), {child_node("row", "l", n, std::move(log.rows)),
                                          child_node("reason", "C", n, std::move(log.reasons)),
                                          child_node("offset", "I", n, std::move(log.offsets)),
                                          child_node("length", "I", n, std::move(log.lengths))});
}

bool fail_no_memory(Error& error) { return error.set(Problem::NO_MEMORY, "out of memory"); }

}  // namespace

bool cast_column(const Options& o, const Input* inputs, std::size_t count, ColumnCast& out, Error& error) noexcept {
    if (o.scale != INFERRED_SCALE && (o.scale < 0 || o.scale > MAX_COLUMN_SCALE)) {
        return error.set(Problem::INVALID_OPTION, "scale must be between 0 and 38, not %d", o.scale);
    }
    for (std::size_t c = 0; c < count; ++c) {
        const Input& in = inputs[c];
        const bool doubles = in.cells.layout == Layout::FLOAT64;
        if (in.cells.layout != Layout::NULLS && doubles != reads_doubles(o.target)) {
            return error.set(Problem::UNSUPPORTED_TYPE, "%s", doubles
                ? "a float64 column is read only by the casts from a float; accepted: utf8, large_utf8, utf8_view, "
                  "binary, large_binary, binary_view or a dictionary of these"
                : "this cast reads a float64 column, not text");
        }
    }
    // An empty list still yields the type: cast one empty chunk.
    static const Input empty_input{};
    const Input* chunks = count == 0 ? &empty_input : inputs;
    const std::size_t chunk_count = count == 0 ? 1 : count;

    std::vector<ChunkState> states(chunk_count);
    std::int64_t row = o.row_base;
    for (std::size_t c = 0; c < chunk_count; ++c) {
        const Input& in = chunks[c];
        ChunkState& s = states[c];
        s.first_row = row;
        row += in.length();
        if (!allocate_chunk(o, in.length(), s)) return fail_no_memory(error);
        if (in.dictionary_encoded) {
            if (!cast_dictionary(o, in, s)) return fail_no_memory(error);
        } else {
            cast_cells_of(o, in.cells, s);
        }
        if (s.faults.out_of_memory) return fail_no_memory(error);
        if (s.broken_at >= 0) {
            return error.set(Problem::MALFORMED_ARRAY, "malformed array: the view of %s %lld points outside its buffers",
                             in.dictionary_encoded ? "dictionary entry" : "cell", static_cast<long long>(s.broken_at));
        }
    }

    int scale = 0;
    const bool decimal = o.target == Target::DECIMAL || o.target == Target::DECIMAL_FROM_F64;
    if (decimal && o.scale != INFERRED_SCALE) {
        scale = o.scale;  // rescaled as they were stored
    } else if (decimal) {
        // The smallest scale that holds every success: the largest of theirs.
        for (const ChunkState& s : states) {
            const auto* validity = s.validity.as<const std::uint8_t>();
            const auto* slots = s.values.as<const core::ExactDecimal>();
            for (std::int64_t i = 0; i < s.length; ++i) {
                if (((validity[i >> 3] >> (i & 7)) & 1) && slots[i].scale > scale) scale = slots[i].scale;
            }
        }
        for (std::size_t c = 0; c < chunk_count; ++c) {
            finish_decimals(o, chunks[c], states[c], scale);
            if (states[c].faults.out_of_memory) return fail_no_memory(error);
        }
    }

    bool large_text = false;
    if (value_width(o.target) < 0) {
        for (const ChunkState& s : states) large_text |= s.values.as<const std::int64_t>()[s.length] > INT32_MAX;
    }
    const std::string format = value_format(o, scale, large_text);

    auto* values = new (std::nothrow) Chunks;
    auto* faults = new (std::nothrow) Chunks;
    if (values == nullptr || faults == nullptr) {
        delete values;
        delete faults;
        return fail_no_memory(error);
    }
    std::int64_t fault_count = 0;
    bool ok = true;
    for (std::size_t c = 0; c < chunk_count && ok; ++c) {
        fault_count += static_cast<std::int64_t>(states[c].faults.count);
        ArrayNode* v = value_node(o, states[c], format, large_text);
        ArrayNode* f = v ? fault_node(states[c].faults) : nullptr;
        ok = v != nullptr && f != nullptr;
        if (v != nullptr) values->chunks.push_back(v);
        if (f != nullptr) faults->chunks.push_back(f);
    }
    if (ok) {
        values->type = values->chunks[0];
        faults->type = faults->chunks[0];
        retain(values->type);
        retain(faults->type);
        if (count == 0) {
            // The empty chunk served for the type only.
            release(values->chunks[0]);
            release(faults->chunks[0]);
            values->chunks.clear();
            faults->chunks.clear();
        }
    }
    if (!ok) {
        release(values);
        release(faults);
        return fail_no_memory(error);
    }
    release(out.values);
    release(out.faults);
    out.values = values;
    out.faults = faults;
    out.fault_count = fault_count;
    return true;
}

Chunks* fault_columns(const Chunks& faults, const std::int64_t* lengths, std::size_t count, std::int64_t row_base,
                      Error& error) noexcept {
    if (count != faults.chunks.size()) {
        error.set(Problem::INVALID_OPTION, "%zu chunk lengths for %zu fault batches", count, faults.chunks.size());
        return nullptr;
    }
    auto* out = new (std::nothrow) Chunks;
    if (out == nullptr) {
        fail_no_memory(error);
        return nullptr;
    }
    std::int64_t first_row = row_base;
    bool ok = true;
    // Built even for no chunks, to carry the type.
    for (std::size_t c = 0; ok && c < (count == 0 ? 1 : count); ++c) {
        const std::int64_t n = count == 0 ? 0 : lengths[c];
        const auto size = static_cast<std::size_t>(n);
        Buffer validity, reasons, offsets, lengths_out;
        ok = n >= 0 && validity.allocate((size + 7) / 8) && reasons.allocate(size) && offsets.allocate(size * 4) &&
             lengths_out.allocate(size * 4);
        if (!ok) break;
        std::memset(validity.data(), 0, (size + 7) / 8);
        std::memset(reasons.data(), 0, size);
        std::memset(offsets.data(), 0, size * 4);
        std::memset(lengths_out.data(), 0, size * 4);
        std::int64_t faulty = 0;
        if (count != 0) {
            const ArrayNode& batch = *faults.chunks[c];
            const auto* rows = batch.children[0]->buffers[1].as<const std::int64_t>();
            const auto* reason = batch.children[1]->buffers[1].as<const std::uint8_t>();
            const auto* offset = batch.children[2]->buffers[1].as<const std::uint32_t>();
            const auto* length = batch.children[3]->buffers[1].as<const std::uint32_t>();
            for (std::int64_t k = 0; k < batch.length; ++k) {
                const std::int64_t i = rows[k] - first_row;
                if (i < 0 || i >= n) continue;  // a batch not made for these lengths
                validity.as<std::uint8_t>()[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
                reasons.as<std::uint8_t>()[i] = reason[k];
                offsets.as<std::uint32_t>()[i] = offset[k];
                lengths_out.as<std::uint32_t>()[i] = length[k];
                ++faulty;
            }
            first_row += n;
        }
        // Three children share one bitmap's contents; each owns a copy.
        Buffer validity2, validity3;
        ok = validity2.allocate(validity.size()) && validity3.allocate(validity.size());
        if (!ok) break;
        std::memcpy(validity2.data(), validity.data(), validity.size());
        std::memcpy(validity3.data(), validity.data(), validity.size());
        ArrayNode* reason_child = child_node("reason", "C", n, std::move(reasons));
        ArrayNode* offset_child = child_node("offset", "I", n, std::move(offsets));
        ArrayNode* length_child = child_node("length", "I", n, std::move(lengths_out));
        ArrayNode* children[] = {reason_child, offset_child, length_child};
        Buffer* bitmaps[] = {&validity, &validity2, &validity3};
        for (int k = 0; k < 3; ++k) {
            if (children[k] == nullptr) continue;
            children[k]->flags = ARROW_FLAG_NULLABLE;
            children[k]->null_count = n - faulty;
            children[k]->buffers[0] = std::move(*bitmaps[k]);
        }
        ArrayNode* node = with_children(struct_node(n), {reason_child, offset_child, length_child});
        ok = node != nullptr;
        if (ok) out->chunks.push_back(node);
    }
    if (!ok) {
        release(out);
        fail_no_memory(error);
        return nullptr;
    }
    out->type = out->chunks[0];
    retain(out->type);
    if (count == 0) {
        release(out->chunks[0]);
        out->chunks.clear();
    }
    return out;
}

}  // namespace quillmere::columns
