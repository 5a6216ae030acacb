"""Casts over whole columns, with every bad cell explained.

Each function here is the column form of the scalar cast of the same name in
:mod:`quillmere`: it takes a column of text (anything exposing the Arrow
PyCapsule interface — a pyarrow ``Array``/``ChunkedArray``, a polars
``Series``, a pandas ``Series``, a DuckDB result of one column, nanoarrow —
or a Python sequence of ``str``/``bytes``/``None``; numbers and ``None`` for
the casts from a float), casts every cell with the
interpreter lock released, and returns a :class:`ColumnResult`:

- ``values``: the typed Arrow array, null where the input was null or the
  cell is a fault;
- ``faults``: a record batch with one row per faulty cell, in row order:
  ``row`` (int64), ``reason`` (uint8: 1 ``EMPTY``, 2 ``MALFORMED``,
  3 ``OUT_OF_RANGE``), ``offset`` and ``length`` (uint32) of the offending
  span — code points for ``str``/utf8 cells, so ``text[offset:offset +
  length]`` is the offending text, bytes for ``bytes``/binary cells;
- ``fault_columns()``: the same faults as three nullable columns aligned with
  the rows;
- ``fault_count``.

Every verdict is the scalar cast's verdict for that cell. Null cells stay null
and are not faults; an empty or blank cell is ``EMPTY``, unless it is one of
the declared ``nulls`` tokens (compared after trimming the whitespace the
casts trim). Chunked input gives chunked output, one chunk per input chunk.
The layer starts no threads: cast several columns from several threads to
use several cores.

Value types: integers as int8..uint64, reals as float32/float64, booleans as
bool, characters as utf8, UUIDs as ``fixed_size_binary(16)`` with the
``arrow.uuid`` extension, decimals as ``decimal128(38, scale)`` (``scale``
declared, or by default the smallest that holds every success exactly; a
success that does not fit is ``OUT_OF_RANGE``, never rounded), dates as
date32, times of day as time64, date-times as timestamps without zone,
instants (timestamps, Unix epochs, Excel serial text) as timestamps with zone
``"UTC"``, durations as duration. Temporal values are in microseconds
(``unit="us"``, truncated as the scalar casts truncate) or nanoseconds
(``unit="ns"``, where a value outside 1677-09-21..2262-04-11 or ±292 years
is ``OUT_OF_RANGE``).

A sequence may mix ``str`` and ``bytes`` cells: each cell's span is in its own
units, exactly as the scalar cast of that cell reports it.

>>> import quillmere as q
>>> from quillmere import columns
>>> r = columns.cast_i64(["12", "x", None], q.NumFormat.INVARIANT)
>>> r.fault_count
1
"""

from __future__ import annotations

import operator
from collections.abc import Iterable, Mapping
from typing import Any, Callable, Final, Literal, Optional, Protocol, Sequence, TypeVar, Union, final

from . import _native
from ._native import NumFormat

__all__ = [
    "ColumnResult",
    "Column",
    "ChunkedColumn",
    "cast_bool",
    "cast_char",
    "cast_i8",
    "cast_i16",
    "cast_i32",
    "cast_i64",
    "cast_u8",
    "cast_u16",
    "cast_u32",
    "cast_u64",
    "cast_f32",
    "cast_f64",
    "cast_decimal",
    "cast_uuid",
    "cast_timestamp",
    "cast_unix",
    "cast_excel_serial",
    "cast_date",
    "cast_datetime",
    "cast_time",
    "cast_duration",
    "cast_decimal_from_float",
    "cast_excel_serial_from_float",
    "cast_excel_time",
    "cast_excel_duration",
]

Unit = Literal["us", "ns"]
Spans = Optional[Literal["bytes", "code_points"]]
Nulls = Optional[Sequence[Union[str, bytes]]]

_SPANS: Final = {None: 0, "bytes": 1, "code_points": 2}
_UNITS: Final = {"us": False, "ns": True}
_INFERRED_SCALE: Final = -1


# --- Arrow containers ---


def _import_pyarrow() -> Any:
    try:
        import pyarrow
    except ImportError as error:  # pragma: no cover - depends on the environment
        raise ImportError("this conversion needs pyarrow (pip install pyarrow)") from error
    return pyarrow


