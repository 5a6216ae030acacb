// Placeholder until this cast family is built: every input is MALFORMED.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

Verdict<ExactDecimal> decimal_from_double(double x) noexcept { (void)x; return make_fault(FaultReason::MALFORMED, 0, 0); }

}  // namespace quillmere::core
