"""NumFormat: construction checks, properties, packed form, presets, from_localeconv."""

import struct

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quillmere as q
from quillmere import NumFormat

EQUAL = 'Decimal and group separators must differ; both are "{}"'
CURRENCY = 'Currency symbol must be 1 to 16 UTF-8 bytes with no ASCII digit or whitespace; got "{}"'


def test_flag_constants_in_definition_order():
    names = [k for k in vars(NumFormat) if k.isupper()]
    assert names == ["GROUPING", "PARENTHESES", "EXPONENT", "RADIX_PREFIXES", "PERCENT", "CURRENCY", "ALL",
                     "SEPARATOR_DETECT", "INVARIANT", "DETECT"]
    values = [NumFormat.GROUPING, NumFormat.PARENTHESES, NumFormat.EXPONENT, NumFormat.RADIX_PREFIXES,
              NumFormat.PERCENT, NumFormat.CURRENCY, NumFormat.ALL, NumFormat.SEPARATOR_DETECT]
    assert values == [1, 2, 4, 8, 16, 64, 95, 32]
    assert all(type(v) is int for v in values)
    assert NumFormat.ALL is NumFormat.ALL and NumFormat.INVARIANT is NumFormat.INVARIANT


def test_presets():
    for preset, flags in ((NumFormat.INVARIANT, 95), (NumFormat.DETECT, 127)):
        assert (preset.decimal_sep, preset.group_sep, preset.flags, preset.currency) == (".", ",", flags, "")
    assert NumFormat.DETECT.packed == bytes.fromhex("2e000000" "2c000000" "7f000000") + bytes(20)
    assert repr(NumFormat.INVARIANT) == "NumFormat('.', ',', 95, '')"


def test_identity_equality_and_hash():
    same = NumFormat(".", ",", 95)
    assert same != NumFormat.INVARIANT and not (same == NumFormat.INVARIANT)
    assert same == same and hash(same) == hash(same)
    assert len({same, NumFormat(".", ",", 95)}) == 2


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((".", ".", 0), ValueError, EQUAL.format(".")),
        ((",", ",", 0, "1$"), ValueError, EQUAL.format(",")),  # separators are checked before the symbol
        (("", ",", 0), ValueError, "Separators must be single characters"),
        ((". ", ",", 0), ValueError, "Separators must be single characters"),
        ((".", ",,", 0), ValueError, "Separators must be single characters"),
        ((".", ",", 0, "1$"), ValueError, CURRENCY.format("1$")),
        ((".", ",", 0, "$ "), ValueError, CURRENCY.format("$ ")),
        ((".", ",", 0, "$" * 17), ValueError, CURRENCY.format("$" * 17)),
        ((".", ",", 0, "€" * 6), ValueError, CURRENCY.format("€" * 6)),  # 18 bytes
        ((".", ",", -1), OverflowError, "number too small to fit in target type"),
        ((".", ",", 2**32), OverflowError, "number too large to fit in target type"),
    ],
)
def test_constructor_refusals(args, error, message):
    with pytest.raises(error) as raised:
        NumFormat(*args)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "kwargs, argument",
    [
        (dict(decimal_sep=1, group_sep=",", flags=0), "decimal_sep"),
        (dict(decimal_sep=".", group_sep=b",", flags=0), "group_sep"),
        (dict(decimal_sep=".", group_sep=",", flags=1.0), "flags"),
        (dict(decimal_sep=".", group_sep=",", flags=0, currency=None), "currency"),
    ],
)
def test_constructor_type_errors_name_the_argument(kwargs, argument):
    with pytest.raises(TypeError, match=argument):
        NumFormat(**kwargs)


def test_constructor_order_of_checks():
    # A type error comes before any value check, in argument order.
    with pytest.raises(TypeError, match="group_sep"):
        NumFormat("..", 5, -1)
    with pytest.raises(OverflowError):
        NumFormat("..", ",", -1)
    with pytest.raises(UnicodeEncodeError):
        NumFormat("\ud800", ",", 0)


