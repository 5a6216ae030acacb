"""Durations, Unix-epoch counts and Excel serials, checked against exact
integer and rational arithmetic done here independently."""

import math
import random
import struct
from datetime import date, datetime, time, timedelta, timezone
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

import quillmere as q
from quillmere import CastFailure, ExcelEpoch, Fault, Success, UnixPrecision

MALFORMED = CastFailure.MALFORMED
OUT_OF_RANGE = CastFailure.OUT_OF_RANGE
NS = 10**9
DAY_NS = 86400 * NS
MAX_DURATION_SECONDS = 315576000000
UTC = timezone.utc
EPOCH = datetime(1970, 1, 1, tzinfo=UTC)


def timedelta_of(total_ns):
    """A nanosecond count as Python shows it: microseconds truncated toward zero."""
    micros = abs(total_ns) // 1000
    return timedelta(microseconds=micros if total_ns >= 0 else -micros)


# ---------------------------------------------------------------- durations

def split_check(total_ns):
    seconds = abs(total_ns) // NS
    return seconds <= MAX_DURATION_SECONDS


def fraction_nanos(digits):
    return int((digits + "000000000")[:9]) if digits else 0


duration_parts = st.tuples(
    st.booleans(),                                  # negative
    st.integers(0, 4000000),                        # days
    st.integers(0, 23), st.integers(0, 59), st.integers(0, 59),
    st.text("0123456789", min_size=0, max_size=14),  # fraction digits
)


@given(duration_parts, st.sampled_from([".", ","]))
def test_colon_form_totals(parts, point):
    negative, days, h, m, s, frac = parts
    text = ("-" if negative else "") + (f"{days}." if days else "") + f"{h:02d}:{m}:{s:02d}"
    if frac:
        text += point + frac
    total = ((days * 86400 + h * 3600 + m * 60 + s) * NS + fraction_nanos(frac)) * (-1 if negative else 1)
    expected = Success(timedelta_of(total)) if split_check(total) else Fault(OUT_OF_RANGE, 0, len(text))
    assert q.cast_duration(text) == expected


@given(duration_parts, st.integers(0, 3), st.permutations("WDHMS"), st.booleans())
def test_iso_form_totals(parts, weeks, order, lower):
    negative, days, h, m, s, frac = parts
    date_part = [(n, u) for n, u in (("W", weeks), ("D", days)) if u]
    time_part = [(n, u) for n, u in (("H", h), ("M", m), ("S", s or frac)) if u]
    # Components may come in any order within their half.
    date_part.sort(key=lambda c: order.index(c[0]))
    time_part.sort(key=lambda c: order.index(c[0]))
    text = "P" + "".join(f"{u}{n}" for n, u in date_part)
    seconds_text = f"{s}" + (f".{frac}" if frac else "")
    time_text = "".join(seconds_text + "S" if n == "S" else f"{u}{n}" for n, u in time_part)
    if time_text:
        text += "T" + time_text
    if text == "P":
        text = "P0D"
    if lower:
        text = text.lower()
    text = ("-" if negative else "") + text
    total = (weeks * 604800 + days * 86400 + h * 3600 + m * 60 + s) * NS + fraction_nanos(frac)
    total = -total if negative else total
    expected = Success(timedelta_of(total)) if split_check(total) else Fault(OUT_OF_RANGE, 0, len(text))
    assert q.cast_duration(text) == expected


@given(st.booleans(), st.integers(0, 10**18 - 1), st.text("0123456789", max_size=20), st.sampled_from("sS"))
def test_protobuf_form_totals(negative, seconds, frac, suffix):
    text = ("-" if negative else "") + str(seconds) + (f".{frac}" if frac else "") + suffix
    total = (seconds * NS + fraction_nanos(frac)) * (-1 if negative else 1)
    expected = Success(timedelta_of(total)) if split_check(total) else Fault(OUT_OF_RANGE, 0, len(text))
    assert q.cast_duration(text) == expected


LONGEST_SUBTRACTION = 315537897599  # 0001-01-01T00:00:00 to 9999-12-31T23:59:59


