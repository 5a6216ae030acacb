// Placeholder until this cast family is built: every input is MALFORMED.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

Verdict<CivilDateTime> cast_datetime(const char* data, std::size_t len, DateOrder) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }

}  // namespace quillmere::core
