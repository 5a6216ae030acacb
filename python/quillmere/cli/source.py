"""Reading a file as batches of text columns: CSV/TSV, Parquet, Arrow IPC, or standard input.

CSV is read by pyarrow's streaming reader with every column as ``binary``, so a byte that
is not UTF-8 reaches the cast as a fault in its cell instead of stopping the read. The
dialect (delimiter, quote, header) is sniffed from the first 64 KiB unless declared.
Ragged rows come back in place: pyarrow reports them to a handler, and they are parsed
again here, padded with nulls or cut to the header's width, and spliced into their batch,
so row numbers always count every record of the file. A UTF-8 file whose lines end in a line
feed can also be cut into pieces at record ends (following the quoting as the parser does)
and the pieces parsed on several threads, with the same rows as the one stream.
"""

from __future__ import annotations

import codecs
import csv
import functools
import io
import os
import sys
from collections.abc import Iterator
from dataclasses import dataclass, field
from typing import Any, BinaryIO

import pyarrow as pa
import pyarrow.csv as pa_csv

from .errors import UsageError
from .undecodable import Escaper, marked

SAMPLE_BYTES = 64 << 10
BLOCK_BYTES = 1 << 20          # pyarrow's read-ahead holds a few dozen blocks, so keep them small
GROUP_BYTES = 8 << 20          # batches are gathered into groups of about this much text per cast call
DELIMITERS = (",", ";", "\t", "|")


@dataclass
class Problem:
    """Something wrong with the file's shape rather than with one cell."""

    kind: str                  # "ragged_row", "duplicate_column" or "unnamed_column"
    message: str
    row: int | None = None     # the data row (from 0), for a ragged row
    line: int | None = None    # the record's position in the file, header included (from 1)
    detail: str = ""           # what is wrong with the row, for a ragged row

    @classmethod
    def ragged(cls, row: int, line: int, detail: str) -> Problem:
        return cls("ragged_row", f"row {row} has {detail}", row, line, detail)

    def moved(self, rows: int, header_lines: int) -> Problem:
        """A ragged row found in a piece of the file read on its own, placed in the file: the
        piece starts after ``rows`` data rows and the header's lines."""
        assert self.row is not None and self.line is not None
        return Problem.ragged(self.row + rows, self.line + rows + header_lines, self.detail)

    def to_json(self) -> dict[str, Any]:
        out: dict[str, Any] = {"kind": self.kind, "message": self.message}
        if self.row is not None:
            out["row"] = self.row
        if self.line is not None:
            out["line"] = self.line
        return out


@dataclass
class Group:
    """Consecutive rows of the file: a table of text columns and the number of its first row."""

    start: int
    table: pa.Table
    utf8: bool = False      # every cell is known to be UTF-8, so none needs a look
    escaped: bool = False   # bytes that are not UTF-8 arrive as markers (CSV)

    @property
    def rows(self) -> int:
        return self.table.num_rows


@dataclass
class CsvDialect:
    delimiter: str
    quote: str | None
    header: bool
    encoding: str

    def describe(self) -> str:
        names = {",": "comma", ";": "semicolon", "\t": "tab", "|": "pipe"}
        delimiter = names.get(self.delimiter, repr(self.delimiter))
        return f"{delimiter} separated, {'header' if self.header else 'no header'}, {self.encoding}"


@dataclass
class Options:
    """How to read the input; None means detect."""

    format: str | None = None
    delimiter: str | None = None
    quote: str | None = None          # "" for no quoting
    header: bool | None = None
    encoding: str | None = None


