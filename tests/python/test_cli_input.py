"""The command's input and output edges, in process: every way of handing it the same rows,
the CSV reader against Python's csv module, misuse, and the rendering of a bad cell."""

from __future__ import annotations

import codecs
import csv
import io
import json
import re
import subprocess
import sys
import unicodedata
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

pa = pytest.importorskip("pyarrow")
pytest.importorskip("rich")
pq = pytest.importorskip("pyarrow.parquet")

import quillmere as q  # noqa: E402
from quillmere import NumFormat, Schema, columns  # noqa: E402
from quillmere.cli import main  # noqa: E402
from quillmere.cli.output import iso_durations  # noqa: E402
from quillmere.cli.report import render_cell  # noqa: E402
from quillmere.cli.source import Options, open_source  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SCHEMA = Schema({"id": "i64", "amount": ("decimal", NumFormat(",", ".", NumFormat.ALL))}, nulls=["NA"])
ROWS = [["id", "name", "amount"], ["1", "Zoë", "1.234,5"], ["2", "Ørsted\nA/S", "12,5x"], ["x3", "Nuñez", "NA"],
        ["4", "", "0,25"]]


def run(args: list[str], capsys, stdin: bytes | None = None, monkeypatch=None) -> tuple[int, str, str]:
    if stdin is not None:
        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(stdin)))
    try:
        status = main([str(a) for a in args])
    except SystemExit as exit:
        status = exit.code
    out, err = capsys.readouterr()
    return status, out, err


def csv_bytes(rows, delimiter=",", encoding="utf-8", newline="\n") -> bytes:
    text = io.StringIO()
    csv.writer(text, delimiter=delimiter, lineterminator=newline).writerows(rows)
    return text.getvalue().encode(encoding)


def arrow_bytes(binary: bool, stream: bool) -> bytes:
    table = pa.table({name: pa.array([row[i] for row in ROWS[1:]], pa.binary() if binary else pa.string())
                      for i, name in enumerate(ROWS[0])})
    sink = pa.BufferOutputStream()
    with (pa.ipc.new_stream if stream else pa.ipc.new_file)(sink, table.schema) as writer:
        writer.write_table(table)
    return sink.getvalue().to_pybytes()


def parquet_bytes(binary: bool) -> bytes:
    table = pa.table({name: pa.array([row[i] for row in ROWS[1:]], pa.binary() if binary else pa.string())
                      for i, name in enumerate(ROWS[0])})
    sink = pa.BufferOutputStream()
    pq.write_table(table, sink)
    return sink.getvalue().to_pybytes()


# Each way of writing the same rows: (file name, bytes, extra arguments).
SHAPES = {
    "csv": ("d.csv", csv_bytes(ROWS, ";"), []),
    "byte order mark": ("d.csv", codecs.BOM_UTF8 + csv_bytes(ROWS, ";"), []),
    "CRLF": ("d.csv", csv_bytes(ROWS, ";", newline="\r\n"), []),
    "latin-1": ("d.csv", csv_bytes(ROWS, ";", "latin-1"), ["--encoding", "latin-1"]),
    "UTF-16 with its mark": ("d.csv", csv_bytes(ROWS, ";", "utf-16"), []),
    "tab by extension": ("d.tsv", csv_bytes(ROWS, "\t"), []),
    "pipe, sniffed": ("d.txt", csv_bytes(ROWS, "|"), []),
    "declared delimiter": ("d.dat", csv_bytes(ROWS, "|"), ["--delimiter", "pipe", "--header"]),
    "parquet strings": ("d.parquet", parquet_bytes(False), []),
    "parquet binary": ("d.bin", parquet_bytes(True), ["--format", "parquet"]),
    "arrow file": ("d.arrow", arrow_bytes(False, False), []),
    "arrow stream": ("d.arrows", arrow_bytes(True, True), []),
    "stdin csv": ("-", csv_bytes(ROWS, ";"), []),
    "stdin arrow stream": ("-", arrow_bytes(False, True), []),
    "stdin parquet": ("-", parquet_bytes(False), []),
}


