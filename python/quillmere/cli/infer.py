"""Inferring a schema: for each column, the narrowest cast that fits its cells, under the
notation the whole column settles.

Every candidate cast runs over every group of the column (a candidate that already misses
far more cells than the threshold allows is dropped after the first thousand cells), so the
counts behind a decision are exact. Notations are decided by the whole column, never by
one cell:

- numbers: the decimal and group separators. Each cell is cast under "." and under "," as
  the decimal separator, and under the per-cell detection of the numeric casts; a cell
  whose detected reading agrees with one of the two and not the other ("1.234,5", "1,5",
  "1,234,567") is a vote for it. Cells that read both ways but differently ("1.234")
  settle nothing: a column of only those is ambiguous. A group separator other than "."
  and "," (a space, a no-break space, an apostrophe) and a currency symbol are found in
  the cells that fail both readings.
- dates and date-times: the field order. A column where some date has a day above 12
  ("25/03/2024") settles the others ("03/04/2024"); a column where every date reads both
  day-first and month-first is ambiguous.

The column's type is the candidate that fits the most cells; ties go to the narrower one
(boolean, integer, decimal, real, date, time, date-time, timestamp, duration, UUID). It
stays text when that candidate fits less than the threshold of its non-null cells.
"""

from __future__ import annotations

import json
from collections import Counter
from collections.abc import Callable, Iterable
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any

import pyarrow as pa
import pyarrow.compute as pc

from .. import DateOrder, columns
from .._native import NumFormat
from ..schema import Column, Schema
from .run import REASONS, is_text_type, text_view, undecodable
from .undecodable import decode_cell
from .source import Group, Source

NULL_TOKENS = ("", "NA", "N/A", "n/a", "NULL", "null", "None", "-", "NaN", "nan", "#N/A")
THRESHOLD = 0.9
EXAMPLES = 3
PRUNE_AFTER = 1000           # cells seen before a hopeless candidate is dropped
MAX_DECIMAL_SCALE = 4        # a fixed-point column (money, rates); more fraction digits read as real
WHITESPACE = "\t\n\f\r "     # what the casts trim

# Narrowest first: the order that breaks ties between candidates that fit equally many cells.
KINDS = ("bool", "int", "decimal", "real", "date", "time", "datetime", "timestamp", "duration", "uuid")
_INT_WIDTHS = (("i8", -2**7, 2**7 - 1), ("i16", -2**15, 2**15 - 1), ("i32", -2**31, 2**31 - 1),
               ("i64", -2**63, 2**63 - 1))
_NUMBERS = ("int", "decimal", "real")
_DOT, _COMMA = (".", ","), (",", ".")      # (decimal separator, group separator)
_CURRENCY = r"^(?:[A-Z]{0,2}\p{Sc}|[A-Z]{3})$"
_ODD_GROUP = r"\d(?P<g>[ \x{a0}\x{202f}'’])\d{3}(?:\D|$)"


@dataclass
class Misfit:
    row: int
    cell: str | None
    reason: int
    offset: int
    length: int

    def to_json(self) -> dict[str, Any]:
        return {"row": self.row, "cell": self.cell, "reason": REASONS[self.reason - 1], "offset": self.offset,
                "length": self.length}


@dataclass(eq=False)
class Candidate:
    kind: str
    notation: Any                    # a separators key for numbers, a DateOrder or None for dates
    fits: int = 0
    misses: int = 0
    alive: bool = True
    examples: list[Misfit] = field(default_factory=list)
    low: int | None = None           # integers: the range of the values
    high: int | None = None
    big: int = 0                     # integers: cells past the signed 64-bit range that fit unsigned 64 bits
    scale: int = 0                   # decimals: the most fraction digits, written or needed


@dataclass
class Decision:
    """What inference concluded for one column."""

    name: str
    status: str                      # "typed", "text", "ambiguous", or "typed in the file" (not text)
    cells: int                       # cells that are neither null nor a null token
    nulls: dict[str, int]            # null token (or "null" for a missing cell) -> count
    column: Column | None = None     # the declaration, when typed
    fits: int = 0
    misfits: list[Misfit] = field(default_factory=list)
    note: str = ""                   # why text or ambiguous; the choices when ambiguous
    choices: list[Column] = field(default_factory=list)

    @property
    def cast(self) -> str:
        return self.column.cast if self.column is not None else self.status

    def to_json(self) -> dict[str, Any]:
        out: dict[str, Any] = {"name": self.name, "status": self.status, "cast": self.cast, "cells": self.cells,
                               "fits": self.fits, "nulls": self.nulls,
                               "misfits": [m.to_json() for m in self.misfits]}
        if self.column is not None:
            out["column"] = self.column.to_dict()
        if self.note:
            out["note"] = self.note
        if self.choices:
            out["choices"] = [choice.to_dict() for choice in self.choices]
        return out