class _ArrowBase:
    """What a column and a chunked column share: the Arrow export and conversions."""

    __slots__ = ("_data",)

    _data: _native._ArrowData

    def __arrow_c_schema__(self) -> object:
        """The Arrow type as an ``"arrow_schema"`` capsule."""
        return self._data.__arrow_c_schema__()

    def __arrow_c_stream__(self, requested_schema: object = None) -> object:
        """The chunks as an ``"arrow_array_stream"`` capsule; each call exports afresh."""
        return self._data.__arrow_c_stream__(requested_schema)

    @property
    def format(self) -> str:
        """The Arrow format string of the type (``"l"``, ``"tsu:UTC"``, ``"+s"`` ...)."""
        return self._data.format

    @property
    def null_count(self) -> int:
        """How many cells are null."""
        return self._data.null_count

    def __len__(self) -> int:
        return sum(self._data.chunk_lengths)

    def __reduce__(self) -> tuple[Callable[[str, bytes], _ArrowBase], tuple[str, bytes]]:
        return (_restore, (type(self).__name__, self._data.to_bytes()))

    def __copy__(self) -> _ArrowBase:
        return self  # immutable

    def __deepcopy__(self, memo: dict[int, object]) -> _ArrowBase:
        return self

    def to_pandas(self) -> Any:
        """A pandas ``Series`` (a ``DataFrame`` for a table); needs pyarrow and pandas."""
        return self.to_pyarrow().to_pandas()

    def to_pylist(self) -> list[object]:
        """The cells as Python objects; needs pyarrow."""
        return self.to_pyarrow().to_pylist()

    def __repr__(self) -> str:
        return f"<quillmere.columns.{type(self).__name__} {self.format!r} of {len(self)} rows>"

    def to_pyarrow(self) -> Any:  # pragma: no cover - overridden
        """The pyarrow form of the data."""
        raise NotImplementedError


@final
class Column(_ArrowBase):
    """One Arrow array (a record batch when it is a table), exported without a copy.

    ``pyarrow.array(column)``, ``polars.Series(column)``, ``pyarrow.record_batch(table)``
    and DuckDB read it through the Arrow PyCapsule interface; each call exports afresh.
    """

    __slots__ = ()

    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]:
        """The array as ``"arrow_schema"`` and ``"arrow_array"`` capsules; each call exports afresh."""
        return self._data.__arrow_c_array__(requested_schema)

    def to_pyarrow(self) -> Any:
        """A pyarrow ``Array`` (a ``RecordBatch`` for a table)."""
        pa = _import_pyarrow()
        return pa.record_batch(self) if self.format == "+s" else pa.array(self)


@final
class ChunkedColumn(_ArrowBase):
    """Arrow chunks of one type (a table of batches when it is a table), exported as a stream."""

    __slots__ = ()

    @property
    def chunks(self) -> tuple[Column, ...]:
        """Each chunk as a :class:`Column`, sharing its buffers."""
        return tuple(_wrap(Column, self._data.chunk(i)) for i in range(len(self._data.chunk_lengths)))

    def to_pyarrow(self) -> Any:
        """A pyarrow ``ChunkedArray`` (a ``Table`` for a table)."""
        pa = _import_pyarrow()
        return pa.table(self) if self.format == "+s" else pa.chunked_array(self)


_Wrapped = TypeVar("_Wrapped", bound=_ArrowBase)


def _wrap(cls: type[_Wrapped], data: _native._ArrowData) -> _Wrapped:
    obj = object.__new__(cls)
    obj._data = data
    return obj


def _restore(kind: str, data: bytes) -> _ArrowBase:
    cls = {"Column": Column, "ChunkedColumn": ChunkedColumn}[kind]
    return _wrap(cls, _native._arrow_data_from_bytes(data))


