/* A minimal harness for the C programs: each CHECK failure is printed and
 * counted, and the program's exit status is the number of failures. */
#ifndef QUILLMERE_TEST_CHECK_H
#define QUILLMERE_TEST_CHECK_H

#include <stdio.h>
#include <string.h>

#include "quillmere.h"

static int check_failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            ++check_failures;                                              \
        }                                                                  \
    } while (0)

#define SPAN(offset, length) (((uint64_t)(length) << 32) | (uint64_t)(offset))

/* The byte length of a string literal, for texts that hold no NUL. */
#define TEXT(s) (s), (sizeof(s) - 1)

#endif
