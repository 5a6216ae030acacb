// libFuzzer target for the lexical casts (boolean, character, UUID) through
// the C ABI. The first input byte picks the cast; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

struct Bounds {
    std::size_t begin, end;  // the trimmed text within the input
};

Bounds trimmed(const char* data, std::size_t size) {
    const core::TextRange t = core::trim(data, size);
    return Bounds{t.offset, t.offset + t.length};
}

void fuzz_bool(const char* data, std::size_t size) {
    std::uint8_t value = 0xAA;
    std::uint64_t fault = 0;
    const int32_t status = cast_bool(data, size, &value, &fault);
    if (status == QUILLMERE_OK) {
        require(value <= 1);
        return;
    }
    check_text_verdict(status, fault, data, size);
    const Bounds b = trimmed(data, size);
    if (status == QUILLMERE_MALFORMED) {
        require(QUILLMERE_FAULT_OFFSET(fault) == b.begin && QUILLMERE_FAULT_LENGTH(fault) == b.end - b.begin);
    }
    require(status != QUILLMERE_OUT_OF_RANGE);
}

void fuzz_char(const char* data, std::size_t size) {
    std::uint32_t cp = 0;
    std::uint64_t fault = 0;
    const int32_t status = cast_char(data, size, &cp, &fault);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    const bool verbatim = size >= 1 && size <= 4 && core::utf8_scalar_length(bytes, size) == size;
    if (status == QUILLMERE_OK) {
        require(core::is_scalar_value(cp));
        unsigned char encoded[4];
        const std::size_t n = core::encode_utf8(cp, encoded);
        // A verbatim text decodes back to itself; a declared one names the
        // same scalar in another notation.
        if (verbatim) {
            require(n == size && std::memcmp(encoded, bytes, n) == 0);
        } else {
            char declared[16];
            const int len = std::snprintf(declared, sizeof declared, "U+%X", static_cast<unsigned>(cp));
            std::uint32_t again = 0;
            require(cast_char(declared, static_cast<std::size_t>(len), &again, nullptr) == QUILLMERE_OK && again == cp);
        }
        return;
    }
    require(!verbatim);
    check_text_verdict(status, fault, data, size);
    const Bounds b = trimmed(data, size);
    const std::uint32_t offset = QUILLMERE_FAULT_OFFSET(fault), length = QUILLMERE_FAULT_LENGTH(fault);
    const bool whole = offset == b.begin && length == b.end - b.begin;
    if (status == QUILLMERE_OUT_OF_RANGE) require(whole);
    if (status == QUILLMERE_MALFORMED) require(whole || is_one_character(data, size, offset, length));
}

void fuzz_uuid(const char* data, std::size_t size) {
    quillmere_uuid uuid;
    std::uint64_t fault = 0;
    const int32_t status = cast_uuid(data, size, &uuid, &fault);
    if (status == QUILLMERE_OK) {
        // Printed back in the hyphenated and the bare form, the value casts to the same bytes.
        static const char hex[] = "0123456789abcdef";
        char text[36];
        std::size_t n = 0;
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) text[n++] = '-';
            text[n++] = hex[uuid.bytes[i] >> 4];
            text[n++] = hex[uuid.bytes[i] & 15];
        }
        quillmere_uuid again;
        require(cast_uuid(text, 36, &again, nullptr) == QUILLMERE_OK && std::memcmp(&again, &uuid, 16) == 0);
        char bare[32];
        for (int i = 0; i < 16; ++i) {
            bare[2 * i] = hex[uuid.bytes[i] >> 4];
            bare[2 * i + 1] = hex[uuid.bytes[i] & 15];
        }
        require(cast_uuid(bare, 32, &again, nullptr) == QUILLMERE_OK && std::memcmp(&again, &uuid, 16) == 0);
        return;
    }
    check_text_verdict(status, fault, data, size);
    require(status != QUILLMERE_OUT_OF_RANGE);
    const Bounds b = trimmed(data, size);
    const std::uint32_t offset = QUILLMERE_FAULT_OFFSET(fault), length = QUILLMERE_FAULT_LENGTH(fault);
    if (status == QUILLMERE_MALFORMED) {
        // One character, or a span reaching the end: the whole body (a suffix
        // of the trimmed text), the whole trimmed text, or the closing bracket.
        require(offset >= b.begin);
        require(is_one_character(data, size, offset, length) || (length > 0 && offset + length == b.end));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size == 0) return 0;
    const char* text = reinterpret_cast<const char*>(input + 1);
    const std::size_t length = size - 1;
    switch (input[0] % 3) {
        case 0: fuzz_bool(text, length); break;
        case 1: fuzz_char(text, length); break;
        default: fuzz_uuid(text, length); break;
    }
    return 0;
}