@pytest.mark.parametrize("shape", SHAPES)
def test_every_shape_of_the_same_rows_gives_the_same_report(shape, tmp_path, capsys, monkeypatch):
    name, data, extra = SHAPES[shape]
    schema = tmp_path / "schema.toml"
    schema.write_text(SCHEMA.to_toml())
    path = "-" if name == "-" else tmp_path / name
    if name != "-":
        path.write_bytes(data)
    status, out, err = run(["check", path, "--schema", schema, "--json", *extra], capsys,
                           data if name == "-" else None, monkeypatch)
    assert status == 1, err
    report = json.loads(out)
    assert report["rows"] == 4
    assert [(f["row"], f["column"], f["reason"], f["offset"], f["length"], f["cell"]) for f in report["faults"]] == [
        (1, "amount", "MALFORMED", 4, 1, "12,5x"), (2, "id", "MALFORMED", 0, 1, "x3")]
    assert [(c["name"], c["nulls"]) for c in report["columns"]] == [("id", 0), ("name", 0), ("amount", 1)]


@st.composite
def tables(draw):
    width = draw(st.integers(1, 4))
    # Python's csv module writes a NUL only from 3.11 on.
    nul = ["\x00"] if sys.version_info >= (3, 11) else []
    alphabet = st.sampled_from(list("ab,;|\t\"' \né\r") + nul + ["\u00a0", "€", "x"])
    cell = st.text(alphabet, max_size=6)
    rows = draw(st.lists(st.lists(cell, min_size=width, max_size=width), min_size=1, max_size=12))
    delimiter = draw(st.sampled_from([",", ";", "\t", "|"]))
    return [[f"c{i}" for i in range(width)], *rows], delimiter


