"""Hostile callers: calls entered again mid-call, substituted classes, deep nesting,
protocol methods that raise, and text with no UTF-8 form. What crashed runs in a
fresh interpreter, whose exit status is checked."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, NumFormat, Success

# --- Kept constructor calls entered again -------------------------------------------


def test_decimal_entered_again_from_a_finaliser(run_fresh):
    # A thread's first Decimal allocates its context, which (before 3.12) can run
    # the collector, and with it a finaliser that casts again.
    out = run_fresh(
        """
        import gc, threading, quillmere as q
        F = q.NumFormat.INVARIANT
        class Row:
            def __del__(self):
                print(q.cast_decimal(b"22.50", F))
        def worker():
            gc.collect(); r = Row(); r.me = r; del r
            gc.set_threshold(1)
            print(q.cast_decimal(b"1.50", F))
        thread = threading.Thread(target=worker)
        thread.start(); thread.join()
        """
    )
    assert sorted(out) == ["Success(value=Decimal('1.5'))", "Success(value=Decimal('22.5'))"]


# Binds str in place of the date classes. Its constructor runs Python code (the
# BytesWarning of `python -b`, a codec search) before it reads the compact form
# back, so the nested call lands while the outer one still uses them.
REENTERED = """
import codecs, sys, types, warnings, datetime as real

class Reasons:
    EMPTY, MALFORMED, OUT_OF_RANGE = "E", "M", "O"

fake = types.ModuleType("datetime")
fake.date = fake.time = str
fake.timezone = types.SimpleNamespace(utc="quillmere-reentry")
first_then_real = iter([str, real.datetime])  # the bound class, then the anchor's class
fake.__getattr__ = lambda name: next(first_then_real) if name == "datetime" else getattr(real, name)
sys.modules["datetime"] = fake
native._bind(Reasons)
sys.modules["datetime"] = real

nested = []
def reenter():  # once per outer call
    if not nested:
        nested.append(None)
        nested[0] = inner()
warnings.simplefilter("always", BytesWarning)
warnings.showwarning = lambda *args, **kwargs: reenter()
def search(name):
    if name.replace("-", "_") == "quillmere_reentry":
        reenter()
        return codecs.lookup("latin-1")
codecs.register(search)

def state(year, *rest):
    return bytes([year >> 8, year & 255, *rest])
ROWS = [
    (lambda: native.cast_date("2024-01-15"), lambda: native.cast_date("1999-12-31"),
     repr(state(2024, 1, 15)), repr(state(1999, 12, 31))),
    (lambda: native.cast_time("10:30:01.000002"), lambda: native.cast_time("23:59:59"),
     repr(bytes([10, 30, 1, 0, 0, 2])), repr(bytes([23, 59, 59, 0, 0, 0]))),
    (lambda: native.cast_datetime("2024-01-15 10:30", 1), lambda: native.cast_datetime("1999-12-31 23:59", 1),
     repr(state(2024, 1, 15, 10, 30, 0, 0, 0, 0)), repr(state(1999, 12, 31, 23, 59, 0, 0, 0, 0))),
    (lambda: native.cast_timestamp("2024-01-15T10:30:00Z"), lambda: native.cast_timestamp("1999-12-31T23:59:00Z"),
     state(2024, 1, 15, 10, 30, 0, 0, 0, 0).decode("latin-1"),
     state(1999, 12, 31, 23, 59, 0, 0, 0, 0).decode("latin-1")),
]
for outer, inner, expected_outer, expected_inner in ROWS:
    nested.clear()
    got = outer()
    print(got.value == expected_outer, nested[0].value == expected_inner)
