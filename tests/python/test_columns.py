"""Column casts agree with the scalar casts, cell for cell.

For every cast, random columns (valid and invalid cells, multi-byte text,
blanks, nulls, null tokens) in every input layout (Python sequences, utf8,
large and view strings, binaries, dictionaries, chunks, slices) give each
cell the scalar verdict: the same value in the Arrow type, or the same reason
and span at the same row.
"""

from __future__ import annotations

import datetime
import math
import uuid
from decimal import Decimal

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import quillmere as q
from quillmere import DateOrder, ExcelEpoch, NumFormat, UnixPrecision
from quillmere import columns as c

pa = pytest.importorskip("pyarrow")

WHITESPACE = " \t\n\f\r"
GERMAN = NumFormat(",", ".", NumFormat.ALL, "€")
INTEGER_SEEDS = ["0", "-1", "127", "128", "-129", "255", "256", "65535", "2147483648", "-2147483649",
                 "9223372036854775807", "9223372036854775808", "18446744073709551615", "18446744073709551616",
                 "1,234", "1.234", "(5)", "0x1F", "1e3", "12%", "€ 5", "-0", "٣", "12é"]
REAL_SEEDS = ["1.5", "-0.0", "1e308", "1e309", "nan", "-inf", "3.4028235e38", "3.5e38", "1,5", "1.234,5",
              "12%", "1e-400", "0x1p3", "(2.5)"]
DECIMAL_SEEDS = ["1.10", "-0.000", "79228162514264337593543950335", "79228162514264337593543950336",
                 "0.0000000000000000000000000001", "12345678901234567890.123456789", "1,234.5", "(2.5)", "7",
                 "99999999999", "1e-29", "12.5%"]
SEEDS = {
    "cast_bool": ["true", "false", "yes", "no", "1", "0", "TRUE", "on", "off", "nöpe", "maybe"],
    "cast_char": ["a", "é", "中", "😀", "U+0041", "0x41", "&#65;", "&#xD800;", "U+110000", "ab", "65"],
    "cast_uuid": ["12345678-1234-5678-1234-567812345678", "{12345678-1234-5678-1234-567812345678}",
                  "urn:uuid:12345678-1234-5678-1234-567812345678", "1234567812345678123456781234567g",
                  "{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}", "0011"],
    "cast_decimal": DECIMAL_SEEDS,
    "cast_date": ["2024-02-29", "2023-02-29", "0001-01-01", "9999-12-31", "2024-1-5", "1/5/2024", "05.01.2024",
                  "15.01.2024", "2024/01/05", "2024-13-01"],
    "cast_time": ["00:00", "23:59:59.999999999", "24:00", "12:30:15.5", "1:2:3", "23:59:59.9999995"],
    "cast_datetime": ["2024-01-15 3 pm", "2024-01-15T10:30:00Z", "2024-01-05 12:30", "1/5/2024 13:00:00.5",
                      "1677-09-21T00:12:43", "2262-04-12 00:00", "9999-12-31T23:59:59.999999999"],
    "cast_timestamp": ["2024-01-05T12:30:00Z", "2024-01-05T12:30:00.123456789+05:30", "0001-01-01T00:00:00Z",
                       "0001-01-01T00:00:00+01:00", "9999-12-31T23:59:59-01:00", "2262-04-11T23:47:16.854775807Z",
                       "2262-04-11T23:47:16.854775808Z", "1677-09-21T00:12:43.145224192Z",
                       "1677-09-21T00:12:43.145224191Z", "2024-01-15T10:30:00"],
    "cast_duration": ["PT1H", "P1DT2H30M", "-PT0.5S", "-0:00:01.25", "3.000000001s", "P10000Y", "-P1D", "PT0S",
                      "3652500.00:00:00", "1.02", "P106751DT23H47M16.854775807S", "P106752D"],
    "cast_unix": ["0", "-1", "1700000000123", "253402300799", "253402300800", "-62135596800", "1.5",
                  "9223372036854775807"],
    "cast_excel_serial": ["0", "1", "60", "61", "45000.75", "2958465", "2958466", "-1"],
}
for _name in ("cast_i8", "cast_i16", "cast_i32", "cast_i64", "cast_u8", "cast_u16", "cast_u32", "cast_u64"):
    SEEDS[_name] = INTEGER_SEEDS