@dataclass
class Source:
    """An opened input: its column names, how it is read, and the batches of its rows."""

    name: str
    format: str
    names: list[str]
    dialect: CsvDialect | None = None
    size: int | None = None
    total_rows: int | None = None
    problems: list[Problem] = field(default_factory=list)
    schema: pa.Schema | None = None  # the columns' types, where the file declares them
    _open: Any = None               # () -> iterator of record batches; set by the opener
    _position: Any = None           # () -> bytes or rows consumed so far, for progress
    _utf8: Any = None               # () -> True while every byte read so far is UTF-8
    escaped: bool = False           # bytes that are not UTF-8 arrive as markers (CSV)
    _chunks: Any = None             # () -> iterator of Chunk, where the file can be parsed piecewise

    def chunks(self) -> Iterator[Chunk] | None:
        """The file cut into pieces of whole records, each parsed where it is called (on any
        thread), or None where the file must be read in one stream."""
        return self._chunks() if self._chunks else None

    def groups(self, *, group_bytes: int = GROUP_BYTES, limit: int | None = None) -> Iterator[Group]:
        """The rows in order, gathered into groups of about ``group_bytes`` of text."""
        start = 0
        pending: list[pa.RecordBatch] = []
        pending_bytes = 0
        for batch in self._open():
            if limit is not None and start + pending_rows(pending) + batch.num_rows >= limit:
                batch = batch.slice(0, limit - start - pending_rows(pending))
                pending.append(batch)
                break
            pending.append(batch)
            pending_bytes += batch.nbytes
            if pending_bytes >= group_bytes:
                table = pa.Table.from_batches(pending)
                yield Group(start, table, self._clean(), self.escaped)
                start += table.num_rows
                pending, pending_bytes = [], 0
        if pending:
            table = pa.Table.from_batches(pending)
            if table.num_rows or start == 0:
                yield Group(start, table, self._clean(), self.escaped)
        elif start == 0:
            empty = self.schema or pa.schema([(name, pa.binary()) for name in self.names])
            yield Group(0, empty.empty_table(), True, self.escaped)

    def position(self) -> int:
        return self._position() if self._position else 0

    def _clean(self) -> bool:
        # Bytes are read before the rows made of them, so a group made before the first bad
        # byte was seen holds none.
        return bool(self._utf8 and self._utf8())


def pending_rows(batches: list[pa.RecordBatch]) -> int:
    return sum(batch.num_rows for batch in batches)


def _read_options(names: list[str]) -> pa_csv.ReadOptions:
    return pa_csv.ReadOptions(use_threads=False, block_size=BLOCK_BYTES, column_names=names)


def _convert_options(names: list[str]) -> pa_csv.ConvertOptions:
    return pa_csv.ConvertOptions(column_types={name: pa.binary() for name in names}, null_values=[],
                                 strings_can_be_null=False, quoted_strings_can_be_null=False, check_utf8=False)


def _parse_options(dialect: CsvDialect, splicer: _RaggedRows) -> pa_csv.ParseOptions:
    return pa_csv.ParseOptions(delimiter=dialect.delimiter, quote_char=dialect.quote or False, double_quote=True,
                               escape_char=False, newlines_in_values=True, ignore_empty_lines=True,
                               invalid_row_handler=splicer.handler)


@dataclass
class Parsed:
    """A chunk's rows, its ragged rows counted from the chunk's first row, and whether every
    byte of it was UTF-8."""

    table: pa.Table
    problems: list[Problem]
    utf8: bool


class Chunk:
    """Whole records of a CSV file: parsed by :meth:`parse` on whichever thread calls it."""

    def __init__(self, buffer: bytes, begin: int, end: int, display: str, names: list[str],
                 dialect: CsvDialect) -> None:
        self.data: memoryview = memoryview(buffer)[begin:end]
        # The ASCII test reads the whole buffer (a cut record after the end is part of the next
        # chunk): a buffer that is not all ASCII only sends the chunk the slower, exact way.
        self.ascii: bool = buffer.isascii()
        self.display: str = display
        self.names: list[str] = names
        self.dialect: CsvDialect = dialect

    def parse(self) -> Parsed:
        """The chunk's rows, exactly as the streaming reader would give them."""
        escaper = Escaper()
        body: Any = self.data if self.ascii else escaper.feed(self.data.tobytes()) + escaper.close()
        self.data = memoryview(b"")
        local = Source("", "csv", self.names)
        splicer = _RaggedRows(local, CsvDialect(self.dialect.delimiter, self.dialect.quote, False, "utf-8"))
        columns = pa.schema([(name, pa.binary()) for name in self.names])
        try:
            table = pa_csv.read_csv(pa.py_buffer(body), read_options=_read_options(self.names),
                                    parse_options=_parse_options(self.dialect, splicer),
                                    convert_options=_convert_options(self.names))
        except pa.ArrowInvalid as error:
            if "Empty CSV file" in str(error):
                return Parsed(columns.empty_table(), [], not escaper.invalid)
            raise UsageError(f"{self.display}: {error}") from None
        batches = [*(b for batch in table.to_batches() for b in splicer.splice(batch)), *splicer.finish()]
        return Parsed(pa.Table.from_batches(batches, schema=columns), local.problems, not escaper.invalid)


