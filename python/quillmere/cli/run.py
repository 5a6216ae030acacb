"""Casting a file group by group under a schema, on several threads, with a tally of every column.

Each group of rows is cast by ``Schema.cast`` (one thread per group; the cast loops release
the interpreter lock, so groups run side by side) while the next group is read: by the main
thread from one stream, or, for a CSV file that can be cut at record ends, parsed piece by
piece on the same threads as the casts. Results are consumed in file order, so the first faults reported are the first in
the file and written output keeps the file's row order. At most ``threads + 1`` groups are
in flight, which bounds memory whatever the size of the file.
"""

from __future__ import annotations

from collections import deque
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any, TypeVar

import pyarrow as pa
import pyarrow.compute as pc

from .._tables import is_text_type
from ..schema import Column, Schema
from .errors import UsageError
from .source import Chunk, Group, Parsed, Source
from .undecodable import decode_cell, invalid_cells, marked_cells

T = TypeVar("T")
REASONS = ("EMPTY", "MALFORMED", "OUT_OF_RANGE")
MALFORMED = 2
FAULT_FIELDS = ("row", "column", "reason", "offset", "length")


def is_binary_type(t: pa.DataType) -> bool:
    return bool(pa.types.is_binary(t) or pa.types.is_large_binary(t))


@dataclass
class Tally:
    """What one column held: cells, nulls and faults by reason."""

    name: str
    cast: str                      # the declared cast's short name, or "text"
    cells: int = 0
    nulls: int = 0
    reasons: list[int] = field(default_factory=lambda: [0, 0, 0])

    @property
    def faults(self) -> int:
        return sum(self.reasons)

    def to_json(self) -> dict[str, Any]:
        return {"name": self.name, "cast": self.cast, "cells": self.cells, "nulls": self.nulls,
                "faults": self.faults, **dict(zip(REASONS, self.reasons))}


@dataclass
class Fault:
    """One bad cell, with its text for the report."""

    row: int
    column: str
    reason: int
    offset: int
    length: int
    cell: str | None              # the whole cell; undecodable bytes as lone surrogates

    def to_json(self) -> dict[str, Any]:
        return {"row": self.row, "column": self.column, "reason": REASONS[self.reason - 1], "offset": self.offset,
                "length": self.length, "cell": self.cell}


@dataclass
class Outcome:
    """One group cast: the typed rows (text columns as strings), its faults in row order, and
    per column the faults by reason and the nulls (counted where the group was cast)."""

    group: Group
    typed: pa.Table
    faults: pa.Table
    counts: dict[tuple[str, int], int] = field(default_factory=dict)
    nulls: dict[str, int] = field(default_factory=dict)

    def count(self) -> Outcome:
        names = self.group.table.column_names
        in_column = [0] * len(names)
        if self.faults.num_rows:
            # One key per (column, reason), counted in Arrow: a group can hold many thousands of faults.
            position = pc.index_in(self.faults.column("column"), value_set=pa.array(names, pa.string()))
            key = pc.add(pc.multiply(position, 4), pc.cast(self.faults.column("reason"), pa.int32()))
            for item in pc.value_counts(key).to_pylist():
                index, reason = divmod(item["values"], 4)
                self.counts[(names[index], reason)] = item["counts"]
                in_column[index] += item["counts"]
        for index, (name, column) in enumerate(zip(names, self.group.table.columns)):
            if name in self.typed.column_names:
                self.nulls[name] = self.typed.column(name).null_count - in_column[index]
            else:
                self.nulls[name] = column.null_count
        return self


def text_view(array: pa.ChunkedArray) -> pa.ChunkedArray:
    """A text column as plain strings: a binary one viewed without validating it (the casts read
    bytes, and cells that are not UTF-8 are found separately), a dictionary one decoded."""
    if pa.types.is_dictionary(array.type):
        array = array.cast(array.type.value_type)
    if not is_binary_type(array.type):
        return array
    target = pa.large_string() if pa.types.is_large_binary(array.type) else pa.string()
    return pa.chunked_array([chunk.view(target) for chunk in array.chunks], type=target)


def undecodable(array: pa.ChunkedArray, escaped: bool) -> list[tuple[int, int]]:
    """The cells of a column that hold a byte that is not UTF-8, with the code points before it."""
    if escaped and is_text_type(array.type):
        return marked_cells(text_view(array))
    if is_binary_type(array.type):
        return invalid_cells(array)
    return []


