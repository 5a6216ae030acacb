"""The reports: a human one for the terminal (colour only on a terminal) and a JSON one for pipelines."""

from __future__ import annotations

import json
import sys
import time
import unicodedata
from typing import IO, Any

from rich.cells import cell_len
from rich.console import Console
from rich.text import Text

from .run import REASONS, Fault, Summary
from .source import Problem, Source

CELL_WIDTH = 60            # display columns of a cell in the list of bad cells, quotes included
_ESCAPES = {"\t": "\\t", "\n": "\\n", "\r": "\\r", '"': '\\"', "\\": "\\\\"}


def _shown(char: str) -> str:
    """How one code point of a cell is shown: itself, or an escape when it would be invisible or harmful."""
    if char in _ESCAPES:
        return _ESCAPES[char]
    code = ord(char)
    if 0xDC80 <= code <= 0xDCFF:          # a byte that is not UTF-8, kept as a lone surrogate
        return f"\\x{code - 0xDC00:02x}"
    if unicodedata.category(char) in ("Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp"):
        return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}" if code < 0x10000 else f"\\U{code:08x}"
    return char


def render_cell(cell: str | None, offset: int, length: int, width: int = CELL_WIDTH) -> tuple[str, int, int]:
    """The cell in quotes with escapes, cut to ``width`` around the span; and the display columns
    where the span starts and ends (equal for an empty span, which points between two characters)."""
    if cell is None:
        return "null", 0, 0
    pieces = [_shown(char) for char in cell]
    offset = min(offset, len(pieces))
    end = min(offset + length, len(pieces))
    # Cut a long cell to a window that keeps the span (or its start) in view, with a little before it.
    widths = [cell_len(piece) for piece in pieces]
    first, last = 0, len(pieces)
    room = width - 4   # the quotes and the two ellipses
    if sum(widths) > width - 2:
        # The span first, as much of it as fits; then up to a third of the room before it, then
        # what follows it, then whatever room is left before it.
        last, used = offset, 0
        while last < end and used + widths[last] <= room:
            used += widths[last]
            last += 1
        first, before = offset, 0
        while first > 0 and used + widths[first - 1] <= room and before + widths[first - 1] <= room // 3:
            first -= 1
            used += widths[first]
            before += widths[first]
        while last < len(pieces) and used + widths[last] <= room:
            used += widths[last]
            last += 1
        while first > 0 and used + widths[first - 1] <= room:
            first -= 1
            used += widths[first]
        end = min(end, last)
    head = "…" if first > 0 else ""
    tail = "…" if last < len(pieces) else ""
    text = '"' + head + "".join(pieces[first:last]) + tail + '"'
    start = 1 + cell_len(head) + sum(cell_len(p) for p in pieces[first:offset])
    stop = start + sum(cell_len(p) for p in pieces[offset:end])
    return text, start, stop


def marked(fault: Fault) -> tuple[Text, str]:
    """The cell with its span in the error style, and a line of carets under the span."""
    shown, start, stop = render_cell(fault.cell, fault.offset, fault.length)
    text = Text(shown)
    if stop > start:
        # Display columns and string indices agree up to the span unless wide characters come first.
        index_start = _index_at(shown, start)
        index_stop = _index_at(shown, stop)
        text.stylize("bold red reverse", index_start, index_stop)
    carets = " " * start + "^" * max(1, stop - start)
    return text, carets


def _index_at(text: str, column: int) -> int:
    used = 0
    for index, char in enumerate(text):
        if used >= column:
            return index
        used += cell_len(char)
    return len(text)


def console_for(stream: IO[str]) -> Console:
    # Never wrap: the carets must stay under their characters. Colour only on a terminal.
    return Console(file=stream, highlight=False, soft_wrap=True, emoji=False)


def _grid(rows: list[list[str]], right: set[int]) -> list[str]:
    widths = [max(cell_len(row[i]) for row in rows) for i in range(len(rows[0]))]
    lines = []
    for row in rows:
        cells = []
        for i, value in enumerate(row):
            pad = " " * (widths[i] - cell_len(value))
            cells.append(pad + value if i in right else value + pad)
        lines.append("  ".join(cells).rstrip())
    return lines


def describe_source(source: Source) -> str:
    parts = [source.name, f"{len(source.names)} columns"]
    if source.dialect is not None:
        parts.append(source.dialect.describe())
    else:
        parts.append(source.format)
    return " · ".join(parts)


