"""cast_decimal against Python's decimal, and cast_decimal_from_float against repr()."""

import array
import math
import random
from decimal import Context, Decimal, MAX_EMAX, MIN_EMIN
from fractions import Fraction

import pytest
from hypothesis import given, strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, NumFormat, Success

INV = NumFormat.INVARIANT
DOLLAR = NumFormat(".", ",", NumFormat.ALL, "$")
EURO = NumFormat(",", ".", NumFormat.ALL, "€")

LIMIT = 2**96
EXACT = Context(prec=2000, Emax=MAX_EMAX, Emin=MIN_EMIN)


def canonical(value: Decimal) -> str | None:
    """The canonical text of an exact value, or None when it does not fit."""
    if value == 0:
        return "0"
    sign, digits, exponent = value.normalize(EXACT).as_tuple()
    magnitude = int("".join(map(str, digits)))
    if exponent < -28 or exponent > 29 or magnitude * 10 ** max(exponent, 0) >= LIMIT:
        return None
    return format(value.normalize(EXACT), "f")


class Text(str):
    """A str subclass: read like any str, never handed on in place of the canonical text."""


def out_of_range(text):
    return Fault(CastFailure.OUT_OF_RANGE, *_whole(text))


def _whole(text):
    stripped = text.strip(" \t\n\r\f")
    return text.index(stripped), len(stripped)


@pytest.mark.parametrize(
    "text, fmt, expected",
    [
        ("1.10", INV, "1.1"),
        ("  12.50  ", INV, "12.5"),
        ("-0.00", INV, "0"),
        ("100", INV, "100"),
        ("-12.5", INV, "-12.5"),
        (Text("12.5"), INV, "12.5"),
        ("12.5%", INV, "0.125"),
        ("(1,234.5)", INV, "-1234.5"),
        ("-$ 5.10", DOLLAR, "-5.1"),
        ("1.234,5 €", EURO, "1234.5"),
        ("€-0,25", EURO, "-0.25"),
        ("1.234,5", NumFormat.DETECT, "1234.5"),
        ("7.9228162514264337593543950335", INV, "7.9228162514264337593543950335"),
        (b"0.0000000000000000000000000001", INV, "1E-28"),
    ],
)
def test_values(text, fmt, expected):
    result = q.cast_decimal(text, fmt)
    assert result == Success(Decimal(expected))
    assert type(result.value) is Decimal


@pytest.mark.parametrize(
    "text, fmt, fault",
    [
        ("", INV, Fault(CastFailure.EMPTY, 0, 0)),
        ("  1e99999  ", INV, Fault(CastFailure.OUT_OF_RANGE, 2, 7)),
        ("79228162514264337593543950336", INV, Fault(CastFailure.OUT_OF_RANGE, 0, 29)),
        ("1.234", NumFormat.DETECT, Fault(CastFailure.MALFORMED, 1, 1)),
        # Spans in code points for str, bytes for bytes.
        ("€€1,5", EURO, Fault(CastFailure.MALFORMED, 1, 1)),
        ("€€1,5".encode(), EURO, Fault(CastFailure.MALFORMED, 3, 3)),
        ("  é1e99999", INV, Fault(CastFailure.MALFORMED, 2, 1)),
        ("(€1e40)", EURO, Fault(CastFailure.OUT_OF_RANGE, 0, 7)),
    ],
)
def test_faults(text, fmt, fault):
    assert q.cast_decimal(text, fmt) == fault


# ---- generated numerals against decimal --------------------------------------

digit_runs = st.text("0123456789", max_size=45) | st.sampled_from(["", "0", "00000", "79228162514264337593543950335"])


@st.composite
def numerals(draw):
    sign = draw(st.sampled_from(["", "-", "+"]))
    whole = draw(digit_runs)
    point = draw(st.booleans())
    fraction = draw(digit_runs) if point else ""
    if not (whole + fraction):
        whole = "0"
    exponent = None
    if draw(st.integers(0, 3)) == 0:
        exponent = draw(st.integers(-60, 60) | st.integers(-(10**12), 10**12))
    percent = draw(st.integers(0, 4)) == 0
    return sign, whole, point, fraction, exponent, percent


