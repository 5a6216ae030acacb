"""Schema declarations: validation, immutability, equality, text forms and pickling."""

import copy
import pickle
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quillmere as q
from quillmere import Column, DateOrder, ExcelEpoch, NumFormat, Schema, UnixPrecision
from quillmere.schema import CAST_NAMES, _CASTS

GERMAN = NumFormat(",", ".", NumFormat.ALL, "€")


def test_declaration_forms_are_one_column():
    forms = [q.cast_i64, "i64", "cast_i64", (q.cast_i64,), (q.cast_i64, NumFormat.INVARIANT), Column("i64"),
             {"cast": "i64"}, (q.cast_i64, NumFormat(".", ",", 95))]
    columns = [Schema({"a": form})["a"] for form in forms]
    assert all(column == columns[0] for column in columns)
    assert Schema({"a": forms[-1]})["a"].notation is NumFormat.INVARIANT  # an equal format is the preset


@pytest.mark.parametrize("declaration, error, message", [
    ("i65", ValueError, "column 'a': unknown cast 'i65'"),
    (print, TypeError, "is not one of quillmere's scalar casts"),
    (3, TypeError, "a cast is a quillmere cast function or its name"),
    ((q.cast_i64, DateOrder.DMY), TypeError, "cast_i64 takes a NumFormat"),
    ((q.cast_date, UnixPrecision.SECONDS), TypeError, "cast_date takes a DateOrder"),
    ((q.cast_date, 9), ValueError, "order must be a DateOrder"),
    ((q.cast_date, "YDM"), ValueError, "'YDM' is not a DateOrder"),
    ((q.cast_bool, NumFormat.INVARIANT), TypeError, "cast_bool takes no notation"),
    ("unix", TypeError, "cast_unix needs a UnixPrecision"),
    ("datetime", TypeError, "cast_datetime needs a DateOrder"),
    ((q.cast_bool, None, 3), TypeError, "a tuple declaration is (cast, notation)"),
    ({"cast": "i64", "order": "DMY"}, ValueError, "unknown option 'order' for cast_i64"),
    ({"cast": "i64", "scale": 2}, ValueError, "unknown option 'scale'"),
    ({"fmt": "invariant"}, ValueError, "no cast declared"),
    ({"cast": "f64", "fmt": {"decimal_sep": ",", "flags": ["ALL", "LOUD"]}}, ValueError, "unknown NumFormat flag"),
    ({"cast": "f64", "fmt": {"decimal_sep": ","}}, ValueError, "separators must differ"),
])
def test_bad_declarations_name_the_column(declaration, error, message):
    with pytest.raises(error, match="(?i)" + re.escape(message)):
        Schema({"a": declaration})


@pytest.mark.parametrize("make, error, message", [
    (lambda: Column("i64", scale=2), ValueError, "cast_i64 takes no scale"),
    (lambda: Column("decimal", scale=39), ValueError, "scale must be 0 to 38"),
    (lambda: Column("decimal", scale=True), TypeError, "scale must be an int"),
    (lambda: Column("bool", unit="us"), ValueError, "cast_bool takes no unit"),
    (lambda: Column("time", unit="ms"), ValueError, "unit must be one of us, ns"),
    (lambda: Column("bool", nulls="NA"), TypeError, "nulls must be a sequence of str"),
    (lambda: Column("bool", nulls=[b"NA"]), TypeError, "a null token must be a str"),
    (lambda: Column("bool", nulls=["NA "]), ValueError, "surrounding whitespace"),
    (lambda: Schema({"a": "bool"}, unit="s"), ValueError, "unit must be one of"),
    (lambda: Schema({1: "bool"}), TypeError, "a column name must be a str"),
    (lambda: Schema([("a", "bool"), ("a", "i8")]), ValueError, "declared twice"),
    (lambda: Schema.from_dict({"columns": {}, "null": []}), ValueError, "unknown schema key 'null'"),
    (lambda: Schema.from_dict({"nulls": []}), ValueError, "needs a 'columns' table"),
])
def test_bad_options(make, error, message):
    with pytest.raises(error, match=re.escape(message)):
        make()


def test_notation_defaults_and_spellings():
    schema = Schema({"n": "decimal", "d": "date", "dmy": ("date", "dmy"), "o": ("datetime", 2),
                     "e": ("excel_serial", ExcelEpoch.EPOCH_1904), "p": ("unix", "MILLISECONDS"),
                     "detect": ("f64", "detect")})
    assert schema["n"].notation is NumFormat.INVARIANT and schema["d"].notation is None
    assert schema["dmy"].notation is DateOrder.DMY and schema["o"].notation is DateOrder.MDY
    assert schema["p"].notation is UnixPrecision.MILLISECONDS and schema["detect"].notation is NumFormat.DETECT


