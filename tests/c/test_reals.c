/* The real exports: a 4-byte single and an 8-byte double written on success,
 * spans on faults, -1 for an invalid packed format with nothing written. */
#include <string.h>

#include "check.h"

static int same_double(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }
static int same_float(float a, float b) { return memcmp(&a, &b, sizeof a) == 0; }

int main(void) {
    double d = 0;
    float f = 0;
    uint64_t fault = 0;
    unsigned char guard[8];

    CHECK(sizeof(float) == 4 && sizeof(double) == 8);

    CHECK(cast_f64(TEXT(" 2.5 "), NULL, &d, &fault) == QUILLMERE_OK && d == 2.5);
    CHECK(cast_f32(TEXT("0.1"), NULL, &f, &fault) == QUILLMERE_OK && same_float(f, 0.1f));
    CHECK(cast_f64(TEXT("-0"), NULL, &d, &fault) == QUILLMERE_OK && same_double(d, -0.0));
    CHECK(cast_f32(TEXT("(0)"), NULL, &f, &fault) == QUILLMERE_OK && same_float(f, -0.0f));
    CHECK(cast_f64(TEXT("1,234.5"), NULL, &d, &fault) == QUILLMERE_OK && d == 1234.5);
    CHECK(cast_f64(TEXT("0.7%"), NULL, &d, &fault) == QUILLMERE_OK && d == 0.7 / 100.0);
    CHECK(cast_f32(TEXT("1.000000059604644775390625000000001"), NULL, &f, &fault) == QUILLMERE_OK &&
          f == 1.00000011920928955078125f);
    CHECK(cast_f64(TEXT("2.4703282292062328e-324"), NULL, &d, &fault) == QUILLMERE_OK && d > 0 && d / 2 == 0);

    /* A fault writes its span and leaves the value alone. */
    d = 7.0;
    CHECK(cast_f64(TEXT("1.7976931348623159e308"), NULL, &d, &fault) == QUILLMERE_OUT_OF_RANGE);
    CHECK(fault == SPAN(0, 22) && d == 7.0);
    CHECK(cast_f32(TEXT("  3.4028236e38"), NULL, &f, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(2, 12));
    CHECK(cast_f64(TEXT("inf"), NULL, &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 1));
    CHECK(cast_f64(TEXT("0x1p3"), NULL, &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));
    CHECK(cast_f32(TEXT(" \t"), NULL, &f, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(cast_f64(NULL, 0, NULL, &d, &fault) == QUILLMERE_EMPTY && fault == 0);

    /* A declared format: comma decimals, dot groups, a euro sign. */
    {
        quillmere_numformat fmt;
        memset(&fmt, 0, sizeof fmt);
        fmt.decimal_sep = ',';
        fmt.group_sep = '.';
        fmt.flags = QUILLMERE_ALL;
        fmt.currency_len = 3;
        memcpy(fmt.currency, "\xE2\x82\xAC", 3);
        CHECK(cast_f64(TEXT("1.234,5 \xE2\x82\xAC"), &fmt, &d, &fault) == QUILLMERE_OK && d == 1234.5);
        CHECK(cast_f32(TEXT("-\xE2\x82\xAC" "0,25"), &fmt, &f, &fault) == QUILLMERE_OK && f == -0.25f);

        /* Under detection "1.234" is ambiguous. */
        fmt.flags = QUILLMERE_ALL | QUILLMERE_SEPARATOR_DETECT;
        CHECK(cast_f64(TEXT("1.234"), &fmt, &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));

        /* Invalid packed formats: -1, nothing written. */
        memset(guard, 0xAB, sizeof guard);
        memcpy(&d, guard, sizeof d);
        memcpy(&f, guard, sizeof f);
        fault = 0x1234;
        fmt.group_sep = ',';
        fmt.decimal_sep = ',';
        CHECK(cast_f64(TEXT("1"), &fmt, &d, &fault) == -1);
        CHECK(cast_f32(TEXT("1"), &fmt, &f, &fault) == -1);
        fmt.decimal_sep = '.';
        fmt.currency_len = 17;
        CHECK(cast_f64(TEXT("1"), &fmt, &d, &fault) == -1);
        CHECK(memcmp(&d, guard, sizeof d) == 0 && memcmp(&f, guard, sizeof f) == 0 && fault == 0x1234);
    }
    return check_failures;
}