"""


def test_kept_calls_are_not_refilled_while_in_use(run_fresh):
    assert run_fresh(REENTERED, unbound=True, flags=("-b",)) == ["True True"] * 4


def test_kept_calls_are_not_refilled_once_their_arguments_escape(run_fresh):
    # memoryview keeps the state bytes it is given, chain the argument tuple.
    out = run_fresh(
        """
        import itertools, sys, types, datetime as real
        class Reasons:
            EMPTY, MALFORMED, OUT_OF_RANGE = "E", "M", "O"
        fake = types.ModuleType("datetime")
        fake.date = memoryview
        fake.__getattr__ = lambda name: getattr(real, name)
        decimal = types.SimpleNamespace(Decimal=itertools.chain)
        saved = dict(sys.modules)
        sys.modules.update(datetime=fake, decimal=decimal)
        native._bind(Reasons)
        sys.modules.update(saved)
        fmt = native.NumFormat.INVARIANT
        dates = [native.cast_date(text).value for text in ("2024-01-15", "1999-12-31", "2000-02-29")]
        print([bytes(d) for d in dates] == [bytes([7, 232, 1, 15]), bytes([7, 207, 12, 31]), bytes([7, 208, 2, 29])])
        chains = [native.cast_decimal(text, fmt).value for text in ("1.5", "2.5", "3.5")]
        print(["".join(c) for c in chains] == ["1.5", "2.5", "3.5"])
        """,
        unbound=True,
    )
    assert out == ["True", "True"]


# --- Classes substituted before _bind captures them --------------------------------

SUBSTITUTED = [
    ("datetime.date", "q.cast_date('2024-01-15')", "Sub"),
    ("datetime.date", "q.cast_date('15.01.2024', q.DateOrder.DMY)", "Sub"),
    ("datetime.time", "q.cast_time('10:30')", "Sub"),
    ("datetime.datetime", "q.cast_datetime('2024-01-15 10:30', 1)", "Sub"),
    ("datetime.datetime", "q.cast_timestamp('2024-01-15T10:30:00Z')", "Sub"),
    ("datetime.datetime", "q.cast_duration('PT1S')", "timedelta"),
    ("decimal.Decimal", "q.cast_decimal('1.5', q.NumFormat.INVARIANT)", "Sub"),
    ("decimal.Decimal", "q.cast_decimal_from_float(0.1)", "Sub"),
    ("uuid.UUID", "q.cast_uuid('00000000-0000-0000-0000-000000000001')", "Sub"),
]


@pytest.mark.parametrize("replacement", ["mock", "subclass"])
@pytest.mark.parametrize("target, call, subclass_result", SUBSTITUTED)
def test_substituted_classes_take_the_ordinary_call(run_fresh, target, call, subclass_result, replacement):
    module, name = target.split(".")
    out = run_fresh(
        f"""
        import importlib
        from unittest import mock
        real = getattr(importlib.import_module("{module}"), "{name}")
        Sub = type("Sub", (real,), {{}}) if "{replacement}" == "subclass" else mock.MagicMock()
        with mock.patch("{target}", Sub):
            import quillmere as q
        print(type({call}.value).__name__)
        """
    )
    assert out == [subclass_result if replacement == "subclass" else "MagicMock"]


# --- Deep nesting -------------------------------------------------------------------


def test_deep_chains_are_freed_without_recursion(run_fresh):
    out = run_fresh(
        """
        import quillmere as q
        x = None
        for i in range(400_000):
            x = q.Success(x) if i % 3 else q.Fault(x, i, 0)
            if i == 1000:
                middle = x
        del x
        depth = 0
        while middle is not None:
            middle = middle.value if isinstance(middle, q.Success) else middle.reason
            depth += 1
        print(depth)
        """
    )
    assert out == ["1001"]  # a link still held elsewhere keeps its own chain


# --- Protocol methods that raise -------------------------------------------------------


class Raising:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


CALLS_WITH = [
    lambda x: Fault("x", x, 0),
    lambda x: Fault("x", 0, x),
    lambda x: NumFormat(".", ",", x),
    lambda x: q.cast_date("1/2/2024", x),
    lambda x: q.cast_datetime("1/2/2024", x),
    lambda x: q.cast_unix("1", x),
    lambda x: q.cast_excel_serial("1", x),
    lambda x: q.cast_excel_serial_from_float(1.0, x),
    lambda x: q.cast_excel_serial_from_float(x, 1),
    lambda x: q.cast_decimal_from_float(x),
    lambda x: q.cast_excel_time(x),
    lambda x: q.cast_excel_duration(x),
]


@pytest.mark.parametrize("call", CALLS_WITH)
@pytest.mark.parametrize("error", [ValueError("mine"), TypeError("mine too"), KeyboardInterrupt()])
def test_exceptions_from_protocol_methods_propagate_unchanged(call, error):
    with pytest.raises(type(error)) as raised:
        call(Raising(error))
    assert raised.value is error


def test_system_exit_from_index_exits_with_its_status(run_fresh):
    run_fresh(
        """
        import quillmere as q
        class Exit:
            def __index__(self):
                raise SystemExit(3)
        q.cast_date("1/2/2024", Exit())
        """,
        status=3,
    )


# --- Text with no UTF-8 form ----------------------------------------------------------

TEXT_CASTS = [
    q.cast_bool, q.cast_char, q.cast_uuid, q.cast_date, q.cast_time, q.cast_timestamp, q.cast_duration,
    lambda t: q.cast_date(t, q.DateOrder.DMY), lambda t: q.cast_datetime(t, q.DateOrder.YMD),
    lambda t: q.cast_unix(t, q.UnixPrecision.SECONDS), lambda t: q.cast_excel_serial(t, q.ExcelEpoch.EPOCH_1900),
    *(lambda t, cast=cast: cast(t, NumFormat.DETECT) for cast in (q.cast_i8, q.cast_u64, q.cast_f32, q.cast_f64)),
    lambda t: q.cast_decimal(t, NumFormat(",", ".", NumFormat.ALL, "€")),
]


@given(
    st.text(st.characters(exclude_categories=["Cs"]), max_size=12),
    st.integers(0xD800, 0xDFFF).map(chr),
    st.text(max_size=12),
)
def test_lone_surrogate_is_malformed_at_its_code_point(before, surrogate, after):
    text = before + surrogate + after
    for cast in TEXT_CASTS:
        assert cast(text) == Fault(CastFailure.MALFORMED, len(before), 1)


# --- Equality ---------------------------------------------------------------------------


def test_verdicts_of_nan_are_unequal_even_to_themselves():
    nan = math.nan
    for verdict in (Success(nan), Fault(nan, 0, 0)):
        assert not (verdict == verdict) and verdict != verdict
