"""A declared schema: which cast, under which notation, for each column of a table.

>>> from quillmere import NumFormat, Schema, cast_decimal, cast_i64, cast_timestamp
>>> schema = Schema({
...     "id": cast_i64,
...     "price": (cast_decimal, NumFormat(",", ".", NumFormat.ALL)),
...     "booked": cast_timestamp,
... }, nulls=["NA"])
>>> Schema.from_toml(schema.to_toml()) == schema
True

A schema is immutable, validated when it is built, compares by content and pickles, so
it can be declared once and shipped to workers. ``schema.cast(table)`` casts a whole
pyarrow, polars or pandas table (see :meth:`Schema.cast`).
"""

from __future__ import annotations

import json
import operator
from enum import IntEnum
from collections.abc import Iterable, Iterator, Mapping
from pathlib import Path
from typing import Any, Callable, Literal, NamedTuple, Union

from . import _native
from ._native import NumFormat
from . import DateOrder, ExcelEpoch, UnixPrecision

from ._tables import TableCast

__all__ = ["Column", "Schema", "TableCast", "CAST_NAMES", "TEMPORAL_UNITS"]


class _Cast(NamedTuple):
    """What the table layer needs to know about one scalar cast."""

    notation: str | None   # the scalar function's notation parameter: fmt, order, precision, epoch
    required: bool         # the notation has no default
    reads: str             # "text", or "float" for the casts from a double
    temporal: bool         # the value is temporal and takes a unit
    decimal: bool          # the value is a decimal and takes a scale


def _casts() -> dict[str, _Cast]:
    text, number = "text", "float"
    table = {name: _Cast(None, False, text, False, False) for name in ("bool", "char", "uuid")}
    for name in ("i8", "i16", "i32", "i64", "u8", "u16", "u32", "u64", "f32", "f64"):
        table[name] = _Cast("fmt", False, text, False, False)
    table["decimal"] = _Cast("fmt", False, text, False, True)
    table["timestamp"] = _Cast(None, False, text, True, False)
    table["unix"] = _Cast("precision", True, text, True, False)
    table["excel_serial"] = _Cast("epoch", True, text, True, False)
    table["date"] = _Cast("order", False, text, False, False)
    table["datetime"] = _Cast("order", True, text, True, False)
    table["time"] = _Cast(None, False, text, True, False)
    table["duration"] = _Cast(None, False, text, True, False)
    table["decimal_from_float"] = _Cast(None, False, number, False, True)
    table["excel_serial_from_float"] = _Cast("epoch", True, number, True, False)
    table["excel_time"] = _Cast(None, False, number, True, False)
    table["excel_duration"] = _Cast(None, False, number, True, False)
    return table


_CASTS = _casts()
CAST_NAMES: tuple[str, ...] = tuple(_CASTS)
"""The casts a column can declare, by their short names (``"i64"`` for ``cast_i64``)."""

TEMPORAL_UNITS: tuple[str, ...] = ("us", "ns")
"""Units of the temporal value columns: microseconds (every year 1–9999 fits) or nanoseconds."""

_ENUMS: dict[str, type] = {"order": DateOrder, "precision": UnixPrecision, "epoch": ExcelEpoch}
_ENUM_MESSAGES = {"order": "order must be a DateOrder", "precision": "precision must be a UnixPrecision",
                  "epoch": "epoch must be an ExcelEpoch"}
_FLAG_NAMES = ("GROUPING", "PARENTHESES", "EXPONENT", "RADIX_PREFIXES", "PERCENT", "CURRENCY", "SEPARATOR_DETECT")
_WHITESPACE = "\t\n\f\r "   # what every cast trims, and so what a null token is matched after
_UNSET: Any = object()

Notation = Union[NumFormat, DateOrder, UnixPrecision, ExcelEpoch, int, str, None]
ColumnDeclaration = Union["Column", Callable[..., Any], str, "tuple[Any, ...]"]


def _at(where: str) -> str:
    """The prefix that says which column an error is about."""
    return f"{where}: " if where else ""


