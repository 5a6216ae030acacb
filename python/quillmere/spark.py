"""A declared schema over a PySpark DataFrame, through ``mapInArrow``.

>>> import quillmere.spark
>>> typed, faults = quillmere.spark.cast(df, schema, key="id")

Each Arrow batch of each partition is cast by ``Schema.cast`` in the Python worker.
Spark has no stable row number, so faults name their row by a declared key column.

Spark types of the values:

=============================================  ==========================================
cast                                           Spark type
=============================================  ==========================================
``i8``, ``i16``, ``i32``, ``i64``              ``ByteType``, ``ShortType``, ``IntegerType``, ``LongType``
``u8``, ``u16``, ``u32``                       the next wider signed type (``ShortType``, ``IntegerType``, ``LongType``)
``u64``                                        ``LongType``; a value above 2^63 − 1 is an ``OUT_OF_RANGE``
                                               fault spanning the trimmed text, never a wrapped number
``f32``, ``f64``                               ``FloatType``, ``DoubleType``
``decimal``, ``decimal_from_float``            ``DecimalType(38, scale)``: the scale must be declared
``bool``, ``char``                             ``BooleanType``, ``StringType``
``uuid``                                       ``StringType``, the canonical lowercase 8-4-4-4-12 form
``date``                                       ``DateType``
``time``, ``excel_time``                       ``TimeType`` (Spark 4.1 and later)
``datetime``, ``excel_serial_from_float``      ``TimestampNTZType`` (microseconds)
``timestamp``, ``unix``, ``excel_serial``      ``TimestampType`` (microseconds, UTC instants)
``duration``, ``excel_duration``               ``DayTimeIntervalType`` (microseconds)
=============================================  ==========================================

Temporal values are microseconds, Spark's unit: a schema declaring ``unit="ns"`` is refused.
Needs ``quillmere[spark]``.
"""

from __future__ import annotations

from typing import Any, Iterator, Literal

from ._tables import TableCast, check_columns, pyarrow
from .schema import Schema

__all__ = ["cast", "spark_type"]

KEY = "__quillmere_key"
FAULTS = "__quillmere_faults"
_I64_MAX = (1 << 63) - 1
_WHITESPACE = "\t\n\f\r "


def spark_type(schema: Schema, name: str) -> Any:
    """The Spark type of a declared column's values (see the module's table)."""
    from pyspark.sql import types as T

    column = schema[name]
    cast = column.cast
    simple = {"i8": T.ByteType, "i16": T.ShortType, "i32": T.IntegerType, "i64": T.LongType, "u8": T.ShortType,
              "u16": T.IntegerType, "u32": T.LongType, "u64": T.LongType, "f32": T.FloatType, "f64": T.DoubleType,
              "bool": T.BooleanType, "char": T.StringType, "uuid": T.StringType, "date": T.DateType,
              "datetime": T.TimestampNTZType, "excel_serial_from_float": T.TimestampNTZType,
              "timestamp": T.TimestampType, "unix": T.TimestampType, "excel_serial": T.TimestampType,
              "duration": T.DayTimeIntervalType, "excel_duration": T.DayTimeIntervalType}
    if cast in simple:
        return simple[cast]()
    if cast in ("decimal", "decimal_from_float"):
        return T.DecimalType(38, column.scale)
    if not hasattr(T, "TimeType"):
        raise TypeError(f"column {name!r}: cast_{cast} gives times of day, which need Spark 4.1 or later (TimeType)")
    return T.TimeType()


def _arrow_type(schema: Schema, name: str) -> Any:
    """The Arrow type Spark reads for a declared column's values."""
    pa = pyarrow()
    cast = schema[name].cast
    widened = {"u8": pa.int16(), "u16": pa.int32(), "u32": pa.int64(), "u64": pa.int64(), "uuid": pa.string()}
    if cast in widened:
        return widened[cast]
    if cast in ("time", "excel_time"):
        return pa.time64("ns")
    return None  # the column layer's own type


def _check(df: Any, schema: Schema, key: str) -> None:
    from pyspark.sql import types as T

    fields = {field.name: field.dataType for field in df.schema.fields}
    check_columns(schema, list(fields))
    if key not in fields:
        raise ValueError(f"the key column {key!r} is not in the DataFrame")
    for hidden in (KEY, FAULTS):
        if hidden in fields:
            raise ValueError(f"the DataFrame already has a column named {hidden!r}")
    for name, column in schema.items():
        spark = fields[name]
        if column.reads == "text":
            readable = isinstance(spark, (T.StringType, T.BinaryType, T.NullType))
            accepted = "StringType or BinaryType"
        else:
            readable = isinstance(spark, (T.DoubleType, T.FloatType, T.IntegerType, T.ShortType, T.ByteType,
                                          T.NullType))
            accepted = "DoubleType, FloatType or an integer of up to 32 bits"
        if not readable:
            raise TypeError(f"column {name!r} is {spark.simpleString()}, which cast_{column.cast} cannot read "
                            f"(it reads {accepted})")
        if column.scale is None and column.cast in ("decimal", "decimal_from_float"):
            raise ValueError(f"column {name!r}: declare the decimal's scale (Column(..., scale=N)); Spark needs "
                             f"one type for every partition")
        if schema.unit_of(name) != "us" and column.cast in ("timestamp", "unix", "excel_serial", "datetime",
                                                            "excel_serial_from_float", "duration", "excel_duration"):
            raise ValueError(f"column {name!r}: Spark holds microseconds; declare unit 'us'")