CHUNK_BYTES = 8 << 20


def _outside_quotes(data: bytes, lo: int, quote: bytes, delimiter: bytes) -> Iterator[tuple[int, int]]:
    """The stretches of ``data[lo:]`` (which starts a record) outside quoted fields. A quote opens
    a quoted field only at a field's start, as the parser reads it; a doubled quote inside one is
    a quote; a field still quoted at the end leaves no stretch after it."""
    outside, i = lo, data.find(quote, lo)
    while i >= 0:
        if i == lo or data[i - 1:i] in (delimiter, b"\n", b"\r"):
            yield outside, i
            close = data.find(quote, i + 1)
            while close >= 0 and data[close + 1:close + 2] == quote:
                close = data.find(quote, close + 2)
            if close < 0:
                return
            outside = close + 1
            i = data.find(quote, outside)
        else:
            i = data.find(quote, i + 1)
    yield outside, len(data)


def _record_end(data: bytes, lo: int, quote: bytes | None, delimiter: bytes, *, first: bool = False) -> int:
    """Just past the last (or the first) line end of ``data[lo:]`` that ends a record, or ``lo``."""
    if quote is None or data.find(quote, lo) < 0:
        return (data.find(b"\n", lo) if first else data.rfind(b"\n", lo)) + 1 or lo
    last = lo
    for start, stop in _outside_quotes(data, lo, quote, delimiter):
        end = data.find(b"\n", start, stop) if first else data.rfind(b"\n", start, stop)
        if end >= 0:
            if first:
                return end + 1
            last = end + 1
    return last


def _read_chunks(path: str, display: str, names: list[str], dialect: CsvDialect,
                 consumed: list[int]) -> Iterator[Chunk]:
    quote = dialect.quote.encode() if dialect.quote else None
    delimiter = dialect.delimiter.encode()
    try:
        stream = open(path, "rb", buffering=0)  # noqa: SIM115  (read to its end)
    except OSError as error:
        raise UsageError(f"cannot read {path}: {error.strerror or error}") from None
    with stream:
        tail = b""            # the start of a record cut by the end of the last block
        header = dialect.header
        while True:
            # Blocks are read whole and handed on as views; only a record cut between two
            # blocks is copied, as a small chunk of its own.
            data = stream.read(CHUNK_BYTES)
            consumed[0] += len(data)
            if not data:
                if tail and not header:
                    yield Chunk(tail, 0, len(tail), display, names, dialect)
                return
            begin = 0
            if tail or header:
                probe = 1 << 16
                while True:
                    joined = tail + data[:probe]
                    lo = _header_start(joined) if header else 0
                    end = _record_end(joined, lo, quote, delimiter, first=True)
                    if end > lo or probe >= len(data):
                        break
                    probe *= 4
                if end == lo:
                    tail = joined
                    continue
                if not header:
                    yield Chunk(joined, 0, end, display, names, dialect)
                header = False    # the header record is left out
                begin = end - len(tail)
                tail = b""
            end = _record_end(data, begin, quote, delimiter)
            if end > begin:
                yield Chunk(data, begin, end, display, names, dialect)
            tail = data[end:] if end > begin else data[begin:]


def _header_start(data: bytes) -> int:
    # The byte order mark and the empty lines before the header, which the parser skips too.
    begin = len(codecs.BOM_UTF8) if data.startswith(codecs.BOM_UTF8) else 0
    while begin < len(data) and data[begin] in b"\r\n":
        begin += 1
    return begin


# Opening ------------------------------------------------------------------------------------

def open_source(path: str, options: Options) -> Source:
    """Opens a file (or ``-``, standard input) and reads enough of it to know its columns."""
    stream: BinaryIO
    if path == "-":
        stream = sys.stdin.buffer
        size = None
    else:
        try:
            stream = open(path, "rb")  # noqa: SIM115  (closed once sniffed, or at its end)
            size = os.fstat(stream.fileno()).st_size
        except OSError as error:
            raise UsageError(f"cannot read {path}: {error.strerror or error}") from None
    head = _read_up_to(stream, SAMPLE_BYTES)
    kind = options.format or _format_of(path, head)
    display = "standard input" if path == "-" else path
    if kind == "parquet":
        return _open_parquet(display, stream, head, size)
    if kind == "arrow":
        return _open_ipc(display, stream, head, size)
    return _open_csv(display, path, stream, head, size, options)


