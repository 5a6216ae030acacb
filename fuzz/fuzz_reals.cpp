// Fuzzes cast_f64 and cast_f32. The first two bytes choose the format (flags,
// then separators and currency); the rest is the text. Checks the verdict's
// invariants, that the shortcuts agree with the general path, and that plain
// numerals read as glibc's correctly rounded strtod and strtof read them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/reference_paths.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

struct Notation {
    std::uint32_t decimal_sep, group_sep;
    const char* currency;
};

constexpr Notation NOTATIONS[] = {
    {'.', ',', ""}, {'.', ',', "$"}, {',', '.', "\xE2\x82\xAC"}, {',', ' ', ""}, {'.', '\'', "R$"},
    {'.', '_', "."}, {0xB7, 0x2019, "kr"}, {',', '.', ""},
};

template <class F>
void check_verdict(int32_t status, F value, uint64_t fault, const char* text, std::size_t len) {
    check_text_verdict(status, fault, text, len);
    if (status == QUILLMERE_OK) require(std::isfinite(value));
    if (status > QUILLMERE_EMPTY) require(QUILLMERE_FAULT_LENGTH(fault) != 0);
}

bool is_plain_numeral(const char* s, std::size_t n) {
    std::size_t i = 0, digits = 0;
    if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
        const std::size_t start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == start) return false;
    }
    return i == n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const Notation& n = NOTATIONS[data[1] % (sizeof NOTATIONS / sizeof NOTATIONS[0])];
    quillmere_numformat packed{};
    packed.decimal_sep = n.decimal_sep;
    packed.group_sep = n.group_sep;
    packed.flags = data[0];
    packed.currency_len = static_cast<uint32_t>(std::strlen(n.currency));
    std::memcpy(packed.currency, n.currency, packed.currency_len);
    const char* text = reinterpret_cast<const char*>(data + 2);
    const std::size_t len = size - 2;

    double d = 0;
    float f = 0;
    uint64_t fault_d = 0, fault_f = 0;
    const int32_t sd = cast_f64(text, len, &packed, &d, &fault_d);
    const int32_t sf = cast_f32(text, len, &packed, &f, &fault_f);
    check_verdict(sd, d, fault_d, text, len);
    check_verdict(sf, f, fault_f, text, len);
    // The two widths differ only where one overflows.
    if (sd != sf) require(sd == QUILLMERE_OK && sf == QUILLMERE_OUT_OF_RANGE);

    // The shortcuts against the general path.
    const core::NumFormat fmt{static_cast<char32_t>(n.decimal_sep), static_cast<char32_t>(n.group_sep), data[0], {},
                              static_cast<std::uint8_t>(packed.currency_len)};
    core::NumFormat with_currency = fmt;
    std::memcpy(with_currency.currency, n.currency, packed.currency_len);
    const auto gd = core::cast_f64_general(text, len, with_currency);
    const auto gf = core::cast_f32_general(text, len, with_currency);
    require(gd.status == static_cast<uint64_t>(sd) && gf.status == static_cast<uint64_t>(sf));
    if (sd == QUILLMERE_OK) require(same_bits(gd.value, d));
    if (sf == QUILLMERE_OK) require(same_bits(gf.value, f));
    if (sd != QUILLMERE_OK) require(gd.span.offset == QUILLMERE_FAULT_OFFSET(fault_d) &&
                                    gd.span.length == QUILLMERE_FAULT_LENGTH(fault_d));
    if (sf != QUILLMERE_OK) require(gf.span.offset == QUILLMERE_FAULT_OFFSET(fault_f) &&
                                    gf.span.length == QUILLMERE_FAULT_LENGTH(fault_f));

    // Plain numerals under the default format read as glibc reads them.
    if (is_plain_numeral(text, len)) {
        const std::string s(text, len);
        double dd = 0;
        float ff = 0;
        const int32_t s64 = cast_f64(s.data(), s.size(), nullptr, &dd, &fault_d);
        const int32_t s32 = cast_f32(s.data(), s.size(), nullptr, &ff, &fault_f);
        const double want_d = std::strtod(s.c_str(), nullptr);
        const float want_f = std::strtof(s.c_str(), nullptr);
        if (std::isinf(want_d)) {
            require(s64 == QUILLMERE_OUT_OF_RANGE && fault_d == (uint64_t{len} << 32));
        } else {
            require(s64 == QUILLMERE_OK && same_bits(dd, want_d));
        }
        if (std::isinf(want_f)) {
            require(s32 == QUILLMERE_OUT_OF_RANGE);
        } else {
            require(s32 == QUILLMERE_OK && same_bits(ff, want_f));
        }
    }
    return 0;
}
