// Fuzzes the integer exports. The first byte selects the format: with its top
// bit set, the next 32 bytes are a packed record (valid or not); otherwise
// its low bits pick one of a few fixed formats. The rest is the text.
//
// Invariants checked on every input, for all eight widths:
//   - an invalid packed record, and only that, gives -1 with nothing written;
//   - a fault's span lies within the input; EMPTY is (0, 0) and only for
//     whitespace; OUT_OF_RANGE spans the whole trimmed text;
//   - EMPTY and MALFORMED verdicts, spans included, are the same for every
//     width (form does not depend on the width);
//   - a decimal value read by the 64-bit casts is read by each narrower type
//     exactly when it fits that type;
//   - the exports (with their shortcuts) agree with the general algorithm.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/num_format.hpp"
#include "core/reference_paths.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

quillmere_numformat fixed_format(unsigned selector) {
    quillmere_numformat f{};
    f.decimal_sep = '.';
    f.group_sep = ',';
    f.flags = QUILLMERE_ALL;
    switch (selector % 8) {
        case 0: break;
        case 1: f.flags |= QUILLMERE_SEPARATOR_DETECT; break;
        case 2: f.decimal_sep = ','; f.group_sep = '.'; f.currency_len = 1; f.currency[0] = '$'; break;
        case 3: f.group_sep = 0xA0; f.currency_len = 3; std::memcpy(f.currency, "\xe2\x82\xac", 3); break;
        case 4: f.group_sep = 'e'; break;
        case 5: f.flags = 0; break;
        case 6: f.decimal_sep = 0x66B; f.group_sep = 0x202F; f.flags = 0xFFFFFFFFu; break;
        case 7: f.group_sep = ' '; f.currency_len = 1; f.currency[0] = '-'; break;
    }
    return f;
}

struct Outcome {
    int32_t status;
    uint64_t fault;
    __int128 value;
};

template <class T, auto Export>
Outcome run(const char* text, std::size_t len, const quillmere_numformat* packed, bool packed_valid,
            const core::NumFormat& fmt) {
    constexpr uint64_t UNTOUCHED = 0x5A5A5A5A5A5A5A5Au;
    T out;
    std::memset(&out, 0x5A, sizeof out);
    uint64_t fault = UNTOUCHED;
    const int32_t status = Export(text, len, packed, &out, &fault);
    require(status >= -1 && status <= 3);
    if (!packed_valid) {
        T pristine;
        std::memset(&pristine, 0x5A, sizeof pristine);
        require(status == -1 && fault == UNTOUCHED && std::memcmp(&out, &pristine, sizeof out) == 0);
        return {status, fault, 0};
    }
    require(status != -1);

    const core::TextRange trimmed = core::trim(text, len);
    check_text_verdict(status, fault, text, len);
    if (status == 0) require(fault == UNTOUCHED);
    if (status == QUILLMERE_MALFORMED) require(QUILLMERE_FAULT_LENGTH(fault) >= 1);
    if (status == QUILLMERE_OUT_OF_RANGE) require(fault == core::pack_span(core::whole_text_fault(trimmed).span));

    // The shortcuts may not change a verdict.
    const core::Verdict<T> general = core::cast_integer_general<T>(text, len, fmt);
    require(general.status == static_cast<uint64_t>(status));
    if (status == 0) require(general.value == out);
    if (status > 0) require(core::pack_span(general.span) == fault);

    return {status, fault, status == 0 ? static_cast<__int128>(out) : 0};
}

template <class T>
void check_narrowing(const Outcome& wide, const Outcome& narrow) {
    if (wide.status != 0) return;
    const bool fits = wide.value >= std::numeric_limits<T>::min() && wide.value <= std::numeric_limits<T>::max();
    require(fits ? (narrow.status == 0 && narrow.value == wide.value) : narrow.status == QUILLMERE_OUT_OF_RANGE);
}

bool is_radix_form(const core::TextRange& t, const core::NumFormat& fmt) {
    if (!fmt.has(core::NumFormat::RADIX_PREFIXES) || t.length < 2) return false;
    const unsigned char letter = t[1] | 0x20;
    return (t[0] == '0' && (letter == 'x' || letter == 'b')) || (t[0] == '&' && letter == 'h');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned selector = data[0];
    quillmere_numformat packed;
    std::size_t skip = 1;
    if ((selector & 0x80) != 0 && size >= 33) {
        std::memcpy(&packed, data + 1, sizeof packed);
        skip = 33;
    } else {
        packed = fixed_format(selector);
    }
    core::NumFormat fmt{};
    const bool valid = core::decode_packed_format(reinterpret_cast<const unsigned char*>(&packed), fmt);
    const char* text = reinterpret_cast<const char*>(data + skip);
    const std::size_t len = size - skip;

    const Outcome i8 = run<int8_t, cast_i8>(text, len, &packed, valid, fmt);
    const Outcome i16 = run<int16_t, cast_i16>(text, len, &packed, valid, fmt);
    const Outcome i32 = run<int32_t, cast_i32>(text, len, &packed, valid, fmt);
    const Outcome i64 = run<int64_t, cast_i64>(text, len, &packed, valid, fmt);
    const Outcome u8 = run<uint8_t, cast_u8>(text, len, &packed, valid, fmt);
    const Outcome u16 = run<uint16_t, cast_u16>(text, len, &packed, valid, fmt);
    const Outcome u32 = run<uint32_t, cast_u32>(text, len, &packed, valid, fmt);
    const Outcome u64 = run<uint64_t, cast_u64>(text, len, &packed, valid, fmt);
    if (!valid) return 0;

    const Outcome all[] = {i8, i16, i32, i64, u8, u16, u32, u64};
    const bool form_fault = i64.status == QUILLMERE_EMPTY || i64.status == QUILLMERE_MALFORMED;
    for (const Outcome& o : all) {
        const bool fault_of_form = o.status == QUILLMERE_EMPTY || o.status == QUILLMERE_MALFORMED;
        require(fault_of_form == form_fault);
        if (form_fault) require(o.status == i64.status && o.fault == i64.fault);
    }

    // Radix forms read each width's own bit pattern, so only decimal text
    // narrows by value.
    if (!is_radix_form(core::trim(text, len), fmt)) {
        check_narrowing<int8_t>(i64, i8);
        check_narrowing<int16_t>(i64, i16);
        check_narrowing<int32_t>(i64, i32);
        check_narrowing<uint8_t>(i64, u8);
        check_narrowing<uint16_t>(i64, u16);
        check_narrowing<uint32_t>(i64, u32);
        check_narrowing<uint8_t>(u64, u8);
        check_narrowing<int64_t>(u64, i64);
    }
    return 0;
}