def _read_up_to(stream: BinaryIO, count: int) -> bytes:
    parts, got = [], 0
    while got < count:
        part = stream.read(count - got)
        if not part:
            break
        parts.append(part)
        got += len(part)
    return b"".join(parts)


def _format_of(path: str, head: bytes) -> str:
    lower = path.lower()
    if lower.endswith((".parquet", ".pq")) or head.startswith(b"PAR1"):
        return "parquet"
    if lower.endswith((".arrow", ".arrows", ".feather", ".ipc")) or head.startswith(b"ARROW1") \
            or head.startswith(b"\xff\xff\xff\xff"):
        return "arrow"
    return "csv"


class _Feed(io.RawIOBase):
    """The stream handed to the CSV reader: the bytes already read for sniffing, then the rest,
    each byte that is not UTF-8 turned into its marker."""

    def __init__(self, head: bytes, rest: BinaryIO, escaper: Escaper | None = None) -> None:
        self._head = head
        self._rest = rest
        self.escaper = escaper
        self.consumed = 0
        self._out = memoryview(b"")
        self._ended = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        while not self._out.nbytes and not self._ended:
            if self._head:
                data, self._head = self._head, b""
            else:
                data = self._rest.read(len(buffer))
            self.consumed += len(data)
            if not data:
                self._ended = True
                data = self.escaper.close() if self.escaper else b""
            elif self.escaper:
                data = self.escaper.feed(data)
            self._out = memoryview(data)
        count = min(len(buffer), self._out.nbytes)
        buffer[:count] = self._out[:count]
        self._out = self._out[count:]
        return count


class _Transcoded(io.RawIOBase):
    """A stream in another encoding as UTF-8; a byte the encoding cannot decode stays as it
    is, so it becomes a fault in its cell like any byte that is not UTF-8."""

    def __init__(self, raw: io.RawIOBase, encoding: str, escaper: Escaper) -> None:
        self._raw = raw
        self.escaper = escaper
        self._decoder = codecs.getincrementaldecoder(encoding)(errors="surrogateescape")
        self._pending = b""
        self._done = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        while not self._pending and not self._done:
            data = self._raw.read(BLOCK_BYTES)
            self._done = not data
            text = self._decoder.decode(data or b"", final=self._done)
            try:
                self._pending = text.encode("utf-8")
            except UnicodeEncodeError:
                self.escaper.invalid = True
                self._pending = marked(text)
        count = min(len(buffer), len(self._pending))
        buffer[:count] = self._pending[:count]
        self._pending = self._pending[count:]
        return count


_BOMS = ((codecs.BOM_UTF8, "utf-8"), (codecs.BOM_UTF32_LE, "utf-32"), (codecs.BOM_UTF32_BE, "utf-32"),
         (codecs.BOM_UTF16_LE, "utf-16"), (codecs.BOM_UTF16_BE, "utf-16"))


def _encoding(head: bytes, declared: str | None) -> str:
    if declared:
        try:
            return codecs.lookup(declared).name
        except LookupError:
            raise UsageError(f"unknown encoding {declared!r}") from None
    for bom, name in _BOMS:
        if head.startswith(bom):
            return name
    return "utf-8"