def _num_format(decimal_sep: str, group_sep: str, currency: str) -> NumFormat:
    if (decimal_sep, group_sep, currency) == (".", ",", ""):
        return NumFormat.INVARIANT
    return NumFormat(decimal_sep, group_sep, NumFormat.ALL, currency)


def _faults(result: Any) -> pa.Table:
    faults = result.faults
    return pa.table(faults) if hasattr(faults, "__arrow_c_stream__") else pa.table(pa.record_batch(faults))


def _values(result: Any) -> pa.ChunkedArray:
    return pa.chunked_array(result.values)


class ColumnInference:
    """The evidence about one column, gathered group by group."""

    def __init__(self, name: str, threshold: float, tokens: tuple[str, ...]) -> None:
        self.name = name
        self.threshold = threshold
        self.tokens = tokens
        self.cells: int = 0
        self.typed: str | None = None    # the type the file gives a column that is not text
        self.invalid: int = 0
        self.invalid_examples: list[Misfit] = []
        self.nulls: Counter[str] = Counter()
        self.currency: str | None = None
        self.odd_group: str | None = None
        self.votes: dict[str, int] = {".": 0, ",": 0}
        self.differ: int = 0
        self._last: dict[tuple[str, Any], Any] = {}    # the latest group's (result, values) per candidate
        self.candidates: dict[tuple[str, Any], Candidate] = {}
        for kind in ("bool", "time", "timestamp", "duration", "uuid"):
            self._add(kind, None)
        for separators in (_DOT, _COMMA):
            for kind in _NUMBERS:
                self._add(kind, separators)
        for order in (None, DateOrder.YMD, DateOrder.DMY, DateOrder.MDY):
            self._add("date", order)
        for order in (DateOrder.YMD, DateOrder.DMY, DateOrder.MDY):
            self._add("datetime", order)

    def _add(self, kind: str, notation: Any, like: Candidate | None = None) -> None:
        candidate = Candidate(kind, notation)
        if like is not None:  # a notation found late starts from what its sibling saw so far
            candidate.fits, candidate.misses, candidate.alive = like.fits, like.misses, like.alive
            candidate.low, candidate.high, candidate.scale = like.low, like.high, like.scale
        self.candidates[(kind, notation)] = candidate

    def _format(self, separators: tuple[str, str]) -> NumFormat:
        return _num_format(separators[0], separators[1], self.currency or "")

    def _cast(self, candidate: Candidate, cells: pa.ChunkedArray) -> Any:
        kind, notation, nulls = candidate.kind, candidate.notation, {"nulls": self.tokens}
        if kind in ("int", "decimal", "real"):
            function = {"int": columns.cast_i64, "decimal": columns.cast_decimal, "real": columns.cast_f64}[kind]
            return function(cells, self._format(notation), **nulls)
        if kind in ("date", "datetime"):
            function = columns.cast_date if kind == "date" else columns.cast_datetime
            return function(cells, notation, **nulls) if notation is not None else function(cells, **nulls)
        return getattr(columns, f"cast_{kind}")(cells, **nulls)

    # One group ----------------------------------------------------------------------------

    def add(self, array: pa.ChunkedArray, group: Group) -> None:
        if not is_text_type(array.type):
            self.typed = str(array.type)
            return
        start = group.start
        bad = [] if group.utf8 else undecodable(array, group.escaped)
        cells = text_view(array)
        if bad:
            # A cell that is not UTF-8 fits no cast; it is counted once, as a miss of every candidate.
            mask = [False] * len(cells)
            for index, offset in bad:
                mask[index] = True
                if len(self.invalid_examples) < EXAMPLES:
                    raw = array[index].as_py()
                    self.invalid_examples.append(Misfit(start + index, decode_cell(raw, group.escaped), 2, offset, 1))
            cells = pc.if_else(pa.array(mask), pa.scalar(None, cells.type), cells)
            self.invalid += len(bad)
        missing = cells.null_count - len(bad)
        if missing:
            self.nulls["null"] += missing
        trimmed = pc.utf8_trim(cells, characters=WHITESPACE)
        is_token = pc.is_in(trimmed, value_set=pa.array(self.tokens, pa.string()))
        tokens = 0
        if self.tokens and pc.any(is_token).as_py():
            for item in pc.value_counts(trimmed.filter(is_token)).to_pylist():
                self.nulls[item["values"]] += item["counts"]
                tokens += item["counts"]
        present = len(cells) - cells.null_count - tokens
        self.cells += present + len(bad)
        if present == 0:
            for candidate in self.candidates.values():
                candidate.misses += len(bad)
            return

        results = self._run(cells, start)
        if self._numbers_alive() and (self.currency is None or self.odd_group is None) and \
                self._notice_notation(cells):
            results = self._run(cells, start)   # again, under the notation just found
        for candidate, (fits, misses) in results.items():
            candidate.fits += fits
            candidate.misses += misses + len(bad)
        if ("real", _DOT) in self._last and ("real", _COMMA) in self._last:
            self._vote(cells)
        self._prune()

    def _run(self, cells: pa.ChunkedArray, start: int) -> dict[Candidate, tuple[int, int]]:
        """Casts the cells under every live candidate: (fits, misses) of each."""
        counts: dict[Candidate, tuple[int, int]] = {}
        self._last = {}
        # Only cells with a "." or a "," read differently under the two notations of the numbers.
        # Without any, the two readings agree cell for cell, and where every cell is an integer the
        # decimal and real readings fit those same cells: cast once, count twice.
        plain = not (_anywhere(cells, ".") or _anywhere(cells, ","))
        done: dict[tuple[str, Any], tuple[tuple[int, int], tuple[Any, Any, int, int]]] = {}
        for key, candidate in self.candidates.items():
            if not candidate.alive:
                continue
            kind, notation = key
            if plain and kind in _NUMBERS:
                twin = done.get((kind, _DOT)) if notation == _COMMA else None
                whole = done.get(("int", notation)) if kind != "int" else None
                if whole is not None and whole[0][1] == 0:
                    twin = (whole[0], (None, None, 0, 0))
                if twin is not None:
                    counts[candidate] = twin[0]
                    done[key] = twin
                    self._extend(candidate, *twin[1])
                    continue
            result = self._cast(candidate, cells)
            values = _values(result)
            self._last[key] = (result, values)
            fits, misses = len(values) - values.null_count, result.fault_count
            extra: tuple[Any, Any, int, int] = (None, None, 0, 0)
            if kind == "int":
                extra = self._integers(candidate, cells, values, result)
                fits, misses = fits + extra[2], misses - extra[2]
            if kind in _NUMBERS:
                odd = self._odd_fits(cells, values, notation[1])
                fits, misses = fits - odd, misses + odd
            if kind == "decimal" and values.null_count < len(values):
                extra = (None, None, 0, self._scale(candidate, cells, values))
            counts[candidate] = (fits, misses)
            done[key] = ((fits, misses), extra)
            self._extend(candidate, *extra)
            if result.fault_count and len(candidate.examples) < EXAMPLES:
                self._examples(candidate, cells, _faults(result), start)
        return counts

    def _odd_fits(self, cells: pa.ChunkedArray, values: pa.ChunkedArray, group_sep: str) -> int:
        """How many fitting cells need groups other than threes: the casts take a group separator
        between any two digits ("25.03.2024" is an integer under "." grouping), inference does not."""
        if not _anywhere(cells, group_sep):
            return 0
        holding = _holds(cells, group_sep)
        odd = pc.match_substring_regex(cells.filter(holding), _odd_grouping(group_sep))
        return pc.sum(pc.and_(values.filter(holding).is_valid(), odd)).as_py() or 0

    @staticmethod
    def _extend(candidate: Candidate, low: int | None, high: int | None, big: int, scale: int) -> None:
        """Adds what one group showed of a candidate's range and scale."""
        if low is not None:
            candidate.low = low if candidate.low is None else min(candidate.low, low)
            candidate.high = high if candidate.high is None else max(candidate.high, high)
        candidate.big += big
        candidate.scale = max(candidate.scale, scale)

    def _examples(self, candidate: Candidate, cells: pa.ChunkedArray, faults: pa.Table, start: int) -> None:
        wanted = faults.slice(0, EXAMPLES - len(candidate.examples))
        rows = wanted.column("row").to_pylist()
        texts = cells.take(pa.array(rows, pa.int64())).to_pylist()
        for row, text, reason, offset, length in zip(rows, texts, wanted.column("reason").to_pylist(),
                                                     wanted.column("offset").to_pylist(),
                                                     wanted.column("length").to_pylist()):
            candidate.examples.append(Misfit(start + row, text, reason, offset, length))

    def _integers(self, candidate: Candidate, cells: pa.ChunkedArray, values: pa.ChunkedArray,
                  result: Any) -> tuple[Any, Any, int, int]:
        """The group's range of values, and how many of its cells are past the signed range but fit
        unsigned 64 bits (fits, unless the column also holds a negative value)."""
        low = high = None
        if values.null_count < len(values):
            bounds = pc.min_max(values).as_py()
            low, high = bounds["min"], bounds["max"]
        big = 0
        if result.fault_count:
            faults = _faults(result)
            large = faults.filter(pc.equal(faults.column("reason"), 3)).column("row")
            if len(large):
                unsigned = columns.cast_u64(cells.take(large), self._format(candidate.notation), nulls=self.tokens)
                big = len(unsigned) - _values(unsigned).null_count
        return low, high, big, 0

    def _scale(self, candidate: Candidate, cells: pa.ChunkedArray, values: pa.ChunkedArray) -> int:
        """The most fraction digits the group's decimals need, or are written with ("1.50": two)."""
        needed = values.type.scale
        if max(needed, candidate.scale) > MAX_DECIMAL_SCALE:
            return needed   # a real column: its written digits no longer matter
        fits = cells.filter(values.is_valid())
        decimal_sep = candidate.notation[0]
        # What follows the separator bounds the digits written; most groups stop here.
        after = pc.subtract(pc.binary_length(fits), pc.find_substring(fits, decimal_sep))
        if (pc.max(after).as_py() or 0) - 1 <= max(needed, candidate.scale):
            return needed
        written = pc.struct_field(pc.extract_regex(fits, pattern=f"[{decimal_sep}](?P<digits>\\d+)"), [0])
        return max(needed, pc.max(pc.utf8_length(written)).as_py() or 0)

    def _numbers_alive(self) -> bool:
        return any(c.alive for c in self.candidates.values() if c.kind in _NUMBERS)

    def _notice_notation(self, cells: pa.ChunkedArray) -> bool:
        """Finds a currency symbol or an unusual group separator in the cells neither reading
        of the numbers accepts. True when the notation changed."""
        read = None
        for separators in (_DOT, _COMMA):
            entry = self._last.get(("real", separators))
            if entry is not None:
                read = entry[1].is_valid() if read is None else pc.or_(read, entry[1].is_valid())
        if read is None:
            return False
        leftover = cells.filter(pc.invert(read)).drop_null().slice(0, 10000)
        if not len(leftover):
            return False
        changed = False
        if self.odd_group is None:
            groups = pc.struct_field(pc.extract_regex(leftover, pattern=_ODD_GROUP), [0])
            found = _most_common(groups)
            if found is not None:
                self.odd_group = found
                for standard in (_DOT, _COMMA):
                    for kind in _NUMBERS:
                        self._add(kind, (standard[0], found), self.candidates.get((kind, standard)))
                changed = True
        if self.currency is None:
            residue = pc.utf8_trim_whitespace(pc.replace_substring_regex(
                leftover, pattern=r"[\d\s.,'’+\-()%\x{a0}\x{202f}]", replacement=""))
            residue = residue.filter(pc.match_substring_regex(residue, _CURRENCY))
            found = _most_common(residue)
            if found is not None and len(found.encode()) <= 16:
                self.currency = found
                changed = True
        return changed

    def _vote(self, cells: pa.ChunkedArray) -> None:
        """A cell votes for the reading its own separators settle, as the casts detect them per cell
        ("1.234,5", "1,5", "1,234,567"), unless that reading needs odd groups ("1.2.3")."""
        separated = pc.or_(_holds(cells, "."), _holds(cells, ","))
        if not pc.any(separated).as_py():
            return
        cells = cells.filter(separated)
        dot = self._last[("real", _DOT)][1].filter(separated)
        comma = self._last[("real", _COMMA)][1].filter(separated)
        detected = _values(columns.cast_f64(cells, _detect(self.currency), nulls=self.tokens))
        same = pc.fill_null(pc.equal(dot, comma), False)
        with_dot = pc.and_(pc.and_(pc.fill_null(pc.equal(detected, dot), False), pc.invert(same)),
                           pc.invert(pc.match_substring_regex(cells, _odd_grouping(",")).fill_null(False)))
        with_comma = pc.and_(pc.and_(pc.fill_null(pc.equal(detected, comma), False), pc.invert(same)),
                             pc.invert(pc.match_substring_regex(cells, _odd_grouping(".")).fill_null(False)))
        self.votes["."] += pc.sum(with_dot).as_py() or 0
        self.votes[","] += pc.sum(with_comma).as_py() or 0
        self.differ += pc.sum(pc.fill_null(pc.not_equal(dot, comma), False)).as_py() or 0

    def _prune(self) -> None:
        if self.cells < PRUNE_AFTER:
            return
        allowed = (1 - self.threshold) * self.cells
        for candidate in self.candidates.values():
            if candidate.alive and candidate.misses > allowed:
                candidate.alive = False

    # The decision -------------------------------------------------------------------------

    def decide(self) -> Decision:
        nulls = {token: count for token, count in sorted(self.nulls.items(), key=_token_order)}
        decision = Decision(self.name, "text", self.cells, nulls)
        if self.typed is not None:
            decision.status, decision.note = "typed in the file", f"holds {self.typed}; left as it is"
            return decision
        if self.cells == 0:
            decision.note = "no values"
            return decision
        best: list[tuple[int, int, Any]] = []   # (fits, narrowness, outcome)
        for family, outcome in self._families():
            best.append((outcome[0], KINDS.index(family), outcome))
        if not best:
            decision.note = "no cast fits"
            return decision
        best.sort(key=lambda item: (-item[0], item[1]))
        fits, _, (_, column, candidate, choices, note) = best[0]
        decision.fits = fits
        if fits < self.threshold * self.cells:
            if fits:
                decision.note = (f"the best cast, {column.cast if column else choices[0].cast}, fits {fits:,} of "
                                 f"{self.cells:,} cells, under the threshold of {self.threshold:.0%}")
                decision.misfits = sorted(candidate.examples + self.invalid_examples, key=lambda m: m.row)[:EXAMPLES]
            else:
                decision.note = "no cast fits"
            return decision
        decision.misfits = sorted(candidate.examples + self.invalid_examples, key=lambda m: m.row)[:EXAMPLES]
        tokens = tuple(token for token in nulls if token != "null")
        if column is None:
            decision.status = "ambiguous"
            decision.note = note
            decision.choices = [Column(c.cast, c.notation, nulls=tokens, scale=c.scale) for c in choices]
            return decision
        decision.status = "typed"
        decision.column = Column(column.cast, column.notation, nulls=tokens, scale=column.scale)
        return decision

    def _families(self) -> Iterable[tuple[str, tuple[int, Column | None, Candidate, list[Column], str]]]:
        """Each family's best reading: (fits, declaration or None when ambiguous, candidate, choices, note)."""
        live = {key: c for key, c in self.candidates.items() if c.alive}
        for kind in ("bool", "time", "timestamp", "duration", "uuid"):
            candidate = live.get((kind, None))
            if candidate:
                yield kind, (candidate.fits, Column(kind), candidate, [], "")
        numbers = self._numbers(live)
        if numbers:
            yield numbers
        for kind, orders in (("date", (None, DateOrder.YMD, DateOrder.DMY, DateOrder.MDY)),
                             ("datetime", (DateOrder.YMD, DateOrder.DMY, DateOrder.MDY))):
            present = [live[(kind, order)] for order in orders if (kind, order) in live]
            if not present:
                continue
            top = max(c.fits for c in present)
            tied = [c for c in present if c.fits == top]
            first = tied[0]
            if first.notation in (None, DateOrder.YMD) or len(tied) == 1:
                yield kind, (top, Column(kind, first.notation), first, [], "")
            else:
                yield kind, (top, None, first, [Column(kind, c.notation) for c in tied],
                             f"every {kind.replace('datetime', 'date-time')} that fits reads both as "
                             f"{' and as '.join(c.notation.name for c in tied)}; declare the order")

    def _numbers(self, live: dict[tuple[str, Any], Candidate]) -> Any:
        formats = [key[1] for key in live if key[0] in _NUMBERS]
        formats = list(dict.fromkeys(formats))
        if not formats:
            return None
        readings = []
        for separators in formats:
            reading = self._number_kind(live, separators)
            if reading is not None:
                votes = self.votes.get(separators[0], 0) if separators[1] in (".", ",") else 0
                readings.append((reading[0], votes, separators, reading))
        if not readings:
            return None
        readings.sort(key=lambda r: (-r[0], -r[1]))
        top = readings[0]
        rivals = [r for r in readings[1:] if (r[0], r[1]) == (top[0], top[1])]
        fits, _, separators, (_, kind, column, candidate) = top
        if rivals and self.differ:
            shown = [top, *rivals]
            choices = [r[3][2] for r in shown]
            return kind, (fits, None, candidate, choices,
                          "the numbers read both with '.' and with ',' as the decimal separator (as "
                          "\"1.234\" does) and no cell settles which; declare the format")
        return kind, (fits, column, candidate, [], "")

    def _number_kind(self, live: dict[tuple[str, Any], Candidate], separators: tuple[str, str]) -> Any:
        integer, decimal, real = (live.get((kind, separators)) for kind in ("int", "decimal", "real"))
        fmt = self._format(separators)
        int_fits = -1
        if integer is not None and (integer.low is not None or integer.big):
            # Values past the signed range fit only a column with no negative value.
            negative = integer.low is not None and integer.low < 0
            int_fits = integer.fits - (integer.big if negative else 0)
        others = max(decimal.fits if decimal else -1, real.fits if real else -1)
        if integer is not None and int_fits >= 0 and int_fits >= others:
            if integer.big > 0 and not negative:
                name = "u64"
            else:
                name = next(n for n, low, high in _INT_WIDTHS if low <= integer.low and integer.high <= high)
            return int_fits, "int", Column(name, fmt), integer
        if decimal is not None and decimal.fits >= (real.fits if real else -1) and decimal.scale <= MAX_DECIMAL_SCALE:
            return decimal.fits, "decimal", Column("decimal", fmt, scale=decimal.scale), decimal
        if real is not None and real.fits > 0:
            return real.fits, "real", Column("f64", fmt), real
        return None