def _cast_name(cast: object, where: str = "") -> str:
    """The short name of a cast given as a scalar function, its name, or its short name."""
    if callable(cast):
        name = getattr(cast, "__name__", "")
        if name.startswith("cast_") and getattr(_native, name, None) is cast:
            return name[5:]
        raise TypeError(f"{_at(where)}{cast!r} is not one of quillmere's scalar casts")
    if not isinstance(cast, str):
        raise TypeError(f"{_at(where)}a cast is a quillmere cast function or its name, not {type(cast).__name__}")
    name = cast[5:] if cast.startswith("cast_") else cast
    if name not in _CASTS:
        raise ValueError(f"{_at(where)}unknown cast {cast!r}; the casts are: {', '.join(CAST_NAMES)}")
    return name


def _same_format(a: NumFormat, b: NumFormat) -> bool:
    return a is b or a.packed == b.packed


def _num_format(decimal_sep: str, group_sep: str, flags: int, currency: str) -> NumFormat:
    """A format from its fields; the two presets come back as themselves."""
    made = NumFormat(decimal_sep, group_sep, flags, currency)
    for preset in (NumFormat.INVARIANT, NumFormat.DETECT):
        if _same_format(made, preset):
            return preset
    return made


def _notation(name: str, kind: str | None, value: object, where: str) -> Any:
    """Checks a declared notation against what the cast takes; returns it in canonical form."""
    cast = f"cast_{name}"
    if kind is None:
        if value is not None:
            raise TypeError(f"{_at(where)}{cast} takes no notation, got {value!r}")
        return None
    if kind == "fmt":
        if value is None:
            return NumFormat.INVARIANT
        if isinstance(value, str) and value.upper() in ("INVARIANT", "DETECT"):
            return getattr(NumFormat, value.upper())
        if isinstance(value, Mapping):
            return _format_from_dict(value, where)
        if not isinstance(value, NumFormat):
            raise TypeError(f"{_at(where)}{cast} takes a NumFormat, not {value!r}")
        return _num_format(value.decimal_sep, value.group_sep, value.flags, value.currency)
    enum = _ENUMS[kind]
    if value is None:
        if _CASTS[name].required:
            raise TypeError(f"{_at(where)}{cast} needs a {enum.__name__}")
        return None
    if isinstance(value, str):
        try:
            return enum[value.upper()]
        except KeyError:
            members = ", ".join(enum.__members__)
            raise ValueError(f"{_at(where)}{value!r} is not a {enum.__name__} ({members})") from None
    if isinstance(value, enum):
        return value
    if isinstance(value, (IntEnum, NumFormat, bool)) or not hasattr(value, "__index__"):
        raise TypeError(f"{_at(where)}{cast} takes a {enum.__name__}, not {value!r}")
    try:
        return enum(operator.index(value))
    except ValueError:
        raise ValueError(f"{_at(where)}{_ENUM_MESSAGES[kind]}") from None


def _nulls(value: object, where: str) -> tuple[str, ...]:
    if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
        raise TypeError(f"{_at(where)}nulls must be a sequence of str, not {value!r}")
    tokens: list[str] = []
    for token in value:
        if not isinstance(token, str):
            raise TypeError(f"{_at(where)}a null token must be a str, not {token!r}")
        if token != token.strip(_WHITESPACE):
            # Cells are trimmed before they are matched, so this token could never match.
            raise ValueError(f"{_at(where)}null token {token!r} has surrounding whitespace and would never match")
        if token not in tokens:
            tokens.append(token)
    return tuple(tokens)