def _open_csv(display: str, path: str, stream: BinaryIO, head: bytes, size: int | None,
              options: Options) -> Source:
    encoding = _encoding(head, options.encoding)
    sample = head
    if encoding != "utf-8":
        sample = codecs.getincrementaldecoder(encoding)(errors="surrogateescape").decode(head).encode(
            "utf-8", "surrogateescape")
    if sample.startswith(codecs.BOM_UTF8):
        sample = sample[len(codecs.BOM_UTF8):]
    text = sample.decode("utf-8", "replace")
    complete = len(head) < SAMPLE_BYTES
    dialect = sniff(text, complete, options, encoding, path)
    records = _records(text, complete, dialect)
    problems: list[Problem] = []
    if dialect.header:
        names = unique_names(records[0] if records else [], problems)
    else:
        width = max((len(record) for record in records[:200]), default=0)
        names = [f"column_{i + 1}" for i in range(width)]
    source = Source(display, "csv", names, dialect, size, problems=problems, escaped=True)
    # The header is read as a first row and dropped: pyarrow's skip_rows counts lines, not records.
    read_options = _read_options(names)
    convert_options = _convert_options(names)
    feed = [_Feed(head, stream)]
    if path == "-":
        stream_used = [False]

        def raw_stream() -> _Feed:
            if stream_used[0]:
                raise UsageError("standard input can be read only once")
            stream_used[0] = True
            return feed[0]
    else:
        stream.close()

        def raw_stream() -> _Feed:
            try:
                feed[0] = _Feed(b"", open(path, "rb"))  # noqa: SIM115  (read to its end)
            except OSError as error:
                raise UsageError(f"cannot read {path}: {error.strerror or error}") from None
            return feed[0]

    escaper = [Escaper()]

    def batches() -> Iterator[pa.RecordBatch]:
        if not names:
            return  # an empty file: no columns, no rows
        fed = raw_stream()
        escaper[0] = Escaper()
        if encoding == "utf-8":
            fed.escaper = escaper[0]
            raw: io.RawIOBase = fed
        else:
            raw = _Transcoded(fed, encoding, escaper[0])
        # Each read finds the ragged rows again; only the last read's are kept.
        source.problems[:] = [p for p in source.problems if p.kind != "ragged_row"]
        splicer = _RaggedRows(source, dialect)
        parse_options = _parse_options(dialect, splicer)
        try:
            reader = pa_csv.open_csv(io.BufferedReader(raw, BLOCK_BYTES), read_options=read_options,
                                     parse_options=parse_options, convert_options=convert_options)
        except pa.ArrowInvalid as error:
            if "Empty CSV file" in str(error):
                return
            raise UsageError(f"{display}: {error}") from None
        header = dialect.header
        while True:
            try:
                batch = reader.read_next_batch()
            except StopIteration:
                break
            except pa.ArrowInvalid as error:
                raise UsageError(f"{display}: {error}") from None
            if header and batch.num_rows:
                batch, header = batch.slice(1), False
            yield from splicer.splice(batch)
        yield from splicer.finish()

    source._open = batches
    source._position = lambda: feed[0].consumed
    # A file whose lines end in a line feed can be cut at record ends and parsed piece by piece.
    if path != "-" and encoding == "utf-8" and names and (b"\n" in head or b"\r" not in head):
        consumed = [0]

        def chunks() -> Iterator[Chunk]:
            source.problems[:] = [p for p in source.problems if p.kind != "ragged_row"]
            source._position = lambda: consumed[0]
            return _read_chunks(path, display, names, dialect, consumed)

        source._chunks = chunks
    source._utf8 = lambda: not escaper[0].invalid
    return source


def _records(text: str, complete: bool, dialect: CsvDialect, limit: int = 1000) -> list[list[str]]:
    """The first records of the sample; the last, possibly cut, record is left out."""
    if not complete:
        cut = max(text.rfind("\n"), text.rfind("\r"), 0)
        text = text[:cut]
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=dialect.delimiter, quotechar=dialect.quote or '"',
                        quoting=csv.QUOTE_MINIMAL if dialect.quote else csv.QUOTE_NONE, doublequote=True,
                        strict=False)
    records = []
    try:
        for record in reader:
            if record:
                records.append(record)
            if len(records) >= limit:
                break
    except csv.Error:
        pass
    return records


def unique_names(cells: list[str], problems: list[Problem]) -> list[str]:
    """Header names made usable: an empty name becomes ``column_N``, a repeated one ``name.1``."""
    names: list[str] = []
    taken: set[str] = set()
    for i, cell in enumerate(cells):
        name = cell.strip()
        if not name:
            name = f"column_{i + 1}"
            problems.append(Problem("unnamed_column", f"column {i + 1} has no name; it is read as {name!r}"))
        if name in taken:
            copy = 1
            while f"{name}.{copy}" in taken:
                copy += 1
            renamed = f"{name}.{copy}"
            problems.append(Problem("duplicate_column",
                                    f"column {i + 1} repeats the name {name!r}; it is read as {renamed!r}"))
            name = renamed
        taken.add(name)
        names.append(name)
    return names


# Dialect detection ----------------------------------------------------------------------------

