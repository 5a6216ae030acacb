#include "core/num_format.hpp"

#include <cstring>

#include "core/digits.hpp"

namespace quillmere::core {

namespace {

void write_u32_le(unsigned char* p, std::uint32_t v) noexcept {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

NumFormat format_of(char32_t decimal_sep, char32_t group_sep, std::uint32_t flags, const unsigned char* currency,
                   std::size_t currency_len) noexcept {
    NumFormat f{decimal_sep, group_sep, flags, {}, static_cast<std::uint8_t>(currency_len)};
    if (currency_len != 0) std::memcpy(f.currency, currency, currency_len);
    return f;
}

}  // namespace

bool is_valid_currency(const unsigned char* symbol, std::size_t length) noexcept {
    if (length > MAX_CURRENCY_BYTES) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (is_digit(symbol[i]) || is_space(symbol[i])) return false;
    }
    return is_valid_utf8(symbol, length);
}

FormatResult make_num_format(char32_t decimal_sep, char32_t group_sep, std::uint32_t flags,
                             const unsigned char* currency, std::size_t currency_len) noexcept {
    if (!is_scalar_value(decimal_sep) || !is_scalar_value(group_sep)) return {INVARIANT_FORMAT, FormatError::INVALID_SEPARATOR};
    if (decimal_sep == group_sep) return {INVARIANT_FORMAT, FormatError::EQUAL_SEPARATORS};
    if (!is_valid_currency(currency, currency_len)) return {INVARIANT_FORMAT, FormatError::INVALID_CURRENCY};
    return {format_of(decimal_sep, group_sep, flags, currency, currency_len), FormatError::NONE};
}

bool decode_packed_format(const unsigned char* packed, NumFormat& out) noexcept {
    char32_t decimal_sep = load_u32_le(packed);
    char32_t group_sep = load_u32_le(packed + 4);
    std::uint32_t flags = load_u32_le(packed + 8);
    std::uint32_t currency_len = load_u32_le(packed + 12);
    if (!is_scalar_value(decimal_sep)) return false;
    if (!is_scalar_value(group_sep) || group_sep == decimal_sep) return false;
    // Symbol bytes past the declared length are ignored, so a zero length with
    // leftover bytes declares no currency.
    if (currency_len != 0 && (currency_len > MAX_CURRENCY_BYTES || !is_valid_currency(packed + 16, currency_len))) {
        return false;
    }
    out = format_of(decimal_sep, group_sep, flags, packed + 16, currency_len);
    return true;
}

void encode_packed_format(const NumFormat& format, unsigned char out[PACKED_FORMAT_SIZE]) noexcept {
    std::memset(out, 0, PACKED_FORMAT_SIZE);
    write_u32_le(out, format.decimal_sep);
    write_u32_le(out + 4, format.group_sep);
    write_u32_le(out + 8, format.flags);
    write_u32_le(out + 12, format.currency_len);
    std::memcpy(out + 16, format.currency, format.currency_len);
}

}  // namespace quillmere::core
