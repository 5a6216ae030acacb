/* The character and UUID exports as a C caller sees them: the value records
 * they write, what they leave alone, and the packed fault spans. */
#include "check.h"

static const uint8_t COUNTING[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

static void check_char(void) {
    uint32_t cp = 0xAAAAAAAAu;
    uint64_t fault = 0xDEADBEEF;

    CHECK(cast_char(TEXT("A"), &cp, &fault) == QUILLMERE_OK && cp == 0x41);
    CHECK(cast_char(TEXT("\xf0\x9f\x98\x80"), &cp, &fault) == QUILLMERE_OK && cp == 0x1F600);
    CHECK(cast_char(TEXT("U+10FFFF"), &cp, &fault) == QUILLMERE_OK && cp == 0x10FFFF);
    CHECK(cast_char(TEXT("&#x41;"), &cp, &fault) == QUILLMERE_OK && cp == 0x41);
    CHECK(cast_char(TEXT(" 0 "), &cp, &fault) == QUILLMERE_OK && cp == 0);
    CHECK(cast_char("\0", 1, &cp, &fault) == QUILLMERE_OK && cp == 0);
    CHECK(fault == 0xDEADBEEF);

    cp = 0xAAAAAAAAu;
    CHECK(cast_char(TEXT(" A "), &cp, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 1));
    CHECK(cast_char(TEXT("&#65"), &cp, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 4));
    CHECK(cast_char(TEXT("\t&#65;x"), &cp, &fault) == QUILLMERE_MALFORMED && fault == SPAN(6, 1));
    CHECK(cast_char(TEXT("U+\xc3\xa9"), &cp, &fault) == QUILLMERE_MALFORMED && fault == SPAN(2, 2));
    CHECK(cast_char(TEXT("\xed\xa0\x80"), &cp, &fault) == QUILLMERE_MALFORMED && fault == SPAN(0, 3));
    CHECK(cast_char(TEXT(" U+110000"), &cp, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(1, 8));
    CHECK(cast_char(TEXT("&#xD800;"), &cp, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(0, 8));
    CHECK(cast_char(TEXT("4294967361"), &cp, &fault) == QUILLMERE_OUT_OF_RANGE && fault == SPAN(0, 10));
    CHECK(cast_char(TEXT("    "), &cp, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(cast_char(NULL, 0, &cp, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(cast_char(TEXT("AB"), &cp, NULL) == QUILLMERE_MALFORMED);
    CHECK(cp == 0xAAAAAAAAu); /* faults leave the value untouched */
}

static void check_uuid(void) {
    static const char *const forms[] = {
        "00112233-4455-6677-8899-aabbccddeeff",
        "00112233445566778899AABBCCDDEEFF",
        "{00112233-4455-6677-8899-aabbccddeeff}",
        "(00112233-4455-6677-8899-aabbccddeeff)",
        "{0x00112233,0x4455,0x6677,{0x88,0x99,0xaa,0xbb,0xcc,0xdd,0xee,0xff}}",
        "URN:UUID:00112233-4455-6677-8899-aabbccddeeff",
        " Guid: 00112233445566778899aabbccddeeff\n",
    };
    size_t i;
    quillmere_uuid uuid;
    uint64_t fault = 0xDEADBEEF;

    for (i = 0; i < sizeof forms / sizeof forms[0]; ++i) {
        memset(&uuid, 0xAA, sizeof uuid);
        CHECK(cast_uuid(forms[i], strlen(forms[i]), &uuid, &fault) == QUILLMERE_OK);
        CHECK(memcmp(uuid.bytes, COUNTING, 16) == 0);
    }
    CHECK(fault == 0xDEADBEEF);

    memset(&uuid, 0xAA, sizeof uuid);
    CHECK(cast_uuid(TEXT("{00112233-4455-6677-8899-aabbccddeeff)"), &uuid, &fault) == QUILLMERE_MALFORMED &&
          fault == SPAN(37, 1));
    CHECK(cast_uuid(TEXT("00112233_4455-6677-8899-aabbccddeeff"), &uuid, &fault) == QUILLMERE_MALFORMED &&
          fault == SPAN(8, 1));
    CHECK(cast_uuid(TEXT("uuid: 0011223g-4455-6677-8899-aabbccddeeff"), &uuid, &fault) == QUILLMERE_MALFORMED &&
          fault == SPAN(13, 1));
    CHECK(cast_uuid(TEXT("00112233-4455-6677-8899-aabbccddeef"), &uuid, &fault) == QUILLMERE_MALFORMED &&
          fault == SPAN(0, 35));
    CHECK(cast_uuid(TEXT(" urn:uuid: "), &uuid, &fault) == QUILLMERE_MALFORMED && fault == SPAN(1, 9));
    CHECK(cast_uuid(TEXT("{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0x100}}"), &uuid, &fault) ==
              QUILLMERE_MALFORMED &&
          fault == SPAN(46, 1));
    CHECK(cast_uuid(TEXT("\t"), &uuid, &fault) == QUILLMERE_EMPTY && fault == 0);
    for (i = 0; i < 16; ++i) CHECK(uuid.bytes[i] == 0xAA); /* faults leave the value untouched */
}

int main(void) {
    check_char();
    check_uuid();
    return check_failures;
}
