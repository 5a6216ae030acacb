"""The integer casts against Python's own int(), across widths and formats."""

import pytest
from hypothesis import assume, example, given
from hypothesis import strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, NumFormat, Success

CASTS = {
    "cast_i8": (-(2**7), 2**7 - 1, 8),
    "cast_i16": (-(2**15), 2**15 - 1, 16),
    "cast_i32": (-(2**31), 2**31 - 1, 32),
    "cast_i64": (-(2**63), 2**63 - 1, 64),
    "cast_u8": (0, 2**8 - 1, 8),
    "cast_u16": (0, 2**16 - 1, 16),
    "cast_u32": (0, 2**32 - 1, 32),
    "cast_u64": (0, 2**64 - 1, 64),
}
INVARIANT = NumFormat.INVARIANT
WHITESPACE = " \t\n\r\f"  # exactly what the casts trim


def whole_text(text):
    """The span of the trimmed text, in the caller's units."""
    stripped = text.strip(WHITESPACE if isinstance(text, str) else WHITESPACE.encode())
    start = len(text) - len(text.lstrip(WHITESPACE if isinstance(text, str) else WHITESPACE.encode()))
    return start, len(stripped)


def expected_for(name, value, text):
    low, high, _ = CASTS[name]
    if low <= value <= high:
        return Success(value)
    return Fault(CastFailure.OUT_OF_RANGE, *whole_text(text))


def cast(name, text, fmt=INVARIANT):
    return getattr(q, name)(text, fmt)


# Separators a caller may declare; none is a digit, a sign or an "e", so
# grouped text means the same thing under every one of them.
SEPARATORS = [",", ".", "'", " ", "_", "\u00a0", "\u202f", "\u066b", "\u2019", "·"]


@st.composite
def formats(draw):
    decimal, group = draw(st.lists(st.sampled_from(SEPARATORS), min_size=2, max_size=2, unique=True))
    flags = draw(st.sampled_from([NumFormat.ALL, NumFormat.GROUPING, NumFormat.GROUPING | NumFormat.PARENTHESES]))
    return NumFormat(decimal, group, flags)


def grouped(digits, group, cuts):
    """Digits with the group separator at the given inner positions."""
    out = []
    for i, d in enumerate(digits):
        if i in cuts:
            out.append(group)
        out.append(d)
    return "".join(out)


@given(st.integers(-(2**70), 2**70), st.booleans(), st.sampled_from(["", "0", "000"]), st.sampled_from(["", " ", "\t\n "]))
@example(2**63, False, "", "")
@example(-(2**63) - 1, False, "", "")
@example(2**64, False, "", "")
def test_plain_digits_match_int(value, plus, zeros, space):
    sign = "-" if value < 0 else "+" if plus else ""
    text = f"{space}{sign}{zeros}{abs(value)}{space}"
    value = int(text)
    for name in CASTS:
        assert cast(name, text) == expected_for(name, value, text)
        assert cast(name, text.encode()) == expected_for(name, value, text.encode())


@given(st.text(alphabet="0123456789+- \t", max_size=25))
def test_sign_digit_and_space_texts_fault_exactly_where_int_refuses(text):
    try:
        value = int(text)
    except ValueError:
        value = None
    for name in ("cast_i64", "cast_u64", "cast_i8"):
        result = cast(name, text)
        if value is None:
            assert isinstance(result, Fault) and result.reason in (CastFailure.EMPTY, CastFailure.MALFORMED)
            if result.reason is CastFailure.EMPTY:
                assert text.strip(WHITESPACE) == "" and (result.offset, result.length) == (0, 0)
        else:
            assert result == expected_for(name, value, text)


@given(st.integers(-(2**66), 2**66), formats(), st.data())
def test_grouped_digits_match_int(value, fmt, data):
    digits = str(abs(value))
    cuts = data.draw(st.sets(st.integers(1, max(1, len(digits) - 1))) if len(digits) > 1 else st.just(set()))
    body = grouped(digits, fmt.group_sep, cuts)
    if value < 0:
        text = data.draw(st.sampled_from([f"-{body}", f"({body})", f"( {body} )"]))
        if text.startswith("(") and not fmt.flags & NumFormat.PARENTHESES:
            text = f"-{body}"
    else:
        text = body
    value = int(digits) * (-1 if value < 0 else 1)
    for name in CASTS:
        assert cast(name, text, fmt) == expected_for(name, value, text)