class Caster:
    """Casts groups of one source under one schema; the schema is checked against the source first."""

    def __init__(self, schema: Schema, source: Source, *, keep_others: bool = True) -> None:
        missing = [name for name in schema if name not in source.names]
        if missing:
            raise UsageError(f"the schema names {_names(missing)}, which {source.name} does not have "
                             f"(it has {_names(source.names) or 'no columns'})")
        self.schema = schema
        self.source = source
        self.keep_others = keep_others
        self.positions: dict[str, int] = {name: i for i, name in enumerate(source.names)}

    def check_types(self, group: Group) -> None:
        """Declared columns must be text (or float64 for the casts from a double); said before any work."""
        for name in self.schema:
            t = group.table.schema.field(name).type
            reads = self.schema[name].reads
            if reads == "text" and not is_text_type(t):
                raise UsageError(f"column {name!r} holds {t}, which cast_{self.schema[name].cast} cannot read "
                                 f"(it reads text)")
            if reads == "float" and not (pa.types.is_floating(t) or pa.types.is_integer(t)):
                raise UsageError(f"column {name!r} holds {t}; cast_{self.schema[name].cast} reads numbers "
                                 f"(float64), not text")

    def cast(self, group: Group) -> Outcome:
        table = group.table
        viewed = pa.table({name: text_view(column) if is_text_type(column.type) else column
                           for name, column in zip(table.column_names, table.columns)})
        result = self.schema.cast(viewed, others="keep" if self.keep_others else "drop", row_base=group.start,
                                  threads=1)
        typed, faults = result.table, result.faults
        if group.utf8:
            return Outcome(group, typed, faults).count()
        fixes = {}
        for name in table.column_names:
            if not self.keep_others and name not in self.schema:
                continue
            bad = undecodable(table.column(name), self.source.escaped)
            if bad:
                fixes[name] = bad
        if fixes:
            typed, faults = self._mark_invalid(group, typed, faults, fixes)
        return Outcome(group, typed, faults).count()

    def _mark_invalid(self, group: Group, typed: pa.Table, faults: pa.Table,
                      fixes: dict[str, list[tuple[int, int]]]) -> tuple[pa.Table, pa.Table]:
        """Each cell that is not UTF-8 becomes MALFORMED at its first bad byte, and null."""
        records = {(r["row"], r["column"]): r for r in faults.to_pylist()}
        for name, bad in fixes.items():
            mask = [False] * group.rows
            for index, offset in bad:
                mask[index] = True
                records[(group.start + index, name)] = {"row": group.start + index, "column": name,
                                                        "reason": MALFORMED, "offset": offset, "length": 1}
            declared = self.schema.get(name)
            # Other casts already fault (and null) such a cell; text and characters pass it.
            if name in typed.column_names and (declared is None or declared.cast == "char"):
                position = typed.column_names.index(name)
                column = typed.column(name)
                nulled = pc.if_else(pa.array(mask), pa.scalar(None, column.type), column)
                typed = typed.set_column(position, typed.field(name), nulled)
        ordered = sorted(records.values(), key=lambda r: (r["row"], self.positions[r["column"]]))
        return typed, pa.Table.from_pylist(ordered, schema=faults.schema)


def _names(names: Iterable[str]) -> str:
    return ", ".join(map(repr, names))


def run(source: Source, work: Callable[[Group], T], threads: int,
        before: Callable[[Group], None] | None = None) -> Iterator[T]:
    """The outcomes of ``work`` over the source's groups, in file order, ``threads`` at a time."""
    chunks = source.chunks() if threads > 1 else None
    if chunks is not None:
        yield from _run_chunks(source, chunks, work, threads, before)
        return
    groups = source.groups()
    if threads <= 1:
        for group in groups:
            if before:
                before(group)
                before = None
            yield work(group)
        return
    with ThreadPoolExecutor(threads, thread_name_prefix="quillmere") as pool:
        inflight: deque[Any] = deque()
        try:
            for group in groups:
                if before:
                    before(group)
                    before = None
                inflight.append(pool.submit(work, group))
                # One group more than there are threads, so a thread that finishes finds work
                # while the oldest result is taken; no more, so memory stays bounded.
                while len(inflight) > threads + 1 or (inflight and inflight[0].done()):
                    yield inflight.popleft().result()
            while inflight:
                yield inflight.popleft().result()
        finally:
            for future in inflight:
                future.cancel()