def test_accepted_formats_and_their_properties():
    fmt = NumFormat(",", ".", 3, "€")
    assert (fmt.decimal_sep, fmt.group_sep, fmt.flags, fmt.currency) == (",", ".", 3, "€")
    assert repr(fmt) == "NumFormat(',', '.', 3, '€')"
    assert NumFormat("\u00a0", ",", 0).decimal_sep == "\u00a0"
    assert NumFormat(".", "\U0010ffff", 0).group_sep == "\U0010ffff"
    assert NumFormat(".", ",", 0, "US$").currency == "US$"
    assert NumFormat(".", ",", 0, "\v").currency == "\v"  # 0x0B is not whitespace
    assert NumFormat(".", ",", 0, "$" * 16).currency == "$" * 16
    assert NumFormat(".", ",", 4294967295).flags == 4294967295
    assert NumFormat(decimal_sep=".", group_sep=",", flags=NumFormat.ALL, currency="").currency == ""
    for name in ("decimal_sep", "group_sep", "flags", "currency", "packed"):
        with pytest.raises(AttributeError):
            setattr(fmt, name, getattr(fmt, name))
    with pytest.raises(AttributeError):
        fmt.extra = 1
    with pytest.raises(TypeError):
        type("Sub", (NumFormat,), {})


@given(
    st.characters(exclude_categories=["Cs"]),
    st.characters(exclude_categories=["Cs"]),
    st.integers(0, 2**32 - 1),
    st.text(alphabet=st.characters(exclude_categories=["Cs"], exclude_characters="0123456789\t\n\f\r "),
            max_size=6),
)
def test_packed_form_and_repr_round_trip(decimal, group, flags, currency):
    encoded = currency.encode()
    if decimal == group or len(encoded) > 16:
        with pytest.raises(ValueError):
            NumFormat(decimal, group, flags, currency)
        return
    fmt = NumFormat(decimal, group, flags, currency)
    assert fmt.packed == struct.pack("<IIII", ord(decimal), ord(group), flags, len(encoded)) + encoded.ljust(16, b"\0")
    assert repr(fmt) == f"NumFormat({decimal!r}, {group!r}, {flags}, {currency!r})"
    assert (fmt.decimal_sep, fmt.group_sep, fmt.flags, fmt.currency) == (decimal, group, flags, currency)


@pytest.mark.parametrize(
    "conv, expected",
    [
        ({}, (".", ",", "")),
        ({"decimal_point": ",", "thousands_sep": ""}, (",", ".", "")),
        ({"decimal_point": "", "thousands_sep": "."}, (",", ".", "")),
        ({"decimal_point": "", "thousands_sep": "'"}, (".", "'", "")),
        ({"decimal_point": ".", "thousands_sep": ""}, (".", ",", "")),
        ({"decimal_point": "·"}, ("·", ",", "")),
        ({"decimal_point": ",", "thousands_sep": "\u202f", "currency_symbol": "€"}, (",", "\u202f", "€")),
        ({"decimal_point": ".,"}, (".", ",", "")),
        ({"decimal_point": "\0"}, ("\0", ",", "")),  # a one-character entry is that character
        ({"thousands_sep": "\0"}, (".", "\0", "")),
        ({"decimal_point": ".", "thousands_sep": ",", "currency_symbol": ""}, (".", ",", "")),
        ({"decimal_point": ".", "negative_sign": "\u2212", "mon_decimal_point": ","}, (".", ",", "")),
    ],
)
def test_from_localeconv(conv, expected):
    fmt = NumFormat.from_localeconv(conv)
    assert (fmt.decimal_sep, fmt.group_sep, fmt.currency) == expected
    assert fmt.flags == NumFormat.ALL
    assert NumFormat.INVARIANT.from_localeconv(conv).packed == fmt.packed  # also through an instance