SEEDS["cast_f32"] = SEEDS["cast_f64"] = REAL_SEEDS

TEXT_CASTS = sorted(SEEDS)
DOUBLE_CASTS = ["cast_decimal_from_float", "cast_excel_serial_from_float", "cast_excel_time", "cast_excel_duration"]
TEMPORAL = {"cast_time", "cast_datetime", "cast_timestamp", "cast_duration", "cast_unix", "cast_excel_serial",
            "cast_excel_serial_from_float", "cast_excel_time", "cast_excel_duration"}
INSTANT = {"cast_timestamp", "cast_unix", "cast_excel_serial"}


def notations(name: str) -> st.SearchStrategy[tuple]:
    """The notation arguments of a cast, drawn."""
    if name in ("cast_i8", "cast_i16", "cast_i32", "cast_i64", "cast_u8", "cast_u16", "cast_u32", "cast_u64",
                "cast_f32", "cast_f64", "cast_decimal"):
        return st.sampled_from([(NumFormat.INVARIANT,), (NumFormat.DETECT,), (GERMAN,)])
    if name == "cast_date":
        return st.sampled_from([(), (DateOrder.YMD,), (DateOrder.DMY,), (DateOrder.MDY,)])
    if name == "cast_datetime":
        return st.sampled_from([(DateOrder.YMD,), (DateOrder.MDY,)])
    if name == "cast_unix":
        return st.sampled_from([(p,) for p in UnixPrecision])
    if name in ("cast_excel_serial", "cast_excel_serial_from_float"):
        return st.sampled_from([(ExcelEpoch.EPOCH_1900,), (ExcelEpoch.EPOCH_1904,)])
    return st.just(())


def cells(name: str) -> st.SearchStrategy:
    """Cells near the cast's grammar and far from it: seeds, padded, spliced, random, multi-byte."""
    seeds = st.sampled_from(SEEDS[name])
    noise = st.text(alphabet="0123456789-+.,:/ TZe%()é中😀\t", max_size=6)
    return st.one_of(
        seeds,
        st.builds(lambda pad, s, end: pad + s + end, st.sampled_from(WHITESPACE + "\x0b"), seeds,
                  st.sampled_from(["", " ", "\r\n"])),
        st.builds(lambda a, b, i: a[:i] + b + a[i:], seeds, noise, st.integers(0, 40)),
        noise,
        st.sampled_from(["", "   ", "NA", " NA ", "null"]),
        st.none(),
    )


LAYOUTS = ["list_str", "list_bytes", "list_mixed", "utf8", "large_utf8", "string_view", "binary", "large_binary",
           "binary_view", "dictionary", "chunked", "sliced", "table"]


def build(layout: str, column: list, data: st.DataObject) -> tuple[object, list]:
    """The column in one layout, and the text each cell's scalar verdict is taken from."""
    as_bytes = [None if s is None else s.encode() for s in column]
    if layout == "list_str":
        return list(column), column
    if layout == "list_bytes":
        return as_bytes, as_bytes
    if layout == "list_mixed":
        mixed = [s if s is None or data.draw(st.booleans()) else s.encode() for s in column]
        return mixed, mixed
    if layout in ("binary", "large_binary", "binary_view"):
        return pa.array(as_bytes, getattr(pa, layout)()), as_bytes
    if layout in ("utf8", "large_utf8", "string_view"):
        return pa.array(column, getattr(pa, layout)()), column
    if layout == "dictionary":
        return pa.array(column, pa.string()).dictionary_encode(), column
    if layout == "chunked":
        cuts = sorted(data.draw(st.lists(st.integers(0, len(column)), max_size=3)))
        bounds = [0, *cuts, len(column)]
        pieces = [column[a:b] for a, b in zip(bounds, bounds[1:])]
        return pa.chunked_array(pieces, pa.string()), column
    if layout == "sliced":
        before = data.draw(st.integers(0, 9))
        padded = ["pad"] * before + column + ["x"] * 3
        return pa.array(padded, pa.string()).slice(before, len(column)), column
    # A record batch of one column stands for the column.
    return pa.record_batch([pa.array(column, pa.string())], names=["text"]), column


