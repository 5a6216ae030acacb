"""Casting whole tables under a schema: the work behind ``Schema.cast``.

A table arrives as pyarrow, polars, pandas or an Arrow C stream; each declared column is
read as Arrow without a copy where the library allows it, cut into pieces, and the pieces
are cast by the column layer on a thread pool (its loops release the interpreter lock).
The typed columns go back into the caller's own kind of table; the faults of every piece
become one table ordered by row and column.
"""

from __future__ import annotations

import os
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import TYPE_CHECKING, Any, Callable, NamedTuple

if TYPE_CHECKING:
    import pyarrow as pa

    from .schema import Column, Schema

# A piece of a column is at least this many rows: below it, the cost of a task outweighs balance.
MIN_PIECE_ROWS = 1 << 16
# Pieces per thread that a table is cut into, so that unequal casts still share out evenly.
PIECES_PER_THREAD = 8


class TableCast(NamedTuple):
    """The outcome of ``Schema.cast``: the typed table and the table of faults."""

    table: Any
    faults: Any

    @property
    def fault_count(self) -> int:
        return len(self.faults)


def pyarrow() -> Any:
    try:
        import pyarrow
    except ModuleNotFoundError:
        raise ModuleNotFoundError("casting tables needs pyarrow: pip install 'quillmere[arrow]'") from None
    return pyarrow


def fault_schema(text: bool = False, row: str = "row", row_type: Any = None) -> pa.Schema:
    """The fault table's columns: the row (or a key column), the column name, the reason and the span."""
    pa = pyarrow()
    fields = [pa.field(row, row_type or pa.int64(), nullable=row_type is not None),
              pa.field("column", pa.string(), nullable=False), pa.field("reason", pa.uint8(), nullable=False),
              pa.field("offset", pa.uint32(), nullable=False), pa.field("length", pa.uint32(), nullable=False)]
    if text:
        fields.append(pa.field("text", pa.string()))
    return pa.schema(fields)


# Input tables -------------------------------------------------------------------------------

def _kind(data: object) -> str:
    """Which library a table comes from, without importing any library that is not loaded."""
    pa = sys.modules.get("pyarrow")
    if pa is not None and isinstance(data, pa.Table):
        return "arrow"
    if pa is not None and isinstance(data, pa.RecordBatch):
        return "batch"
    pl = sys.modules.get("polars")
    if pl is not None and isinstance(data, pl.DataFrame):
        return "polars"
    pd = sys.modules.get("pandas")
    if pd is not None and isinstance(data, pd.DataFrame):
        return "pandas"
    if hasattr(data, "__arrow_c_stream__"):
        return "stream"
    if hasattr(data, "__arrow_c_array__"):
        return "array"
    raise TypeError(f"Schema.cast takes a pyarrow Table or RecordBatch, a polars or pandas DataFrame, or an object "
                    f"with __arrow_c_stream__; got {type(data).__module__}.{type(data).__qualname__}")


def _names(kind: str, data: Any) -> list[str]:
    if kind == "pandas":
        return [name for name in data.columns if isinstance(name, str)]
    return list(data.schema.names) if kind in ("arrow", "batch") else list(data.columns)


def check_columns(schema: Schema, names: list[str]) -> None:
    """The schema's columns must all be in the table, once each."""
    missing = [name for name in schema if name not in names]
    if missing:
        raise ValueError(f"the table has no column {', '.join(map(repr, missing))} "
                         f"(it has {', '.join(map(repr, names)) or 'no columns'})")
    twice = [name for name in schema if names.count(name) > 1]
    if twice:
        raise ValueError(f"the table has more than one column named {', '.join(map(repr, twice))}")


def _arrow_columns(kind: str, data: Any, names: list[str]) -> tuple[Any, dict[str, pa.ChunkedArray]]:
    """The declared columns as Arrow, borrowed where the library allows; and the table as Arrow when it is one."""
    pa = pyarrow()
    if kind == "arrow":
        return data, {name: data.column(name) for name in names}
    if kind == "batch":
        table = pa.Table.from_batches([data])
        return table, {name: table.column(name) for name in names}
    if kind == "polars":
        import polars as pl

        # The newest level hands strings over as views, which the column layer reads in place.
        table = data.select(names).to_arrow(compat_level=pl.CompatLevel.newest())
        return None, {name: table.column(name) for name in names}
    if kind == "pandas":
        columns = {}
        for name in names:
            try:
                column = pa.array(data[name], from_pandas=True)
            except (pa.ArrowInvalid, pa.ArrowTypeError) as error:
                raise TypeError(f"column {name!r} ({data[name].dtype}) has no Arrow form: {error}") from None
            columns[name] = column if isinstance(column, pa.ChunkedArray) else pa.chunked_array([column])
        return None, columns
    table = pa.table(data) if kind == "stream" else pa.Table.from_batches([pa.record_batch(data)])
    return table, {name: table.column(name) for name in names}


_TEXT_TYPES = "string, large_string, string_view, binary, large_binary, or a dictionary of these"
_FLOAT_TYPES = "float64, float32, float16, or an integer of up to 32 bits (each exact as a double)"