def _uuid_text(values: Any) -> Any:
    """16-byte UUIDs as canonical text, built as 36-byte rows without a Python object per row."""
    import numpy as np

    pa = pyarrow()
    storage = values.storage if isinstance(values, pa.ExtensionArray) else values
    # A copy starts at offset 0, so the data buffer is exactly the rows' 16 bytes each.
    storage = pa.concat_arrays([storage.cast(pa.binary(16))])
    raw = np.frombuffer(storage.buffers()[1], dtype=np.uint8, count=16 * len(storage)).reshape(-1, 16)
    digits = np.frombuffer(b"0123456789abcdef", dtype=np.uint8)
    hexed = np.empty((len(storage), 32), dtype=np.uint8)
    hexed[:, 0::2] = digits[raw >> 4]
    hexed[:, 1::2] = digits[raw & 15]
    text = np.full((len(storage), 36), ord("-"), dtype=np.uint8)
    for start, stop, at in ((0, 8, 0), (8, 12, 9), (12, 16, 14), (16, 20, 19), (20, 32, 24)):
        text[:, at:at + stop - start] = hexed[:, start:stop]
    fixed = pa.FixedSizeBinaryArray.from_buffers(pa.binary(36), len(storage),
                                                 [storage.buffers()[0], pa.py_buffer(text.tobytes())],
                                                 null_count=storage.null_count)
    return fixed.cast(pa.binary()).cast(pa.string())


def _trimmed_span(cell: Any, spans: str | None) -> tuple[int, int]:
    """The span of the whole trimmed text, which an out-of-range value reports."""
    if isinstance(cell, str) and spans == "bytes":
        cell = cell.encode()
    elif isinstance(cell, bytes) and spans == "code_points":
        cell = cell.decode("utf-8", "surrogateescape")
    whitespace = _WHITESPACE if isinstance(cell, str) else _WHITESPACE.encode()
    start = len(cell) - len(cell.lstrip(whitespace))
    return start, len(cell.strip(whitespace))


def _to_spark(schema: Schema, name: str, values: Any, cells: Any, spans: str | None) -> tuple[Any, list[tuple]]:
    """A typed column in the Arrow type Spark reads, and the faults of values Spark cannot hold."""
    pa = pyarrow()
    pc = pa.compute
    values = values.combine_chunks() if isinstance(values, pa.ChunkedArray) else values
    target = _arrow_type(schema, name)
    cast = schema[name].cast
    faults: list[tuple] = []
    if cast == "u64":
        over = pc.fill_null(pc.greater(values, pa.scalar(_I64_MAX, pa.uint64())), False)
        if pc.any(over).as_py():
            rows = pc.indices_nonzero(over).to_pylist()
            for row in rows:
                offset, length = _trimmed_span(cells[row].as_py(), spans)
                faults.append((row, 3, offset, length))
            values = pc.if_else(over, pa.scalar(None, values.type), values)
    if cast == "uuid":
        return _uuid_text(values), faults
    return (values if target is None else values.cast(target)), faults


def _fault_lists(faults: Any, rows: int, text: bool) -> Any:
    """Row-aligned lists of each row's faults, the shape Spark's ``inline`` turns back into rows."""
    import numpy as np

    pa = pyarrow()
    row = faults.column("row").to_numpy()
    offsets = np.zeros(rows + 1, dtype=np.int32)
    np.cumsum(np.bincount(row, minlength=rows), out=offsets[1:])
    fields = [faults.column("column").combine_chunks(), faults.column("reason").cast(pa.int8()).combine_chunks(),
              faults.column("offset").cast(pa.int64()).combine_chunks(),
              faults.column("length").cast(pa.int64()).combine_chunks()]
    names = ["column", "reason", "offset", "length"]
    if text:
        fields.append(faults.column("text").combine_chunks())
        names.append("text")
    return pa.ListArray.from_arrays(pa.array(offsets), pa.StructArray.from_arrays(fields, names=names))


