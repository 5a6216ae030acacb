"""Writing typed rows and fault tables, group by group: Parquet, Arrow IPC or CSV, by extension."""

from __future__ import annotations

import sys
import uuid
from typing import Any

import pyarrow as pa
import pyarrow.compute as pc

from .errors import UsageError
from .run import REASONS, Fault

TABLE_KINDS = {".parquet": "parquet", ".pq": "parquet", ".arrow": "arrow", ".feather": "arrow", ".ipc": "arrow",
               ".arrows": "arrows", ".csv": "csv", ".tsv": "tsv", ".txt": "csv"}


def kind_of(path: str, allowed: tuple[str, ...]) -> str:
    if path == "-":
        return "csv"
    lower = path.lower()
    for suffix, kind in TABLE_KINDS.items():
        if lower.endswith(suffix) and kind in allowed:
            return kind
    suffixes = sorted(s for s, k in TABLE_KINDS.items() if k in allowed)
    raise UsageError(f"cannot tell how to write {path}: name it with one of {', '.join(suffixes)}")


class TableWriter:
    """Writes tables of one schema to one file; opened on the first table."""

    def __init__(self, path: str, allowed: tuple[str, ...] = ("parquet", "arrow", "arrows", "csv", "tsv")) -> None:
        self.path = path
        self.kind: str = kind_of(path, allowed)
        self.writer: Any = None
        self.rows: int = 0

    def write(self, table: pa.Table) -> None:
        if self.kind in ("csv", "tsv"):
            table = for_csv(table)
        if self.writer is None:
            self.writer = self._open(table.schema)
        try:
            self.writer.write_table(table)
        except (pa.ArrowInvalid, pa.ArrowNotImplementedError, OSError) as error:
            raise UsageError(f"cannot write {self.path}: {error}") from None
        self.rows += table.num_rows

    def _open(self, schema: pa.Schema) -> Any:
        sink: Any = pa.PythonFile(sys.stdout.buffer, mode="w") if self.path == "-" else self.path
        try:
            if self.kind == "parquet":
                import pyarrow.parquet as pq

                return pq.ParquetWriter(sink, schema)
            if self.kind == "arrow":
                return pa.ipc.new_file(sink, schema)
            if self.kind == "arrows":
                return pa.ipc.new_stream(sink, schema)
            import pyarrow.csv as pa_csv

            return pa_csv.CSVWriter(sink, schema,
                                    write_options=pa_csv.WriteOptions(delimiter="\t" if self.kind == "tsv" else ","))
        except (pa.ArrowInvalid, pa.ArrowNotImplementedError, OSError) as error:
            raise UsageError(f"cannot write {self.path}: {error}") from None

    def close(self, empty: pa.Schema | None = None) -> None:
        if self.writer is None and empty is not None:
            self.write(empty.empty_table())
        if self.writer is not None:
            self.writer.close()
            self.writer = None


def for_csv(table: pa.Table) -> pa.Table:
    """Columns CSV has no form for, as text: UUIDs in their hyphenated form, durations in ISO 8601."""
    for index, item in enumerate(table.schema):
        t = item.type
        if isinstance(t, pa.BaseExtensionType):
            storage = pa.chunked_array([chunk.storage for chunk in table.column(index).chunks], type=t.storage_type)
            if pa.types.is_fixed_size_binary(t.storage_type) and t.storage_type.byte_width == 16:
                text = pa.array([None if b is None else str(uuid.UUID(bytes=b)) for b in storage.to_pylist()],
                                pa.string())
            else:
                text = storage.cast(pa.string())
            table = table.set_column(index, pa.field(item.name, pa.string()), text)
        elif pa.types.is_duration(t):
            table = table.set_column(index, pa.field(item.name, pa.string()), iso_durations(table.column(index)))
    return table


def iso_durations(column: pa.ChunkedArray) -> pa.ChunkedArray:
    """Durations as ISO 8601 seconds, "PT90.5S" or "-PT0.000001S", which ``cast_duration`` reads back."""
    per_second = {"s": 1, "ms": 10**3, "us": 10**6, "ns": 10**9}[column.type.unit]
    digits = len(str(per_second)) - 1
    counts = column.cast(pa.int64())
    negative = pc.less(counts, 0)
    magnitude = pc.abs_checked(counts)
    seconds = pc.divide(magnitude, per_second)
    text = pc.binary_join_element_wise(pc.if_else(negative, "-PT", "PT"), seconds.cast(pa.string()), "")
    if digits:
        fraction = pc.subtract(magnitude, pc.multiply(seconds, per_second)).cast(pa.string())
        fraction = pc.utf8_rtrim(pc.utf8_lpad(fraction, digits, "0"), "0")
        point = pc.if_else(pc.equal(fraction, ""), "", ".")
        text = pc.binary_join_element_wise(text, point, fraction, "")
    return pc.binary_join_element_wise(text, "S", "")


FAULT_SCHEMA = pa.schema([pa.field("row", pa.int64(), nullable=False), pa.field("column", pa.string(), nullable=False),
                          pa.field("reason", pa.string(), nullable=False),
                          pa.field("offset", pa.uint32(), nullable=False),
                          pa.field("length", pa.uint32(), nullable=False), pa.field("cell", pa.string())])


def fault_table(faults: list[Fault]) -> pa.Table:
    """The fault file's rows: reason by name, and the whole cell (bytes that are not UTF-8 as \\x escapes)."""
    return pa.table({
        "row": pa.array([f.row for f in faults], pa.int64()),
        "column": pa.array([f.column for f in faults], pa.string()),
        "reason": pa.array([REASONS[f.reason - 1] for f in faults], pa.string()),
        "offset": pa.array([f.offset for f in faults], pa.uint32()),
        "length": pa.array([f.length for f in faults], pa.uint32()),
        "cell": pa.array([None if f.cell is None else f.cell.encode("utf-8", "surrogateescape").decode(
            "utf-8", "backslashreplace") for f in faults], pa.string()),
    }, schema=FAULT_SCHEMA)