def test_from_localeconv_reads_the_dict_itself():
    class Lookup(dict):
        def __getitem__(self, key):
            return ","

        def __missing__(self, key):
            return ","

    fmt = NumFormat.from_localeconv(Lookup(thousands_sep="'"))
    assert (fmt.decimal_sep, fmt.group_sep) == (".", "'")


@pytest.mark.parametrize(
    "conv, error, message",
    [
        ({"decimal_point": ".", "thousands_sep": "."}, ValueError, EQUAL.format(".")),
        ({"currency_symbol": "1$"}, ValueError, CURRENCY.format("1$")),
        ({"currency_symbol": "kr "}, ValueError, CURRENCY.format("kr ")),
    ],
)
def test_from_localeconv_refusals(conv, error, message):
    with pytest.raises(error) as raised:
        NumFormat.from_localeconv(conv)
    assert str(raised.value) == message


@pytest.mark.parametrize("entry", ["decimal_point", "thousands_sep", "currency_symbol"])
def test_from_localeconv_refuses_as_the_constructor_does(entry):
    conv = {"decimal_point": ".", "thousands_sep": ",", "currency_symbol": "", entry: "\ud800"}
    args = (conv["decimal_point"], conv["thousands_sep"], NumFormat.ALL, conv["currency_symbol"])
    with pytest.raises(UnicodeEncodeError) as constructor:
        NumFormat(*args)
    with pytest.raises(UnicodeEncodeError) as bridged:
        NumFormat.from_localeconv(conv)
    assert str(bridged.value) == str(constructor.value)


@pytest.mark.parametrize("conv", [{"decimal_point": 1}, {"thousands_sep": b","}, {"currency_symbol": None}])
def test_from_localeconv_entries_must_be_str(conv):
    with pytest.raises(TypeError):
        NumFormat.from_localeconv(conv)


def test_from_localeconv_wants_a_mapping():
    with pytest.raises(TypeError, match="conv"):
        NumFormat.from_localeconv([])
    from collections import UserDict
    from types import MappingProxyType

    for conv in (MappingProxyType({"decimal_point": ","}), UserDict(decimal_point=",")):
        assert NumFormat.from_localeconv(conv).packed == NumFormat(",", ".", NumFormat.ALL).packed


def test_from_localeconv_of_the_c_locale(run_fresh):
    lines = run_fresh(
        """
        import locale
        locale.setlocale(locale.LC_ALL, "C")
        import quillmere as q
        for fmt in (q.NumFormat.from_localeconv(), q.NumFormat.from_localeconv(None)):
            print(repr(fmt))
        """
    )
    assert lines == ["NumFormat('.', ',', 95, '')"] * 2


def test_docstrings():
    assert NumFormat.__text_signature__ == '(decimal_sep, group_sep, flags, currency="")'
    assert NumFormat.__doc__ == (
        "Caller-declared numeric notation, held pre-resolved as the core's `NumFormat` so the\n"
        "hot path pays zero conversion."
    )
    assert NumFormat.decimal_sep.__doc__ == "The declared decimal separator."
    assert NumFormat.group_sep.__doc__ == "The declared digit-group separator."
    assert NumFormat.flags.__doc__ == "The bitwise OR of the lenience flags."
    assert NumFormat.currency.__doc__ == 'The declared currency symbol — ``""`` when none is declared.'
    assert NumFormat.from_localeconv.__text_signature__ == "(conv=None)"
    assert NumFormat.from_localeconv.__doc__.startswith("Bridges ``locale.localeconv()``")


def test_formats_drive_the_casts():
    assert q.cast_i32("1.234.567", NumFormat(",", ".", NumFormat.ALL)).value == 1234567
    assert q.cast_i32("-€ 5", NumFormat(".", ",", NumFormat.ALL, "€")).value == -5
    assert q.cast_i32("1,234", NumFormat(".", ",", 0)) == q.Fault(q.CastFailure.MALFORMED, 1, 1)
