/* The integer exports: format decoding, status codes, records and spans. */
#include "check.h"

static quillmere_numformat make_format(uint32_t decimal_sep, uint32_t group_sep, uint32_t flags, const char *symbol,
                                       uint32_t symbol_len) {
    quillmere_numformat f;
    memset(&f, 0, sizeof f);
    f.decimal_sep = decimal_sep;
    f.group_sep = group_sep;
    f.flags = flags;
    f.currency_len = symbol_len;
    memcpy(f.currency, symbol, symbol_len < 16 ? symbol_len : 16);
    return f;
}

/* Every integer export with a format, on one text: status and, by width, the
 * value written. Records only of the export's own width are touched. */
static void check_rejected_everywhere(const quillmere_numformat *fmt) {
    int8_t i8 = 0x11;
    int16_t i16 = 0x1111;
    int32_t i32 = 0x11111111;
    int64_t i64 = 0x1111111111111111;
    uint8_t u8 = 0x22;
    uint16_t u16 = 0x2222;
    uint32_t u32 = 0x22222222u;
    uint64_t u64 = 0x2222222222222222u;
    uint64_t fault = 0xDEADBEEFu;
    CHECK(cast_i8(TEXT("1"), fmt, &i8, &fault) == QUILLMERE_INVALID_ARGUMENT && i8 == 0x11);
    CHECK(cast_i16(TEXT("1"), fmt, &i16, &fault) == QUILLMERE_INVALID_ARGUMENT && i16 == 0x1111);
    CHECK(cast_i32(TEXT("x"), fmt, &i32, &fault) == QUILLMERE_INVALID_ARGUMENT && i32 == 0x11111111);
    CHECK(cast_i64(TEXT(""), fmt, &i64, &fault) == QUILLMERE_INVALID_ARGUMENT && i64 == 0x1111111111111111);
    CHECK(cast_u8(TEXT("1"), fmt, &u8, &fault) == QUILLMERE_INVALID_ARGUMENT && u8 == 0x22);
    CHECK(cast_u16(TEXT("1"), fmt, &u16, &fault) == QUILLMERE_INVALID_ARGUMENT && u16 == 0x2222);
    CHECK(cast_u32(TEXT("1"), fmt, &u32, &fault) == QUILLMERE_INVALID_ARGUMENT && u32 == 0x22222222u);
    CHECK(cast_u64(TEXT("1"), fmt, &u64, &fault) == QUILLMERE_INVALID_ARGUMENT && u64 == 0x2222222222222222u);
    CHECK(fault == 0xDEADBEEFu);
}