class Column:
    """One column's declaration: the cast, its notation and per-column options.

    ``Column(cast, notation=None, *, nulls=None, unit=None, scale=None)``

    - ``cast``: a scalar cast (``quillmere.cast_decimal``), its name (``"cast_decimal"``)
      or its short name (``"decimal"``).
    - ``notation``: what the scalar cast takes beside the text: a ``NumFormat`` for the
      numeric casts (default ``NumFormat.INVARIANT``), a ``DateOrder`` (``cast_date``:
      default the strict ISO form; ``cast_datetime``: required), a ``UnixPrecision``
      (required) or an ``ExcelEpoch`` (required). Enumerations may be given by member,
      value or name (``"DMY"``).
    - ``nulls``: texts meaning a missing value in this column, matched after trimming;
      replaces the schema-wide list (``()`` declares none). ``None`` inherits it.
    - ``unit``: ``"us"`` or ``"ns"`` for temporal values; ``None`` inherits the schema's.
    - ``scale``: the decimal128(38, scale) scale of a decimal column; ``None`` takes the
      smallest scale that holds every value of the column exactly.
    """

    __slots__ = ("cast", "notation", "nulls", "unit", "scale")
    cast: str
    notation: Any
    nulls: tuple[str, ...] | None
    unit: str | None
    scale: int | None

    def __init__(self, cast: Callable[..., Any] | str, notation: Notation = None, *,
                 nulls: Iterable[str] | None = None, unit: str | None = None, scale: int | None = None,
                 _where: str = "") -> None:
        name = _cast_name(cast, _where)
        info = _CASTS[name]
        where = _where
        fixed_notation = _notation(name, info.notation, notation, where)
        if unit is not None:
            if not info.temporal:
                raise ValueError(f"{_at(where)}cast_{name} takes no unit (only the temporal casts do)")
            if unit not in TEMPORAL_UNITS:
                raise ValueError(f"{_at(where)}unit must be one of {', '.join(TEMPORAL_UNITS)}, not {unit!r}")
        if scale is not None:
            if not info.decimal:
                raise ValueError(f"{_at(where)}cast_{name} takes no scale (only the decimal casts do)")
            if isinstance(scale, bool) or not isinstance(scale, int):
                raise TypeError(f"{_at(where)}scale must be an int, not {scale!r}")
            if not 0 <= scale <= 38:
                raise ValueError(f"{_at(where)}scale must be 0 to 38 (decimal128(38, scale)), not {scale}")
        set_field = object.__setattr__
        set_field(self, "cast", name)
        set_field(self, "notation", fixed_notation)
        set_field(self, "nulls", None if nulls is None else _nulls(nulls, where))
        set_field(self, "unit", unit)
        set_field(self, "scale", scale)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Column is immutable; cannot set {name!r}")

    __delattr__ = __setattr__  # type: ignore[assignment]

    @property
    def reads(self) -> Literal["text", "float"]:
        """What the column must hold: ``"text"`` (strings or binary), or ``"float"`` for the casts from a double."""
        return _CASTS[self.cast].reads  # type: ignore[return-value]

    def _key(self) -> tuple:
        notation = self.notation.packed if isinstance(self.notation, NumFormat) else self.notation
        return (self.cast, notation, self.nulls, self.unit, self.scale)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Column):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self) -> int:
        return hash(self._key())

    def __repr__(self) -> str:
        parts = [f"cast_{self.cast}"]
        notation = self.notation
        if notation is NumFormat.DETECT:
            parts.append("NumFormat.DETECT")
        elif isinstance(notation, IntEnum):
            parts.append(f"{type(notation).__name__}.{notation.name}")
        elif notation is not None and notation is not NumFormat.INVARIANT:
            parts.append(repr(notation))
        for field in ("nulls", "unit", "scale"):
            value = getattr(self, field)
            if value is not None:
                parts.append(f"{field}={value!r}")
        return f"Column({', '.join(parts)})"

    def __reduce__(self) -> tuple[Callable[[dict[str, Any]], Column], tuple[dict[str, Any]]]:
        return (_column_from_dict, (self.to_dict(),))

    def to_dict(self) -> dict[str, Any]:
        """The column as plain data (the form of the text forms): ``{"cast": "decimal", "fmt": {...}, ...}``."""
        out: dict[str, Any] = {"cast": self.cast}
        kind = _CASTS[self.cast].notation
        if kind == "fmt":
            if self.notation is not NumFormat.INVARIANT:
                out["fmt"] = _format_to_dict(self.notation)
        elif kind is not None and self.notation is not None:
            out[kind] = self.notation.name
        for field in ("nulls", "unit", "scale"):
            value = getattr(self, field)
            if value is not None:
                out[field] = list(value) if field == "nulls" else value
        return out

    @classmethod
    def from_dict(cls, data: Mapping[str, Any], *, _where: str = "") -> Column:
        """The inverse of :meth:`to_dict`; unknown keys are an error."""
        where = _where
        if not isinstance(data, Mapping):
            raise TypeError(f"{_at(where)}a column is a table of options, not {data!r}")
        if "cast" not in data:
            raise ValueError(f"{_at(where)}no cast declared")
        name = _cast_name(data["cast"], where)
        info = _CASTS[name]
        kind = info.notation
        allowed = {"cast", "nulls", *([kind] if kind else []), *(["unit"] if info.temporal else []),
                   *(["scale"] if info.decimal else [])}
        unknown = sorted(set(data) - allowed)
        if unknown:
            raise ValueError(f"{_at(where)}unknown option {', '.join(map(repr, unknown))} for cast_{name} "
                             f"(it takes {', '.join(sorted(allowed))})")
        return cls(name, data.get(kind) if kind else None, nulls=data.get("nulls"), unit=data.get("unit"),
                   scale=data.get("scale"), _where=_where)


