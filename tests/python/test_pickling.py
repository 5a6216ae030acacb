"""Formats and verdicts cross process boundaries: pickle, copy, deepcopy."""

import copy
import multiprocessing
import pickle
from concurrent.futures import ProcessPoolExecutor
from decimal import Decimal

import pytest

import quillmere as q
from quillmere import CastFailure, Fault, NumFormat, Success

PRESETS = [NumFormat.INVARIANT, NumFormat.DETECT]
FORMATS = [NumFormat(",", ".", 3, "€"), NumFormat("\0", "\U0010ffff", 2**32 - 1, "$" * 16), NumFormat(".", ",", 95)]
VERDICTS = [
    Success(1), Success(Decimal("-1.5")), Success([1, {"a": None}]), Success(Success(Fault("x", 1, 2))),
    q.cast_i32("12x", NumFormat.INVARIANT), q.cast_date("2024-02-30"), Fault("x", 2**32 - 1, 0),
]
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def assert_same_record(back, original):
    if original in PRESETS:
        assert back is original
    elif isinstance(original, NumFormat):
        assert type(back) is NumFormat and back is not original and back.packed == original.packed
    else:
        assert type(back) is type(original) and back == original and repr(back) == repr(original)


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_pickle_round_trips(protocol):
    for original in PRESETS + FORMATS + VERDICTS:
        assert_same_record(pickle.loads(pickle.dumps(original, protocol)), original)
    fault = pickle.loads(pickle.dumps(q.cast_bool("maybe"), protocol))
    assert fault.reason is CastFailure.MALFORMED


def test_copies():
    for fmt in PRESETS + FORMATS:  # immutable and equal only to itself
        assert copy.copy(fmt) is fmt and copy.deepcopy(fmt) is fmt
    held = [1]
    assert copy.copy(Success(held)).value is held
    deep = copy.deepcopy(Fault(held, 1, 2))
    assert deep == Fault([1], 1, 2) and deep.reason is not held
    assert copy.deepcopy(q.cast_bool("maybe")).reason is CastFailure.MALFORMED


def test_round_trip_through_worker_processes():
    texts = ["1,5", "12x", "", "(7)", "1e99999"]
    fmt = NumFormat(",", ".", NumFormat.ALL)
    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        assert list(pool.map(q.cast_decimal, texts, [fmt] * len(texts))) == [q.cast_decimal(t, fmt) for t in texts]
        for original in PRESETS + FORMATS + VERDICTS:
            assert_same_record(pool.submit(copy.copy, original).result(), original)
        assert pool.submit(q.cast_u8, "256", NumFormat.DETECT).result().reason is CastFailure.OUT_OF_RANGE
