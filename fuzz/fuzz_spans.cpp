// Durations, Unix-epoch counts and Excel serials through the C ABI. The first
// byte picks the cast and its notation; the rest is the text, or a double
// taken from its first eight bytes. Invariants: spans inside the input, EMPTY
// only as (0, 0), values within their ranges, trimming moves spans and
// nothing else, and the related casts agree with one another.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.hpp"

namespace {

using namespace fuzz_support;

constexpr size_t MAX_TEXT = 4096;

// The same text with a space on each side: the verdict is the same, a span one further on.
template <class Out, class Cast>
void check_trimmed(const char* text, size_t len, int32_t status, const Out& value, uint64_t fault, Cast cast) {
    if (len + 2 > MAX_TEXT) return;
    char padded[MAX_TEXT];
    padded[0] = ' ';
    if (len != 0) std::memcpy(padded + 1, text, len);
    padded[len + 1] = '\t';
    Out again;
    std::memset(&again, 0, sizeof again);
    uint64_t fault_again = 0;
    const int32_t status_again = cast(padded, len + 2, &again, &fault_again);
    require(status_again == status);
    if (status == 0) {
        require(std::memcmp(&again, &value, 12 < sizeof(Out) ? 12 : sizeof(Out)) == 0);
    } else if (status != QUILLMERE_EMPTY) {
        require(fault_again == fault + 1);  // offset + 1, same length
    }
}

void fuzz_text(uint8_t selector, const char* text, size_t len) {
    uint64_t fault = 0;
    switch (selector % 4) {
        case 0: {
            quillmere_duration d;
            std::memset(&d, 0, sizeof d);
            const int32_t status = cast_duration(text, len, &d, &fault);
            check_text_verdict(status, fault, text, len);
            if (status == 0) check_duration(d);
            check_trimmed(text, len, status, d, fault, [](const char* p, size_t n, quillmere_duration* o, uint64_t* f) {
                return cast_duration(p, n, o, f);
            });
            break;
        }
        case 1: {
            const uint32_t precision = (selector / 4) % 6;  // 0 and 5 are refused
            quillmere_instant t;
            std::memset(&t, 0xAA, sizeof t);
            fault = 0xDEADBEEF;
            const int32_t status = cast_unix(text, len, precision, &t, &fault);
            if (precision == 0 || precision == 5) {
                require(status == QUILLMERE_INVALID_ARGUMENT && fault == 0xDEADBEEF);
                break;
            }
            check_text_verdict(status, fault, text, len);
            if (status == 0) check_instant(t);
            check_trimmed(text, len, status, t, fault, [precision](const char* p, size_t n, quillmere_instant* o, uint64_t* f) {
                return cast_unix(p, n, precision, o, f);
            });
            break;
        }
        default: {
            quillmere_instant t1900, t1904;
            uint64_t fault1904 = 0;
            std::memset(&t1900, 0, sizeof t1900);
            std::memset(&t1904, 0, sizeof t1904);
            const int32_t s1900 = cast_excel_serial(text, len, QUILLMERE_EPOCH_1900, &t1900, &fault);
            const int32_t s1904 = cast_excel_serial(text, len, QUILLMERE_EPOCH_1904, &t1904, &fault1904);
            check_text_verdict(s1900, fault, text, len);
            check_text_verdict(s1904, fault1904, text, len);
            if (s1900 == 0) check_instant(t1900);
            if (s1904 == 0) check_instant(t1904);
            // The form does not depend on the numbering, only the range does.
            require((s1900 == QUILLMERE_MALFORMED) == (s1904 == QUILLMERE_MALFORMED));
            if (s1900 == QUILLMERE_MALFORMED) require(fault == fault1904);
            if (s1900 == 0 && s1904 == 0) {
                // Serial s is 1462 days later under 1904 (1461 before the phantom 29 February).
                const int64_t shift = t1904.seconds - t1900.seconds;
                require(shift == 1462 * 86400 || shift == 1461 * 86400);
                require(t1900.nanos == t1904.nanos);
            }
            break;
        }
    }
}

void fuzz_double(double x) {
    uint64_t fault = 0xDEADBEEF;
    quillmere_time tod = 0;
    const int32_t st = cast_excel_time(x, &tod, &fault);
    check_double_verdict(st, fault);
    if (st == 0) require(tod < core::NANOS_PER_DAY);

    for (uint32_t epoch = 1; epoch <= 2; ++epoch) {
        quillmere_datetime dt;
        std::memset(&dt, 0xAA, sizeof dt);
        fault = 0xDEADBEEF;
        const int32_t s = cast_excel_serial_from_f64(x, epoch, &dt, &fault);
        check_double_verdict(s, fault);
        if (s != 0) {
            // A double the time accepts fails here only on the epoch's day range.
            if (st == 0) require(s == QUILLMERE_OUT_OF_RANGE);
        } else {
            check_datetime(dt);
            require(st == 0 && dt.time == tod);
        }
    }

    quillmere_duration d, negated;
    std::memset(&d, 0, sizeof d);
    std::memset(&negated, 0, sizeof negated);
    uint64_t fault_negated = 0;
    fault = 0xDEADBEEF;
    const int32_t sd = cast_excel_duration(x, &d, &fault);
    const int32_t sn = cast_excel_duration(-x, &negated, &fault_negated);
    check_double_verdict(sd, fault);
    check_double_verdict(sn, fault_negated);
    require(sd == sn);
    if (sd != 0) return;
    check_duration(d);
    require(d.seconds == -negated.seconds && d.nanos == -negated.nanos);
    if (st == 0 && x >= 0) require(static_cast<uint64_t>(d.seconds % 86400) * 1000000000ull + static_cast<uint64_t>(d.nanos) == tod);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t len = size - 1;
    if (selector >= 0xF0) {
        if (len < 8) return 0;
        double x;
        std::memcpy(&x, text, sizeof x);
        fuzz_double(x);
        return 0;
    }
    fuzz_text(selector, len == 0 ? nullptr : text, len);
    return 0;
}