def expected_text(sign, whole, fraction, exponent, percent):
    """The verdict the cast must give, as a canonical text or None for OUT_OF_RANGE."""
    mantissa = int((whole or "0") + fraction or "0")
    if mantissa == 0:
        return "0"
    significant_fraction = fraction.rstrip("0")
    # The integer digits are held in 128 bits, and a nonzero fraction digit
    # may not carry the mantissa past 96 bits.
    if int(whole or "0") >= 2**128:
        return None
    if significant_fraction and int((whole or "0") + significant_fraction) >= LIMIT:
        return None
    value = EXACT.scaleb(Decimal(f"{sign}{whole or '0'}.{fraction or '0'}"), (exponent or 0) - 2 * percent)
    return canonical(value)


def render(sign, whole, point, fraction, exponent, percent, style):
    """The numeral written plainly or in one of the lenient forms."""
    mantissa = whole + ("." if point else "") + fraction
    exp = "" if exponent is None else f"e{exponent:+d}" if style % 2 else f"E{exponent}"
    pct = "%" if percent else ""
    negative = sign == "-"
    if style == 2 and len(whole) > 3 and not exp:
        head = len(whole) % 3 or 3
        grouped = whole[:head] + "".join("," + whole[i : i + 3] for i in range(head, len(whole), 3))
        mantissa = grouped + ("." if point else "") + fraction
    if style == 3 and negative:
        return f"({mantissa}{exp}){pct}"
    if style == 4:
        return f" {sign}$ {mantissa}{exp}{pct}\t"
    if style == 5:
        return f"{sign}{mantissa}{exp} ${pct}"
    return f"{sign}{mantissa}{exp}{pct}"


@given(numerals(), st.integers(0, 5))
def test_generated_numerals_match_decimal(parts, style):
    sign, whole, point, fraction, exponent, percent = parts
    text = render(sign, whole, point, fraction, exponent, percent, style)
    if len(text) > 250 and style != 0:
        return
    expected = expected_text(sign, whole, fraction, exponent, percent)
    result = q.cast_decimal(text, DOLLAR)
    if expected is None:
        assert result == out_of_range(text), text
    else:
        assert isinstance(result, Success), (text, result)
        assert format(result.value, "f") == expected, text
        assert result.value == Decimal(expected)


@given(st.decimals(allow_nan=False, allow_infinity=False))
def test_any_decimal_text_reads_back_exactly(value):
    text = str(value)
    expected = canonical(value)
    result = q.cast_decimal(text, INV)
    if expected is None:
        assert isinstance(result, Fault) and result.reason is CastFailure.OUT_OF_RANGE, text
    else:
        assert format(result.value, "f") == expected, text


def test_str_and_bytes_agree():
    rng = random.Random(3)
    for _ in range(2000):
        text = "".join(rng.choice("0123456789.,-+()$% e€") for _ in range(rng.randint(1, 12)))
        a, b = q.cast_decimal(text, DOLLAR), q.cast_decimal(text.encode(), DOLLAR)
        if isinstance(a, Success):
            assert a == b, text
        else:
            assert (a.reason, a.offset) == (b.reason, len(text[: a.offset].encode())), text


# ---- doubles against repr ----------------------------------------------------


def _bits_to_doubles(words):
    return array.array("d", array.array("Q", words).tobytes()).tolist()


