"""cast_char and cast_uuid, against chr/int and uuid.UUID as oracles."""

import random
import uuid

import pytest
from hypothesis import given, strategies as st

import quillmere as q
from quillmere import CastFailure, Fault, Success

MALFORMED, OUT_OF_RANGE, EMPTY = CastFailure.MALFORMED, CastFailure.OUT_OF_RANGE, CastFailure.EMPTY

SURROGATES = range(0xD800, 0xE000)

# Each notation as (prefix, base, suffix), with the prefix's other letter case.
NOTATIONS = [
    ("", 10, ""), ("U+", 16, ""), ("u+", 16, ""), ("0x", 16, ""), ("0X", 16, ""),
    ("&H", 16, ""), ("&h", 16, ""), ("&#", 10, ";"), ("&#x", 16, ";"), ("&#X", 16, ";"),
]


def declared(cp, notation, zeros="", upper=False):
    prefix, base, suffix = notation
    digits = str(cp) if base == 10 else f"{cp:X}" if upper else f"{cp:x}"
    text = prefix + zeros + digits + suffix
    return "0" + text if len(text) == 1 else text  # one digit alone is itself a character


def test_every_scalar_verbatim():
    cast = q.cast_char
    for cp in range(0x110000):
        if cp in SURROGATES:
            continue
        c = chr(cp)
        assert cast(c).value == c, hex(cp)


def test_every_code_point_through_a_notation():
    # Every code point once, the notation turning with the value, plus every
    # notation for the edges of the surrogate block and of the code space.
    cast = q.cast_char
    out_of_range = CastFailure.OUT_OF_RANGE
    for cp in range(0x110000):
        text = declared(cp, NOTATIONS[cp % len(NOTATIONS)], "0" * (cp % 3), upper=cp & 1)
        result = cast(text)
        if cp in SURROGATES:
            assert result == Fault(out_of_range, 0, len(text)), text
        else:
            assert result.value == chr(cp), text
    for notation in NOTATIONS:
        for cp in (0, 0xD7FF, 0xE000, 0x10FFFF):
            assert cast(declared(cp, notation)).value == chr(cp)
        for cp in (0xD800, 0xDFFF, 0x110000, 2**32 - 1, 2**32 + 0x41, 2**64 + 0x41):
            text = declared(cp, notation)
            assert cast(text) == Fault(out_of_range, 0, len(text)), text


@given(
    st.sampled_from(NOTATIONS),
    st.text(alphabet="0123456789abcdefABCDEF", min_size=1, max_size=14),
    st.sampled_from(["", " ", "\t\n", "\r"]),
)
def test_declared_digits_against_int(notation, digits, pad):
    prefix, base, suffix = notation
    if base == 10:
        digits = "".join(d for d in digits if d.isdigit()) or "0"
    text = prefix + digits + suffix
    value = int(digits, base)
    result = q.cast_char(pad + text + pad)
    if len(pad + text + pad) == 1:
        assert result.value == text
    elif value > 0x10FFFF or value in SURROGATES:
        assert result == Fault(OUT_OF_RANGE, len(pad), len(text))
    else:
        assert result.value == chr(value)


@pytest.mark.parametrize(
    "text, reason, offset, length",
    [
        (" A ", MALFORMED, 1, 1),
        ("&#65", MALFORMED, 0, 4),
        ("&#65;x", MALFORMED, 5, 1),
        ("&+41", MALFORMED, 1, 1),
        ("0x", MALFORMED, 0, 2),
        ("  éA", MALFORMED, 2, 1),        # core (2, 2): one character
        ("U+é", MALFORMED, 2, 1),
        ("&#6€;", MALFORMED, 3, 1),       # core (3, 3)
        ("&#65;😀", MALFORMED, 5, 1),     # core (5, 4)
        ("€€", MALFORMED, 0, 1),
        ("\u00a0A", MALFORMED, 0, 1),     # no-break space is not trimmed
        (" U+110000 ", OUT_OF_RANGE, 1, 8),
        ("&#xDFFF;", OUT_OF_RANGE, 0, 8),
        ("99999999999", OUT_OF_RANGE, 0, 11),
        ("    ", EMPTY, 0, 0),
        ("", EMPTY, 0, 0),
    ],
)
def test_char_faults_in_code_points(text, reason, offset, length):
    assert q.cast_char(text) == Fault(reason, offset, length)