def _anywhere(cells: pa.ChunkedArray, char: str) -> bool:
    """Whether any cell may hold ``char``: a byte search of the data buffers (of a slice, perhaps
    a little more than its cells)."""
    needle = char.encode()
    for chunk in cells.chunks:
        data = chunk.buffers()[2]
        if data is not None and needle in data.to_pybytes():
            return True
    return False


def _holds(cells: pa.ChunkedArray, text: str) -> pa.ChunkedArray:
    return pc.fill_null(pc.greater_equal(pc.find_substring(cells, text), 0), False)


def _odd_grouping(group_sep: str) -> str:
    """Cells whose group separator does not stand between groups of three digits."""
    g = f"[{group_sep}]"
    return rf"\d{{4}}{g}|{g}\d{{4}}|{g}\d{{1,2}}(?:\D|$)|^{g}|{g}$"


def _detect(currency: str | None) -> NumFormat:
    if not currency:
        return NumFormat.DETECT
    return NumFormat(".", ",", NumFormat.ALL | NumFormat.SEPARATOR_DETECT, currency)


def _most_common(values: pa.ChunkedArray | pa.Array) -> str | None:
    values = values.drop_null()
    values = values.filter(pc.not_equal(values, ""))
    if not len(values):
        return None
    counts = pc.value_counts(values).to_pylist()
    return max(counts, key=lambda item: item["counts"])["values"]