def trimmed(text):
    ws = WHITESPACE if isinstance(text, str) else WHITESPACE.encode()
    return text.strip(ws)


def structural(text) -> tuple[int, int]:
    """The span of the whole trimmed text, in the text's own units."""
    ws = WHITESPACE if isinstance(text, str) else WHITESPACE.encode()
    return len(text) - len(text.lstrip(ws)), len(trimmed(text))


def arrow_value(name: str, value):
    """A scalar cast's value as pyarrow reads the column value back."""
    if name == "cast_uuid":
        return value.bytes
    return value


def same(name: str, got, want) -> bool:
    if name == "cast_uuid":
        got = got.bytes if isinstance(got, uuid.UUID) else got
    if isinstance(want, float) and math.isnan(want):
        return isinstance(got, float) and math.isnan(got)
    if isinstance(want, float):
        return got == want and math.copysign(1, got) == math.copysign(1, want)
    return got == want and type(got) is type(want) or (isinstance(want, Decimal) and got == want)


def expected(name: str, scalar_args: tuple, texts: list, nulls: list, row_base: int, scale) -> tuple[list, list]:
    """Values and fault rows the column must give, from the scalar casts alone."""
    scalar = getattr(q, name)
    values, faults = [], []
    verdicts = []
    for row, text in enumerate(texts):
        if text is None or any(trimmed(text) == (t if isinstance(text, str) else t.encode()) for t in nulls):
            verdicts.append(None)
            continue
        verdicts.append(scalar(text, *scalar_args))
    column_scale = None
    if name == "cast_decimal":
        successes = [v.value for v in verdicts if isinstance(v, q.Success)]
        column_scale = scale if scale is not None else max([-d.as_tuple().exponent for d in successes], default=0)
    for row, (text, verdict) in enumerate(zip(texts, verdicts)):
        if verdict is None:
            values.append(None)
        elif isinstance(verdict, q.Fault):
            values.append(None)
            faults.append((row_base + row, int(verdict.reason), verdict.offset, verdict.length))
        elif name == "cast_decimal" and (-verdict.value.as_tuple().exponent > column_scale
                                         or abs(verdict.value).scaleb(column_scale) >= Decimal(10) ** 38):
            values.append(None)
            faults.append((row_base + row, int(q.CastFailure.OUT_OF_RANGE), *structural(text)))
        else:
            values.append(arrow_value(name, verdict.value))
    return values, faults


def fault_rows(result) -> list:
    table = result.faults.to_pyarrow()
    rows = table.to_pylist()
    return [(r["row"], r["reason"], r["offset"], r["length"]) for r in rows]


def check(name, result, want_values, want_faults):
    got_values = result.to_pyarrow().to_pylist()
    assert len(got_values) == len(want_values)
    for row, (got, want) in enumerate(zip(got_values, want_values)):
        assert (got is None) == (want is None) and (want is None or same(name, got, want)), (row, got, want)
    assert fault_rows(result) == want_faults
    assert result.fault_count == len(want_faults)