@final
class ColumnResult:
    """What a column cast returns: the typed values and every fault.

    Immutable; pickles and copies without pyarrow, so results cross process
    boundaries.
    """

    __slots__ = ("_values", "_faults", "_fault_count", "_row_base")

    def __init__(self, values: Column | ChunkedColumn, faults: Column | ChunkedColumn, fault_count: int,
                 row_base: int = 0) -> None:
        self._values = values
        self._faults = faults
        self._fault_count = fault_count
        self._row_base = row_base

    @property
    def values(self) -> Column | ChunkedColumn:
        """The typed values: valid where the input was valid and the cast succeeded."""
        return self._values

    @property
    def faults(self) -> Column | ChunkedColumn:
        """One row per faulty cell: ``row``, ``reason``, ``offset``, ``length``."""
        return self._faults

    @property
    def fault_count(self) -> int:
        """How many cells are faults."""
        return self._fault_count

    @property
    def row_base(self) -> int:
        """The row number of the first cell, as declared."""
        return self._row_base

    def fault_columns(self) -> Column | ChunkedColumn:
        """The faults aligned with the rows: a struct of nullable ``reason``, ``offset``,
        ``length``, set on faulty rows only, chunked as the values are."""
        data = _native._fault_columns(self._faults._data, self._values._data.chunk_lengths, self._row_base)
        return _wrap(type(self._values), data)

    def to_pyarrow(self) -> Any:
        """The values as a pyarrow ``Array`` or ``ChunkedArray``."""
        return self._values.to_pyarrow()

    def to_pandas(self) -> Any:
        """The values as a pandas ``Series``."""
        return self._values.to_pandas()

    def __len__(self) -> int:
        return len(self._values)

    def __repr__(self) -> str:
        return (f"<quillmere.columns.ColumnResult {self._values.format!r} of {len(self)} rows, "
                f"{self._fault_count} faults>")

    def __reduce__(self) -> tuple[type[ColumnResult], tuple[Column | ChunkedColumn, Column | ChunkedColumn, int, int]]:
        return (ColumnResult, (self._values, self._faults, self._fault_count, self._row_base))

    def __copy__(self) -> ColumnResult:
        return self

    def __deepcopy__(self, memo: dict[int, object]) -> ColumnResult:
        return self


# --- sources and arguments ---


def _is_pandas_object_series(column: object) -> bool:
    return type(column).__module__.startswith("pandas") and str(getattr(column, "dtype", "")) == "object"


def _source(column: object) -> tuple[int, object]:
    cls = type(column)
    if isinstance(column, (str, bytes, bytearray)):
        raise TypeError(f"column must be a column of cells, not one {cls.__name__}")
    if _is_pandas_object_series(column):
        # Cheaper than its Arrow export, which would convert through pyarrow first.
        return 2, column.to_numpy(dtype=object, na_value=None)  # type: ignore[attr-defined]
    if hasattr(cls, "__arrow_c_array__"):
        return 0, column.__arrow_c_array__()  # type: ignore[attr-defined]
    if hasattr(cls, "__arrow_c_stream__"):
        return 1, column.__arrow_c_stream__()  # type: ignore[attr-defined]
    if isinstance(column, Iterable) and not isinstance(column, Mapping):
        return 2, column
    raise TypeError(
        f"column must expose __arrow_c_array__ or __arrow_c_stream__ (pyarrow, polars, pandas, DuckDB, "
        f"nanoarrow) or be a sequence of str, bytes and None, not {cls.__name__}"
    )


def _notation(value: object, name: str, enum_name: str, high: int) -> int:
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"argument '{name}': '{type(value).__name__}' object cannot be interpreted as an integer") from None
    if not 1 <= number <= high:
        raise ValueError(f"{name} must be a {enum_name}")
    return number


def _unit(unit: str) -> bool:
    try:
        return _UNITS[unit]
    except (KeyError, TypeError):
        raise ValueError(f"unit must be 'us' or 'ns', not {unit!r}") from None


def _scale(scale: int | None) -> int:
    if scale is None:
        return _INFERRED_SCALE
    number = operator.index(scale)
    if not 0 <= number <= 38:
        raise ValueError(f"scale must be between 0 and 38, not {number}")
    return number


def _run(target: int, column: object, *, notation: int = 0, fmt: NumFormat | None = None, nanoseconds: bool = False,
         scale: int = _INFERRED_SCALE, spans: Spans = None, row_base: int = 0, nulls: Nulls = ()) -> ColumnResult:
    try:
        span_code = _SPANS[spans]
    except (KeyError, TypeError):
        raise ValueError(f"spans must be None, 'bytes' or 'code_points', not {spans!r}") from None
    if nulls is None:
        nulls = ()
    elif isinstance(nulls, (str, bytes)):
        raise TypeError("nulls must be a sequence of tokens, not one token")
    row_base = operator.index(row_base)
    kind, source = _source(column)
    values, faults, fault_count, chunked = _native._cast_column(
        target, kind, source, notation, fmt, nanoseconds, scale, span_code, row_base, nulls)
    cls = ChunkedColumn if chunked else Column
    return ColumnResult(_wrap(cls, values), _wrap(cls, faults), fault_count, row_base)