def _token_order(item: tuple[str, int]) -> tuple[int, str]:
    token = item[0]
    return (NULL_TOKENS.index(token) if token in NULL_TOKENS else len(NULL_TOKENS), token)


@dataclass
class Inference:
    """The inferred schema of a file, and how each column was decided."""

    source: Source
    rows: int
    decisions: list[Decision]

    def schema(self) -> Schema:
        """The typed columns; the null tokens found in any of them are declared once, for all."""
        typed = [d for d in self.decisions if d.column is not None]
        tokens = [t for d in typed for t in d.column.nulls or ()]  # type: ignore[union-attr]
        nulls = sorted(set(tokens), key=lambda t: _token_order((t, 0)))
        declared = {d.name: _without_nulls(d.column) for d in typed}
        return Schema(declared, nulls=nulls)

    def to_json(self) -> dict[str, Any]:
        return {"file": self.source.name, "rows": self.rows, "schema": self.schema().to_dict(),
                "columns": [d.to_json() for d in self.decisions],
                "problems": [p.to_json() for p in self.source.problems]}


def _without_nulls(column: Column | None) -> Column:
    assert column is not None
    return Column(column.cast, column.notation, unit=column.unit, scale=column.scale)


def infer(source: Source, *, threshold: float = THRESHOLD, tokens: tuple[str, ...] = NULL_TOKENS,
          sample: int | None = None, threads: int = 1, progress: Callable[[], None] | None = None) -> Inference:
    columns_seen = [ColumnInference(name, threshold, tokens) for name in source.names]
    rows = 0
    pool = ThreadPoolExecutor(threads, thread_name_prefix="quillmere") if threads > 1 else None
    try:
        for group in source.groups(limit=sample):
            rows += group.rows
            work = [(c, group.table.column(c.name)) for c in columns_seen]
            if pool is None:
                for column, array in work:
                    column.add(array, group)
            else:
                for future in [pool.submit(c.add, a, group) for c, a in work]:
                    future.result()
            if progress:
                progress()
    finally:
        if pool is not None:
            pool.shutdown()
    return Inference(source, rows, [c.decide() for c in columns_seen])


