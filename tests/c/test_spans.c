/* Durations, Unix-epoch counts and Excel serials through the C ABI: record
 * sizes, notation checks and the span (0, 0) of double faults. */
#include <math.h>

#include "check.h"

static int untouched(const void *p, size_t from, size_t to) {
    const unsigned char *b = (const unsigned char *)p;
    size_t i;
    for (i = from; i < to; ++i) {
        if (b[i] != 0xAA) return 0;
    }
    return 1;
}

int main(void) {
    quillmere_duration d;
    quillmere_instant t;
    quillmere_datetime dt;
    quillmere_time tod;
    uint64_t fault;
    double nan_value = (double)NAN;

    /* Instants and durations are 12-byte records: the padding is not written. */
    memset(&d, 0xAA, sizeof d);
    CHECK(cast_duration(TEXT("-PT1.5S"), &d, &fault) == QUILLMERE_OK);
    CHECK(d.seconds == -1 && d.nanos == -500000000);
    CHECK(untouched(&d, 12, sizeof d));

    memset(&d, 0xAA, sizeof d);
    CHECK(cast_duration(TEXT("1.02:03:04.5"), &d, &fault) == QUILLMERE_OK);
    CHECK(d.seconds == 93784 && d.nanos == 500000000);
    CHECK(cast_duration(TEXT("1.5s"), &d, &fault) == QUILLMERE_OK && d.seconds == 1 && d.nanos == 500000000);

    memset(&d, 0xAA, sizeof d);
    CHECK(cast_duration(TEXT("1.02"), &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 4));
    CHECK(untouched(&d, 0, sizeof d));
    CHECK(cast_duration(TEXT(" 315576000001s"), &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(1, 13));
    CHECK(cast_duration(NULL, 0, &d, &fault) == QUILLMERE_EMPTY && fault == 0);

    memset(&t, 0xAA, sizeof t);
    CHECK(cast_unix(TEXT("-1500"), QUILLMERE_MILLISECONDS, &t, &fault) == QUILLMERE_OK);
    CHECK(t.seconds == -2 && t.nanos == 500000000);
    CHECK(untouched(&t, 12, sizeof t));
    CHECK(cast_unix(TEXT("253402300800"), QUILLMERE_SECONDS, &t, &fault) == QUILLMERE_OUT_OF_RANGE);
    CHECK(fault == SPAN(0, 12));

    /* Notations out of range: -1, and nothing written. */
    memset(&t, 0xAA, sizeof t);
    fault = 0xDEADBEEF;
    CHECK(cast_unix(TEXT("0"), 0, &t, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(cast_unix(TEXT("0"), 5, &t, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(cast_unix(TEXT("x"), 5, &t, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(cast_excel_serial(TEXT("1"), 3, &t, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(cast_excel_serial(TEXT("1"), 0, &t, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(untouched(&t, 0, sizeof t));
    memset(&dt, 0xAA, sizeof dt);
    CHECK(cast_excel_serial_from_f64(1.0, 3, &dt, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(cast_excel_serial_from_f64(nan_value, 3, &dt, &fault) == QUILLMERE_INVALID_ARGUMENT);
    CHECK(untouched(&dt, 0, sizeof dt));
    CHECK(fault == 0xDEADBEEF);

    CHECK(cast_excel_serial(TEXT("45000.75"), QUILLMERE_EPOCH_1900, &t, &fault) == QUILLMERE_OK);
    CHECK(t.seconds == 1678903200 && t.nanos == 0); /* 2023-03-15T18:00:00Z */
    CHECK(cast_excel_serial(TEXT("60"), QUILLMERE_EPOCH_1900, &t, &fault) == QUILLMERE_OUT_OF_RANGE);
    CHECK(fault == SPAN(0, 2));
    CHECK(cast_excel_serial(TEXT("0"), QUILLMERE_EPOCH_1904, &t, &fault) == QUILLMERE_OK);
    CHECK(t.seconds == -2082844800 && t.nanos == 0); /* 1904-01-01 */

    CHECK(cast_excel_serial_from_f64(45000.75, QUILLMERE_EPOCH_1900, &dt, &fault) == QUILLMERE_OK);
    CHECK(dt.date.year == 2023 && dt.date.month == 3 && dt.date.day == 15);
    CHECK(dt.time == 64800000000000ull);

    CHECK(cast_excel_time(0.1, &tod, &fault) == QUILLMERE_OK && tod == 8640000000000ull);

    /* Every double fault carries the span (0, 0). */
    fault = 0xDEADBEEF;
    CHECK(cast_excel_duration(nan_value, &d, &fault) == QUILLMERE_MALFORMED && fault == 0);
    fault = 0xDEADBEEF;
    CHECK(cast_excel_duration(3652500.1, &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == 0);
    fault = 0xDEADBEEF;
    CHECK(cast_excel_time(-0.5, &tod, &fault) == QUILLMERE_MALFORMED && fault == 0);
    fault = 0xDEADBEEF;
    CHECK(cast_excel_serial_from_f64(0.75, QUILLMERE_EPOCH_1900, &dt, &fault) == QUILLMERE_OUT_OF_RANGE && fault == 0);

    memset(&d, 0xAA, sizeof d);
    CHECK(cast_excel_duration(-1.5, &d, &fault) == QUILLMERE_OK && d.seconds == -129600 && d.nanos == 0);
    CHECK(untouched(&d, 12, sizeof d));

    return check_failures;
}
