// Placeholder until this cast family is built: every input is MALFORMED.
#include "core/casts.hpp"
#include "core/text.hpp"

namespace quillmere::core {

Verdict<Instant> cast_excel_serial(const char* data, std::size_t len, ExcelEpoch) noexcept { const Trimmed t = trim(data, len); if (t.empty()) return empty_fault(); return whole_text_fault(t); }
Verdict<CivilDateTime> cast_excel_serial_from_f64(ExcelEpoch, double x) noexcept { (void)x; return make_fault(FaultReason::MALFORMED, 0, 0); }
Verdict<TimeOfDay> cast_excel_time(double x) noexcept { (void)x; return make_fault(FaultReason::MALFORMED, 0, 0); }
Verdict<SignedDuration> cast_excel_duration(double x) noexcept { (void)x; return make_fault(FaultReason::MALFORMED, 0, 0); }

}  // namespace quillmere::core