def sniff(text: str, complete: bool, options: Options, encoding: str, path: str) -> CsvDialect:
    quote = '"' if options.quote is None else (options.quote or None)
    if options.delimiter is not None:
        delimiter = options.delimiter
    elif path.lower().endswith((".tsv", ".tab")):
        delimiter = "\t"
    else:
        delimiter = _sniff_delimiter(text, complete, quote)
    dialect = CsvDialect(delimiter, quote, True, encoding)
    if options.header is not None:
        dialect.header = options.header
    else:
        dialect.header = _looks_like_header(_records(text, complete, dialect, 200))
    return dialect


def _sniff_delimiter(text: str, complete: bool, quote: str | None) -> str:
    """The candidate that splits the sample's records into the most fields, consistently: the
    most common width, weighed by the share of records that have it."""
    best, best_score = ",", (False, 0.0)
    for candidate in DELIMITERS:
        records = _records(text, complete, CsvDialect(candidate, quote, True, "utf-8"), 200)
        if not records:
            continue
        widths = [len(record) for record in records]
        mode = max(set(widths), key=widths.count)
        share = widths.count(mode) / len(widths)
        score = (mode > 1, share * mode)
        if score > best_score:
            best, best_score = candidate, score
    return best


def _kind_of_cell(cell: str) -> str | None:
    """A coarse type of one cell, to tell a header from a first row of data."""
    import quillmere as q

    cell = cell.strip()
    if not cell:
        return None
    if isinstance(q.cast_f64(cell, q.NumFormat.DETECT), q.Success) or \
            isinstance(q.cast_f64(cell, _comma_format()), q.Success):
        return "number"
    for order in (None, q.DateOrder.DMY, q.DateOrder.MDY):
        if isinstance(q.cast_date(cell, order), q.Success):
            return "date"
    for name, cast in (("timestamp", q.cast_timestamp), ("time", q.cast_time), ("uuid", q.cast_uuid),
                       ("bool", q.cast_bool)):
        if isinstance(cast(cell), q.Success):
            return name
    if any(isinstance(q.cast_datetime(cell, order), q.Success) for order in q.DateOrder):
        return "datetime"
    return "text"


def _looks_like_header(records: list[list[str]]) -> bool:
    """A first record is data when, in a column whose other cells share a type, it has that
    type too, and no column says otherwise; with no typed column it is taken as a header."""
    if len(records) < 2:
        return True
    first, body = records[0], records[1:]
    header_votes = data_votes = 0
    for j, top in enumerate(first):
        kinds = [_kind_of_cell(record[j]) for record in body[:50] if j < len(record)]
        kinds = [kind for kind in kinds if kind is not None]
        if not kinds:
            continue
        common = max(set(kinds), key=kinds.count)
        if common == "text" or kinds.count(common) < 0.8 * len(kinds):
            continue
        kind = _kind_of_cell(top)
        if kind == common:
            data_votes += 1
        elif kind is not None:
            header_votes += 1
    return header_votes > 0 or data_votes == 0


@functools.lru_cache(maxsize=1)
def _comma_format() -> Any:
    import quillmere as q

    return q.NumFormat(",", ".", q.NumFormat.ALL)


# Ragged rows ------------------------------------------------------------------------------------