def _format(fmt: object) -> NumFormat:
    if not isinstance(fmt, NumFormat):
        raise TypeError(f"argument 'fmt' must be NumFormat, not {type(fmt).__name__}")
    return fmt


# --- the casts (targets numbered as the native layer numbers them) ---

_BOOL, _CHAR, _UUID = 0, 1, 2
_I8, _I16, _I32, _I64, _U8, _U16, _U32, _U64, _F32, _F64, _DECIMAL = range(3, 14)
_DATE, _TIME, _DATETIME, _TIMESTAMP, _DURATION, _UNIX, _EXCEL_SERIAL = range(14, 21)
_DECIMAL_FROM_F64, _EXCEL_SERIAL_FROM_F64, _EXCEL_TIME, _EXCEL_DURATION = range(21, 25)


def cast_bool(column: object, *, spans: Spans = None, row_base: int = 0, nulls: Nulls = ()) -> ColumnResult:
    """Casts boolean text to a bool column."""
    return _run(_BOOL, column, spans=spans, row_base=row_base, nulls=nulls)


def cast_char(column: object, *, spans: Spans = None, row_base: int = 0, nulls: Nulls = ()) -> ColumnResult:
    """Casts one character per cell to a utf8 column of one-character strings."""
    return _run(_CHAR, column, spans=spans, row_base=row_base, nulls=nulls)


def cast_uuid(column: object, *, spans: Spans = None, row_base: int = 0, nulls: Nulls = ()) -> ColumnResult:
    """Casts UUID text to ``fixed_size_binary(16)`` with the ``arrow.uuid`` extension."""
    return _run(_UUID, column, spans=spans, row_base=row_base, nulls=nulls)


class _NumericCast(Protocol):
    def __call__(self, column: object, fmt: NumFormat, *, spans: Spans = None, row_base: int = 0,
                 nulls: Nulls = ()) -> ColumnResult: ...


def _numeric(target: int, name: str, doc: str) -> _NumericCast:
    def cast(column: object, fmt: NumFormat, *, spans: Spans = None, row_base: int = 0,
             nulls: Nulls = ()) -> ColumnResult:
        return _run(target, column, fmt=_format(fmt), spans=spans, row_base=row_base, nulls=nulls)

    cast.__name__ = cast.__qualname__ = name
    cast.__doc__ = doc
    return cast


cast_i8: Final = _numeric(_I8, "cast_i8", "Casts integer text under the declared format to an int8 column.")
cast_i16: Final = _numeric(_I16, "cast_i16", "Casts integer text under the declared format to an int16 column.")
cast_i32: Final = _numeric(_I32, "cast_i32", "Casts integer text under the declared format to an int32 column.")
cast_i64: Final = _numeric(_I64, "cast_i64", "Casts integer text under the declared format to an int64 column.")
cast_u8: Final = _numeric(_U8, "cast_u8", "Casts integer text under the declared format to a uint8 column.")
cast_u16: Final = _numeric(_U16, "cast_u16", "Casts integer text under the declared format to a uint16 column.")
cast_u32: Final = _numeric(_U32, "cast_u32", "Casts integer text under the declared format to a uint32 column.")
cast_u64: Final = _numeric(_U64, "cast_u64", "Casts integer text under the declared format to a uint64 column.")
cast_f32: Final = _numeric(_F32, "cast_f32",
                           "Casts real text under the declared format to a float32 column, correctly rounded.")
cast_f64: Final = _numeric(_F64, "cast_f64",
                           "Casts real text under the declared format to a float64 column, correctly rounded.")


def cast_decimal(column: object, fmt: NumFormat, *, scale: int | None = None, spans: Spans = None, row_base: int = 0,
                 nulls: Nulls = ()) -> ColumnResult:
    """Casts decimal text under the declared format to ``decimal128(38, scale)``, never rounded.

    Without ``scale``, the column's scale is the smallest that holds every success exactly.
    """
    return _run(_DECIMAL, column, fmt=_format(fmt), scale=_scale(scale), spans=spans, row_base=row_base, nulls=nulls)


