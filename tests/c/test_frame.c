/* The frame every export shares, exercised through cast_bool and the version. */
#include "check.h"

int main(void) {
    uint8_t value = 0xAA;
    uint64_t fault = 0xDEADBEEF;

    CHECK(quillmere_version() == 2048);
    CHECK(quillmere_version() == ((QUILLMERE_VERSION_MAJOR << 16) | (QUILLMERE_VERSION_MINOR << 8) | QUILLMERE_VERSION_PATCH));

    CHECK(cast_bool(TEXT("yes"), &value, &fault) == QUILLMERE_OK && value == 1);
    CHECK(cast_bool(TEXT("off"), &value, &fault) == QUILLMERE_OK && value == 0);
    CHECK(cast_bool(TEXT(" no "), &value, &fault) == QUILLMERE_OK && value == 0);
    CHECK(fault == 0xDEADBEEF); /* successes leave the fault untouched */

    value = 0xAA;
    CHECK(cast_bool(TEXT("maybe"), &value, &fault) == QUILLMERE_MALFORMED);
    CHECK(fault == 0x0000000500000000ull);
    CHECK(value == 0xAA); /* faults leave the value untouched */
    CHECK(QUILLMERE_FAULT_OFFSET(fault) == 0 && QUILLMERE_FAULT_LENGTH(fault) == 5);

    CHECK(cast_bool(TEXT("maybe"), &value, NULL) == QUILLMERE_MALFORMED);
    CHECK(value == 0xAA);

    fault = 0xDEADBEEF;
    CHECK(cast_bool(NULL, 0, &value, &fault) == QUILLMERE_EMPTY && fault == 0);
    CHECK(cast_bool(TEXT("  nope "), &value, &fault) == QUILLMERE_MALFORMED && fault == SPAN(2, 4));
    CHECK(cast_bool(TEXT(" \t\r\n\f"), &value, &fault) == QUILLMERE_EMPTY && fault == 0);

    return check_failures;
}
