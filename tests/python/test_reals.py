"""cast_f64 and cast_f32: binary64 against float(), binary32 against an exact
rational rounding, and the lenient forms, percent and faults."""

import math
import random
import struct
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, Success

INV = q.NumFormat.INVARIANT


def f32_nearest(x: Fraction) -> float:
    """The binary32 nearest to x >= 0, ties to even, as a Python float; inf past the range."""
    if x == 0:
        return 0.0
    # exponent of the leading bit, then the unit in the last place (24 bits, subnormals at 2^-149)
    e = x.numerator.bit_length() - x.denominator.bit_length()
    if Fraction(2) ** e > x:
        e -= 1
    ulp_exp = max(e - 23, -149)
    scaled = x / Fraction(2) ** ulp_exp
    n = scaled.numerator // scaled.denominator
    rest = scaled - n
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2 == 1):
        n += 1
    value = n * Fraction(2) ** ulp_exp
    return math.inf if value >= Fraction(2) ** 128 else float(value)


def same(a: float, b: float) -> bool:
    return math.copysign(1.0, a) == math.copysign(1.0, b) and a == b


def expect_f64(text: str) -> None:
    want = float(text)
    got = q.cast_f64(text, INV)
    if math.isinf(want):
        assert got == Fault(CastFailure.OUT_OF_RANGE, 0, len(text)), text
    else:
        assert isinstance(got, Success) and same(got.value, want), (text, got, want)


def expect_f32(text: str) -> None:
    want = math.copysign(f32_nearest(abs(Fraction(text))), -1.0 if text.startswith("-") else 1.0)
    got = q.cast_f32(text, INV)
    if math.isinf(want):
        assert got == Fault(CastFailure.OUT_OF_RANGE, 0, len(text)), text
    else:
        assert isinstance(got, Success) and same(got.value, want), (text, got, want)


# ---- differential ----------------------------------------------------------

numerals = st.builds(
    lambda sign, digits, point, exponent: sign
    + (digits[:point] + "." + digits[point:] if point is not None else digits)
    + ("" if exponent is None else f"e{exponent}"),
    st.sampled_from(["", "-", "+"]),
    st.text("0123456789", min_size=1, max_size=60),
    st.one_of(st.none(), st.integers(0, 60)),
    st.one_of(st.none(), st.integers(-400, 400), st.integers(-60, 60)),
)


@given(numerals)
def test_f64_matches_float(text):
    expect_f64(text)


@given(numerals)
def test_f32_matches_exact_rounding(text):
    expect_f32(text)


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_f64_round_trips_every_double(x):
    for text in (repr(x), f"{x:.17e}", f"{x:.25e}"):
        assert same(q.cast_f64(text, INV).value, x)


def halfway_texts(low: Fraction, high: Fraction, digits: int) -> list[str]:
    """The exact midpoint of two neighbours, and decimals a hair below and above it."""
    mid = (low + high) / 2
    # mid = n / 2^k exactly; written in full it ends within 1100 fraction digits
    scale = 10**1100
    whole = mid.numerator * scale // mid.denominator
    assert Fraction(whole, scale) == mid
    exact = f"{whole}e-1100"
    tiny = Fraction(1, 10**digits) * mid
    return [exact, decimal_text(mid - tiny, digits), decimal_text(mid + tiny, digits)]


