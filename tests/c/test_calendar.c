/* The calendar exports seen from C: record sizes and layouts, statuses, spans,
 * and the order argument. */
#include "check.h"

int main(void) {
    uint64_t fault = 0;

    /* Records have exactly the sizes callers allocate for them. */
    CHECK(sizeof(quillmere_date) == 4);
    CHECK(sizeof(quillmere_time) == 8);
    CHECK(sizeof(quillmere_datetime) == 16);

    {
        quillmere_date d;
        uint8_t raw[4];
        CHECK(cast_date(TEXT(" 2024-02-29\n"), &d, &fault) == QUILLMERE_OK);
        CHECK(d.year == 2024 && d.month == 2 && d.day == 29);
        memcpy(raw, &d, 4);
        CHECK(raw[0] == (2024 & 0xFF) && raw[1] == (2024 >> 8) && raw[2] == 2 && raw[3] == 29);

        CHECK(cast_date(TEXT("2023-02-29"), &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(8, 2));
        CHECK(cast_date(TEXT("2024/01/15"), &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(4, 1));
        CHECK(cast_date(TEXT("  "), &d, &fault) == QUILLMERE_EMPTY && fault == 0);
        CHECK(cast_date(NULL, 0, &d, &fault) == QUILLMERE_EMPTY && fault == 0);

        CHECK(cast_date_ordered(TEXT("15.01.2024"), QUILLMERE_DMY, &d, &fault) == QUILLMERE_OK);
        CHECK(d.year == 2024 && d.month == 1 && d.day == 15);
        CHECK(cast_date_ordered(TEXT("3/7/2024"), QUILLMERE_MDY, &d, &fault) == QUILLMERE_OK);
        CHECK(d.year == 2024 && d.month == 3 && d.day == 7);
        CHECK(cast_date_ordered(TEXT("01/15/24"), QUILLMERE_MDY, &d, &fault) == QUILLMERE_MALFORMED &&
              fault == SPAN(6, 2));
        CHECK(cast_date_ordered(TEXT("2024-01-15\xc3\xa9"), QUILLMERE_YMD, &d, &fault) == QUILLMERE_MALFORMED &&
              fault == SPAN(10, 2));
    }

    /* An order out of range touches neither out-parameter. */
    {
        quillmere_date d = {7, 7, 7};
        quillmere_datetime dt;
        fault = 0xDEADBEEF;
        CHECK(cast_date_ordered(TEXT("2024-01-15"), 0, &d, &fault) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(cast_date_ordered(TEXT("2024-01-15"), 4, &d, &fault) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(cast_date_ordered(TEXT("x"), 4, &d, &fault) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(d.year == 7 && d.month == 7 && d.day == 7 && fault == 0xDEADBEEF);
        memset(&dt, 0x5A, sizeof dt);
        CHECK(cast_datetime(TEXT("2024-01-15"), 0, &dt, &fault) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(cast_datetime(TEXT("2024-01-15"), 4, &dt, &fault) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(dt.date.year == 0x5A5A && dt.time == 0x5A5A5A5A5A5A5A5Aull && fault == 0xDEADBEEF);
    }

    {
        quillmere_time t = 0;
        CHECK(cast_time(TEXT("23:59:59.999999999"), &t, &fault) == QUILLMERE_OK && t == 86399999999999ull);
        CHECK(cast_time(TEXT("12:30:45.123456789987"), &t, &fault) == QUILLMERE_OK && t == 45045123456789ull);
        CHECK(cast_time(TEXT("23:59:60"), &t, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(6, 2));
        CHECK(cast_time(TEXT("12:30:45."), &t, &fault) == QUILLMERE_MALFORMED && fault == SPAN(8, 1));
        CHECK(cast_time(TEXT("12"), &t, &fault) == QUILLMERE_MALFORMED && fault == SPAN(2, 0));
    }

    {
        quillmere_datetime dt;
        uint8_t raw[16];
        CHECK(cast_datetime(TEXT("2024-01-15 3 pm"), QUILLMERE_YMD, &dt, &fault) == QUILLMERE_OK);
        CHECK(dt.date.year == 2024 && dt.date.month == 1 && dt.date.day == 15);
        CHECK(dt.time == 15ull * 3600 * 1000000000);
        memcpy(raw, &dt, 16);
        CHECK(raw[0] == (2024 & 0xFF) && raw[1] == (2024 >> 8) && raw[2] == 1 && raw[3] == 15);
        CHECK(raw[8] == (uint8_t)(dt.time & 0xFF) && raw[15] == 0);
        CHECK(cast_datetime(TEXT("15/01/2024 23:59:59.5"), QUILLMERE_DMY, &dt, &fault) == QUILLMERE_OK);
        CHECK(dt.time == 86399500000000ull);
        CHECK(cast_datetime(TEXT("2024-01-15T10:30:00Z"), QUILLMERE_YMD, &dt, &fault) == QUILLMERE_MALFORMED &&
              fault == SPAN(19, 1));
        CHECK(cast_datetime(TEXT("2023-02-29 25:00"), QUILLMERE_YMD, &dt, &fault) == QUILLMERE_OUT_OF_RANGE &&
              fault == SPAN(8, 2));
    }

    {
        quillmere_instant in;
        _Alignas(8) uint8_t raw[16];
        int64_t seconds;
        uint32_t nanos;
        memset(raw, 0xEE, sizeof raw);
        CHECK(cast_timestamp(TEXT("9999-12-31T23:59:59.999999999Z"), (quillmere_instant *)(void *)raw, &fault) ==
              QUILLMERE_OK);
        memcpy(&seconds, raw, 8);
        memcpy(&nanos, raw + 8, 4);
        CHECK(seconds == 253402300799ll && nanos == 999999999u);
        CHECK(raw[12] == 0xEE && raw[15] == 0xEE); /* a 12-byte record: nothing past it is written */

        CHECK(cast_timestamp(TEXT("2024-01-15T10:30:00-05:30"), &in, &fault) == QUILLMERE_OK);
        CHECK(in.seconds == 1705334400ll && in.nanos == 0);
        CHECK(cast_timestamp(TEXT("0001-01-01T00:00:00+00:01"), &in, &fault) == QUILLMERE_OUT_OF_RANGE &&
              fault == SPAN(0, 25));
        CHECK(cast_timestamp(TEXT("2024-01-15T10:30:00+01"), &in, &fault) == QUILLMERE_MALFORMED &&
              fault == SPAN(22, 0));
        CHECK(cast_timestamp(TEXT("2024-01-15T10:30Z"), &in, &fault) == QUILLMERE_MALFORMED && fault == SPAN(11, 6));
    }

    return check_failures;
}