def cast_timestamp(column: object, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                   nulls: Nulls = ()) -> ColumnResult:
    """Casts RFC 3339 instants to a timestamp column with zone ``"UTC"``."""
    return _run(_TIMESTAMP, column, nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


def cast_unix(column: object, precision: int, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
              nulls: Nulls = ()) -> ColumnResult:
    """Casts integer Unix-epoch counts under the declared ``UnixPrecision`` to a timestamp column with zone ``"UTC"``."""
    return _run(_UNIX, column, notation=_notation(precision, "precision", "UnixPrecision", 4),
                nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


def cast_excel_serial(column: object, epoch: int, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                      nulls: Nulls = ()) -> ColumnResult:
    """Casts Excel date serial text under the declared ``ExcelEpoch`` to a timestamp column with zone ``"UTC"``."""
    return _run(_EXCEL_SERIAL, column, notation=_notation(epoch, "epoch", "ExcelEpoch", 2), nanoseconds=_unit(unit),
                spans=spans, row_base=row_base, nulls=nulls)


def cast_date(column: object, order: int | None = None, *, spans: Spans = None, row_base: int = 0,
              nulls: Nulls = ()) -> ColumnResult:
    """Casts calendar dates to a date32 column: strict ISO ``yyyy-MM-dd`` with no order, the
    separated forms under a declared ``DateOrder``."""
    notation = 0 if order is None else _notation(order, "order", "DateOrder", 3)
    return _run(_DATE, column, notation=notation, spans=spans, row_base=row_base, nulls=nulls)


def cast_datetime(column: object, order: int, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                  nulls: Nulls = ()) -> ColumnResult:
    """Casts zone-less civil date-times under a declared ``DateOrder`` to a timestamp column without zone."""
    return _run(_DATETIME, column, notation=_notation(order, "order", "DateOrder", 3), nanoseconds=_unit(unit),
                spans=spans, row_base=row_base, nulls=nulls)


def cast_time(column: object, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
              nulls: Nulls = ()) -> ColumnResult:
    """Casts ISO 24-hour times of day to a time64 column."""
    return _run(_TIME, column, nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


def cast_duration(column: object, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                  nulls: Nulls = ()) -> ColumnResult:
    """Casts durations (ISO 8601, colon form, protobuf JSON seconds) to a duration column."""
    return _run(_DURATION, column, nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


# The casts from a double read a float64 column (or a sequence of numbers and
# None); their faults span (0, 0). They take `spans` and `nulls` as every
# column cast does, so callers can pass the same options to every column, but
# a number has no text: no span to convert, no token to match.


def cast_decimal_from_float(column: object, *, scale: int | None = None, spans: Spans = None, row_base: int = 0,
                            nulls: Nulls = ()) -> ColumnResult:
    """Reads a float64 column as the exact decimals its values name, as ``decimal128(38, scale)``."""
    return _run(_DECIMAL_FROM_F64, column, scale=_scale(scale), spans=spans, row_base=row_base, nulls=nulls)


def cast_excel_serial_from_float(column: object, epoch: int, *, unit: Unit = "us", spans: Spans = None,
                                 row_base: int = 0, nulls: Nulls = ()) -> ColumnResult:
    """Reads a float64 column of Excel serials under the declared ``ExcelEpoch`` as a timestamp column without zone."""
    return _run(_EXCEL_SERIAL_FROM_F64, column, notation=_notation(epoch, "epoch", "ExcelEpoch", 2),
                nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


def cast_excel_time(column: object, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                    nulls: Nulls = ()) -> ColumnResult:
    """Reads the fractions of a float64 column of Excel serials as a time64 column."""
    return _run(_EXCEL_TIME, column, nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)


def cast_excel_duration(column: object, *, unit: Unit = "us", spans: Spans = None, row_base: int = 0,
                        nulls: Nulls = ()) -> ColumnResult:
    """Reads a float64 column of day counts as a duration column."""
    return _run(_EXCEL_DURATION, column, nanoseconds=_unit(unit), spans=spans, row_base=row_base, nulls=nulls)