class _RaggedRows:
    """Collects the rows pyarrow cannot fit to the header and splices them back in place."""

    def __init__(self, source: Source, dialect: CsvDialect) -> None:
        self.source = source
        self.dialect = dialect
        self.width = len(source.names)
        self.skip = 1 if dialect.header else 0
        self.pending: list[tuple[int, list[str | None], int]] = []   # (data row, cells, line)
        self.next_row = 0      # the data row of the next row to hand out

    def handler(self, row: Any) -> str:
        line = row.number
        # Without a record number the row cannot be placed; it is reported and left out.
        cells = self._cells(row.text)
        fields = len(cells)
        if line is None:
            self.source.problems.append(Problem(
                "ragged_row", f"a record has {fields} fields, expected {self.width}; it is left out"))
            return "skip"
        data_row = line - 1 - self.skip
        if fields < self.width:
            what = f"{fields} of {self.width} fields; the missing cells are null"
        else:
            what = f"{fields} fields, expected {self.width}; the extra fields are left out"
        self.source.problems.append(Problem.ragged(data_row, line, what))
        padded: list[str | None] = list(cells[:self.width]) + [None] * max(0, self.width - fields)
        self.pending.append((data_row, padded, line))
        return "skip"

    def _cells(self, text: str) -> list[str]:
        quote = self.dialect.quote
        reader = csv.reader([text], delimiter=self.dialect.delimiter, quotechar=quote or '"',
                            quoting=csv.QUOTE_MINIMAL if quote else csv.QUOTE_NONE, strict=False)
        try:
            return next(reader, [])
        except csv.Error:
            return text.split(self.dialect.delimiter)

    def _batch(self, rows: list[list[str | None]]) -> pa.RecordBatch:
        columns = [pa.array([None if row[i] is None else row[i].encode("utf-8", "surrogateescape")
                             for row in rows], pa.binary()) for i in range(self.width)]
        return pa.RecordBatch.from_arrays(columns, names=self.source.names)

    def splice(self, batch: pa.RecordBatch) -> Iterator[pa.RecordBatch]:
        if not self.pending:
            self.next_row += batch.num_rows
            yield batch
            return
        self.pending.sort(key=lambda item: item[0])
        taken = 0   # rows of the batch handed out
        while self.pending:
            row, cells, _line = self.pending[0]
            before = row - self.next_row     # valid rows of the batch that come before it
            if before > batch.num_rows - taken:
                break
            if before > 0:
                yield batch.slice(taken, before)
                taken += before
                self.next_row += before
            yield self._batch([cells])
            self.pending.pop(0)
            self.next_row += 1
        if taken < batch.num_rows:
            yield batch.slice(taken)
            self.next_row += batch.num_rows - taken

    def finish(self) -> Iterator[pa.RecordBatch]:
        if self.pending:
            self.pending.sort(key=lambda item: item[0])
            yield self._batch([cells for _row, cells, _line in self.pending])
            self.next_row += len(self.pending)
            self.pending.clear()


# Parquet and Arrow IPC ----------------------------------------------------------------------------

def _seekable(stream: BinaryIO, head: bytes) -> Any:
    """The whole input as something pyarrow can seek in: the file itself, or standard input read into memory."""
    if stream is sys.stdin.buffer:
        return pa.BufferReader(head + stream.read())
    stream.seek(0)
    return stream


def _open_parquet(display: str, stream: BinaryIO, head: bytes, size: int | None) -> Source:
    import pyarrow.parquet as pq

    try:
        parquet = pq.ParquetFile(_seekable(stream, head))
    except (pa.ArrowInvalid, OSError) as error:
        raise UsageError(f"{display}: not a readable Parquet file ({error})") from None
    schema = parquet.schema_arrow
    source = Source(display, "parquet", list(schema.names), size=size, total_rows=parquet.metadata.num_rows,
                    schema=schema)
    done = [0]

    def batches() -> Iterator[pa.RecordBatch]:
        try:
            for batch in parquet.iter_batches(batch_size=64 << 10, use_threads=False):
                done[0] += batch.num_rows
                yield batch
        except (pa.ArrowInvalid, OSError) as error:
            raise UsageError(f"{display}: {error}") from None

    source._open = batches
    source._position = lambda: done[0]
    return source


def _open_ipc(display: str, stream: BinaryIO, head: bytes, size: int | None) -> Source:
    import pyarrow.ipc as ipc

    reader: Any
    done = [0]
    try:
        if head.startswith(b"ARROW1"):
            file_reader = ipc.open_file(_seekable(stream, head))
            schema = file_reader.schema

            def read() -> Iterator[pa.RecordBatch]:
                for i in range(file_reader.num_record_batches):
                    batch = file_reader.get_batch(i)
                    done[0] += batch.num_rows
                    yield batch
        else:
            reader = ipc.open_stream(_Feed(head, stream))
            schema = reader.schema

            def read() -> Iterator[pa.RecordBatch]:
                for batch in reader:
                    done[0] += batch.num_rows
                    yield batch
    except (pa.ArrowInvalid, OSError) as error:
        raise UsageError(f"{display}: not a readable Arrow IPC file or stream ({error})") from None
    source = Source(display, "arrow", list(schema.names), size=size, schema=schema)

    def batches() -> Iterator[pa.RecordBatch]:
        try:
            yield from read()
        except (pa.ArrowInvalid, OSError) as error:
            raise UsageError(f"{display}: {error}") from None

    source._open = batches
    source._position = lambda: done[0]
    return source
