// Placeholder until this cast family is built: every input is MALFORMED.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

Verdict<std::int8_t> cast_i8(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::int16_t> cast_i16(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::int32_t> cast_i32(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::int64_t> cast_i64(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::uint8_t> cast_u8(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::uint16_t> cast_u16(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::uint32_t> cast_u32(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<std::uint64_t> cast_u64(const char* data, std::size_t len, const NumFormat&) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }

}  // namespace quillmere::core