def is_text_type(t: pa.DataType) -> bool:
    """Whether a column of this type holds text the casts read: strings or binary, plain or dictionary-encoded."""
    types = pyarrow().types
    value = t.value_type if types.is_dictionary(t) else t
    return bool(types.is_string(value) or types.is_large_string(value) or types.is_string_view(value)
                or types.is_binary(value) or types.is_large_binary(value))


def readable(name: str, column: Column, array: pa.ChunkedArray) -> pa.ChunkedArray:
    """The column as its cast reads it, or a TypeError naming the column and its type."""
    pa = pyarrow()
    t = array.type
    types = pa.types
    if column.reads == "text":
        if types.is_null(t):
            return array.cast(pa.string())
        if is_text_type(t):
            return array
        accepted = _TEXT_TYPES
    else:
        if types.is_float64(t):
            return array
        if types.is_null(t) or types.is_floating(t) or (types.is_integer(t) and t.bit_width <= 32):
            return array.cast(pa.float64())
        accepted = _FLOAT_TYPES
    raise TypeError(f"column {name!r} holds {t}, which cast_{column.cast} cannot read (it reads {accepted})")


# The column layer ---------------------------------------------------------------------------

def _column_function(cast: str) -> Callable[..., Any]:
    from . import columns

    return getattr(columns, f"cast_{cast}")


def cast_piece(schema: Schema, name: str, piece: Any, row_base: int, spans: str | None) -> tuple[Any, pa.Table]:
    """One column layer call on an Array or ChunkedArray: the values (same shape) and the faults."""
    pa = pyarrow()
    column = schema[name]
    notation = () if column.notation is None else (column.notation,)
    options: dict[str, Any] = {"row_base": row_base}
    if column.reads == "text":
        nulls = schema.nulls_of(name)
        if nulls:
            options["nulls"] = nulls
        if spans is not None:
            options["spans"] = spans
    if column.scale is not None:
        options["scale"] = column.scale
    if _is_temporal(column):
        options["unit"] = schema.unit_of(name)
    result = _column_function(column.cast)(piece, *notation, **options)
    if isinstance(piece, pa.ChunkedArray):
        values = pa.chunked_array(result.values)
    else:
        values = pa.array(result.values)
    # Read as a stream: pa.table would look for a pandas object first, importing pandas to do so.
    return values, pa.RecordBatchReader.from_stream(result.faults).read_all().combine_chunks()


def _is_temporal(column: Column) -> bool:
    from .schema import _CASTS

    return _CASTS[column.cast].temporal


# Casting ----------------------------------------------------------------------------------

class _Piece(NamedTuple):
    position: int       # the column's position among the table's columns
    name: str
    start: int          # first row of the piece in the table
    data: Any           # an Array, or the whole ChunkedArray where the column must be cast at once