@pytest.mark.parametrize(
    "text, expected",
    [
        # Truncation toward zero, never floor.
        ("-PT0.0000015S", timedelta(microseconds=-1)),
        ("-0.0000015s", timedelta(microseconds=-1)),
        ("-0.000000999s", timedelta(0)),
        ("PT0.0000015S", timedelta(microseconds=1)),
        ("-0:00:01.25", timedelta(seconds=-1, microseconds=-250000)),
        # Both ways of building the timedelta, on either side of the boundary.
        (f"{LONGEST_SUBTRACTION}.999999999s", timedelta(seconds=LONGEST_SUBTRACTION, microseconds=999999)),
        (f"-{LONGEST_SUBTRACTION}.999999999s", -timedelta(seconds=LONGEST_SUBTRACTION, microseconds=999999)),
        (f"{LONGEST_SUBTRACTION + 1}.000001999s", timedelta(seconds=LONGEST_SUBTRACTION + 1, microseconds=1)),
        (f"-{LONGEST_SUBTRACTION + 1}.000001999s", -timedelta(seconds=LONGEST_SUBTRACTION + 1, microseconds=1)),
        (f"{MAX_DURATION_SECONDS}.999999999s", timedelta(seconds=MAX_DURATION_SECONDS, microseconds=999999)),
        (f"-{MAX_DURATION_SECONDS}.999999999s", -timedelta(seconds=MAX_DURATION_SECONDS, microseconds=999999)),
        ("P3652500D", timedelta(days=3652500)),
        ("-3652500.00:00:00", timedelta(days=-3652500)),
        ("p1w", timedelta(weeks=1)),
        ("P1DT2H30M", timedelta(seconds=95400)),
    ],
)
def test_duration_values(text, expected):
    result = q.cast_duration(text)
    assert result == Success(expected)
    assert type(result.value) is timedelta


@pytest.mark.parametrize(
    "text, reason, offset, length",
    [
        ("1.02", MALFORMED, 0, 4),
        ("P1Y", MALFORMED, 2, 1),
        ("P1.5D", MALFORMED, 1, 4),
        ("P1DT", MALFORMED, 0, 4),
        ("24:00", OUT_OF_RANGE, 0, 2),
        ("1:2:3:4", MALFORMED, 5, 1),
        ("1 s", MALFORMED, 1, 1),
        ("315576000001s", OUT_OF_RANGE, 0, 13),
        ("PT1Hé", MALFORMED, 4, 1),           # one code point in a str
        ("é:1", MALFORMED, 0, 1),
        (" é1s", MALFORMED, 1, 3),
        (b"PT1H\xc3\xa9", MALFORMED, 4, 2),  # bytes in bytes
        ("", CastFailure.EMPTY, 0, 0),
    ],
)
def test_duration_faults(text, reason, offset, length):
    assert q.cast_duration(text) == Fault(reason, offset, length)


# ---------------------------------------------------------------- Unix counts

DIVISORS = {UnixPrecision.SECONDS: 1, UnixPrecision.MILLISECONDS: 10**3,
            UnixPrecision.MICROSECONDS: 10**6, UnixPrecision.NANOSECONDS: 10**9}
MIN_SECONDS, MAX_SECONDS = -62135596800, 253402300799