def _cast_batches(batches: Iterator[Any], schema: Schema, names: list[str], text: bool, spans: str | None,
                  threads: int) -> Iterator[Any]:
    pa = pyarrow()
    positions = {name: index for index, name in enumerate(names)}
    for batch in batches:
        table = pa.Table.from_batches([batch])
        typed, faults = schema.cast(table, others="keep", text=text, spans=spans, threads=threads)
        arrays, extra = [], []
        for name in names:
            if name in schema:
                values, over = _to_spark(schema, name, typed.column(name), table.column(name), spans)
                arrays.append(values)
                extra.extend((row, positions[name], name, *fault) for row, *fault in over)
            else:
                arrays.append(table.column(name).combine_chunks())
        if extra:
            faults = _with_extra_faults(faults, extra, positions, table, text)
        arrays.append(table.column(KEY).combine_chunks())
        arrays.append(_fault_lists(faults, batch.num_rows, text))
        yield pa.RecordBatch.from_arrays(arrays, names=[*names, KEY, FAULTS])


def _with_extra_faults(faults: Any, extra: list[tuple], positions: dict[str, int], table: Any, text: bool) -> Any:
    """Merges faults found after the cast into the fault table, keeping it in row and column order."""
    pa = pyarrow()
    rows = faults.to_pylist()
    for row, _, name, reason, offset, length in extra:
        fault = {"row": row, "column": name, "reason": reason, "offset": offset, "length": length}
        if text:
            cell = table.column(name)[row].as_py()
            if isinstance(cell, bytes):
                fault["text"] = cell[offset:offset + length].decode("utf-8", "backslashreplace")
            else:
                fault["text"] = cell[offset:offset + length]
        rows.append(fault)
    rows.sort(key=lambda fault: (fault["row"], positions[fault["column"]]))
    return pa.Table.from_pylist(rows, schema=faults.schema)


def cast(df: Any, schema: Schema, *, key: str, others: Literal["keep", "drop"] = "keep", text: bool = False,
         spans: Literal["bytes", "code_points"] | None = None, threads: int = 1, cache: bool = False) -> TableCast:
    """Casts a PySpark DataFrame under ``schema``; returns lazy ``TableCast(table, faults)``.

    ``table`` is ``df`` with each declared column replaced by its typed values (the types of
    the module's table; null where the cell was null, a null token or a fault); other columns
    pass through, or are left out with ``others="drop"``. ``faults`` has one row per bad
    cell: the ``key`` column's value for the row (as it was before any cast), then
    ``column``, ``reason`` (1 ``EMPTY``, 2 ``MALFORMED``, 3 ``OUT_OF_RANGE``), ``offset`` and
    ``length`` (code points, or bytes for binary cells and ``spans="bytes"``), and with
    ``text=True`` the offending ``text``.

    Both are projections of one ``mapInArrow`` stage; with ``cache=True`` that stage is
    cached, so using both casts each partition once. ``threads`` is the threads each Arrow
    batch's cast uses (default 1: Spark runs tasks side by side). Raises before any work
    for a missing column, a column type the cast cannot read, an undeclared decimal scale
    or a nanosecond unit.
    """
    from pyspark.sql import functions as F
    from pyspark.sql import types as T

    if not isinstance(schema, Schema):
        raise TypeError(f"schema must be a quillmere Schema, not {type(schema).__name__}")
    if others not in ("keep", "drop"):
        raise ValueError(f"others must be 'keep' or 'drop', not {others!r}")
    _check(df, schema, key)
    fields = [field for field in df.schema.fields if others == "keep" or field.name in schema]
    names = [field.name for field in fields]
    out = [T.StructField(field.name, spark_type(schema, field.name)) if field.name in schema else field
           for field in fields]
    fault = [T.StructField("column", T.StringType(), False), T.StructField("reason", T.ByteType(), False),
             T.StructField("offset", T.LongType(), False), T.StructField("length", T.LongType(), False)]
    if text:
        fault.append(T.StructField("text", T.StringType()))
    out.append(T.StructField(KEY, df.schema[key].dataType))
    out.append(T.StructField(FAULTS, T.ArrayType(T.StructType(fault), False), False))

    def cast_batches(batches: Iterator[Any]) -> Iterator[Any]:
        return _cast_batches(batches, schema, names, text, spans, threads)

    def column(name: str) -> Any:
        return F.col("`" + name.replace("`", "``") + "`")

    source = df.select(*map(column, names), column(key).alias(KEY))
    wide = source.mapInArrow(cast_batches, T.StructType(out))
    if cache:
        wide = wide.cache()
    typed = wide.drop(KEY, FAULTS)
    faults = wide.select(F.col(KEY).alias(key), F.inline(F.col(FAULTS)))
    return TableCast(typed, faults)