@pytest.mark.parametrize("name", TEXT_CASTS)
@settings(suppress_health_check=[HealthCheck.too_slow], max_examples=60)
@given(data=st.data())
def test_text_casts_agree_with_the_scalar_casts(name, data):
    column = data.draw(st.lists(cells(name), max_size=24))
    layout = data.draw(st.sampled_from(LAYOUTS))
    args = data.draw(notations(name))
    nulls = data.draw(st.sampled_from([[], ["NA"], ["", "null"]]))
    row_base = data.draw(st.sampled_from([0, 7, 2**40]))
    scale = data.draw(st.sampled_from([None, 0, 2, 30])) if name == "cast_decimal" else None
    source, texts = build(layout, column, data)
    extra = {"nulls": nulls, "row_base": row_base}
    if name == "cast_decimal":
        extra["scale"] = scale
    result = getattr(c, name)(source, *args, **extra)
    values, faults = expected(name, args, texts, nulls, row_base, scale)
    check(name, result, values, faults)
    if name == "cast_decimal":
        assert result.to_pyarrow().type.scale == (scale if scale is not None else max(
            [-v.as_tuple().exponent for v in values if v is not None], default=0))


# Plain numerals around the column loop's own reading of them: up to and past
# 19 digits, signs, a point at either end, trailing zeros, and decimal scales
# that take them as written, need the canonical form, or overflow 38 digits.
short_numerals = st.builds(lambda sign, whole, point, fraction: sign + whole + ("." + fraction if point else ""),
                           st.sampled_from(["", "-", "+"]), st.text("0123456789", max_size=21), st.booleans(),
                           st.one_of(st.text("0123456789", max_size=21), st.text("0", max_size=8).map("5".__add__)))


@pytest.mark.parametrize("name", ["cast_f64", "cast_f32", "cast_decimal"])
@settings(suppress_health_check=[HealthCheck.too_slow], max_examples=80)
@given(data=st.data())
def test_plain_numerals_agree_with_the_scalar_casts(name, data):
    column = data.draw(st.lists(short_numerals, max_size=24))
    source, texts = build(data.draw(st.sampled_from(["utf8", "string_view", "list_str"])), column, data)
    scale = data.draw(st.sampled_from([None, 0, 6, 19, 20, 30, 38])) if name == "cast_decimal" else None
    extra = {} if name != "cast_decimal" else {"scale": scale}
    result = getattr(c, name)(source, NumFormat.INVARIANT, **extra)
    check(name, result, *expected(name, (NumFormat.INVARIANT,), texts, [], 0, scale))


@pytest.mark.parametrize("name", sorted(TEMPORAL - {"cast_excel_serial_from_float", "cast_excel_time",
                                                    "cast_excel_duration"}))
