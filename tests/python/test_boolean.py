"""cast_bool, and the calling sequence every cast shares."""

import pytest

import quillmere as q
from quillmere import CastFailure, Fault, Success

TRUE = ["1", "t", "y", "on", "in", "yes", "true", "active", "checked", "enabled"]
FALSE = ["0", "f", "n", "no", "out", "off", "false", "inactive", "disabled", "unchecked"]


@pytest.mark.parametrize("word, value", [(w, True) for w in TRUE] + [(w, False) for w in FALSE])
def test_lexicon(word, value):
    for text in (word, word.upper(), word.title(), f" \t{word}\n", word.encode()):
        result = q.cast_bool(text)
        assert result == Success(value) and result.value is value


@pytest.mark.parametrize(
    "text, offset, length",
    [("nope", 0, 4), ("  ye ", 2, 2), ("maybe", 0, 5), ("\v", 0, 1), (" nöpe ", 1, 4), (b" n\xc3\xb6pe ", 1, 5),
     ("é" * 20, 0, 20), (b"\xff", 0, 1)],
)
def test_malformed_spans_in_callers_units(text, offset, length):
    assert q.cast_bool(text) == Fault(CastFailure.MALFORMED, offset, length)


@pytest.mark.parametrize("text", ["", "   ", b"", " \t\n\r\f"])
def test_empty(text):
    assert q.cast_bool(text) == Fault(CastFailure.EMPTY, 0, 0)


def test_text_must_be_str_or_bytes():
    class MyStr(str):
        pass

    class MyBytes(bytes):
        pass

    assert q.cast_bool(MyStr("yes")).value is True
    assert q.cast_bool(MyBytes(b"no")).value is False
    for bad in (bytearray(b"yes"), memoryview(b"yes"), 1, None):
        with pytest.raises(TypeError, match="^argument 'text': must be str or bytes$"):
            q.cast_bool(bad)


def test_embedded_nul_is_passed_through():
    assert q.cast_bool("yes\0") == Fault(CastFailure.MALFORMED, 0, 4)


def test_lone_surrogate_is_malformed():
    assert q.cast_bool("y\ud800") == Fault(CastFailure.MALFORMED, 1, 1)


def test_argument_binding():
    assert q.cast_bool(text="on").value is True
    with pytest.raises(TypeError, match="missing required argument 'text'"):
        q.cast_bool()
    with pytest.raises(TypeError, match="at most 1 argument"):
        q.cast_bool("a", "b")
    with pytest.raises(TypeError, match="unexpected keyword argument 'txt'"):
        q.cast_bool(txt="on")
    with pytest.raises(TypeError, match="given by name"):
        q.cast_bool("on", text="on")
