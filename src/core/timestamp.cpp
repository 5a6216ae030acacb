// Placeholder until this cast family is built: every input is MALFORMED.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

Verdict<Instant> cast_timestamp(const char* data, std::size_t len) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }

}  // namespace quillmere::core
