/* The column exports from C: a hand-built utf8 array in, values and faults
 * out, options honoured, misuse refused with nothing written, and every
 * release callback run exactly once by its owner. */
#include <stdlib.h>

#include "check.h"

/* An input utf8 array over static buffers; its release only counts calls. */
static int input_releases = 0;
static void release_input_schema(struct ArrowSchema *s) { s->release = NULL; ++input_releases; }
static void release_input_array(struct ArrowArray *a) { a->release = NULL; ++input_releases; }

struct column {
    struct ArrowSchema schema;
    struct ArrowArray array;
    const void *buffers[3];
};

static void make_utf8(struct column *c, const char *format, const uint8_t *validity, int64_t null_count,
                      const int32_t *offsets, const char *data, int64_t length, int64_t offset) {
    memset(c, 0, sizeof *c);
    c->schema.format = format;
    c->schema.name = "";
    c->schema.flags = ARROW_FLAG_NULLABLE;
    c->schema.release = release_input_schema;
    c->buffers[0] = validity;
    c->buffers[1] = offsets;
    c->buffers[2] = data;
    c->array.length = length;
    c->array.offset = offset;
    c->array.null_count = null_count;
    c->array.n_buffers = 3;
    c->array.buffers = c->buffers;
    c->array.release = release_input_array;
}

static int valid(const struct ArrowArray *a, int64_t i) {
    const uint8_t *bits = (const uint8_t *)a->buffers[0];
    return bits == NULL || ((bits[(a->offset + i) >> 3] >> ((a->offset + i) & 7)) & 1);
}

