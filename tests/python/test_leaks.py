"""Casting many times leaves nothing behind: no memory, no references.

QUILLMERE_LEAK_CALLS sets the calls per function (default a million, spread
over valid and invalid inputs).
"""

import gc
import os
import sys
import tracemalloc

import pytest

import quillmere as q
from quillmere import DateOrder, ExcelEpoch, NumFormat, UnixPrecision

CALLS = int(os.environ.get("QUILLMERE_LEAK_CALLS", "1000000"))
FMT = NumFormat(",", ".", NumFormat.ALL, "€")

# Each function with inputs that succeed and inputs that fault, str and bytes.
CASES = {
    "cast_bool": [("yes",), (b" off ",), ("nöpe",)],
    "cast_char": [("é",), ("U+1F600",), ("&#xD800;",), ("AB",)],
    "cast_i8": [("-128", FMT), ("128", FMT), ("(1é)", FMT)],
    "cast_i16": [("1.234", FMT), (b"x", FMT)],
    "cast_i32": [("€ 1.234", FMT), ("12x", NumFormat.INVARIANT)],
    "cast_i64": [("9223372036854775807", NumFormat.INVARIANT), ("", FMT)],
    "cast_u8": [("0xFF", NumFormat.INVARIANT), ("-1", FMT)],
    "cast_u16": [("65535", FMT), ("65536", FMT)],
    "cast_u32": [("1e9", NumFormat.INVARIANT), ("(0)", FMT)],
    "cast_u64": [("18446744073709551615", FMT), ("18446744073709551616", FMT)],
    "cast_f32": [("3,5", FMT), ("1e39", NumFormat.INVARIANT)],
    "cast_f64": [("1.234,5", NumFormat.DETECT), ("1e309", NumFormat.INVARIANT), ("nan", FMT)],
    "cast_decimal": [("1,10", FMT), ("1e-29", NumFormat.INVARIANT), ("12.5%", NumFormat.INVARIANT)],
    "cast_uuid": [("00112233-4455-6677-8899-aabbccddeeff",), ("{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}",), ("0011",)],
    "cast_timestamp": [("2024-01-15T10:30:00.123456789+01:00",), ("2024-01-15T10:30:00",)],
    "cast_unix": [("1700000000123", UnixPrecision.MILLISECONDS), ("1.5", 1)],
    "cast_excel_serial": [("45000.75", ExcelEpoch.EPOCH_1900), ("60", 1)],
    "cast_date": [("2024-02-29",), ("15.01.2024", DateOrder.DMY), ("2023-02-29",)],
    "cast_datetime": [("2024-01-15 3 pm", 1), ("2024-01-15T10:30:00Z", 1)],
    "cast_time": [("23:59:59.999999",), ("24:00",)],
    "cast_duration": [("P1DT2H30M",), ("-0:00:01.25",), ("3652500.00:00:00",), ("1.02",)],
    "cast_decimal_from_float": [(0.1,), (1e300,), (float("nan"),)],
    "cast_excel_serial_from_float": [(45000.123456789, 1), (-1.0, 2)],
    "cast_excel_time": [(0.1,), (float("inf"),)],
    "cast_excel_duration": [(-1.5,), (3652500.1,), (1e6,)],
}


def test_every_function_is_covered():
    assert set(CASES) == {name for name in q._native.__all__ if name.startswith("cast_")}


def run(name, calls):
    fn = getattr(q, name)
    cases = CASES[name]
    for i in range(calls):
        fn(*cases[i % len(cases)])


def watched_objects(name):
    objects = [q.CastFailure.EMPTY, q.CastFailure.MALFORMED, q.CastFailure.OUT_OF_RANGE, FMT, NumFormat.INVARIANT]
    for args in CASES[name]:
        objects.extend(args)
    # Immortal objects (small ints, from 3.12) have no meaningful count: a stable-ABI
    # module's references to them are not matched one for one by the interpreter's.
    return [obj for obj in objects if sys.getrefcount(obj) < 2**30]


@pytest.mark.parametrize("name", sorted(CASES))
def test_no_growth_in_memory_or_references(name):
    run(name, 1000)  # warm caches: UTF-8 forms, interned names, lazily imported classes
    gc.collect()
    watched = watched_objects(name)
    refcounts = [sys.getrefcount(obj) for obj in watched]
    blocks = sys.getallocatedblocks()
    run(name, CALLS)
    gc.collect()
    assert [sys.getrefcount(obj) for obj in watched] == refcounts
    # A leak of one block per call would show as CALLS blocks.
    assert sys.getallocatedblocks() - blocks < 200


@pytest.mark.parametrize("name", sorted(CASES))
def test_tracemalloc_finds_nothing_kept(name):
    run(name, 1000)
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.take_snapshot()
        run(name, 20000)
        gc.collect()
        after = tracemalloc.take_snapshot()
    finally:
        tracemalloc.stop()
    grown = sum(stat.size_diff for stat in after.compare_to(before, "filename") if stat.size_diff > 0)
    assert grown < 16384, [str(s) for s in after.compare_to(before, "lineno")[:5]]