def print_check(console: Console, summary: Summary, schema_label: str, elapsed: float) -> None:
    """The human report of a check: the source, the counts per column, the first bad cells."""
    source = summary.source
    console.print(Text(f"{source.name} · {summary.rows:,} rows · " + " · ".join(describe_source(source).split(" · ")[1:]),
                       style="bold"))
    console.print(Text(f"schema: {schema_label}", style="dim"))
    console.print()
    rows = [["column", "cast", "nulls", *REASONS]]
    for tally in summary.tallies.values():
        rows.append([tally.name, tally.cast, f"{tally.nulls:,}", *(f"{count:,}" for count in tally.reasons)])
    grid = _grid(rows, right={2, 3, 4, 5})
    console.print(Text(grid[0], style="bold"))
    for line, tally in zip(grid[1:], summary.tallies.values()):
        console.print(Text(line, style="red" if tally.faults else ""))
    listed = summary.faults
    if listed:
        console.print()
        count = summary.fault_count
        console.print(Text(f"first {len(listed):,} of {count:,} bad cells" if len(listed) < count
                           else f"{count:,} bad cell{'s' if count != 1 else ''}", style="bold"))
        print_faults(console, listed)
    print_problems(console, source.problems)
    console.print()
    bad_columns = sum(1 for t in summary.tallies.values() if t.faults)
    ragged = sum(1 for p in source.problems if p.kind == "ragged_row")
    if summary.fault_count or ragged:
        parts = []
        if summary.fault_count:
            parts.append(f"{summary.fault_count:,} bad cell{'s' if summary.fault_count != 1 else ''} in "
                         f"{bad_columns} column{'s' if bad_columns != 1 else ''}")
        if ragged:
            parts.append(f"{ragged:,} ragged row{'s' if ragged != 1 else ''}")
        console.print(Text(f"{summary.rows:,} rows: {', '.join(parts)} ({elapsed:.1f} s)", style="bold red"))
    else:
        console.print(Text(f"{summary.rows:,} rows: no bad cells ({elapsed:.1f} s)", style="bold green"))


def print_faults(console: Console, faults: list[Fault]) -> None:
    rows = [["row", "column", "reason"]] + [[f"{f.row:,}", f.column, REASONS[f.reason - 1]] for f in faults]
    grid = _grid(rows, right={0})
    indent = max(cell_len(line) for line in grid) + 2
    console.print(Text(grid[0].ljust(indent) + "cell", style="bold"))
    for line, fault in zip(grid[1:], faults):
        cell, carets = marked(fault)
        console.print(Text(line.ljust(indent)) + cell)
        console.print(Text(" " * indent + carets, style="red"))


def print_problems(console: Console, problems: list[Problem], limit: int = 20) -> None:
    if not problems:
        return
    console.print()
    console.print(Text(f"{len(problems)} problem{'s' if len(problems) != 1 else ''} with the file's shape",
                       style="bold"))
    for problem in problems[:limit]:
        where = f"line {problem.line}: " if problem.line is not None else ""
        console.print(Text(f"  {where}{problem.message}", style="yellow"))
    if len(problems) > limit:
        console.print(Text(f"  … and {len(problems) - limit} more", style="yellow"))


class JsonReport:
    """The machine report of ``check``, written as it goes so that every fault can be listed
    without holding them all: the source, then ``faults``, then the counts."""

    def __init__(self, stream: IO[str], source: Source, schema: dict[str, Any], schema_label: str) -> None:
        self.stream = stream
        self.started: float = time.perf_counter()
        head: dict[str, Any] = {"file": source.name, "format": source.format}
        if source.dialect is not None:
            head["dialect"] = {"delimiter": source.dialect.delimiter, "quote": source.dialect.quote,
                               "header": source.dialect.header, "encoding": source.dialect.encoding}
        head["schema"] = {"source": schema_label, **schema}
        stream.write(dumps(head)[:-1] + ', "faults": [')
        self.first: bool = True

    def faults(self, faults: list[Fault]) -> None:
        for fault in faults:
            self.stream.write(("\n  " if self.first else ",\n  ") + dumps(fault.to_json()))
            self.first = False

    def finish(self, summary: Summary, status: int) -> None:
        """Writes the counts after the listed faults and closes the report."""
        tail = {"rows": summary.rows, "fault_count": summary.fault_count,
                "columns": [t.to_json() for t in summary.tallies.values()],
                "problems": [p.to_json() for p in summary.source.problems], "status": status,
                "seconds": round(time.perf_counter() - self.started, 3)}
        self.stream.write(("\n], " if not self.first else "], ") + dumps(tail)[1:] + "\n")
        self.stream.flush()


def dumps(value: Any) -> str:
    """JSON that stays valid UTF-8: a byte that was not UTF-8 (a lone surrogate) is written as its escape."""
    return json.dumps(value, ensure_ascii=False).encode("utf-8", "backslashreplace").decode("utf-8")


def stdout_text() -> IO[str]:
    out = sys.stdout
    try:
        out.reconfigure(errors="backslashreplace")  # type: ignore[union-attr]
    except (AttributeError, ValueError):
        pass
    return out