int main(void) {
    int32_t i32 = 0;
    int8_t i8 = 0;
    uint8_t u8 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int64_t i64 = 0;
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    uint64_t fault = 0;

    /* A null format is the default: ".", ",", every lenience but detection. */
    CHECK(cast_i32(TEXT("42"), NULL, &i32, &fault) == QUILLMERE_OK && i32 == 42);
    CHECK(cast_i32(TEXT("(1,234)"), NULL, &i32, &fault) == QUILLMERE_OK && i32 == -1234);
    CHECK(cast_i32(TEXT("1e3"), NULL, &i32, &fault) == QUILLMERE_OK && i32 == 1000);
    CHECK(cast_i8(TEXT("0xFF"), NULL, &i8, &fault) == QUILLMERE_OK && i8 == -1);
    CHECK(cast_u8(TEXT("0xFF"), NULL, &u8, &fault) == QUILLMERE_OK && u8 == 255);
    CHECK(cast_i16(TEXT("&H8000"), NULL, &i16, &fault) == QUILLMERE_OK && i16 == -32768);
    CHECK(cast_u16(TEXT("0b1111111111111111"), NULL, &u16, &fault) == QUILLMERE_OK && u16 == 65535);
    CHECK(cast_i64(TEXT("-9223372036854775808"), NULL, &i64, &fault) == QUILLMERE_OK && i64 == INT64_MIN);
    CHECK(cast_u32(TEXT(" 4294967295 "), NULL, &u32, &fault) == QUILLMERE_OK && u32 == 4294967295u);
    CHECK(cast_u64(TEXT("18446744073709551615"), NULL, &u64, &fault) == QUILLMERE_OK && u64 == UINT64_MAX);

    /* Faults: the reason as the status, the packed span, the value untouched. */
    i32 = 77;
    CHECK(cast_i32(TEXT("x"), NULL, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 1) && i32 == 77);
    CHECK(cast_i32(TEXT(" 12x "), NULL, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(3, 1));
    CHECK(cast_i32(TEXT("12\xc3\xa9"), NULL, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(2, 2));
    CHECK(cast_i32(NULL, 0, NULL, &i32, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(cast_i8(TEXT("128"), NULL, &i8, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(0, 3));
    CHECK(cast_u8(TEXT("(1)"), NULL, &u8, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(0, 3));
    CHECK(cast_u64(TEXT("18446744073709551616"), NULL, &u64, &fault) == QUILLMERE_OUT_OF_RANGE &&
          fault == SPAN(0, 20));
    fault = 5;
    CHECK(cast_i64(TEXT("1.5"), NULL, &i64, NULL) == QUILLMERE_MALFORMED && fault == 5);

    /* Records are exactly the export's width: nothing past them is written. */
    {
        unsigned char record[8];
        memset(record, 0xAB, sizeof record);
        CHECK(cast_i16(TEXT("-2"), NULL, (int16_t *)(void *)record, &fault) == QUILLMERE_OK);
        CHECK(record[0] == 0xFE && record[1] == 0xFF && record[2] == 0xAB && record[7] == 0xAB);
    }

    /* Invalid packed formats: -1, and neither out nor fault is touched. */
    {
        quillmere_numformat equal = make_format(',', ',', QUILLMERE_ALL, "", 0);
        quillmere_numformat too_long = make_format('.', ',', QUILLMERE_ALL, "$$$$$$$$$$$$$$$$", 17);
        quillmere_numformat digit = make_format('.', ',', QUILLMERE_ALL | QUILLMERE_CURRENCY, "1$", 2);
        quillmere_numformat bad_utf8 = make_format('.', ',', QUILLMERE_ALL, "\xe2\x82", 2);
        quillmere_numformat surrogate = make_format(0xD800, ',', QUILLMERE_ALL, "", 0);
        quillmere_numformat beyond = make_format('.', 0x110000, QUILLMERE_ALL, "", 0);
        quillmere_numformat space = make_format('.', ',', QUILLMERE_ALL, "$ ", 2);
        check_rejected_everywhere(&equal);
        check_rejected_everywhere(&too_long);
        check_rejected_everywhere(&digit);
        check_rejected_everywhere(&bad_utf8);
        check_rejected_everywhere(&surrogate);
        check_rejected_everywhere(&beyond);
        check_rejected_everywhere(&space);
    }

    /* Valid packed formats. */
    {
        /* Every bit set behaves as every flag, detection included. */
        quillmere_numformat every = make_format('.', ',', 0xFFFFFFFFu, "", 0);
        CHECK(cast_i32(TEXT("1.234.567"), &every, &i32, &fault) == QUILLMERE_OK && i32 == 1234567);
        CHECK(cast_i32(TEXT("1,234"), &every, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));

        /* Flags 0: no grouping, parentheses, exponent or prefixes. */
        quillmere_numformat strict = make_format('.', ',', 0, "", 0);
        CHECK(cast_i32(TEXT("1,000"), &strict, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));
        CHECK(cast_i32(TEXT("(5)"), &strict, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 1));
        CHECK(cast_i32(TEXT("0x10"), &strict, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));
        CHECK(cast_i32(TEXT("-17"), &strict, &i32, &fault) == QUILLMERE_OK && i32 == -17);

        /* A zero length declares no currency, whatever the symbol bytes hold. */
        quillmere_numformat leftover = make_format('.', ',', QUILLMERE_ALL, "1$", 0);
        CHECK(cast_i32(TEXT("$5"), &leftover, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 1));

        /* A three-byte currency and a non-ASCII group separator. */
        quillmere_numformat euro = make_format(',', 0xA0, QUILLMERE_ALL, "\xe2\x82\xac", 3);
        CHECK(cast_i32(TEXT("-\xe2\x82\xac 1\xc2\xa0" "000"), &euro, &i32, &fault) == QUILLMERE_OK && i32 == -1000);
        CHECK(cast_i32(TEXT("\xe2\x82\xac"), &euro, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 3));
        CHECK(cast_i32(TEXT("1,5"), &euro, &i32, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));
        CHECK(cast_u32(TEXT("(1\xc2\xa0" "000 \xe2\x82\xac)"), &euro, &u32, &fault) == QUILLMERE_OUT_OF_RANGE &&
              fault == SPAN(0, 12));
    }

    return check_failures;
}
