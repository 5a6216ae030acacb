"""Success and Fault as value classes."""

import types

import pytest
from hypothesis import given, strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, Success


def test_success_equality_follows_the_values():
    assert Success(1) == Success(1)
    assert Success(1) == Success(1.0)
    assert not (Success(1) == 1)
    assert Success(1) != 1
    assert Success(1) != Success(2)
    assert not (Success(1) != Success(1))
    assert Success([1]) == Success([1])


def test_fault_compares_spans_before_reasons():
    class Loud:
        def __eq__(self, other):
            raise AssertionError("reasons compared")

    assert not (Fault(Loud(), 3, 1) == Fault(Loud(), 3, 2))
    assert Fault("x", 3, 1) == Fault("x", 3, 1)
    assert Fault("x", 3, 1) != Fault("y", 3, 1)
    assert not (Fault("x", 0, 0) == Success("x"))


def test_exceptions_from_held_objects_propagate():
    class Bad:
        def __eq__(self, other):
            raise ValueError("eq")

        def __repr__(self):
            raise ValueError("repr")

    with pytest.raises(ValueError, match="eq"):
        Success(Bad()) == Success(Bad())
    with pytest.raises(ValueError, match="eq"):
        Success(Bad()) != Success(Bad())
    with pytest.raises(ValueError, match="repr"):
        repr(Fault(Bad(), 0, 0))


def test_no_ordering_and_no_hash():
    with pytest.raises(TypeError):
        Success(1) < Success(2)
    with pytest.raises(TypeError):
        Fault("x", 0, 0) >= Fault("x", 0, 0)
    with pytest.raises(TypeError):
        hash(Success(1))
    with pytest.raises(TypeError):
        hash(Fault("x", 0, 0))


@pytest.mark.parametrize(
    "offset, length, error, message",
    [
        (-1, 0, OverflowError, "number too small to fit in target type"),
        (0, 4294967296, OverflowError, "number too large to fit in target type"),
        (0, -(2**70), OverflowError, "number too small to fit in target type"),
        ("1", 0, TypeError, "argument 'offset'"),
        (0, 1.5, TypeError, "argument 'length'"),
    ],
)
def test_fault_span_checks(offset, length, error, message):
    with pytest.raises(error, match=message):
        Fault("x", offset, length)


def test_fault_span_accepts_any_index():
    assert Fault("x", 4294967295, 0).offset == 4294967295
    f = Fault(reason=CastFailure.EMPTY, offset=CastFailure.MALFORMED, length=True)
    assert (f.offset, f.length) == (2, 1) and type(f.offset) is int


def test_repr():
    assert repr(Success("a")) == "Success(value='a')"
    assert repr(Fault("x", 3, 1)) == "Fault(reason='x', offset=3, length=1)"
    assert repr(Fault(CastFailure.MALFORMED, 0, 4)) == "Fault(reason=<CastFailure.MALFORMED: 2>, offset=0, length=4)"


def test_pattern_matching():
    match Fault(CastFailure.EMPTY, 0, 0):
        case Fault(reason, offset, length):
            assert (reason, offset, length) == (CastFailure.EMPTY, 0, 0)
    match Success(5):
        case Success(v):
            assert v == 5
    assert Success.__match_args__ == ("value",)
    assert Fault.__match_args__ == ("reason", "offset", "length")


def test_generic_alias():
    alias = Success[int]
    assert isinstance(alias, types.GenericAlias)
    assert alias.__origin__ is Success and alias.__args__ == (int,)
    with pytest.raises(TypeError):
        Fault[int]


def test_immutable():
    s, f = Success(1), Fault("x", 1, 2)
    for obj, attr in ((s, "value"), (f, "reason"), (f, "offset"), (f, "length"), (s, "other")):
        with pytest.raises(AttributeError):
            setattr(obj, attr, 0)


def test_constructor_arguments():
    assert Success(value=3).value == 3
    with pytest.raises(TypeError):
        Success()
    with pytest.raises(TypeError):
        Fault("x", 1)
    with pytest.raises(TypeError):
        Success(1, bogus=2)


# --- Spans of str input are in code points -------------------------------------------


TEXT_CASTS = [
    q.cast_bool, q.cast_char, q.cast_uuid, q.cast_date, q.cast_time, q.cast_timestamp, q.cast_duration,
    lambda t: q.cast_i32(t, q.NumFormat.INVARIANT), lambda t: q.cast_f64(t, q.NumFormat.DETECT),
    lambda t: q.cast_decimal(t, q.NumFormat("é", "\u202f", q.NumFormat.ALL, "€")),
    lambda t: q.cast_datetime(t, q.DateOrder.DMY), lambda t: q.cast_unix(t, 1),
]


def expected_code_point_span(text: str, offset: int, length: int) -> tuple[int, int]:
    """The byte span of the UTF-8 form as whole characters of the str."""
    starts = []  # byte offset where each character starts
    position = 0
    for ch in text:
        starts.append(position)
        position += len(ch.encode())
    n = position
    start, end = min(offset, n), min(n, min(offset, n) + length)
    first = sum(1 for s in starts if s < start) - (0 if start in starts or start == n else 1)
    last = sum(1 for s in starts if s < end)
    return first, max(last - first, 0)


@given(st.text(alphabet=st.sampled_from(list("0123456789-:.,TPZ+ é€😀xU{}()") + ["\u202f"]), max_size=40))
def test_str_spans_are_the_byte_spans_in_characters(text):
    for cast in TEXT_CASTS:
        as_str, as_bytes = cast(text), cast(text.encode())
        assert type(as_str) is type(as_bytes)
        if isinstance(as_bytes, Fault):
            assert as_str.reason is as_bytes.reason
            assert (as_str.offset, as_str.length) == expected_code_point_span(text, as_bytes.offset, as_bytes.length)
            # The characters sliced out hold every offending byte.
            before = len(text[: as_str.offset].encode())
            covered = len(text[as_str.offset : as_str.offset + as_str.length].encode())
            assert before <= as_bytes.offset and as_bytes.offset + as_bytes.length <= before + covered or as_bytes.length == 0


@pytest.mark.parametrize(
    "text, offset, length",
    [
        # Rules that name a fixed byte widen to the whole character holding it.
        ("0011223€455-6677-8899-aabbccddeeff", 7, 1),
        ("{" + "0" * 35 + "é", 36, 1),
        # What the core already spans as one character keeps its size.
        ("é12x", 0, 1),
        ("12é", 2, 1),
    ],
)
def test_str_span_examples(text, offset, length):
    cast = q.cast_uuid if len(text) > 10 else (lambda t: q.cast_i32(t, q.NumFormat.INVARIANT))
    fault = cast(text)
    assert isinstance(fault, Fault) and (fault.offset, fault.length) == (offset, length)
    assert text[offset : offset + length]