def unix_expected(count, precision, text):
    divisor = DIVISORS[precision]
    seconds, rest = divmod(count, divisor)  # floor, as Python's divmod is
    if not MIN_SECONDS <= seconds <= MAX_SECONDS:
        return Fault(OUT_OF_RANGE, 0, len(text))
    nanos = rest * (NS // divisor)
    return Success(EPOCH + timedelta(seconds=seconds, microseconds=nanos // 1000))


@given(st.sampled_from(list(UnixPrecision)), st.integers(MIN_SECONDS * 10**9 - 10**12, MAX_SECONDS * 10**9 + 10**12))
def test_unix_counts(precision, count):
    count //= NS // DIVISORS[precision]  # keep the count near the instant range at every precision
    text = str(count)
    assert q.cast_unix(text, precision) == unix_expected(count, precision, text)


@pytest.mark.parametrize("precision", list(UnixPrecision))
def test_unix_range_edges(precision):
    d = DIVISORS[precision]
    for count in (MIN_SECONDS * d, MIN_SECONDS * d - 1, MAX_SECONDS * d + d - 1, (MAX_SECONDS + 1) * d,
                  -1, 0, 1, -d, -d - 1, 2**127 - 1, -(2**127 - 1), 2**127, 10**60):
        for text in (str(count), f"+{count}" if count >= 0 else str(count)):
            assert q.cast_unix(text, precision) == unix_expected(count, precision, text), text
    assert q.cast_unix("-1", precision).value.tzinfo is UTC


def test_unix_faults():
    assert q.cast_unix("-", 1) == Fault(MALFORMED, 0, 1)
    assert q.cast_unix("12 34", 1) == Fault(MALFORMED, 2, 1)
    assert q.cast_unix("1e9", 1) == Fault(MALFORMED, 1, 1)
    assert q.cast_unix("9" * 60, 4) == Fault(OUT_OF_RANGE, 0, 60)
    assert q.cast_unix("9" * 60 + "x", 4) == Fault(MALFORMED, 60, 1)
    assert q.cast_unix("12é", 1) == Fault(MALFORMED, 2, 1)


# ---------------------------------------------------------------- Excel doubles

def reference_split(x):
    """Whole days and nanoseconds for x ≥ 0, from the rounding interval of x
    found with its neighbours and exact rationals."""
    if x < 2.0**-73:
        return 0, 0
    exact = Fraction(x)
    value = exact * DAY_NS
    days = math.floor(x)
    base = days * DAY_NS
    upper = (exact + Fraction(math.nextafter(x, math.inf))) / 2 * DAY_NS
    lower = (exact + Fraction(math.nextafter(x, 0.0))) / 2 * DAY_NS
    even = struct.unpack("<Q", struct.pack("<d", x))[0] % 2 == 0
    smallest = math.ceil(lower)
    if smallest == lower and not even:
        smallest += 1
    largest = math.floor(upper)
    if largest == upper and not even:
        largest -= 1
    lo, hi = smallest - base, largest - base
    if lo <= hi:
        if hi // NS * NS >= lo:
            j = hi // NS * NS
        else:
            for k in range(8, -1, -1):
                step = 10**k
                candidates = range(-(-lo // step) * step, hi + 1, step)
                if candidates:
                    j = min(candidates, key=lambda c: (abs(c - (value - base)), c))
                    break
    else:
        j = math.floor(value - base + Fraction(1, 2))
    return (days + 1, j - DAY_NS) if j >= DAY_NS else (days, j)


def generated_doubles(count, seed):
    rng = random.Random(seed)
    xs = [0.5, 1 / 3, 0.1, 1 / 86400, 44927.99998842592, math.nextafter(1.0, 0.0), 1e-10,
          45000.123456789, 12.3456789012345, 2.0**-73, math.nextafter(2.0**-73, 0.0), 5e-324]
    for e in range(-73, 22):
        p = 2.0**e
        xs += [p, math.nextafter(p, 0.0), math.nextafter(p, math.inf)]
    while len(xs) < count:
        day = rng.randrange(2958466)
        pick = rng.randrange(6)
        if pick == 0:
            x = day + rng.randrange(86400) / 86400
        elif pick == 1:
            x = day + rng.randrange(86400000) / 86400000
        elif pick == 2:
            x = rng.randrange(86400000) / 86400000
        elif pick == 3:
            x = float(day + 1)
            for _ in range(rng.randrange(1, 4)):
                x = math.nextafter(x, 0.0)  # just below a day boundary
        elif pick == 4:
            x = rng.uniform(0, 2958466)
        else:
            x = 2.0 ** rng.uniform(-80, 21)
        if rng.randrange(3) == 0:
            x = math.nextafter(x, math.inf if rng.randrange(2) else 0.0)
        if 0.0 <= x < 2958466.0:
            xs.append(x)
    return xs


def time_of(nanos):
    micros = nanos // 1000
    return time(micros // 3600000000, micros // 60000000 % 60, micros // 1000000 % 60, micros % 1000000)


def serial_date(serial, epoch):
    if epoch == ExcelEpoch.EPOCH_1904:
        return None if serial > 2957003 else date(1904, 1, 1) + timedelta(days=serial)
    if serial == 0 or serial == 60 or serial > 2958465:
        return None
    return date(1899, 12, 31 if serial < 60 else 30) + timedelta(days=serial)


def test_doubles_against_exact_rationals():
    for x in generated_doubles(20000, 1):
        days, nanos = reference_split(x)
        assert q.cast_excel_time(x) == Success(time_of(nanos)), x
        total = days * DAY_NS + nanos
        for signed in (x, -x):
            if abs(86400.0 * signed) <= MAX_DURATION_SECONDS:
                assert q.cast_excel_duration(signed) == Success(timedelta_of(total if signed >= 0 else -total)), signed
        for epoch in ExcelEpoch:
            d = serial_date(days, epoch)
            expected = Fault(OUT_OF_RANGE, 0, 0) if d is None else Success(datetime.combine(d, time_of(nanos)))
            assert q.cast_excel_serial_from_float(x, epoch) == expected, (x, epoch)


@pytest.mark.parametrize(
    "x, expected",
    [
        (0.5, time(12)), (1 / 3, time(8)), (0.1, time(2, 24)), (1 / 86400, time(0, 0, 1)),
        (44927.99998842592, time(23, 59, 59)), (math.nextafter(1.0, 0.0), time(0)),
        (45000.75, time(18)), (0.9999999999999999, time(0)), (-0.0, time(0)), (1, time(0)),
    ],
)
def test_excel_time_examples(x, expected):
    assert q.cast_excel_time(x) == Success(expected)


def test_excel_double_faults_have_no_span():
    for x in (math.nan, math.inf, -math.inf, -0.5, -5e-324):
        for result in (q.cast_excel_time(x), q.cast_excel_serial_from_float(x, 1), q.cast_excel_serial_from_float(x, 2)):
            assert result == Fault(MALFORMED, 0, 0)
    for x in (2958466.0, 1e300):
        assert q.cast_excel_time(x) == Fault(OUT_OF_RANGE, 0, 0)
        assert q.cast_excel_serial_from_float(x, 1) == Fault(OUT_OF_RANGE, 0, 0)
    for x in (math.nan, math.inf, -math.inf):
        assert q.cast_excel_duration(x) == Fault(MALFORMED, 0, 0)
    for x in (3652500.1, -3652500.1, 1e300):
        assert q.cast_excel_duration(x) == Fault(OUT_OF_RANGE, 0, 0)
    assert q.cast_excel_duration(-1.5) == Success(timedelta(seconds=-129600))
    assert q.cast_excel_duration(3652500.0) == Success(timedelta(days=3652500))


@pytest.mark.parametrize(
    "x, epoch, expected",
    [
        (59.0, 1, datetime(1900, 2, 28)), (60.0, 1, None), (61.0, 1, datetime(1900, 3, 1)), (0.0, 1, None),
        (0.75, 1, None), (1.0, 1, datetime(1900, 1, 1)), (2958465.0, 1, datetime(9999, 12, 31)),
        (59.99999999999999, 1, datetime(1900, 2, 28, 23, 59, 59, 999999)),
        (0.0, 2, datetime(1904, 1, 1)), (2957003.0, 2, datetime(9999, 12, 31)), (2957004.0, 2, None),
        (math.nextafter(2958466.0, 0.0), 1, datetime(9999, 12, 31, 23, 59, 59, 999960)),
    ],
)
def test_serial_double_epoch_boundaries(x, epoch, expected):
    result = q.cast_excel_serial_from_float(x, ExcelEpoch(epoch))
    assert result == (Fault(OUT_OF_RANGE, 0, 0) if expected is None else Success(expected))


# ---------------------------------------------------------------- Excel text

@given(st.integers(0, 2958470), st.text("0123456789", max_size=22), st.sampled_from(list(ExcelEpoch)))
def test_serial_text_against_decimal_arithmetic(serial, frac, epoch):
    text = str(serial) + (f".{frac}" if frac else "")
    kept = frac[:14]
    nanos = int(kept) * DAY_NS // 10 ** len(kept) if kept else 0
    d = serial_date(serial, epoch)
    if d is None:
        expected = Fault(OUT_OF_RANGE, 0, len(text))
    else:
        midnight = datetime.combine(d, time(), tzinfo=UTC)
        expected = Success(midnight + timedelta(microseconds=nanos // 1000))
    assert q.cast_excel_serial(text, epoch) == expected


@pytest.mark.parametrize(
    "text, epoch, expected",
    [
        ("59", 1, datetime(1900, 2, 28, tzinfo=UTC)), ("60", 1, None), ("61", 1, datetime(1900, 3, 1, tzinfo=UTC)),
        ("0", 1, None), ("2958465", 1, datetime(9999, 12, 31, tzinfo=UTC)), ("2958466", 1, None),
        ("0", 2, datetime(1904, 1, 1, tzinfo=UTC)), ("2957003", 2, datetime(9999, 12, 31, tzinfo=UTC)),
        ("2957004", 2, None), ("45000.75", 1, datetime(2023, 3, 15, 18, tzinfo=UTC)),
        ("2958465.99999999999999", 1, datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC)),
    ],
)
def test_serial_text_epoch_boundaries(text, epoch, expected):
    result = q.cast_excel_serial(text, epoch)
    assert result == (Fault(OUT_OF_RANGE, 0, len(text)) if expected is None else Success(expected))


@pytest.mark.parametrize("text, offset", [("-1", 0), ("1.", 1), (".5", 0), ("1,5", 1), ("45000.5x", 7), ("1é", 1)])
def test_serial_text_faults(text, offset):
    assert q.cast_excel_serial(text, ExcelEpoch.EPOCH_1900) == Fault(MALFORMED, offset, 1)


# ---------------------------------------------------------------- arguments

class Floatish:
    def __float__(self):
        return 0.25


class Indexish:
    def __index__(self):
        return 2


def test_notation_arguments():
    assert q.cast_unix("1", UnixPrecision.MILLISECONDS) == q.cast_unix("1", 2)
    assert q.cast_unix(text="1", precision=Indexish()) == q.cast_unix("1", 2)
    assert q.cast_excel_serial("0", ExcelEpoch.EPOCH_1904) == q.cast_excel_serial("0", 2)
    assert q.cast_excel_serial_from_float(value=1.0, epoch=1) == Success(datetime(1900, 1, 1))
    for bad, message in ((0, "precision must be a UnixPrecision"), (5, "precision must be a UnixPrecision")):
        with pytest.raises(ValueError, match=f"^{message}$"):
            q.cast_unix("0", bad)
    for call in (lambda e: q.cast_excel_serial("1", e), lambda e: q.cast_excel_serial_from_float(1.0, e)):
        for bad in (0, 3):
            with pytest.raises(ValueError, match="^epoch must be an ExcelEpoch$"):
                call(bad)
        with pytest.raises(OverflowError, match="^number too small to fit in target type$"):
            call(-1)
        with pytest.raises(OverflowError, match="^number too large to fit in target type$"):
            call(2**32)
        with pytest.raises(TypeError):
            call(1.0)
        with pytest.raises(TypeError):
            call("1")
    with pytest.raises(OverflowError, match="^number too small to fit in target type$"):
        q.cast_unix("0", -1)
    with pytest.raises(OverflowError, match="^number too large to fit in target type$"):
        q.cast_unix("0", 2**40)
    with pytest.raises(TypeError):
        q.cast_unix("0", None)
    with pytest.raises(TypeError, match="must be str or bytes"):
        q.cast_unix(bytearray(b"0"), 1)


def test_double_arguments():
    assert q.cast_excel_time(1) == Success(time(0))
    assert q.cast_excel_time(Floatish()) == Success(time(6))
    assert q.cast_excel_duration(Indexish()) == Success(timedelta(days=2))
    assert q.cast_excel_duration(True) == Success(timedelta(days=1))
    for call in (q.cast_excel_time, q.cast_excel_duration, lambda v: q.cast_excel_serial_from_float(v, 1)):
        with pytest.raises(TypeError):
            call("0.5")
        with pytest.raises(TypeError):
            call(None)