def _run_chunks(source: Source, chunks: Iterator[Chunk], work: Callable[[Group], T], threads: int,
                before: Callable[[Group], None] | None) -> Iterator[T]:
    """As :func:`run`, with the file's chunks parsed on the threads too: each parsed chunk, taken
    in file order, becomes a group numbered from the rows before it and goes to be cast."""
    header_lines = 1 if source.dialect is not None and source.dialect.header else 0
    start = 0
    with ThreadPoolExecutor(threads, thread_name_prefix="quillmere") as pool:
        parsing: deque[Any] = deque()
        casting: deque[Any] = deque()

        def promote(parsed: Parsed) -> None:
            nonlocal start, before
            source.problems.extend(p.moved(start, header_lines) if p.row is not None else p
                                   for p in parsed.problems)
            group = Group(start, parsed.table, parsed.utf8, source.escaped)
            start += group.rows
            if before:
                before(group)
                before = None
            casting.append(pool.submit(work, group))

        try:
            for chunk in chunks:
                parsing.append(pool.submit(chunk.parse))
                # Parsed chunks become groups in file order; at most one more of each kind than
                # there are threads is held, so memory stays bounded.
                while len(parsing) > threads or (parsing and parsing[0].done()):
                    promote(parsing.popleft().result())
                    while len(casting) > threads or (casting and casting[0].done()):
                        yield casting.popleft().result()
            while parsing:
                promote(parsing.popleft().result())
            if start == 0 and not casting:
                # No rows at all: one empty group, so the output still has its columns.
                empty = pa.schema([(name, pa.binary()) for name in source.names]).empty_table()
                promote(Parsed(empty, [], True))
            while casting:
                yield casting.popleft().result()
        finally:
            for future in (*parsing, *casting):
                future.cancel()


class Summary:
    """The tally of a whole run: rows, per-column counts, and the first faults with their cells."""

    def __init__(self, source: Source, schema: Schema, limit: int | None) -> None:
        self.source = source
        self.schema = schema
        self.rows: int = 0
        self.tallies: dict[str, Tally] = {name: Tally(name, _cast_label(name, schema, source)) for name in source.names}
        self.limit = limit              # None: keep every fault
        self.faults: list[Fault] = []

    @property
    def fault_count(self) -> int:
        return sum(t.faults for t in self.tallies.values())

    def add(self, outcome: Outcome) -> list[Fault]:
        """Counts one group; returns its faults as listed (up to the limit)."""
        group, faults = outcome.group, outcome.faults
        self.rows += group.rows
        for (name, reason), count in outcome.counts.items():
            self.tallies[name].reasons[reason - 1] += count
        for name, tally in self.tallies.items():
            tally.cells += group.rows
            tally.nulls += outcome.nulls.get(name, 0)
        wanted = faults.num_rows if self.limit is None else min(faults.num_rows, self.limit - len(self.faults))
        if wanted <= 0:
            return []
        listed = self.cells(group, faults.slice(0, wanted))
        if self.limit is not None:
            self.faults.extend(listed)
        return listed

    @staticmethod
    def cells(group: Group, faults: pa.Table) -> list[Fault]:
        rows = faults.column("row").to_pylist()
        names = faults.column("column").to_pylist()
        taken: dict[str, list[Any]] = {}
        for name in set(names):
            mine = [row - group.start for row, other in zip(rows, names) if other == name]
            taken[name] = group.table.column(name).take(pa.array(mine, pa.int64())).to_pylist()
        position = {name: 0 for name in taken}
        out = []
        for row, name, reason, offset, length in zip(rows, names, *(faults.column(f).to_pylist()
                                                                  for f in ("reason", "offset", "length"))):
            cell = taken[name][position[name]]
            position[name] += 1
            out.append(Fault(row, name, reason, offset, length, decode_cell(cell, group.escaped)))
        return out


def _cast_label(name: str, schema: Schema, source: Source) -> str:
    """What the report says a column is cast as: the declared cast, text, or the type a file gave it."""
    if name in schema:
        return schema[name].cast
    if source.schema is not None and not is_text_type(source.schema.field(name).type):
        return str(source.schema.field(name).type)
    return "text"


def with_scales(schema: Schema, source: Source, threads: int, progress: Callable[[], None] | None = None) -> Schema:
    """The schema with a scale for every decimal column that lacks one: the smallest that holds every
    value of the column, found by a first pass over the file, as ``Schema.cast`` finds it for a whole table."""
    from .. import columns

    open_decimals = [name for name in schema if schema[name].cast == "decimal" and schema[name].scale is None]
    if not open_decimals:
        return schema
    if source.name == "standard input":
        raise UsageError(f"declare a scale for decimal column {_names(open_decimals)}: standard input "
                         f"cannot be read twice to find it")
    scales = {name: 0 for name in open_decimals}

    def scan(group: Group) -> dict[str, int]:
        found = {}
        for name in open_decimals:
            result = columns.cast_decimal(text_view(group.table.column(name)), schema[name].notation,
                                          nulls=schema.nulls_of(name))
            found[name] = pa.chunked_array(result.values).type.scale
        return found

    for found in run(source, scan, threads):
        for name, scale in found.items():
            scales[name] = max(scales[name], scale)
        if progress:
            progress()
    declared = {}
    for name, column in schema.items():
        if name in scales:
            column = Column(column.cast, column.notation, nulls=column.nulls, unit=column.unit, scale=scales[name])
        declared[name] = column
    return Schema(declared, nulls=schema.nulls, unit=schema.unit)