def _doubles(rng):
    """About 1.2 million doubles over the bit patterns that matter."""
    bits = rng.getrandbits
    # Exponents from well below 1e-28 to well above 2^96, every fraction.
    near = [(bits(1) << 63) | (rng.randint(1023 - 105, 1023 + 100) << 52) | bits(52) for _ in range(700_000)]
    # Any bit pattern: NaNs, infinities, subnormals, huge and tiny values.
    anywhere = [bits(64) for _ in range(200_000)]
    yield from _bits_to_doubles(near + anywhere)
    # Short decimals, as spreadsheets hold them.
    for _ in range(200_000):
        yield float(f"{rng.randint(0, 10 ** rng.randint(1, 17))}e{rng.randint(-32, 12)}")
    # Quarter steps above 2^50, where candidates tie.
    for _ in range(60_000):
        yield 2.0**50 + rng.randint(0, 2**50) + rng.choice((0.25, 0.75))
    # Powers of two (the narrow lower gap) and neighbours of powers of ten.
    for e in range(-100, 100):
        p = 2.0**e
        yield from (math.nextafter(p, 0), p, math.nextafter(p, math.inf))
    for k in range(-30, 30):
        p = float(f"1e{k}")
        yield from (math.nextafter(p, 0), p, math.nextafter(p, math.inf), -p)


def _tie_partner(x: float, shortest: Decimal) -> Decimal | None:
    """The other shortest candidate when x lies exactly half-way to it."""
    exponent = shortest.normalize(EXACT).as_tuple().exponent
    step = Decimal(1).scaleb(exponent)
    partner = EXACT.add(shortest, step.copy_sign(shortest))
    if Fraction(x) * 2 == Fraction(shortest) + Fraction(partner) and float(partner) == x:
        return partner
    return None


def test_digits_match_repr_on_random_doubles():
    cast = q.cast_decimal_from_float
    rng = random.Random(20240611)
    checked = ties = 0
    for x in _doubles(rng):
        checked += 1
        result = cast(x)
        if math.isnan(x):
            assert result == Fault(CastFailure.MALFORMED, 0, 0)
            continue
        if math.isinf(x):
            assert result == Fault(CastFailure.OUT_OF_RANGE, 0, 0)
            continue
        shortest = Decimal(repr(x))
        value = getattr(result, "value", None)
        if value is not None and value == shortest:
            continue
        if value is None and canonical(shortest) is None:
            assert result == Fault(CastFailure.OUT_OF_RANGE, 0, 0)
            continue
        # Otherwise only an exact tie may differ, resolved to the larger magnitude.
        partner = _tie_partner(x, shortest)
        assert partner is not None and abs(partner) > abs(shortest), (repr(x), result)
        expected = canonical(partner)
        if expected is None:
            assert result == Fault(CastFailure.OUT_OF_RANGE, 0, 0), repr(x)
        else:
            assert format(value, "f") == expected, (repr(x), value)
        ties += 1
    assert checked > 1_000_000
    assert ties > 10_000  # the tie family was reached


@pytest.mark.parametrize(
    "x, expected",
    [(0.1, "0.1"), (0.1 + 0.2, "0.30000000000000004"), (-2.5, "-2.5"), (100.0, "100"), (1e28, "1" + "0" * 28),
     (1e-28, "0.0000000000000000000000000001"), (-0.0, "0"), (1125899906842624.25, "1125899906842624.3"),
     (1125899906842624.75, "1125899906842624.8"), (5, "5")],
)
def test_named_doubles(x, expected):
    result = q.cast_decimal_from_float(x)
    assert format(result.value, "f") == expected


@pytest.mark.parametrize("x", [1e29, 2.0**96, 1e-29, 1.5e-28, 5e-324, -math.inf, math.inf])
def test_doubles_out_of_range(x):
    assert q.cast_decimal_from_float(x) == Fault(CastFailure.OUT_OF_RANGE, 0, 0)


def test_canonical_form_of_double_results():
    rng = random.Random(8)
    for x in _bits_to_doubles([(rng.randint(1023 - 95, 1023 + 95) << 52) | rng.getrandbits(52) for _ in range(20000)]):
        result = q.cast_decimal_from_float(x)
        if isinstance(result, Success):
            text = format(result.value, "f")
            assert "E" not in text and not (("." in text) and text.endswith("0")), text
            assert float(result.value) == x
