// Calendar casts under libFuzzer. The first byte picks the cast (modulo 5) and
// the date order (the quotient, modulo 3); the rest is the text. Every verdict
// must be well formed, every success a real date, time or instant, and casts
// whose languages overlap must agree where they do.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/casts.hpp"
#include "core/reference_paths.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

// The text less its surrounding whitespace.
std::string trimmed(const char* data, size_t len) {
    const core::TextRange t = core::trim(data, len);
    return std::string(reinterpret_cast<const char*>(t.data), t.length);
}

bool same_date(const quillmere_date& a, const quillmere_date& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

void fuzz_date(const char* data, size_t len) {
    quillmere_date d{}, o{};
    uint64_t fault = 0;
    const int32_t status = cast_date(data, len, &d, &fault);
    check_text_verdict(status, fault, data, len);
    if (status != QUILLMERE_OK) return;
    check_date(d);
    require(trimmed(data, len).size() == 10);
    // The strict form is one of the separated forms under every order.
    for (uint32_t order = 1; order <= 3; ++order) {
        require(cast_date_ordered(data, len, order, &o, &fault) == QUILLMERE_OK && same_date(d, o));
    }
}

void fuzz_date_ordered(const char* data, size_t len, uint32_t order) {
    quillmere_date d{};
    quillmere_datetime dt{};
    uint64_t fault = 0, dt_fault = 0;
    const int32_t status = cast_date_ordered(data, len, order, &d, &fault);
    check_text_verdict(status, fault, data, len);
    // A date alone is a date-time at midnight, and it fails the same way
    // whenever nothing follows the date.
    const int32_t dt_status = cast_datetime(data, len, order, &dt, &dt_fault);
    check_text_verdict(dt_status, dt_fault, data, len);
    if (status == QUILLMERE_OK) {
        check_date(d);
        require(dt_status == QUILLMERE_OK && same_date(d, dt.date) && dt.time == 0);
    } else if (status == QUILLMERE_OUT_OF_RANGE) {
        require(dt_status == status && dt_fault == fault);
    }
}

void fuzz_time(const char* data, size_t len) {
    quillmere_time t = 0;
    uint64_t fault = 0;
    const int32_t status = cast_time(data, len, &t, &fault);
    check_text_verdict(status, fault, data, len);
    if (status != QUILLMERE_OK) return;
    require(t < core::NANOS_PER_DAY);
    // Any ISO clock is also the time half of a date-time.
    const std::string text = "2000-01-01T" + trimmed(data, len);
    quillmere_datetime dt{};
    require(cast_datetime(text.data(), text.size(), QUILLMERE_YMD, &dt, &fault) == QUILLMERE_OK && dt.time == t);
}

void fuzz_datetime(const char* data, size_t len, uint32_t order) {
    quillmere_datetime dt;
    std::memset(&dt, 0xA5, sizeof dt);
    uint64_t fault = 0;
    const int32_t status = cast_datetime(data, len, order, &dt, &fault);
    check_text_verdict(status, fault, data, len);
    if (status != QUILLMERE_OK) return;
    check_datetime(dt);
}

void fuzz_timestamp(const char* data, size_t len) {
    quillmere_instant in{};
    uint64_t fault = 0;
    const int32_t status = cast_timestamp(data, len, &in, &fault);
    check_text_verdict(status, fault, data, len);
    // The fixed-layout shortcut gives the field-by-field reader's verdict.
    const core::Verdict<core::Instant> fast = core::cast_timestamp(data, len);
    const core::Verdict<core::Instant> general = core::cast_timestamp_general(data, len);
    require(fast.status == general.status);
    require(fast.ok() ? fast.value.seconds == general.value.seconds && fast.value.nanos == general.value.nanos
                      : core::pack_span(fast.span) == core::pack_span(general.span));
    if (status != QUILLMERE_OK) return;
    check_instant(in);

    // Rebuild the instant from its parts through the date and time casts.
    const std::string t = trimmed(data, len);
    quillmere_date d{};
    quillmere_time tod = 0;
    require(cast_date(t.data(), 10, &d, &fault) == QUILLMERE_OK);
    const bool zulu = t.back() == 'Z' || t.back() == 'z';
    const size_t clock_end = zulu ? t.size() - 1 : t.size() - 6;
    require(cast_time(t.data() + 11, clock_end - 11, &tod, &fault) == QUILLMERE_OK);
    int64_t offset = 0;
    if (!zulu) {
        const char* z = t.data() + clock_end;
        require(z[0] == '+' || z[0] == '-');
        offset = ((z[1] - '0') * 10 + (z[2] - '0')) * 3600 + ((z[4] - '0') * 10 + (z[5] - '0')) * 60;
        if (z[0] == '-') offset = -offset;
    }
    const int64_t expected = core::days_from_civil(d.year, d.month, d.day) * 86400 +
                             static_cast<int64_t>(tod / 1000000000u) - offset;
    require(in.seconds == expected && in.nanos == tod % 1000000000u);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    const size_t len = size - 1;
    const uint32_t order = 1 + (bytes[0] / 5) % 3;
    switch (bytes[0] % 5) {
        case 0: fuzz_date(data, len); break;
        case 1: fuzz_date_ordered(data, len, order); break;
        case 2: fuzz_time(data, len); break;
        case 3: fuzz_datetime(data, len, order); break;
        default: fuzz_timestamp(data, len); break;
    }
    // Orders outside 1..3 are refused before any byte is read.
    quillmere_date d{};
    uint64_t fault = 7;
    require(cast_date_ordered(data, len, 0, &d, &fault) == QUILLMERE_INVALID_ARGUMENT && fault == 7);
    return 0;
}