int main(void) {
    /* cells: "12", " -7 ", "x1", null, "", a 25-digit numeral, "NA", "£5" */
    static const uint8_t validity[] = {0xF7}; /* cell 3 null */
    static const int32_t ordered[] = {0, 2, 6, 8, 8, 8, 33, 35, 38};
    static const char data2[] = "12 -7 x1" "99999999999999999999" "99999" "NA" "\xc2\xa3" "5";
    struct column in;
    quillmere_column_result r;
    const char *tokens[] = {"NA"};
    const size_t token_lengths[] = {2};
    quillmere_column_options opts = QUILLMERE_COLUMN_OPTIONS_INIT;

    make_utf8(&in, "u", validity, 1, ordered, data2, 8, 0);
    opts.null_tokens = tokens;
    opts.null_token_lengths = token_lengths;
    opts.null_token_count = 1;
    opts.row_base = 100;
    opts.fault_columns = 1;
    memset(&r, 0xAB, sizeof r);
    CHECK(cast_i64_column(&in.schema, &in.array, NULL, &opts, &r) == QUILLMERE_OK);
    CHECK(strcmp(r.values_schema.format, "l") == 0);
    CHECK(r.values.length == 8);
    {
        const int64_t *v = (const int64_t *)r.values.buffers[1];
        const int expect_valid[] = {1, 1, 0, 0, 0, 0, 0, 0};
        int i;
        CHECK(v[0] == 12 && v[1] == -7);
        for (i = 0; i < 8; ++i) CHECK(valid(&r.values, i) == expect_valid[i]);
        CHECK(r.values.null_count == 6);
    }
    /* Faults: x1 MALFORMED (0, 1); "" EMPTY; the long numeral OUT_OF_RANGE; "£5" MALFORMED at the pound
     * sign, one code point. The null and the token are not faults. */
    CHECK(r.fault_count == 4);
    CHECK(strcmp(r.faults_schema.format, "+s") == 0 && r.faults_schema.n_children == 4);
    CHECK(strcmp(r.faults_schema.children[0]->name, "row") == 0);
    CHECK(r.faults.length == 4 && r.faults.n_children == 4);
    {
        const int64_t *row = (const int64_t *)r.faults.children[0]->buffers[1];
        const uint8_t *reason = (const uint8_t *)r.faults.children[1]->buffers[1];
        const uint32_t *offset = (const uint32_t *)r.faults.children[2]->buffers[1];
        const uint32_t *length = (const uint32_t *)r.faults.children[3]->buffers[1];
        CHECK(row[0] == 102 && reason[0] == QUILLMERE_MALFORMED && offset[0] == 0 && length[0] == 1);
        CHECK(row[1] == 104 && reason[1] == QUILLMERE_EMPTY && offset[1] == 0 && length[1] == 0);
        CHECK(row[2] == 105 && reason[2] == QUILLMERE_OUT_OF_RANGE && offset[2] == 0 && length[2] == 25);
        CHECK(row[3] == 107 && reason[3] == QUILLMERE_MALFORMED && offset[3] == 0 && length[3] == 1);
    }
    /* Row-aligned: reason set on faulty rows only. */
    CHECK(r.fault_columns.release != NULL && r.fault_columns.length == 8);
    {
        const struct ArrowArray *reason = r.fault_columns.children[0];
        const uint8_t *codes = (const uint8_t *)reason->buffers[1];
        CHECK(!valid(reason, 0) && valid(reason, 2) && codes[2] == QUILLMERE_MALFORMED && !valid(reason, 3));
        CHECK(valid(reason, 7) && codes[7] == QUILLMERE_MALFORMED);
    }
    quillmere_column_result_release(&r);

    /* Byte spans on request: the pound sign is two bytes. A slice starts at cell 7. */
    opts.span_unit = QUILLMERE_SPANS_BYTES;
    opts.fault_columns = 0;
    opts.row_base = 0;
    make_utf8(&in, "u", NULL, 0, ordered, data2, 1, 7);
    CHECK(cast_i64_column(&in.schema, &in.array, NULL, &opts, &r) == QUILLMERE_OK);
    CHECK(r.fault_count == 1 && r.fault_columns.release == NULL);
    CHECK(((const uint32_t *)r.faults.children[3]->buffers[1])[0] == 2);
    CHECK(((const int64_t *)r.faults.children[0]->buffers[1])[0] == 0);
    quillmere_column_result_release(&r);

    /* A result's arrays outlive one another's release: release the schema first, read the values after. */
    make_utf8(&in, "u", NULL, 0, ordered, data2, 2, 0);
    CHECK(cast_timestamp_column(&in.schema, &in.array, NULL, &r) == QUILLMERE_OK);
    CHECK(strcmp(r.values_schema.format, "tsu:UTC") == 0 && r.fault_count == 2);
    quillmere_column_result_release(&r);

    /* Misuse: -1, the result untouched. */
    {
        quillmere_column_result untouched;
        quillmere_numformat bad;
        static const int32_t descending[] = {0, 4, 2};
        memset(&untouched, 0x5A, sizeof untouched);
        memset(&bad, 0, sizeof bad);
        bad.decimal_sep = '.';
        bad.group_sep = '.';
        make_utf8(&in, "u", NULL, 0, ordered, data2, 2, 0);
        CHECK(cast_i32_column(&in.schema, &in.array, &bad, NULL, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(cast_datetime_column(&in.schema, &in.array, 9, NULL, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        opts = (quillmere_column_options)QUILLMERE_COLUMN_OPTIONS_INIT;
        opts.scale = 39;
        CHECK(cast_decimal_column(&in.schema, &in.array, NULL, &opts, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        opts = (quillmere_column_options)QUILLMERE_COLUMN_OPTIONS_INIT;
        opts.size = 8;
        CHECK(cast_bool_column(&in.schema, &in.array, &opts, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        make_utf8(&in, "u", NULL, 0, descending, data2, 2, 0);
        CHECK(cast_i64_column(&in.schema, &in.array, NULL, NULL, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        make_utf8(&in, "i", NULL, 0, ordered, data2, 2, 0);
        CHECK(cast_i64_column(&in.schema, &in.array, NULL, NULL, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        make_utf8(&in, "u", NULL, 0, ordered, data2, 2, 0);
        CHECK(cast_excel_time_column(&in.schema, &in.array, NULL, &untouched) == QUILLMERE_INVALID_ARGUMENT);
        CHECK(cast_bool_column(&in.schema, &in.array, NULL, NULL) == QUILLMERE_INVALID_ARGUMENT);
        {
            const unsigned char *bytes = (const unsigned char *)&untouched;
            size_t i;
            int same = 1;
            for (i = 0; i < sizeof untouched; ++i) same &= bytes[i] == 0x5A;
            CHECK(same);
        }
    }

    /* The input is borrowed: the exports never release it. */
    CHECK(input_releases == 0);
    if (check_failures == 0) printf("test_columns: all checks passed\n");
    return check_failures;
}
