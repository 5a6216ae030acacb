// UUID text in every .NET Guid form (bare, hyphenated, bracketed, the
// hexadecimal structure of "0x" fields), optionally after a "urn:uuid:",
// "guid:" or "uuid:" prefix. The value is the 16 bytes in text order.
#include <cstring>

#include "core/casts.hpp"
#include "core/digits.hpp"
#include "core/text.hpp"

namespace quillmere::core {

namespace {

constexpr std::uint64_t BYTES_01 = 0x0101010101010101;
constexpr std::uint64_t BYTES_0F = 0x0F0F0F0F0F0F0F0F;
constexpr std::uint64_t BYTES_20 = 0x2020202020202020;
constexpr std::uint64_t BYTES_80 = 0x8080808080808080;

// Adds c to every byte of a word whose bytes are all below 0x80; with c at
// most 0x80 no byte carries into the next, so each byte's top bit says
// whether that byte was at least 0x80 - c.
constexpr std::uint64_t at_least(std::uint64_t v, unsigned char bound) noexcept {
    return v + BYTES_01 * static_cast<unsigned char>(0x80 - bound);
}

// True when all eight bytes of the word are hexadecimal digits.
constexpr bool is_eight_hex(std::uint64_t v) noexcept {
    if ((v & BYTES_80) != 0) return false;
    const std::uint64_t digit = at_least(v, '0') & ~at_least(v, '9' + 1);
    const std::uint64_t folded = v | BYTES_20;  // "A".."F" onto "a".."f", and nothing else onto them
    const std::uint64_t letter = at_least(folded, 'a') & ~at_least(folded, 'f' + 1);
    return ((digit | letter) & BYTES_80) == BYTES_80;
}

// Eight hexadecimal digits (first digit in the lowest byte) as four bytes in
// text order, packed into the low 32 bits lowest byte first. A digit's nibble
// is its low four bits, plus 9 for the letters (bit 6 set).
constexpr std::uint32_t pack_eight_hex(std::uint64_t v) noexcept {
    std::uint64_t nibbles = (v & BYTES_0F) + ((v >> 6) & BYTES_01) * 9;
    std::uint64_t pairs = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FF;
    pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFF;
    return static_cast<std::uint32_t>(pairs | (pairs >> 16));
}

// Where each of the 16 value bytes takes its pair of digits, relative to the
// first digit, in the two digit layouts.
constexpr unsigned char BARE_PAIRS[16] = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30};
constexpr unsigned char HYPHENATED_PAIRS[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
constexpr unsigned char HYPHENS[4] = {8, 13, 18, 23};

// The 32 digits starting at `start` of the body, laid out bare or hyphenated.
// Converted eight digits at a time; the pair scan runs only to find a fault,
// the first pair in value order holding a non-digit.
Verdict<Uuid> read_hex_layout(const TextRange& body, std::size_t start, bool hyphenated) noexcept {
    const unsigned char* p = body.data + start;
    std::uint64_t words[4];
    if (hyphenated) {
        words[0] = load_u64_le(p);
        words[1] = load_u32_le(p + 9) | std::uint64_t{load_u32_le(p + 14)} << 32;
        words[2] = load_u32_le(p + 19) | std::uint64_t{load_u32_le(p + 24)} << 32;
        words[3] = load_u64_le(p + 28);
    } else {
        for (int w = 0; w < 4; ++w) words[w] = load_u64_le(p + 8 * w);
    }

    if (is_eight_hex(words[0]) && is_eight_hex(words[1]) && is_eight_hex(words[2]) && is_eight_hex(words[3])) {
        Uuid uuid;
        for (int w = 0; w < 4; ++w) {
            const std::uint32_t four = pack_eight_hex(words[w]);
            std::memcpy(uuid.bytes + 4 * w, &four, 4);
        }
        return Verdict<Uuid>::success(uuid);
    }

    const unsigned char* pairs = hyphenated ? HYPHENATED_PAIRS : BARE_PAIRS;
    for (int i = 0; i < 16; ++i) {
        const std::size_t pos = start + pairs[i];
        if (hex_value(body[pos]) < 0) return char_fault(body, pos);
        if (hex_value(body[pos + 1]) < 0) return char_fault(body, pos + 1);
    }
    return whole_text_fault(body);  // unreachable: some word held a non-digit
}

Verdict<Uuid> read_hyphenated(const TextRange& body, std::size_t start) noexcept {
    for (unsigned char h : HYPHENS) {
        if (body[start + h] != '-') return char_fault(body, start + h);
    }
    return read_hex_layout(body, start, true);
}

// Left-to-right reader of the structure form
// {0xXXXXXXXX,0xXXXX,0xXXXX,{0xXX,0xXX,0xXX,0xXX,0xXX,0xXX,0xXX,0xXX}}.
class StructureReader {
public:
    explicit StructureReader(const TextRange& body) noexcept : body_(body) {}

    // Expects one punctuation byte.
    bool expect(unsigned char c, Fault& fault) noexcept {
        if (pos_ == body_.length) {
            fault = whole_text_fault(body_);
            return false;
        }
        if (body_[pos_] != c) {
            fault = char_fault(body_, pos_);
            return false;
        }
        ++pos_;
        return true;
    }

    // Reads a field of n bytes, "0x" and 1 to 2n digits, into out[0..n) big-endian.
    bool field(unsigned char* out, std::size_t n, Fault& fault) noexcept {
        const std::size_t length = body_.length;
        if (pos_ == length) {
            fault = char_fault(body_, length - 1);
            return false;
        }
        if (body_[pos_] != '0' || pos_ + 1 == length || !is_letter(body_[pos_ + 1], 'x')) {
            fault = char_fault(body_, pos_);
            return false;
        }
        pos_ += 2;
        if (pos_ == length) {
            fault = char_fault(body_, pos_ - 1);
            return false;
        }
        const std::size_t first = pos_;
        std::uint32_t value = 0;
        for (; pos_ < length; ++pos_) {
            const int digit = hex_value(body_[pos_]);
            if (digit < 0) break;
            if (pos_ - first == 2 * n) {
                fault = char_fault(body_, pos_);
                return false;
            }
            value = (value << 4) | static_cast<unsigned>(digit);
        }
        if (pos_ == first) {
            fault = char_fault(body_, pos_);
            return false;
        }
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(value >> (8 * (n - 1 - i)));
        return true;
    }

    bool at_end(Fault& fault) noexcept {
        if (pos_ == body_.length) return true;
        fault = char_fault(body_, pos_);
        return false;
    }

private:
    const TextRange& body_;
    std::size_t pos_ = 0;
};

Verdict<Uuid> read_structure(const TextRange& body) noexcept {
    Uuid uuid{};
    Fault fault{};
    StructureReader r(body);
    bool ok = r.expect('{', fault) && r.field(uuid.bytes, 4, fault) && r.expect(',', fault) &&
              r.field(uuid.bytes + 4, 2, fault) && r.expect(',', fault) && r.field(uuid.bytes + 6, 2, fault) &&
              r.expect(',', fault) && r.expect('{', fault);
    for (std::size_t i = 8; ok && i < 16; ++i) {
        ok = (i == 8 || r.expect(',', fault)) && r.field(uuid.bytes + i, 1, fault);
    }
    ok = ok && r.expect('}', fault) && r.expect('}', fault) && r.at_end(fault);
    if (!ok) return fault;
    return Verdict<Uuid>::success(uuid);
}

}  // namespace

Verdict<Uuid> cast_uuid(const char* data, std::size_t len) noexcept {
    const TextRange t = trim(data, len);
    if (t.empty()) return empty_fault();

    // At most one prefix, and any whitespace after it.
    TextRange body = t;
    const unsigned char first = ascii_lower(t[0]);
    if (first == 'u' || first == 'g') {
        static constexpr struct {
            const char* text;
            std::size_t length;
        } prefixes[] = {{"urn:uuid:", 9}, {"guid:", 5}, {"uuid:", 5}};
        for (const auto& prefix : prefixes) {
            if (t.length < prefix.length || !equals_ignoring_case(t.data, prefix.text, prefix.length)) continue;
            std::size_t start = prefix.length;
            while (start < t.length && is_space(t[start])) ++start;
            if (start == t.length) return whole_text_fault(t);
            body = sub_range(t, start, t.length - start);
            break;
        }
    }

    const std::size_t length = body.length;
    const unsigned char open = body[0];
    if (length >= 3 && open == '{' && body[1] == '0' && is_letter(body[2], 'x')) return read_structure(body);
    if (open == '(' || open == '{') {
        if (length != 38) return whole_text_fault(body);
        if (body[37] != (open == '(' ? ')' : '}')) return span_fault(body, 37, 1);
        return read_hyphenated(body, 1);
    }
    if (length == 32) return read_hex_layout(body, 0, false);
    if (length != 36) return whole_text_fault(body);
    return read_hyphenated(body, 0);
}

}  // namespace quillmere::core