def decimal_text(x: Fraction, digits: int) -> str:
    """x to `digits` significant digits, truncated; digits past those of x change nothing."""
    e = len(str(x.numerator // x.denominator)) if x >= 1 else -len(str(x.denominator // x.numerator)) + 1
    scaled = x * Fraction(10) ** (digits - e)
    return f"{scaled.numerator // scaled.denominator}e{e - digits}"


def test_halfway_cases_between_doubles_and_singles():
    rng = random.Random(17)
    for _ in range(150):
        bits = rng.getrandbits(63)
        if rng.random() < 0.3:
            bits %= 1 << 54  # subnormals and the smallest normals
        x = struct.unpack("<d", struct.pack("<Q", bits))[0]
        if math.isinf(x) or math.isnan(x) or x == 1.7976931348623157e308:
            continue
        for text in halfway_texts(Fraction(x), Fraction(math.nextafter(x, math.inf)), rng.randint(20, 800)):
            expect_f64(text)
        b32 = rng.getrandbits(31)
        if rng.random() < 0.3:
            b32 %= 1 << 25
        y = struct.unpack("<f", struct.pack("<I", b32))[0]
        if math.isinf(y) or math.isnan(y) or b32 >= 0x7F7FFFFF:
            continue
        up = struct.unpack("<f", struct.pack("<I", b32 + 1))[0]
        for text in halfway_texts(Fraction(y), Fraction(up), rng.randint(20, 200)):
            expect_f32(text)


def test_single_precision_never_rounds_through_double():
    # Just above a tie between two singles the nearest double is the tie itself.
    rng = random.Random(3)
    for _ in range(300):
        b32 = rng.randrange(0x00800000, 0x7F000000) & ~1
        y = struct.unpack("<f", struct.pack("<I", b32))[0]
        up = struct.unpack("<f", struct.pack("<I", b32 + 1))[0]
        mid = (Fraction(y) + Fraction(up)) / 2
        text = decimal_text(mid + mid / 10**40, 60)
        assert q.cast_f32(text, INV).value == up, text
    assert q.cast_f32("1.000000059604644775390625000000001", INV).value == 1.00000011920928955078125
    assert q.cast_f64("1.000000059604644775390625000000001", INV).value == 1.0000000596046448


# ---- fixed cases -----------------------------------------------------------


@pytest.mark.parametrize(
    "text, f64, f32",
    [
        ("1.7976931348623158e308", 1.7976931348623157e308, None),
        ("1.7976931348623159e308", None, None),
        ("3.4028235e38", 3.4028235e38, 3.4028234663852886e38),
        ("3.4028236e38", 3.4028236e38, None),
        ("1e-400", 0.0, 0.0),
        ("-1e-400", -0.0, -0.0),
        ("2.4703282292062328e-324", 5e-324, 0.0),
        ("2.4703282292062327e-324", 0.0, 0.0),
        ("-0", -0.0, -0.0),
        ("(0)", -0.0, -0.0),
        ("  2.5  ", 2.5, 2.5),
        ("1,234.5", 1234.5, 1234.5),
        ("12.5%", 0.125, 0.125),
        ("0.7%", 0.006999999999999999, 0.00699999975040555),
        ("0.1", 0.1, 0.10000000149011612),
    ],
)
def test_boundaries_signs_and_percent(text, f64, f32):
    for cast, want in ((q.cast_f64, f64), (q.cast_f32, f32)):
        got = cast(text, INV)
        if want is None:
            assert got == Fault(CastFailure.OUT_OF_RANGE, 0, len(text))
        else:
            assert isinstance(got, Success) and same(got.value, want), (text, got)
            assert type(got.value) is float


@pytest.mark.parametrize(
    "text, fault",
    [
        ("", Fault(CastFailure.EMPTY, 0, 0)),
        ("inf", Fault(CastFailure.MALFORMED, 0, 1)),
        ("Infinity", Fault(CastFailure.MALFORMED, 0, 1)),
        ("NaN", Fault(CastFailure.MALFORMED, 0, 1)),
        ("0x1p3", Fault(CastFailure.MALFORMED, 1, 1)),
        ("1e309%", Fault(CastFailure.OUT_OF_RANGE, 0, 6)),
        ("é1.5", Fault(CastFailure.MALFORMED, 0, 1)),
        ("1.5é", Fault(CastFailure.MALFORMED, 3, 1)),
        (b"1.5\xc3\xa9", Fault(CastFailure.MALFORMED, 3, 2)),
    ],
)
def test_faults(text, fault):
    assert q.cast_f64(text, INV) == fault
    assert q.cast_f32(text, INV) == fault


def test_declared_formats():
    euro = q.NumFormat(",", ".", q.NumFormat.ALL, "€")
    assert q.cast_f64("1.234,5 €", euro) == Success(1234.5)
    assert q.cast_f64("(€0,25)", euro) == Success(-0.25)
    detect = q.NumFormat.DETECT
    assert q.cast_f64("1.234", detect) == Fault(CastFailure.MALFORMED, 1, 1)
    assert q.cast_f64("1.234,5", detect) == Success(1234.5)
    assert q.cast_f32(b"0,5", detect) == Success(0.5)