def test_char_faults_in_bytes_and_edge_values():
    assert q.cast_char(b"  \xc3\xa9A") == Fault(MALFORMED, 2, 2)
    assert q.cast_char(b"\xed\xa0\x80") == Fault(MALFORMED, 0, 3)
    assert q.cast_char(b"\xff") == Fault(MALFORMED, 0, 1)
    assert q.cast_char(b"\xf4\x8f\xbf\xbf").value == "\U0010ffff"
    assert q.cast_char("U+10FFFF").value == "\U0010ffff"
    assert q.cast_char("\0").value == "\0"
    assert q.cast_char("7").value == "7" and q.cast_char(" 7 ").value == "\x07"
    assert type(q.cast_char("A").value) is str
    assert q.cast_char("\ud800") == Fault(MALFORMED, 0, 1)


def uuid_forms(u: uuid.UUID, rng: random.Random):
    """Every layout of one value, in random letter case, some with a prefix."""
    h = "".join(c.upper() if rng.random() < 0.5 else c for c in u.hex)
    hy = f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"
    b = u.bytes

    def field(chunk):
        digits = chunk.hex().lstrip("0") or "0"
        digits = "0" * rng.randint(0, 2 * len(chunk) - len(digits)) + digits
        return rng.choice(["0x", "0X"]) + digits

    structure = "{%s,%s,%s,{%s}}" % (field(b[0:4]), field(b[4:6]), field(b[6:8]), ",".join(field(b[i:i + 1]) for i in range(8, 16)))
    forms = [h, hy, "{" + hy + "}", "(" + hy + ")", structure]
    prefix = rng.choice(["", "urn:uuid:", "URN:UUID:", "guid:", "Guid: ", "uuid:", "UUID:\t"])
    return forms + [prefix + f for f in forms]


def test_every_layout_of_random_values_against_uuid():
    rng = random.Random(4122)
    values = [uuid.UUID(int=0), uuid.UUID(int=2**128 - 1)] + [uuid.UUID(int=rng.getrandbits(128)) for _ in range(2000)]
    for u in values:
        for text in uuid_forms(u, rng):
            for given_text in (text, text.encode()):
                v = q.cast_uuid(given_text).value
                assert type(v) is uuid.UUID
                assert v == u and v.int == u.int and hash(v) == hash(u) and str(v) == str(u), text
                assert v.is_safe is uuid.SafeUUID.unknown
        # The forms uuid.UUID itself reads name the same value.
        hy = str(u)
        for text in (u.hex, hy, "{" + hy + "}", "urn:uuid:" + hy):
            assert q.cast_uuid(text).value == uuid.UUID(text)


@given(st.integers(min_value=0, max_value=2**128 - 1))
def test_hyphenated_value_equals_uuid(n):
    text = str(uuid.UUID(int=n))
    v = q.cast_uuid(text).value
    assert v == uuid.UUID(text) and v.is_safe is uuid.SafeUUID.unknown
    assert v.bytes == uuid.UUID(int=n).bytes and v.version == uuid.UUID(int=n).version


@pytest.mark.parametrize(
    "text, offset, length",
    [
        ("{00112233-4455-6677-8899-aabbccddeeff)", 37, 1),
        ("00112233_4455-6677-8899-aabbccddeeff", 8, 1),
        ("0011223g-4455-6677-8899-aabbccddeeff", 7, 1),
        ("urn:uuid:", 0, 9),
        ("uuid", 0, 4),
        ("00112233-4455-6677-8899-aabbccddeeé", 34, 1),                  # core (34, 2)
        ("{0011223é-4455-6677-8899-aabbccddeeff)", 0, 38),              # core (0, 39)
        ("guid: é", 6, 1),
        ("{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0xb}}é", 47, 1),
        ("{0x1,0x2,0x3,{0x4,0x5,0x6,0x7,0x8,0x9,0xa,0x100}}", 46, 1),
    ],
)
def test_uuid_faults_in_code_points(text, offset, length):
    assert q.cast_uuid(text) == Fault(MALFORMED, offset, length)


def test_uuid_faults_in_bytes_and_empty():
    assert q.cast_uuid("00112233-4455-6677-8899-aabbccddeeé".encode()) == Fault(MALFORMED, 34, 2)
    assert q.cast_uuid(b"{0011223\xc3\xa9-4455-6677-8899-aabbccddeeff)") == Fault(MALFORMED, 0, 39)
    assert q.cast_uuid(" \t") == Fault(EMPTY, 0, 0)
    assert q.cast_uuid(b"") == Fault(EMPTY, 0, 0)
    assert q.cast_uuid("00000000-0000-0000-0000-000000000001") == Success(uuid.UUID(int=1))
