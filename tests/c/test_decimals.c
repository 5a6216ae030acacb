/* The decimal exports: the 16-byte record, format rejection, the double
 * cast's span-less faults, and the canonical text of a record. */
#include <math.h>
#include <stdint.h>

#include "check.h"

/* The record as a C caller on another toolchain would read it: two
 * little-endian words. */
static uint64_t word(const quillmere_decimal *d, int index) {
    const unsigned char *p = (const unsigned char *)d + 8 * index;
    uint64_t w = 0;
    int i;
    for (i = 7; i >= 0; --i) w = (w << 8) | p[i];
    return w;
}

static void put_u32(unsigned char *p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

static quillmere_decimal record(uint64_t lo, uint32_t hi, uint8_t scale, uint8_t negative) {
    quillmere_decimal d = {lo, hi, scale, negative, {0, 0}};
    return d;
}

static void check_text(quillmere_decimal d, const char *want, int canonical) {
    char text[QUILLMERE_DECIMAL_TEXT_SIZE];
    quillmere_decimal back;
    const size_t n = strlen(want);
    memset(text, 'x', sizeof text);
    CHECK(quillmere_decimal_to_text(&d, text, sizeof text) == (int32_t)n);
    CHECK(strcmp(text, want) == 0);
    /* A buffer just large enough for the text and its NUL takes it; one byte
     * less is refused and left as it was. */
    memset(text, 'x', sizeof text);
    CHECK(quillmere_decimal_to_text(&d, text, n + 1) == (int32_t)n && text[n] == '\0');
    memset(text, 'x', sizeof text);
    CHECK(quillmere_decimal_to_text(&d, text, n) == QUILLMERE_INVALID_ARGUMENT && text[0] == 'x');
    /* Read back, the text of a canonical record is the record. */
    if (canonical) {
        CHECK(cast_decimal(want, n, NULL, &back, NULL) == QUILLMERE_OK && memcmp(&back, &d, sizeof d) == 0);
    }
}

static quillmere_numformat packed(uint32_t dec, uint32_t grp, uint32_t flags, uint32_t len, const char *sym) {
    quillmere_numformat f;
    unsigned char *p = (unsigned char *)&f;
    memset(&f, 0, sizeof f);
    put_u32(p, dec);
    put_u32(p + 4, grp);
    put_u32(p + 8, flags);
    put_u32(p + 12, len);
    memcpy(p + 16, sym, strlen(sym));
    return f;
}

int main(void) {
    quillmere_decimal d;
    uint64_t fault = 0;

    CHECK(sizeof(quillmere_decimal) == 16);

    /* -7.9228162514264337593543950335: the largest magnitude, scale 28. */
    memset(&d, 0xAA, sizeof d);
    CHECK(cast_decimal(TEXT("-7.9228162514264337593543950335"), NULL, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == UINT64_MAX);
    CHECK(word(&d, 1) == (0xFFFFFFFFull | (28ull << 32) | (1ull << 40)));
    CHECK(d.magnitude_lo == UINT64_MAX && d.magnitude_hi == 0xFFFFFFFFu && d.scale == 28 && d.negative == 1);
    CHECK(d.reserved[0] == 0 && d.reserved[1] == 0);

    /* "-0.00" is plain zero: every byte is zero. */
    memset(&d, 0xAA, sizeof d);
    CHECK(cast_decimal(TEXT(" -0.00 "), NULL, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 0 && word(&d, 1) == 0);

    CHECK(cast_decimal(TEXT("(1,234.50)"), NULL, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 12345 && word(&d, 1) == ((1ull << 32) | (1ull << 40)));

    /* A comma decimal declared through the packed record. */
    {
        quillmere_numformat comma = packed(',', '.', QUILLMERE_ALL, 3, "\xe2\x82\xac");
        CHECK(cast_decimal(TEXT("1.234,5 \xe2\x82\xac"), &comma, &d, &fault) == QUILLMERE_OK);
        CHECK(word(&d, 0) == 12345 && word(&d, 1) == (1ull << 32));
    }

    /* Faults: the span of the trimmed text, the value untouched. */
    memset(&d, 0x55, sizeof d);
    CHECK(cast_decimal(TEXT("  1e99999  "), NULL, &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(2, 7));
    CHECK(cast_decimal(TEXT("12x"), NULL, &d, &fault) == QUILLMERE_MALFORMED && fault == SPAN(2, 1));
    CHECK(cast_decimal(TEXT("   "), NULL, &d, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(word(&d, 0) == 0x5555555555555555ull);

    /* Invalid packed formats: -1, nothing written. */
    {
        quillmere_numformat bad[4];
        int i;
        bad[0] = packed(',', ',', 0, 0, "");
        bad[1] = packed('.', ',', 0, 17, "");
        bad[2] = packed('.', ',', 0, 2, "1$");
        bad[3] = packed(0xD800, ',', 0, 0, "");
        for (i = 0; i < 4; ++i) {
            fault = 77;
            memset(&d, 0x55, sizeof d);
            CHECK(cast_decimal(TEXT("1"), &bad[i], &d, &fault) == QUILLMERE_INVALID_ARGUMENT);
            CHECK(fault == 77 && word(&d, 0) == 0x5555555555555555ull);
        }
    }
    {
        quillmere_numformat any_flags = packed('.', ',', 0xFFFFFFFFu, 0, "");
        CHECK(cast_decimal(TEXT("1.5"), &any_flags, &d, &fault) == QUILLMERE_OK && word(&d, 0) == 15);
    }

    /* From a double. */
    CHECK(cast_decimal_from_f64(0.1, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 1 && word(&d, 1) == (1ull << 32));
    CHECK(cast_decimal_from_f64(-2.5, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 25 && word(&d, 1) == ((1ull << 32) | (1ull << 40)));
    CHECK(cast_decimal_from_f64(-0.0, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 0 && word(&d, 1) == 0);
    CHECK(cast_decimal_from_f64(1e28, &d, &fault) == QUILLMERE_OK);
    CHECK(word(&d, 0) == 0x3E25026110000000ull && word(&d, 1) == 0x204FCE5Eull); /* 10^28 */

    memset(&d, 0x55, sizeof d);
    fault = 99;
    CHECK(cast_decimal_from_f64(NAN, &d, &fault) == QUILLMERE_MALFORMED && fault == 0);
    fault = 99;
    CHECK(cast_decimal_from_f64(-INFINITY, &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == 0);
    fault = 99;
    CHECK(cast_decimal_from_f64(1e29, &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == 0);
    fault = 99;
    CHECK(cast_decimal_from_f64(1e-29, &d, &fault) == QUILLMERE_OUT_OF_RANGE && fault == 0);
    CHECK(cast_decimal_from_f64(NAN, &d, NULL) == QUILLMERE_MALFORMED);
    CHECK(word(&d, 0) == 0x5555555555555555ull);

    /* Canonical text. */
    check_text(record(0, 0, 0, 0), "0", 1);
    check_text(record(5, 0, 3, 0), "0.005", 1);
    check_text(record(11, 0, 1, 1), "-1.1", 1);
    check_text(record(100, 0, 0, 0), "100", 1);
    check_text(record(UINT64_MAX, 0xFFFFFFFFu, 0, 1), "-79228162514264337593543950335", 1);
    check_text(record(UINT64_MAX, 0xFFFFFFFFu, 28, 1), "-7.9228162514264337593543950335", 1);
    check_text(record(1, 0, 28, 1), "-0.0000000000000000000000000001", 1);
    check_text(record(10, 0, 1, 0), "1.0", 0); /* not canonical: written as it stands */
    check_text(record(0, 0, 0, 1), "-0", 0);
    {
        char text[QUILLMERE_DECIMAL_TEXT_SIZE] = "untouched";
        d = record(1, 0, 0, 0);
        CHECK(quillmere_decimal_to_text(NULL, text, sizeof text) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(quillmere_decimal_to_text(&d, NULL, sizeof text) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(quillmere_decimal_to_text(&d, text, 0) == QUILLMERE_INVALID_ARGUMENT);
        d = record(1, 0, 29, 0);
        CHECK(quillmere_decimal_to_text(&d, text, sizeof text) == QUILLMERE_INVALID_ARGUMENT);
        d = record(1, 0, 0, 2);
        CHECK(quillmere_decimal_to_text(&d, text, sizeof text) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(strcmp(text, "untouched") == 0);
    }

    return check_failures;
}