def _column_from_dict(data: Mapping[str, Any]) -> Column:
    return Column.from_dict(data)


def _format_to_dict(fmt: NumFormat) -> dict[str, Any] | str:
    if fmt is NumFormat.DETECT:
        return "detect"
    flags: Any = fmt.flags
    if not flags & ~127:
        names = [n for n in _FLAG_NAMES if flags & getattr(NumFormat, n)]
        if flags & NumFormat.ALL == NumFormat.ALL:
            names = ["ALL"] + (["SEPARATOR_DETECT"] if flags & NumFormat.SEPARATOR_DETECT else [])
        flags = names
    out: dict[str, Any] = {"decimal_sep": fmt.decimal_sep, "group_sep": fmt.group_sep, "flags": flags}
    if fmt.currency:
        out["currency"] = fmt.currency
    return out


def _format_from_dict(data: Mapping[str, Any], where: str) -> NumFormat:
    unknown = sorted(set(data) - {"decimal_sep", "group_sep", "flags", "currency"})
    if unknown:
        raise ValueError(f"{_at(where)}unknown NumFormat field {', '.join(map(repr, unknown))}")
    flags: Any = data.get("flags", NumFormat.ALL)
    if isinstance(flags, list):
        bits = 0
        for flag in flags:
            if flag not in (*_FLAG_NAMES, "ALL"):
                raise ValueError(f"{_at(where)}unknown NumFormat flag {flag!r}")
            bits |= getattr(NumFormat, flag)
        flags = bits
    try:
        return _num_format(data.get("decimal_sep", "."), data.get("group_sep", ","), flags, data.get("currency", ""))
    except (TypeError, ValueError, OverflowError) as error:
        raise type(error)(f"{_at(where)}{error}") from None


def _column(declaration: object, where: str) -> Column:
    if isinstance(declaration, Column):
        return declaration
    if isinstance(declaration, tuple):
        if not 1 <= len(declaration) <= 2:
            raise TypeError(f"{_at(where)}a tuple declaration is (cast, notation), not {declaration!r}")
        return Column(*declaration, _where=where)
    if isinstance(declaration, Mapping):
        return Column.from_dict(declaration, _where=where)
    return Column(declaration, _where=where)  # type: ignore[arg-type]