@given(st.integers(0, 2**72), st.sampled_from(["0x", "0X", "&h", "&H", "0b", "0B"]), st.booleans(), st.integers(0, 3))
@example(0xFF, "0x", False, 0)
@example(0x80, "0x", True, 0)
@example(2**64 - 1, "&H", True, 2)
def test_radix_forms_match_int_base_16_and_2(value, prefix, upper, zeros):
    binary = prefix[1] in "bB"
    digits = "0" * zeros + (format(value, "b") if binary else format(value, "X" if upper else "x"))
    text = prefix + digits
    assert int(digits, 2 if binary else 16) == value
    for name, (low, _, width) in CASTS.items():
        result = cast(name, text)
        if value >= 2**width:
            assert result == Fault(CastFailure.OUT_OF_RANGE, 0, len(text))
        elif low < 0 and value >= 2 ** (width - 1):
            assert result == Success(value - 2**width)  # two's complement
        else:
            assert result == Success(value)


def byte_span_to_code_points(encoded, offset, length):
    """The front end's conversion: count the bytes that start a character."""
    start = min(offset, len(encoded))
    end = min(len(encoded), start + length)
    lead = lambda chunk: sum(1 for b in chunk if not 0x80 <= b <= 0xBF)  # noqa: E731
    return lead(encoded[:start]), lead(encoded[start:end])


@given(st.text(alphabet="0129,.-+()$€é\u00a0 x%e", max_size=14), formats())
@example("é12x", INVARIANT)
@example("12é", INVARIANT)
def test_str_spans_are_the_byte_spans_in_code_points(text, fmt):
    for name in ("cast_i32", "cast_u8"):
        from_str = cast(name, text, fmt)
        from_bytes = cast(name, text.encode(), fmt)
        if isinstance(from_bytes, Success):
            assert from_str == from_bytes
            continue
        offset, length = byte_span_to_code_points(text.encode(), from_bytes.offset, from_bytes.length)
        assert from_str == Fault(from_bytes.reason, offset, length)
        assert from_str.offset + from_str.length <= len(text)
        if from_bytes.reason is CastFailure.MALFORMED:
            assert from_str.length >= 1


@pytest.mark.parametrize(
    "text, fmt, expected",
    [
        ("12x", INVARIANT, Fault(CastFailure.MALFORMED, 2, 1)),
        (b"12x", INVARIANT, Fault(CastFailure.MALFORMED, 2, 1)),
        ("é12x", INVARIANT, Fault(CastFailure.MALFORMED, 0, 1)),
        ("12é", INVARIANT, Fault(CastFailure.MALFORMED, 2, 1)),
        (b"12\xc3\xa9", INVARIANT, Fault(CastFailure.MALFORMED, 2, 2)),
        ("1é2x", NumFormat(".", "é", NumFormat.ALL), Fault(CastFailure.MALFORMED, 3, 1)),
        ("1\u00a0000", NumFormat(".", "\u00a0", NumFormat.ALL), Success(1000)),
        ("€ -5", NumFormat(".", ",", NumFormat.ALL, "€"), Success(-5)),
        ("€", NumFormat(".", ",", NumFormat.ALL, "€"), Fault(CastFailure.MALFORMED, 0, 1)),
        (" (1\u202f000 €) ", NumFormat(",", "\u202f", NumFormat.ALL, "€"), Success(-1000)),
        ("1,234", NumFormat.DETECT, Fault(CastFailure.MALFORMED, 1, 1)),
        ("1.234.567", NumFormat.DETECT, Success(1234567)),
        ("1e3", INVARIANT, Success(1000)),
        ("12e-1", INVARIANT, Fault(CastFailure.MALFORMED, 3, 1)),
        ("0x1" + "f" * 40 + "z", INVARIANT, Fault(CastFailure.MALFORMED, 43, 1)),
        ("9" * 41, INVARIANT, Fault(CastFailure.OUT_OF_RANGE, 0, 41)),
        ("", INVARIANT, Fault(CastFailure.EMPTY, 0, 0)),
    ],
)
def test_cases(text, fmt, expected):
    assert q.cast_i32(text, fmt) == expected


def test_unsigned_64_bit_values_are_exact():
    assert q.cast_u64("18446744073709551615", INVARIANT).value == 18446744073709551615
    assert q.cast_u64("0xFFFFFFFFFFFFFFFF", INVARIANT).value == 2**64 - 1
    assert q.cast_i64("-9223372036854775808", INVARIANT).value == -(2**63)


def test_argument_errors():
    with pytest.raises(TypeError, match="must be str or bytes"):
        q.cast_i32(bytearray(b"1"), INVARIANT)
    with pytest.raises(TypeError, match="fmt"):
        q.cast_i32("1", None)
    assert q.cast_i32("1\ud800", INVARIANT) == Fault(CastFailure.MALFORMED, 1, 1)  # bad data, not misuse