def test_nulls_inherit_and_replace():
    schema = Schema({"a": "bool", "b": Column("bool", nulls=["-"]), "c": Column("bool", nulls=[])},
                    nulls=["NA", "", "NA"])
    assert schema.nulls == ("NA", "")
    assert [schema.nulls_of(name) for name in "abc"] == [("NA", ""), ("-",), ()]
    assert [Schema({"t": "time", "u": Column("time", unit="us")}, unit="ns").unit_of(n) for n in "tu"] == ["ns", "us"]


def test_immutable_and_hashable():
    schema = Schema({"a": "bool"})
    for target, field in ((schema, "nulls"), (schema, "other"), (schema["a"], "cast")):
        with pytest.raises(AttributeError):
            setattr(target, field, None)
    with pytest.raises(TypeError):
        schema["b"] = Column("bool")  # type: ignore[index]
    assert len({schema, Schema({"a": q.cast_bool}), Schema({"a": "char"})}) == 2
    assert Schema({"a": "bool", "b": "char"}) == Schema({"b": "char", "a": "bool"})  # as dicts compare
    assert Schema({"a": "bool"}) != {"a": Column("bool")}


def test_toml_shape():
    schema = Schema({"id": q.cast_i64, "unit price": Column(q.cast_decimal, GERMAN, scale=2, nulls=["-"]),
                     "day": (q.cast_date, DateOrder.DMY)}, nulls=["NA"])
    assert schema.to_toml() == (
        'nulls = ["NA"]\n\n'
        '[columns.id]\ncast = "i64"\n\n'
        '[columns."unit price"]\ncast = "decimal"\n'
        'fmt = { decimal_sep = ",", group_sep = ".", flags = ["ALL"], currency = "€" }\n'
        'nulls = ["-"]\nscale = 2\n\n'
        '[columns.day]\ncast = "date"\norder = "DMY"\n')


def test_load_by_suffix(tmp_path):
    schema = Schema({"a": ("unix", UnixPrecision.SECONDS)}, unit="ns")
    (tmp_path / "s.toml").write_text(schema.to_toml(), encoding="utf-8")
    (tmp_path / "s.json").write_text(schema.to_json(), encoding="utf-8")
    assert Schema.load(tmp_path / "s.toml") == Schema.load(str(tmp_path / "s.json")) == schema


# Random schemas: every declaration survives the text forms, pickling and copying unchanged.

_ENUMS = {"order": DateOrder, "precision": UnixPrecision, "epoch": ExcelEpoch}
_names = st.text(st.characters(codec="utf-8", exclude_categories=("Cs",)), max_size=8)
_tokens = st.lists(_names.map(lambda t: t.strip("\t\n\f\r ")), max_size=3)
_formats = st.one_of(
    st.sampled_from([NumFormat.INVARIANT, NumFormat.DETECT, GERMAN]),
    st.builds(lambda flags, currency: NumFormat("'", "\u00a0", flags, currency),
              st.integers(0, 2**32 - 1), st.sampled_from(["", "$", "CHF", "€"])))


@st.composite
def _columns(draw):
    name = draw(st.sampled_from(CAST_NAMES))
    info = _CASTS[name]
    notation = None
    if info.notation == "fmt":
        notation = draw(_formats)
    elif info.notation:
        notation = draw(st.sampled_from(list(_ENUMS[info.notation])))
        if not info.required:
            notation = draw(st.sampled_from([notation, None]))
    return Column(draw(st.sampled_from([name, f"cast_{name}", getattr(q, f"cast_{name}")])), notation,
                  nulls=draw(st.none() | _tokens),
                  unit=draw(st.sampled_from([None, "us", "ns"])) if info.temporal else None,
                  scale=draw(st.none() | st.integers(0, 38)) if info.decimal else None)


_schemas = st.builds(lambda columns, nulls, unit: Schema(columns, nulls=nulls, unit=unit),
                     st.dictionaries(_names, _columns(), max_size=6), _tokens, st.sampled_from(["us", "ns"]))


@given(_schemas)
def test_round_trips(schema):
    same = [Schema.from_toml(schema.to_toml()), Schema.from_json(schema.to_json()), pickle.loads(pickle.dumps(schema)),
            copy.copy(schema), copy.deepcopy(schema), eval(repr(schema), vars(q))]
    for other in same:
        assert other == schema and hash(other) == hash(schema)
        assert list(other) == list(schema)
    for name in schema:
        notation = same[0][name].notation
        if schema[name].notation in (NumFormat.INVARIANT, NumFormat.DETECT):
            assert notation is schema[name].notation  # the presets come back as themselves