# The text form ---------------------------------------------------------------------------------

def _quoted(cell: str | None) -> str:
    from .report import render_cell

    return render_cell(cell, 0, 0, width=40)[0]


def _column_comment(decision: Decision) -> str:
    parts = [f"{decision.fits:,} of {decision.cells:,} cells fit"]
    nulls = sum(decision.nulls.values())
    if nulls:
        shown = ", ".join(f"{'missing' if t == 'null' else _quoted(t)} {n:,}" for t, n in decision.nulls.items())
        parts.append(f"nulls: {shown}")
    line = "; ".join(parts)
    if decision.misfits:
        line += "; not: " + ", ".join(f"row {m.row:,} {_quoted(m.cell)} ({REASONS[m.reason - 1]})"
                                      for m in decision.misfits)
    return line


def to_toml(inference: Inference) -> str:
    """The schema as TOML, each column with a comment saying how well it fits; a column left
    as text or found ambiguous is a comment, with a declaration to uncomment for the latter."""
    schema = inference.schema()
    source = inference.source
    from .report import describe_source

    lines = [f"# quillmere infer: {_bare(source.name)}, {inference.rows:,} rows",
             f"# {' · '.join(describe_source(source).split(' · ')[1:])}"]
    if schema.nulls:
        lines += ["", f"nulls = {_toml_list(schema.nulls)}"]
    for decision in inference.decisions:
        lines.append("")
        if decision.status == "typed":
            lines.append(f"# {_column_comment(decision)}")
            stanza = Schema({decision.name: schema[decision.name]}).to_toml().rstrip("\n")
            lines.extend(stanza.splitlines())
        elif decision.status == "ambiguous":
            lines.append(f"# {_bare(decision.name)}: ambiguous: {decision.note}")
            lines.append(f"# {_column_comment(decision)}")
            for number, choice in enumerate(decision.choices):
                choice = _without_nulls(choice)
                lines.append(f"# {'either' if number == 0 else 'or'}:")
                stanza = Schema({decision.name: choice}).to_toml().rstrip("\n")
                lines.extend(f"# {line}" for line in stanza.splitlines())
        elif decision.status == "typed in the file":
            lines.append(f"# {_bare(decision.name)}: {decision.note}")
        else:
            note = decision.note or "no cast fits"
            lines.append(f"# {_bare(decision.name)}: text ({note})")
            if decision.misfits and decision.cells:
                lines.append("# not: " + ", ".join(f"row {m.row:,} {_quoted(m.cell)}" for m in decision.misfits))
    for problem in source.problems:
        if problem == source.problems[0]:
            lines.append("")
        lines.append(f"# {_bare(problem.message)}")
    return "\n".join(lines) + "\n"


def _bare(text: str) -> str:
    """Text fit for a TOML comment: a line break or other control character as its escape."""
    return json.dumps(text, ensure_ascii=False)[1:-1].replace('\\"', '"')


def _toml_list(items: Iterable[str]) -> str:
    return "[" + ", ".join(json.dumps(item, ensure_ascii=False) for item in items) + "]"