class Schema(Mapping[str, Column]):
    """Which cast each column of a table takes: immutable, validated, picklable.

    ``Schema(columns, *, nulls=(), unit="us")``

    ``columns`` maps each column name to a declaration: a scalar cast function
    (``cast_i64``) or its name (``"i64"``, ``"cast_i64"``); a ``(cast, notation)``
    pair (``(cast_date, DateOrder.DMY)``); or a :class:`Column` for per-column
    options. ``nulls`` are texts that mean a missing value in every column (matched
    after trimming whitespace; none by default, so a blank cell stays an ``EMPTY``
    fault); ``unit`` is the temporal unit, ``"us"`` or ``"ns"``.

    A schema is a read-only mapping from names to :class:`Column`; it compares by
    content, hashes, pickles, and round-trips through :meth:`to_toml` /
    :meth:`from_toml` and :meth:`to_json` / :meth:`from_json`.
    """

    __slots__ = ("_columns", "nulls", "unit")
    _columns: dict[str, Column]
    nulls: tuple[str, ...]
    unit: str

    def __init__(self, columns: Mapping[str, ColumnDeclaration] | Iterable[tuple[str, ColumnDeclaration]], *,
                 nulls: Iterable[str] = (), unit: str = "us") -> None:
        if isinstance(columns, Schema):
            columns = columns._columns
        items = columns.items() if isinstance(columns, Mapping) else columns
        declared: dict[str, Column] = {}
        for item in items:
            if not (isinstance(item, tuple) and len(item) == 2):
                raise TypeError(f"columns must be a mapping of names to casts, not {columns!r}")
            name, declaration = item
            if not isinstance(name, str):
                raise TypeError(f"a column name must be a str, not {name!r}")
            if name in declared:
                raise ValueError(f"column {name!r} is declared twice")
            declared[name] = _column(declaration, f"column {name!r}")
        if unit not in TEMPORAL_UNITS:
            raise ValueError(f"unit must be one of {', '.join(TEMPORAL_UNITS)}, not {unit!r}")
        set_field = object.__setattr__
        set_field(self, "_columns", declared)
        set_field(self, "nulls", _nulls(nulls, "schema"))
        set_field(self, "unit", unit)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Schema is immutable; cannot set {name!r}")

    __delattr__ = __setattr__  # type: ignore[assignment]

    # Mapping of names to columns, in declaration order.
    def __getitem__(self, name: str) -> Column:
        return self._columns[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._columns)

    def __len__(self) -> int:
        return len(self._columns)

    def __contains__(self, name: object) -> bool:
        return name in self._columns

    def nulls_of(self, name: str) -> tuple[str, ...]:
        """The null tokens in force for a column: its own, or the schema-wide ones."""
        own = self._columns[name].nulls
        return self.nulls if own is None else own

    def unit_of(self, name: str) -> str:
        """The temporal unit in force for a column: its own, or the schema's."""
        return self._columns[name].unit or self.unit

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Schema):
            return NotImplemented
        return (self._columns, self.nulls, self.unit) == (other._columns, other.nulls, other.unit)

    def __hash__(self) -> int:
        return hash((tuple(self._columns.items()), self.nulls, self.unit))

    def __repr__(self) -> str:
        columns = ", ".join(f"{name!r}: {column!r}" for name, column in self._columns.items())
        options = "".join([f", nulls={self.nulls!r}" if self.nulls else "",
                           f", unit={self.unit!r}" if self.unit != "us" else ""])
        return f"Schema({{{columns}}}{options})"

    def __reduce__(self) -> tuple[Callable[[dict[str, Any]], Schema], tuple[dict[str, Any]]]:
        return (_schema_from_dict, (self.to_dict(),))

    # Text forms.
    def to_dict(self) -> dict[str, Any]:
        """The schema as plain data: ``{"nulls": [...], "unit": "us", "columns": {name: column dict}}``."""
        out: dict[str, Any] = {}
        if self.nulls:
            out["nulls"] = list(self.nulls)
        if self.unit != "us":
            out["unit"] = self.unit
        out["columns"] = {name: column.to_dict() for name, column in self._columns.items()}
        return out

    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> Schema:
        """The inverse of :meth:`to_dict`; unknown keys are an error, so a misspelt option is caught."""
        if not isinstance(data, Mapping):
            raise TypeError(f"a schema is a table with a 'columns' table, not {type(data).__name__}")
        unknown = sorted(set(data) - {"nulls", "unit", "columns"})
        if unknown:
            raise ValueError(f"unknown schema key {', '.join(map(repr, unknown))} (expected columns, nulls, unit)")
        columns = data.get("columns")
        if not isinstance(columns, Mapping):
            raise ValueError("a schema needs a 'columns' table naming each column's cast")
        declared = {name: Column.from_dict(declaration, _where=f"column {name!r}") for name, declaration in columns.items()}
        return cls(declared, nulls=data.get("nulls", ()), unit=data.get("unit", "us"))

    def to_json(self, *, indent: int | None = 2) -> str:
        """The schema as JSON (the shape of :meth:`to_dict`)."""
        return json.dumps(self.to_dict(), indent=indent, ensure_ascii=False)

    @classmethod
    def from_json(cls, text: str | bytes) -> Schema:
        return cls.from_dict(json.loads(text))

    def to_toml(self) -> str:
        """The schema as TOML: top-level ``nulls`` and ``unit``, then one ``[columns.NAME]`` table per column.

        ::

            nulls = ["NA"]

            [columns.price]
            cast = "decimal"
            fmt = { decimal_sep = ",", group_sep = ".", flags = ["ALL"] }
            scale = 2
        """
        data = self.to_dict()
        lines = [f"{key} = {_toml_value(data[key])}" for key in ("nulls", "unit") if key in data]
        for name, column in data["columns"].items():
            if lines:
                lines.append("")
            lines.append(f"[columns.{_toml_key(name)}]")
            lines.extend(f"{key} = {_toml_value(value)}" for key, value in column.items())
        if not data["columns"]:
            lines.append("[columns]")
        return "\n".join(lines) + "\n"

    @classmethod
    def from_toml(cls, text: str) -> Schema:
        try:
            import tomllib
        except ModuleNotFoundError:  # Python 3.10
            try:
                import tomli as tomllib  # type: ignore[no-redef]
            except ModuleNotFoundError:
                raise ModuleNotFoundError("reading TOML on Python 3.10 needs tomli: pip install tomli") from None
        return cls.from_dict(tomllib.loads(text))

    @classmethod
    def load(cls, path: str | Path) -> Schema:
        """Reads a schema file: TOML, or JSON when the name ends in ``.json``."""
        path = Path(path)
        text = path.read_text(encoding="utf-8")
        return cls.from_json(text) if path.suffix.lower() == ".json" else cls.from_toml(text)

    def cast(self, table: Any, *, others: Literal["keep", "drop"] = "keep", text: bool = False,
             spans: Literal["bytes", "code_points"] | None = None, row_base: int = 0,
             threads: int | None = None) -> TableCast:
        """Casts every declared column of a table; returns ``TableCast(table, faults)``.

        ``table`` is a pyarrow ``Table`` or ``RecordBatch``, a polars ``DataFrame``, a pandas
        ``DataFrame``, or anything with ``__arrow_c_stream__``. The typed table comes back in
        the caller's library (polars for polars, pandas with Arrow-backed dtypes for pandas,
        pyarrow otherwise), in the same row order, with each declared column replaced by its
        values (null where the cell was null, a null token, or a fault). Columns the schema
        does not name pass through untouched, or are left out with ``others="drop"``.

        ``faults`` is one table for all columns, in the same library, ordered by row and then
        by the column's position: ``row`` (int64, from ``row_base``), ``column`` (the name),
        ``reason`` (uint8: 1 ``EMPTY``, 2 ``MALFORMED``, 3 ``OUT_OF_RANGE``, as ``CastFailure``),
        ``offset`` and ``length`` (uint32: code points of a string cell, bytes of a binary
        cell; ``spans="bytes"`` or ``"code_points"`` chooses one unit for every cell), and with
        ``text=True`` ``text``, the offending text.
        Bad cells never raise.

        Raises before any work when the schema names a column the table lacks (``KeyError``)
        or a column's type cannot be read by its cast (``TypeError`` naming both).

        Threads: the columns, and pieces of long columns, are cast on ``threads`` threads
        (default: the number of CPUs, and never more than there are pieces); each cast loop
        runs with the interpreter lock released. ``threads=1`` casts in the calling thread.
        Needs pyarrow.
        """
        from ._tables import cast_table

        return cast_table(self, table, others=others, text=text, spans=spans, row_base=row_base, threads=threads)


def _schema_from_dict(data: Mapping[str, Any]) -> Schema:
    return Schema.from_dict(data)


def _toml_string(text: str) -> str:
    # A JSON string is a TOML basic string once DEL, which JSON leaves bare, is escaped.
    return json.dumps(text, ensure_ascii=False).replace("\x7f", "\\u007f")


def _toml_key(key: str) -> str:
    bare = key and all(c.isascii() and (c.isalnum() or c in "-_") for c in key)
    return key if bare else _toml_string(key)


def _toml_value(value: object) -> str:
    if isinstance(value, str):
        return _toml_string(value)
    if isinstance(value, bool) or not isinstance(value, (int, list, dict)):
        raise TypeError(f"no TOML form for {value!r}")
    if isinstance(value, int):
        return str(value)
    if isinstance(value, list):
        return "[" + ", ".join(_toml_value(item) for item in value) + "]"
    return "{ " + ", ".join(f"{_toml_key(k)} = {_toml_value(v)}" for k, v in value.items()) + " }"
