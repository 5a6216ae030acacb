// Decimal casts under fuzzing. The first byte picks the input kind:
//   even: text. Byte 1 picks the separators, byte 2 is the flags, byte 3 the
//         currency; the rest is the text.
//   odd:  a double from the next 8 bytes.
// Invariants: spans inside the input, EMPTY only as (0, 0), canonical values
// whose text reads back to the same record, the shortcuts agreeing with the
// general path, and doubles whose digits read back and cannot be shortened.
// The texts come from the C export of the canonical text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/int128.hpp"
#include "core/num_format.hpp"
#include "core/reference_paths.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

constexpr char32_t SEPARATORS[][2] = {
    {U'.', U','}, {U',', U'.'}, {U',', U' '}, {U'.', U'\''}, {U'.', U'e'}, {U'e', U'.'},
    {U'%', U','}, {U'.', U'('}, {U'.', U'1'}, {U'\u00b7', U'\u2009'}, {U',', U'\u00a0'}, {U'.', U'-'},
};
const char* const CURRENCIES[] = {"", "$", "\xe2\x82\xac", "kr", "US$", "-", "(", ".", "e", "%"};

quillmere_numformat packed_format(std::uint8_t seps, std::uint8_t flags, std::uint8_t currency) {
    unsigned char p[32] = {};
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) p[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    const auto& s = SEPARATORS[seps % (sizeof SEPARATORS / sizeof *SEPARATORS)];
    const char* symbol = CURRENCIES[currency % (sizeof CURRENCIES / sizeof *CURRENCIES)];
    put(0, s[0]);
    put(4, s[1]);
    put(8, flags);
    put(12, static_cast<std::uint32_t>(std::strlen(symbol)));
    std::memcpy(p + 16, symbol, std::strlen(symbol));
    quillmere_numformat f;
    std::memcpy(&f, p, sizeof f);
    return f;
}

core::u128 magnitude_of(const quillmere_decimal& d) {
    return (core::u128{d.magnitude_hi} << 64) | d.magnitude_lo;
}

void require_canonical(const quillmere_decimal& d) {
    const core::u128 m = magnitude_of(d);
    require(d.scale <= 28 && d.negative <= 1 && d.reserved[0] == 0 && d.reserved[1] == 0);
    if (m == 0) require(d.scale == 0 && d.negative == 0);
    if (d.scale > 0) require(m % 10 != 0);
}

// The canonical text through the C export, NUL-terminated.
std::size_t text_of(const quillmere_decimal& d, char (&out)[QUILLMERE_DECIMAL_TEXT_SIZE]) {
    const int32_t n = quillmere_decimal_to_text(&d, out, sizeof out);
    require(n >= 1 && n < QUILLMERE_DECIMAL_TEXT_SIZE && out[n] == '\0');
    return static_cast<std::size_t>(n);
}

void fuzz_text(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const quillmere_numformat fmt = packed_format(data[0], data[1], data[2]);
    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t len = size - 3;

    quillmere_decimal d;
    std::uint64_t fault = 0;
    const int32_t status = cast_decimal(text, len, &fmt, &d, &fault);
    check_text_verdict(status, fault, text, len);

    core::NumFormat decoded;
    require(core::decode_packed_format(reinterpret_cast<const unsigned char*>(&fmt), decoded));
    const core::Verdict<core::ExactDecimal> general = core::cast_decimal_general(text, len, decoded);
    require(general.status == static_cast<std::uint64_t>(status));

    if (status != QUILLMERE_OK) {
        require(fault == core::pack_span(general.span));
        return;
    }
    require(std::memcmp(&d, &general.value, sizeof d) == 0);
    require_canonical(d);

    // The canonical text is itself a plain numeral of the same value.
    char canonical[QUILLMERE_DECIMAL_TEXT_SIZE];
    const std::size_t n = text_of(d, canonical);
    quillmere_decimal back;
    require(cast_decimal(canonical, n, nullptr, &back, nullptr) == QUILLMERE_OK);
    require(std::memcmp(&back, &d, sizeof d) == 0);
}

// Reads the digits and power of ten of a canonical text: value = digits * 10^exp.
void split(const char* text, std::size_t n, char (&digits)[40], std::size_t& count, int& exp) {
    count = 0;
    exp = 0;
    bool point = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == '.') {
            point = true;
        } else if (text[i] != '-') {
            if (count == 0 && text[i] == '0') {
                if (point) --exp;
                continue;
            }
            digits[count++] = text[i];
            if (point) --exp;
        }
    }
    while (count > 1 && digits[count - 1] == '0') {
        --count;
        ++exp;
    }
}

double read_back(const char* digits, std::size_t count, int exp) {
    char s[64];
    std::memcpy(s, digits, count);
    s[count] = 'e';
    std::size_t n = count + 1;
    char e[16];
    int el = 0;
    int v = exp < 0 ? -exp : exp;
    do {
        e[el++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (exp < 0) s[n++] = '-';
    while (el > 0) s[n++] = e[--el];
    s[n] = 0;
    return std::strtod(s, nullptr);
}

void fuzz_double(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return;
    double x;
    std::memcpy(&x, data, sizeof x);
    quillmere_decimal d;
    std::uint64_t fault = 12345;
    const int32_t status = cast_decimal_from_f64(x, &d, &fault);
    if (x != x) {
        require(status == QUILLMERE_MALFORMED && fault == 0);
        return;
    }
    check_double_verdict(status, fault);
    if (status != QUILLMERE_OK) {
        require(status == QUILLMERE_OUT_OF_RANGE && x != 0);
        return;
    }
    require(fault == 12345);
    require_canonical(d);
    require((d.negative != 0) == (x < 0));
    char text[QUILLMERE_DECIMAL_TEXT_SIZE];
    const std::size_t n = text_of(d, text);
    require(std::strtod(text, nullptr) == x);

    // Shortest: with one digit fewer, neither neighbouring candidate reads back.
    char digits[40];
    std::size_t count;
    int exp;
    split(text, n, digits, count, exp);
    if (count <= 1) return;
    const double ax = x < 0 ? -x : x;
    require(read_back(digits, count - 1, exp + 1) != ax);
    char up[40];
    std::memcpy(up, digits, count - 1);
    std::size_t up_count = count - 1;
    int up_exp = exp + 1;
    std::size_t i = up_count;
    while (i > 0 && up[i - 1] == '9') up[--i] = '0';
    if (i == 0) {
        up[0] = '1';
        up_count = 1;
        up_exp += static_cast<int>(count - 1);
    } else {
        ++up[i - 1];
    }
    require(read_back(up, up_count, up_exp) != ax);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        fuzz_double(data + 1, size - 1);
    } else {
        fuzz_text(data + 1, size - 1);
    }
    return 0;
}