@settings(suppress_health_check=[HealthCheck.too_slow], max_examples=40)
@given(data=st.data())
def test_nanoseconds_agree_with_microseconds_where_they_fit(name, data):
    column = data.draw(st.lists(cells(name), max_size=16))
    args = data.draw(notations(name))
    micro = getattr(c, name)(column, *args)
    nano = getattr(c, name)(column, *args, unit="ns")
    as_int = lambda r: r.to_pyarrow().cast(pa.int64()).to_pylist()  # noqa: E731
    micro_faults = {f[0]: f for f in fault_rows(micro)}
    nano_faults = {f[0]: f for f in fault_rows(nano)}
    for row, (us, ns) in enumerate(zip(as_int(micro), as_int(nano))):
        if us is None:
            assert ns is None and micro_faults.get(row) == nano_faults.get(row)
        elif ns is None:
            # Only a value past the 64-bit nanosecond range turns into a fault.
            assert not -(2**63) <= us * 1000 < 2**63 - 999
            assert nano_faults[row] == (row, 3, *structural(column[row]))
        else:
            # Microseconds truncate: toward zero for durations, down for points in time.
            toward_zero = name == "cast_duration" and ns < 0
            assert us == (-(-ns // 1000) if toward_zero else ns // 1000)


@pytest.mark.parametrize("name", DOUBLE_CASTS)
@settings(suppress_health_check=[HealthCheck.too_slow], max_examples=60)
@given(data=st.data())
def test_double_casts_agree_with_the_scalar_casts(name, data):
    doubles = st.one_of(st.floats(), st.floats(-1e7, 1e7), st.sampled_from([0.1, 60.0, 2958465.99, -0.5]), st.none())
    column = data.draw(st.lists(doubles, max_size=24))
    args = data.draw(notations(name))
    layout = data.draw(st.sampled_from(["list", "array", "chunked", "sliced"]))
    if layout == "list":
        source = list(column)
    elif layout == "array":
        source = pa.array(column, pa.float64())
    elif layout == "chunked":
        half = len(column) // 2
        source = pa.chunked_array([column[:half], column[half:]], pa.float64())
    else:
        source = pa.array([1.0, *column, 2.0], pa.float64()).slice(1, len(column))
    result = getattr(c, name)(source, *args, row_base=3)
    scalar = getattr(q, name)
    values, faults = [], []
    for row, x in enumerate(column):
        verdict = None if x is None else scalar(x, *args)
        values.append(verdict.value if isinstance(verdict, q.Success) else None)
        if isinstance(verdict, q.Fault):
            faults.append((3 + row, int(verdict.reason), 0, 0))
    if name == "cast_decimal_from_float":
        scale = max([-v.as_tuple().exponent for v in values if v is not None], default=0)
        for row, v in enumerate(values):
            if v is not None and abs(v).scaleb(scale) >= Decimal(10) ** 38:
                values[row] = None
                faults.append((3 + row, 3, 0, 0))
        faults.sort()
    check(name, result, values, faults)


def test_spans_follow_the_cells_units_unless_asked():
    fmt = NumFormat.INVARIANT
    texts = [" é12x", "中中9z"]
    natural = fault_rows(c.cast_i32(texts, fmt))
    assert natural == [(0, 2, 1, 1), (1, 2, 0, 1)]
    assert fault_rows(c.cast_i32(texts, fmt, spans="bytes")) == [(0, 2, 1, 2), (1, 2, 0, 3)]
    binary = pa.array([t.encode() for t in texts], pa.binary())
    assert fault_rows(c.cast_i32(binary, fmt)) == [(0, 2, 1, 2), (1, 2, 0, 3)]
    assert fault_rows(c.cast_i32(binary, fmt, spans="code_points")) == natural


def test_a_lone_surrogate_is_malformed_at_its_code_point():
    result = c.cast_i64(["12", "4\ud800x", "\udfff"], NumFormat.INVARIANT)
    assert fault_rows(result) == [(1, 2, 1, 1), (2, 2, 0, 1)]
    assert result.to_pyarrow().to_pylist() == [12, None, None]


def test_empty_columns_keep_their_type():
    for source in ([], pa.array([], pa.string()), pa.chunked_array([], pa.string())):
        result = c.cast_timestamp(source, unit="ns")
        assert len(result) == 0 and result.fault_count == 0
        assert result.to_pyarrow().type == pa.timestamp("ns", tz="UTC")


def test_value_types():
    fmt = NumFormat.INVARIANT
    cases = [
        (c.cast_i8(["1"], fmt), pa.int8()), (c.cast_u64(["1"], fmt), pa.uint64()), (c.cast_f32(["1"], fmt), pa.float32()),
        (c.cast_bool(["yes"]), pa.bool_()), (c.cast_char(["a"]), pa.string()),
        (c.cast_decimal(["1.25"], fmt), pa.decimal128(38, 2)), (c.cast_date(["2024-01-01"]), pa.date32()),
        (c.cast_time(["12:00"]), pa.time64("us")), (c.cast_datetime(["2024-01-01 12:00"], 1), pa.timestamp("us")),
        (c.cast_duration(["PT1S"], unit="ns"), pa.duration("ns")), (c.cast_unix(["0"], 1), pa.timestamp("us", "UTC")),
        (c.cast_excel_serial_from_float(pa.array([1.0]), 1), pa.timestamp("us")),
    ]
    for result, arrow_type in cases:
        assert result.to_pyarrow().type == arrow_type
    uuid_type = c.cast_uuid(["12345678-1234-5678-1234-567812345678"]).to_pyarrow().type
    assert getattr(uuid_type, "extension_name", None) == "arrow.uuid" or uuid_type == pa.binary(16)


@pytest.mark.parametrize("bad, error, message", [
    (pa.array([1, 2]), TypeError, "unsupported Arrow type 'l'"),
    (pa.array([1.5]), TypeError, "float64 column is read only by the casts from a float"),
    (pa.table({"a": ["1"], "b": ["2"]}), TypeError, "a table or struct of 2 columns"),
    (42, TypeError, "must expose __arrow_c_array__"),
    ("12", TypeError, "not one str"),
    ([1, "2"], TypeError, "cell 0 is int"),
])
def test_unsupported_input_is_a_type_error(bad, error, message):
    with pytest.raises(error, match=message):
        c.cast_i64(bad, NumFormat.INVARIANT)


def test_misuse_of_arguments():
    with pytest.raises(ValueError, match="unit must be"):
        c.cast_time(["1"], unit="ms")
    with pytest.raises(ValueError, match="scale must be between 0 and 38"):
        c.cast_decimal(["1"], NumFormat.INVARIANT, scale=39)
    with pytest.raises(ValueError, match="order must be a DateOrder"):
        c.cast_datetime(["1"], 4)
    with pytest.raises(TypeError, match="argument 'fmt' must be NumFormat"):
        c.cast_i8(["1"], None)
    with pytest.raises(ValueError, match="spans must be"):
        c.cast_bool(["1"], spans="chars")
    with pytest.raises(TypeError, match="nulls must be a sequence"):
        c.cast_bool(["1"], nulls="NA")


def test_malformed_arrays_are_value_errors_and_nothing_is_read_outside():
    import struct

    def string_array(offsets, data=b"1234"):
        return pa.Array.from_buffers(pa.string(), len(offsets) - 1,
                                     [None, pa.py_buffer(struct.pack(f"<{len(offsets)}i", *offsets)), pa.py_buffer(data)])

    def view_array(length, buffer_index, start, data=b"x" * 30):
        views = struct.pack("<iiii", length, 0x34333231, buffer_index, start)
        return pa.Array.from_buffers(pa.string_view(), 1, [None, pa.py_buffer(views), pa.py_buffer(data)])

    bad = [
        (string_array([0, 3, 1, 4]), "offsets decrease at cell 1"),
        (view_array(20, 0, 11), "the view of cell 0 points outside its buffers"),
        (view_array(20, 1, 0), "the view of cell 0 points outside its buffers"),
        (view_array(-5, 0, 0), "the view of cell 0 points outside its buffers"),
        (pa.DictionaryArray.from_buffers(pa.dictionary(pa.int8(), pa.string()), 2,
                                         [None, pa.py_buffer(bytes([0, 5]))], pa.array(["1"])),
         "dictionary index 5 at cell 1 is outside the 1 entries"),
    ]
    for array, message in bad:
        with pytest.raises(ValueError, match=message):
            c.cast_i64(array, NumFormat.INVARIANT)
    # A null cell's view is never read, whatever it holds.
    views = struct.pack("<iiii", 99, 0, 7, 1 << 30)
    hidden = pa.Array.from_buffers(pa.string_view(), 1, [pa.py_buffer(b"\0"), pa.py_buffer(views)], null_count=1)
    assert c.cast_i64(hidden, NumFormat.INVARIANT).to_pyarrow().to_pylist() == [None]


def test_threads_casting_at_once_each_get_their_own_verdicts():
    from concurrent.futures import ThreadPoolExecutor

    columns_in = [pa.array([f"{n}{'x' if n % 7 == 0 else ''}" for n in range(k, k + 5000)]) for k in range(8)]
    alone = [fault_rows(c.cast_i32(col, NumFormat.INVARIANT)) for col in columns_in]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda col: fault_rows(c.cast_i32(col, NumFormat.INVARIANT)), columns_in * 4))
    assert together == alone * 4