@settings(max_examples=60, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(tables())
def test_csv_reader_agrees_with_pythons_csv_module(tmp_path, table):
    rows, delimiter = table
    path = tmp_path / "t.csv"
    path.write_bytes(csv_bytes(rows, delimiter, newline="\r\n"))   # so that a lone CR is quoted too
    expected = rows[1:]
    source = open_source(str(path), Options(delimiter=delimiter, header=True))
    assert source.names == rows[0]
    read = pa.concat_tables(group.table for group in source.groups())
    got = [[None if cell is None else cell.decode() for cell in row] for row in zip(*read.to_pydict().values())]
    assert got == expected
    assert not source.problems


# A field as messy exports write it: plain, quoted (holding delimiters, line ends and doubled
# quotes), with a quote inside an unquoted field (literal), or with a byte that is not UTF-8.
_FIELD = st.one_of(
    st.text("ab1 é", max_size=4),
    st.text('ab,\n"\r ', max_size=5).map(lambda t: '"' + t.replace('"', '""') + '"'),
    st.tuples(st.text("ab", min_size=1, max_size=2), st.text('a"b', max_size=3)).map("".join),
    st.just("x\udcff"),
)


@st.composite
def _raw_csv(draw):
    width = draw(st.integers(1, 3))
    rows = draw(st.lists(st.lists(_FIELD, min_size=max(1, width - 1), max_size=width + 1), min_size=0, max_size=30))
    lines = [",".join(f"c{i}" for i in range(width))] + [",".join(row) for row in rows]
    if draw(st.booleans()):
        lines.insert(draw(st.integers(0, len(lines))), "")   # an empty line, which the parser skips
    ending = draw(st.sampled_from(["\n", "\r\n"]))
    text = ending.join(lines) + draw(st.sampled_from(["", ending]))
    return draw(st.sampled_from([b"", codecs.BOM_UTF8])) + text.encode("utf-8", "surrogateescape")


@settings(max_examples=150, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(_raw_csv(), st.integers(1, 40), st.booleans())
def test_chunks_parsed_apart_read_as_the_stream_does(tmp_path, monkeypatch, data, chunk_bytes, header):
    """Cut into pieces of whole records and parsed on two threads, a file gives the rows, group
    numbers and ragged-row reports of the one streaming read."""
    from quillmere.cli import source as source_module
    from quillmere.cli.run import run

    path = tmp_path / "t.csv"
    path.write_bytes(data)
    options = Options(delimiter=",", quote='"', header=header)
    streamed = open_source(str(path), options)
    expected = pa.concat_tables(group.table for group in streamed.groups())
    monkeypatch.setattr(source_module, "CHUNK_BYTES", chunk_bytes)
    chunked = open_source(str(path), options)
    assert chunked.chunks() is not None
    groups = list(run(chunked, lambda group: group, threads=2))
    assert [group.start for group in groups] == [sum(g.rows for g in groups[:i]) for i in range(len(groups))]
    assert pa.concat_tables(group.table for group in groups).to_pylist() == expected.to_pylist()
    assert all(group.utf8 for group in groups) == (b"\xff" not in data) or not any(group.rows for group in groups)
    assert [(p.row, p.message) for p in chunked.problems] == [(p.row, p.message) for p in streamed.problems]


@pytest.mark.parametrize(("text", "delimiter", "header"), [
    ("id;amount\n1;1.234,5\n2;7,25\n", ";", True),
    ("a,b\n\"x,y\",1\n\"z,w\",2\n", ",", True),
    ("1\t2024-01-05\n2\t2024-02-05\n3\t2024-03-05\n", "\t", False),
    ("name|note\nada|x\nbob|y\n", "|", True),
    ("when,n\n25/03/2024,1\n26/03/2024,2\n", ",", True),
    ("2024-01-05,7\n2024-01-06,8\n", ",", False),
    ("only\n", ",", True),
])
def test_dialect_sniffing(text, delimiter, header, tmp_path):
    path = tmp_path / "data.csv"
    path.write_text(text)
    dialect = open_source(str(path), Options()).dialect
    assert (dialect.delimiter, dialect.header) == (delimiter, header)


@pytest.mark.parametrize(("data", "names", "rows", "faults", "ragged"), [
    (b"a,b\n1,2\n3,x\xff,5\n6,7\n", ["a", "b"], 3, [(1, "b", 1, "x\udcff")], [1]),
    (b'"a\nb",c\n1,2\n3,4\n', ["a\nb", "c"], 2, [], []),
    (b'a,b\n1,2\n"3,4\n', ["a", "b"], 2, [], [1]),
    (b"a,b\n\n1,2\n\n3,4\n", ["a", "b"], 2, [], []),
    (b"a,b\r1,x\r3,4\r", ["a", "b"], 2, [], []),
    (b"a,b\n1,2\n3\n", ["a", "b"], 2, [], [1]),
], ids=["ragged row with a byte that is not UTF-8", "header with a quoted newline", "unterminated quote",
        "blank lines", "CR line ends", "short last row"])
def test_awkward_csv(data, names, rows, faults, ragged, tmp_path, capsys):
    path = tmp_path / "d.csv"
    path.write_bytes(data)
    status, out, err = run(["check", path, "--json", "--header"], capsys)
    report = json.loads(out)
    assert [c["name"] for c in report["columns"]] == names and report["rows"] == rows, err
    assert [(f["row"], f["column"], f["offset"], f["cell"]) for f in report["faults"]] == faults
    assert [p["row"] for p in report["problems"] if p["kind"] == "ragged_row"] == ragged
    assert status == (1 if faults or ragged else 0)
    status, toml, _err = run(["infer", path, "--header"], capsys)
    assert status == 0 and isinstance(Schema.from_toml(toml), Schema)   # odd names stay inside comments


def test_header_problems_are_reported_not_fatal(tmp_path, capsys):
    path = tmp_path / "d.csv"
    path.write_bytes(b"a,a,,b\n1,2,3,4\n5,6,7\x00,8\n")
    status, out, _err = run(["check", path, "--json", "-s", _schema(tmp_path, {"a.1": "i8", "column_3": "i8"})],
                            capsys)
    report = json.loads(out)
    assert [c["name"] for c in report["columns"]] == ["a", "a.1", "column_3", "b"]
    assert [p["kind"] for p in report["problems"]] == ["duplicate_column", "unnamed_column"]
    assert status == 1 and report["faults"][0]["cell"] == "7\x00"


def _schema(folder: Path, columns: dict) -> Path:
    path = folder / "s.json"
    path.write_text(Schema(columns).to_json())
    return path


@pytest.mark.parametrize(("args", "message"), [
    (["check", "{tmp}/missing.csv", "-s", "{tmp}/s.json"], "cannot read"),
    (["check", "{tmp}", "-s", "{tmp}/s.json"], "directory"),
    (["check", "{tmp}/d.csv", "-s", "{tmp}/missing.toml"], "cannot read schema"),
    (["check", "{tmp}/d.csv", "-s", "{tmp}/other.json"], "does not have"),
    (["check", "{tmp}/d.csv", "-s", "{tmp}/unknown.toml"], "unknown cast"),
    (["check", "{tmp}/d.csv", "-s", "{tmp}/broken.toml"], "schema"),
    (["check", "{tmp}/d.parquet", "-s", "{tmp}/s.json"], "not a readable Parquet file"),
    (["check", "{tmp}/typed.parquet", "-s", "{tmp}/s.json"], "cannot read (it reads text)"),
    (["check", "-"], "--schema"),
    (["cast", "-", "-s", "{tmp}/decimal.json", "-o", "{tmp}/o.parquet"], "declare a scale"),
    (["cast", "{tmp}/d.csv", "-s", "{tmp}/s.json", "-o", "{tmp}/o.xlsx"], "cannot tell how to write"),
    (["cast", "{tmp}/d.csv", "-s", "{tmp}/s.json", "-o", "{tmp}/no/such/dir/o.csv"], "o.csv"),
    (["check", "{tmp}/d.csv", "--encoding", "klingon"], "unknown encoding"),
    (["check", "{tmp}/d.csv", "--threads", "0"], "positive"),
    (["check", "{tmp}/d.csv", "--limit", "some"], "'all'"),
    (["check", "{tmp}/d.csv", "--delimiter", "ab"], "delimiter"),
    (["infer", "{tmp}/d.csv", "--threshold", "2"], "share"),
    (["frobnicate"], "invalid choice"),
    ([], "usage"),
])
def test_misuse_is_one_line_and_status_2(args, message, tmp_path, capsys, monkeypatch):
    (tmp_path / "d.csv").write_text("id,amount\n1,2\n")
    (tmp_path / "d.parquet").write_text("id,amount\n1,2\n")
    pq.write_table(pa.table({"id": [1, 2]}), tmp_path / "typed.parquet")
    _schema(tmp_path, {"id": "i64"})
    (tmp_path / "other.json").write_text(Schema({"nope": "i64"}).to_json())
    (tmp_path / "decimal.json").write_text(Schema({"amount": "decimal"}).to_json())
    (tmp_path / "unknown.toml").write_text('[columns.id]\ncast = "i65"\n')
    (tmp_path / "broken.toml").write_text('[columns.id\ncast = "i64"\n')
    args = [a.format(tmp=tmp_path) for a in args]
    status, out, err = run(args, capsys, b"id,amount\n1,2\n" if "-" in args else None, monkeypatch)
    assert status == 2 and out == ""
    lines = err.strip().splitlines()
    assert message in err and "Traceback" not in err
    assert len(lines) == 1 or lines[0].startswith("usage:"), err


def test_installed_command_runs_without_a_traceback(tmp_path):
    script = Path(sys.executable).with_name("quillmere")
    command = [str(script)] if script.exists() else [sys.executable, "-m", "quillmere"]
    done = subprocess.run([*command, "check", str(tmp_path / "missing.csv")], capture_output=True, text=True)
    assert done.returncode == 2 and done.stderr.startswith("quillmere: cannot read") and "Traceback" not in done.stderr
    done = subprocess.run([*command, "check", "examples/orders.csv", "-s", "examples/orders.toml"], cwd=ROOT,
                          capture_output=True, text=True)
    assert done.returncode == 1 and "\x1b[" not in done.stdout   # piped: no colour


# Rendering a bad cell -----------------------------------------------------------------------------

def _shown(text: str) -> str:
    return render_cell(text, 0, len(text), width=10**6)[0][1:-1]


@given(st.text(st.characters(codec="utf-8") | st.sampled_from("\udcff\udc80\t\n\"\\\x00\u200b"), max_size=90),
       st.data())
def test_carets_sit_under_the_offending_characters(cell, data):
    offset = data.draw(st.integers(0, len(cell)))
    length = data.draw(st.integers(0, len(cell) - offset))
    shown, start, stop = render_cell(cell, offset, length)
    from rich.cells import cell_len

    assert cell_len(shown) <= 60 or cell_len(_shown(cell[offset:offset + length])) > 54
    columns = [0]
    for char in shown:
        columns.append(columns[-1] + cell_len(char))
    assert start in columns and stop in columns
    span = _shown(cell[offset:offset + length])
    if cell_len(span) <= 54:
        # The span is shown whole, between the columns given (a zero-width mark shares a column
        # with its neighbour, so look at every place the span could sit).
        assert any(shown[i:i + len(span)] == span and columns[i] == start and columns[i + len(span)] == stop
                   for i in range(len(shown) - len(span) + 1))
    assert not any(unicodedata.category(c) in ("Cc", "Cs") for c in shown)


@pytest.mark.parametrize("document", ["README.md", "docs/layers/command.md"])
def test_documents_show_what_the_command_prints(document):
    """Each ``$ quillmere …`` block is the command's output (a block ending in "…" its
    beginning), the timing aside; the abridged JSON report is left out."""
    text = (ROOT / document).read_text()
    shown = re.findall(r"```text\n\$ (quillmere [^\n]*)\n(.*?)```", text, re.S)
    assert {command.split()[1] for command, _ in shown} >= {"infer", "check"}
    mask = lambda text: re.sub(r"\(\d+\.\d s\)", "(0.0 s)", text)  # noqa: E731
    for command, output in shown:
        if "--json" in command:
            continue
        done = subprocess.run([sys.executable, "-m", *command.split()], cwd=ROOT, capture_output=True, text=True)
        if output.endswith("…\n"):
            assert done.stdout.startswith(output[:-2]), command
        else:
            assert mask(done.stdout) == mask(output), command


# Properties the command relies on ----------------------------------------------------------------

_NOT_UTF8 = st.tuples(st.binary(max_size=8), st.sampled_from([b"\xff", b"\xc3", b"\x80", b"\xed\xa0\x80", b"\xe2\x82"]),
                      st.binary(max_size=8)).map(b"".join).filter(lambda b: not _is_utf8(b))


def _is_utf8(data: bytes) -> bool:
    try:
        data.decode()
    except UnicodeDecodeError:
        return False
    return True


@given(_NOT_UTF8)
def test_no_cast_but_cast_char_passes_a_cell_that_is_not_utf8(cell):
    """Only the cells a cast already faults need a look for bytes that are not UTF-8."""
    formats = [NumFormat.INVARIANT, NumFormat.DETECT, NumFormat(",", ".", NumFormat.ALL, "€"),
               NumFormat(",", "\u00a0", NumFormat.ALL, "kr")]
    verdicts = [cast(cell, fmt) for fmt in formats for cast in (q.cast_i64, q.cast_u64, q.cast_f64, q.cast_decimal)]
    verdicts += [cast(cell) for cast in (q.cast_bool, q.cast_uuid, q.cast_time, q.cast_timestamp, q.cast_duration)]
    verdicts += [q.cast_date(cell, order) for order in (None, *q.DateOrder)]
    verdicts += [q.cast_datetime(cell, order) for order in q.DateOrder]
    assert all(isinstance(v, q.Fault) for v in verdicts)


LONGEST_MICROS = 315576000000 * 10**6   # the longest duration the casts read


@given(st.lists(st.integers(-LONGEST_MICROS, LONGEST_MICROS) | st.none(), max_size=50))
def test_durations_written_to_csv_read_back(micros):
    durations = pa.chunked_array([pa.array(micros, pa.duration("us"))])
    back = pa.chunked_array(columns.cast_duration(iso_durations(durations)).values)
    assert back.to_pylist() == durations.to_pylist()


@given(st.lists(st.binary(max_size=6) | st.sampled_from(["é€😀", "a\u00a0b"]).map(str.encode), max_size=12),
       st.lists(st.integers(0, 40), max_size=6))
def test_bytes_that_are_not_utf8_pass_the_reader_as_markers_and_come_back(pieces, cuts):
    """The stream reaches the reader in blocks cut anywhere, even inside a character."""
    from quillmere.cli.undecodable import Escaper, decode_cell

    data = b"".join(pieces)
    escaper, start, out = Escaper(), 0, []
    for cut in sorted(cuts) + [len(data)]:
        if cut >= start:
            out.append(escaper.feed(data[start:cut]))
            start = cut
    out.append(escaper.close())
    assert _is_utf8(b"".join(out))
    assert escaper.invalid == (not _is_utf8(data))
    assert decode_cell(b"".join(out), escaped=True) == data.decode("utf-8", "surrogateescape")


def test_without_the_extra_the_command_says_what_to_install(capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "rich", None)
    status, _out, err = run(["check", "examples/orders.csv"], capsys)
    assert status == 2 and err == "quillmere: the command needs rich: pip install 'quillmere[cli]'\n"