def _pieces(schema: Schema, inputs: dict[str, pa.ChunkedArray], positions: dict[str, int],
            threads: int) -> list[_Piece]:
    pa = pyarrow()
    cells = sum(len(column) for column in inputs.values())
    longest = max(MIN_PIECE_ROWS, -(-cells // (threads * PIECES_PER_THREAD)))
    pieces = []
    for name, column in inputs.items():
        whole = threads == 1 or (schema[name].scale is None and schema[name].cast in ("decimal", "decimal_from_float"))
        if column.num_chunks == 0:
            column = pa.chunked_array([pa.array([], column.type)])
        if whole:
            # One call: a decimal column without a declared scale takes one scale for all of its rows.
            pieces.append(_Piece(positions[name], name, 0, column))
            continue
        start = 0
        for chunk in column.chunks:
            for offset in range(0, max(len(chunk), 1), longest):
                pieces.append(_Piece(positions[name], name, start + offset, chunk.slice(offset, longest)))
            start += len(chunk)
    return pieces


def _offending_texts(piece: _Piece, faults: pa.Table, row_base: int, spans: str | None) -> list[str | None]:
    """The text of each fault's span, read back from the piece's cells."""
    pa = pyarrow()
    if pa.types.is_floating(piece.data.type):
        return [None] * faults.num_rows
    rows = pa.compute.subtract(faults.column("row").combine_chunks(), row_base + piece.start)
    cells = piece.data.take(rows).to_pylist()
    texts: list[str | None] = []
    for cell, offset, length in zip(cells, faults.column("offset").to_pylist(), faults.column("length").to_pylist()):
        if isinstance(cell, str) and spans == "bytes":
            cell = cell.encode()
        elif isinstance(cell, bytes) and spans == "code_points":
            cell = cell.decode("utf-8", "surrogateescape")
        span = cell[offset:offset + length]
        if isinstance(span, bytes):
            span = span.decode("utf-8", "backslashreplace")
        texts.append(span.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace"))
    return texts


def run(tasks: list[Callable[[], Any]], threads: int) -> list[Any]:
    if threads <= 1 or len(tasks) <= 1:
        return [task() for task in tasks]
    with ThreadPoolExecutor(min(threads, len(tasks)), thread_name_prefix="quillmere") as pool:
        return list(pool.map(lambda task: task(), tasks))


def cast_arrow(schema: Schema, inputs: dict[str, pa.ChunkedArray], positions: dict[str, int], *, text: bool,
               spans: str | None, row_base: int, threads: int) -> tuple[dict[str, pa.ChunkedArray], pa.Table]:
    """Casts readable Arrow columns: the typed column of each, and the fault table of all."""
    pa = pyarrow()
    pieces = _pieces(schema, inputs, positions, threads)
    tasks = [(lambda piece=piece: cast_piece(schema, piece.name, piece.data, row_base + piece.start, spans))
             for piece in pieces]
    results = run(tasks, threads)

    chunks: dict[str, list[Any]] = {name: [] for name in inputs}
    fault_parts = []
    for piece, (values, faults) in zip(pieces, results):
        chunks[piece.name].extend(values.chunks if isinstance(values, pa.ChunkedArray) else [values])
        if faults.num_rows:
            part = {"row": faults.column("row"), "position": pa.repeat(pa.scalar(piece.position, pa.int32()), faults.num_rows),
                    "reason": faults.column("reason"), "offset": faults.column("offset"),
                    "length": faults.column("length")}
            if text:
                part["text"] = pa.array(_offending_texts(piece, faults, row_base, spans), pa.string())
            fault_parts.append(pa.table(part))
    typed = {name: pa.chunked_array(parts, type=parts[0].type if parts else None) for name, parts in chunks.items()}
    return typed, _fault_table(fault_parts, {p: n for n, p in positions.items()}, text)


def _fault_table(parts: list[pa.Table], names: dict[int, str], text: bool) -> pa.Table:
    pa = pyarrow()
    schema = fault_schema(text)
    if not parts:
        return schema.empty_table()
    faults = pa.concat_tables(parts)
    if len(parts) > 1:
        faults = faults.sort_by([("row", "ascending"), ("position", "ascending")])
    positions = sorted(names)
    lookup = pa.array([names[p] for p in positions], pa.string())
    index = pa.compute.index_in(faults.column("position"), value_set=pa.array(positions, pa.int32()))
    columns = [faults.column("row"), lookup.take(index), faults.column("reason"), faults.column("offset"),
               faults.column("length")]
    if text:
        columns.append(faults.column("text"))
    return pa.Table.from_arrays(columns, schema=schema)


def thread_count(threads: int | None) -> int:
    if threads is None:
        return os.cpu_count() or 1
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError(f"threads must be a positive int, not {threads!r}")
    return threads


def cast_table(schema: Schema, data: Any, *, others: str, text: bool, spans: str | None, row_base: int,
               threads: int | None) -> TableCast:
    if others not in ("keep", "drop"):
        raise ValueError(f"others must be 'keep' or 'drop', not {others!r}")
    if spans not in (None, "bytes", "code_points"):
        raise ValueError(f"spans must be None, 'bytes' or 'code_points', not {spans!r}")
    if isinstance(row_base, bool) or not isinstance(row_base, int) or row_base < 0:
        raise ValueError(f"row_base must be a non-negative int, not {row_base!r}")
    count = thread_count(threads)
    pa = pyarrow()
    kind = _kind(data)
    names = _names(kind, data) if kind not in ("stream", "array") else None
    if names is not None:
        check_columns(schema, names)
    table, raw = _arrow_columns(kind, data, list(schema))
    if names is None:
        names = list(table.schema.names)
        check_columns(schema, names)
    inputs = {name: readable(name, schema[name], raw[name]) for name in schema}
    positions = {name: names.index(name) for name in schema}
    typed, faults = cast_arrow(schema, inputs, positions, text=text, spans=spans, row_base=row_base, threads=count)
    kept = [name for name in names if others == "keep" or name in schema]

    if kind in ("arrow", "stream", "array", "batch"):
        out = table
        for name, values in typed.items():
            index = names.index(name)
            out = out.set_column(index, pa.field(name, values.type), values)
        out = out.select(kept)
        if kind == "batch":
            out = pa.record_batch([column.combine_chunks() for column in out.columns], schema=out.schema)
        return TableCast(out, faults)
    if kind == "polars":
        import polars as pl

        series = [to_polars(values).alias(name) for name, values in typed.items()]
        return TableCast(data.with_columns(series).select(kept), pl.from_arrow(faults))
    import pandas as pd

    out = data.copy(deep=False)
    for name, values in typed.items():
        out[name] = pd.Series(pd.arrays.ArrowExtensionArray(values), index=data.index, name=name)
    return TableCast(out[kept] if others == "drop" else out, faults.to_pandas())


def to_polars(values: pa.ChunkedArray) -> Any:
    """A typed column as a polars Series; polars has no UUID type, so UUIDs arrive as their 16 bytes."""
    import polars as pl

    pa = pyarrow()
    if isinstance(values.type, pa.BaseExtensionType):
        values = values.cast(values.type.storage_type)
    return pl.from_arrow(values)
