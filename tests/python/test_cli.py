"""The quillmere command end to end, as a subprocess on generated files: its exit status, its
JSON report and the Parquet it writes, against ``Schema.cast`` of the same cells."""

from __future__ import annotations

import csv
import json
import os
import random
import subprocess
import sys
import threading
import uuid
from pathlib import Path

import pytest

pa = pytest.importorskip("pyarrow")
pytest.importorskip("rich")
pq = pytest.importorskip("pyarrow.parquet")
pytest.importorskip("numpy")

from quillmere import Column, DateOrder, NumFormat, Schema, columns  # noqa: E402
from messy_table import SCHEMA, messy_table  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
REASONS = {1: "EMPTY", 2: "MALFORMED", 3: "OUT_OF_RANGE"}
GERMAN = NumFormat(",", ".", NumFormat.ALL)


def quillmere(*args: object, stdin: bytes | None = None, cwd: Path | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", "quillmere", *map(str, args)], input=stdin, capture_output=True,
                          timeout=300, cwd=cwd)


def write_csv(path: Path, table: dict[str, list], delimiter: str = ";") -> Path:
    """Cells as text (bytes that are not UTF-8 written as they are); None leaves a cell out of a short row."""
    with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as out:
        writer = csv.writer(out, delimiter=delimiter, lineterminator="\n")
        writer.writerow(table)
        for row in zip(*table.values()):
            cells = [c.decode("utf-8", "surrogateescape") if isinstance(c, bytes) else c for c in row]
            while cells and cells[-1] is None:
                cells.pop()
            writer.writerow(cells)
    return path


def text_table(table) -> dict[str, list]:
    """The messy table as the cells of a file: every column text, a missing cell written empty."""
    return {name: ["" if v is None else str(v) for v in table.column(name).to_pylist()] for name in table.column_names}


def fault_rows(faults) -> list[tuple]:
    return [(r["row"], r["column"], REASONS.get(r["reason"], r["reason"]), r["offset"], r["length"])
            for r in faults.to_pylist()]


def report_rows(report: dict) -> list[tuple]:
    return [(f["row"], f["column"], f["reason"], f["offset"], f["length"]) for f in report["faults"]]


@pytest.fixture(scope="module")
def messy(tmp_path_factory):
    """A semicolon-separated file of German decimals, day-first dates and 1% bad cells; its schema;
    and what Schema.cast makes of the same cells."""
    folder = tmp_path_factory.mktemp("messy")
    cells = text_table(messy_table(3000, seed=5, bad=0.01))
    path = write_csv(folder / "messy.csv", cells)
    schema_path = folder / "schema.toml"
    schema_path.write_text(SCHEMA.to_toml())
    expected = SCHEMA.cast(pa.table({name: pa.array(v, pa.string()) for name, v in cells.items()}))
    return path, schema_path, expected, cells


def test_check_reports_what_schema_cast_finds(messy):
    path, schema_path, expected, cells = messy
    done = quillmere("check", path, "--schema", schema_path, "--json", "--limit", "all")
    assert done.returncode == 1, done.stderr
    report = json.loads(done.stdout)
    assert report["rows"] == 3000 and report["dialect"]["delimiter"] == ";"
    assert report_rows(report) == fault_rows(expected.faults)
    assert report["fault_count"] == expected.fault_count > 0
    for tally in report["columns"]:
        name = tally["name"]
        mine = [f for f in fault_rows(expected.faults) if f[1] == name]
        assert tally["faults"] == len(mine)
        assert [tally[r] for r in REASONS.values()] == [sum(f[2] == r for f in mine) for r in REASONS.values()]
        if name in SCHEMA:
            assert tally["nulls"] == expected.table.column(name).null_count - len(mine)
    for fault in report["faults"][:50]:
        assert fault["cell"] == cells[fault["column"]][fault["row"]]


def test_cast_writes_what_schema_cast_makes(messy, tmp_path):
    path, schema_path, expected, _cells = messy
    done = quillmere("cast", path, "-s", schema_path, "-o", tmp_path / "typed.parquet", "-f", tmp_path / "faults.parquet",
                     "--threads", "2")
    assert done.returncode == 1, done.stderr
    assert pq.read_table(tmp_path / "typed.parquet").equals(expected.table)
    faults = pq.read_table(tmp_path / "faults.parquet")
    assert [tuple(r.values())[:5] for r in faults.to_pylist()] == fault_rows(expected.faults)


def test_clean_file_exits_zero(tmp_path):
    cells = text_table(messy_table(500, seed=2, bad=0.0))
    path = write_csv(tmp_path / "clean.csv", cells)
    (tmp_path / "schema.toml").write_text(SCHEMA.to_toml())
    done = quillmere("check", path, "--schema", tmp_path / "schema.toml", "--json")
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert report["fault_count"] == 0 and report["faults"] == [] and report["rows"] == 500


def test_bytes_that_are_not_utf8_are_faults_in_their_cells(tmp_path):
    """Each such cell is MALFORMED at its first bad byte, counted in code points, as the column casts
    count a lone surrogate in a str; the rest of the file is cast as usual."""
    rng = random.Random(4)
    cells: dict[str, list] = text_table(messy_table(400, seed=3, bad=0.01))
    for name in ("id", "day", "ref", "note"):
        for row in rng.sample(range(400), 8):
            text = cells[name][row]
            cut = rng.randrange(len(text) + 1)
            cells[name][row] = text[:cut].encode() + bytes([rng.choice([0xFF, 0xC3, 0x80, 0xED])]) + text[cut:].encode()
    path = write_csv(tmp_path / "latin.csv", cells)
    (tmp_path / "schema.toml").write_text(SCHEMA.to_toml())
    done = quillmere("check", path, "--schema", tmp_path / "schema.toml", "--json", "--limit", "all")
    assert done.returncode == 1, done.stderr

    expected = []
    position = {name: i for i, name in enumerate(cells)}
    for name, values in cells.items():
        texts = [v.decode("utf-8", "surrogateescape") if isinstance(v, bytes) else v for v in values]
        if name in SCHEMA:
            declared = SCHEMA[name]
            notation = () if declared.notation is None else (declared.notation,)
            options = {"scale": declared.scale} if declared.scale is not None else {}
            result = getattr(columns, f"cast_{declared.cast}")(texts, *notation, nulls=SCHEMA.nulls_of(name), **options)
            expected += [(r, name, REASONS[c], o, n) for r, c, o, n in
                         zip(*(pa.record_batch(result.faults).column(f).to_pylist()
                               for f in ("row", "reason", "offset", "length")))]
        else:
            for row, text in enumerate(texts):
                first = next((i for i, ch in enumerate(text) if "\udc80" <= ch <= "\udcff"), None)
                if first is not None:
                    expected.append((row, name, "MALFORMED", first, 1))
    expected.sort(key=lambda f: (f[0], position[f[1]]))
    assert report_rows(json.loads(done.stdout)) == expected


def test_ragged_rows_keep_their_place(tmp_path):
    """A short row's missing cells are null and a long row's extra fields are left out; the rows after
    them keep their numbers, and each ragged row is reported with its line."""
    cells = text_table(messy_table(300, seed=6, bad=0.01))
    names = list(cells)
    short, long = [17, 150], [40, 299]
    for row in short:
        for name in names[-3:]:
            cells[name][row] = None
    path = write_csv(tmp_path / "ragged.csv", cells)
    lines = path.read_text().split("\n")
    for row in long:
        lines[row + 1] += ";extra;more"
    path.write_text("\n".join(lines))
    (tmp_path / "schema.toml").write_text(SCHEMA.to_toml())

    done = quillmere("check", path, "--schema", tmp_path / "schema.toml", "--json", "--limit", "all")
    assert done.returncode == 1, done.stderr
    report = json.loads(done.stdout)
    expected = SCHEMA.cast(pa.table({name: pa.array(v, pa.string()) for name, v in cells.items()}))
    assert report["rows"] == 300
    assert report_rows(report) == fault_rows(expected.faults)
    ragged = [(p["row"], p["line"]) for p in report["problems"] if p["kind"] == "ragged_row"]
    assert ragged == [(row, row + 2) for row in sorted(short + long)]

    typed = tmp_path / "typed.parquet"
    assert quillmere("cast", path, "-s", tmp_path / "schema.toml", "-o", typed).returncode == 1
    assert pq.read_table(typed).equals(expected.table)


# Inference ---------------------------------------------------------------------------------------

def _dates(rng: random.Random, fmt: str) -> str:
    return fmt.format(d=rng.randint(1, 28), m=rng.randint(1, 12), y=rng.randint(1900, 2100))


def _german(rng: random.Random) -> str:
    whole, cents = rng.randint(0, 10**7), rng.randint(0, 99)
    return f"{whole:,}".replace(",", ".") + f",{cents:02d}"


def _ints(low: int, high: int) -> object:
    # Both ends appear, so the width the column needs is exactly the one generated.
    return lambda rng, i: str(low if i == 0 else high if i == 1 else rng.randint(low, high))


# Each kind of column: the declaration inference should recover, and a cell generator (rng, row) -> text.
KINDS = {
    "i8": (Column("i8"), _ints(-128, 127)),
    "i16": (Column("i16"), _ints(-32768, 32767)),
    "i32": (Column("i32"), _ints(-2**31, 2**31 - 1)),
    "i64": (Column("i64"), _ints(-2**63, 2**63 - 1)),
    "u64": (Column("u64"), _ints(0, 2**64 - 1)),
    "german": (Column("decimal", GERMAN, scale=2), lambda rng, i: _german(rng)),
    "english": (Column("decimal", scale=2), lambda rng, i: f"{rng.randint(0, 10**7):,}.{rng.randint(0, 99):02d}"),
    "euro": (Column("decimal", NumFormat(",", ".", NumFormat.ALL, "€"), scale=2),
             lambda rng, i: f"{_german(rng)} €" if i % 3 else f"€{_german(rng)}"),
    "real": (Column("f64"), lambda rng, i: repr(rng.uniform(-1e6, 1e6)) if i % 5 else f"{rng.random():.3e}"),
    "iso": (Column("date"), lambda rng, i: _dates(rng, "{y:04}-{m:02}-{d:02}")),
    "day first": (Column("date", DateOrder.DMY), lambda rng, i: _dates(rng, "{d:02}.{m:02}.{y:04}")),
    "month first": (Column("date", DateOrder.MDY), lambda rng, i: _dates(rng, "{m}/{d}/{y:04}")),
    "time": (Column("time"), lambda rng, i: f"{rng.randint(0, 23):02}:{rng.randint(0, 59):02}:{rng.randint(0, 59):02}"),
    "datetime": (Column("datetime", DateOrder.DMY),
                 lambda rng, i: _dates(rng, "{d}/{m}/{y:04}") + f" {rng.randint(0, 23)}:{rng.randint(0, 59):02}"),
    "timestamp": (Column("timestamp"), lambda rng, i: _dates(rng, "{y:04}-{m:02}-{d:02}") + "T10:30:00+01:00"),
    "duration": (Column("duration"), lambda rng, i: f"PT{rng.randint(0, 99)}H{rng.randint(0, 59)}M"),
    "bool": (Column("bool"), lambda rng, i: rng.choice(["yes", "no", "Y", "N"])),
    "uuid": (Column("uuid"), lambda rng, i: str(uuid.UUID(int=rng.getrandbits(128)))),
    "text": (None, lambda rng, i: rng.choice(["alpha", "beta", "12 apples", "x-ray", "2024"])),
}
NULLS = ("", "NA")


def generated(kinds: list[str], rows: int, seed: int, bad: float) -> tuple[dict[str, list], Schema]:
    rng = random.Random(seed)
    cells, declared = {}, {}
    for number, kind in enumerate(kinds):
        name = f"{kind.replace(' ', '_')}_{number}"
        column, make = KINDS[kind]
        values = [make(rng, i) for i in range(rows)]
        for row in range(2, rows):   # rows 0 and 1 hold the extremes of integer columns
            roll = rng.random()
            values[row] = rng.choice(NULLS) if roll < 0.03 else "#bad" if roll < 0.03 + bad else values[row]
        cells[name] = values
        if column is not None:
            declared[name] = column
    return cells, Schema(declared, nulls=NULLS)


@pytest.mark.parametrize(("kinds", "delimiter"), [
    (["i32", "day first"], ","),
    (["german", "day first", "euro", "text"], ";"),
    (list(KINDS) + ["i8", "german", "iso", "bool", "text", "time", "real", "uuid", "english", "u64", "duration"], "\t"),
], ids=["2 columns", "German semicolon", "30 columns"])
def test_infer_recovers_the_generating_schema(kinds, delimiter, tmp_path):
    cells, schema = generated(kinds, 2000, seed=len(kinds), bad=0.01)
    path = write_csv(tmp_path / "data.csv", cells, delimiter)
    done = quillmere("infer", path, "--json")
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert Schema.from_dict(report["schema"]) == schema
    for column in report["columns"]:
        assert column["status"] == ("text" if column["name"].startswith("text") else "typed")


@pytest.mark.parametrize(("cells", "note"), [
    (["03/04/2024", "11/12/2023", "01/01/2020"], "DMY and as MDY"),
    (["03.04.2024 10:00", "12.11.2023 9:30 pm"], "DMY and as MDY"),
    (["1.234", "5.678", "120.500"], "decimal separator"),
])
def test_infer_says_ambiguous_instead_of_guessing(cells, note, tmp_path):
    path = write_csv(tmp_path / "data.csv", {"v": cells * 20, "n": [str(i) for i in range(len(cells) * 20)]}, ",")
    done = quillmere("infer", path, "--json")
    column = json.loads(done.stdout)["columns"][0]
    assert column["status"] == "ambiguous" and note in column["note"], column
    assert len(column["choices"]) == 2
    assert "v" not in json.loads(done.stdout)["schema"]["columns"]
    toml = quillmere("infer", path).stdout.decode()
    assert "# v: ambiguous" in toml and Schema.from_toml(toml) == Schema({"n": "i8"})


@pytest.mark.parametrize("settling", [["25/03/2024"], ["1.234,5"]], ids=["a day above 12", "both separators"])
def test_one_cell_settles_the_notation_of_the_others(settling, tmp_path):
    ambiguous = ["03/04/2024", "05/06/2024"] if "/" in settling[0] else ["1.234", "5.678"]
    path = write_csv(tmp_path / "data.csv", {"v": ambiguous * 500 + settling}, ",")
    report = json.loads(quillmere("infer", path, "--json").stdout)
    expected = Column("date", DateOrder.DMY) if "/" in settling[0] else Column("decimal", GERMAN, scale=1)
    assert report["columns"][0]["status"] == "typed" and Schema.from_dict(report["schema"])["v"] == expected


def test_example_schema_is_what_infer_proposes():
    done = quillmere("infer", "examples/orders.csv", cwd=ROOT)
    assert done.returncode == 0
    assert done.stdout.decode() == (ROOT / "examples" / "orders.toml").read_text()


# Bounded memory --------------------------------------------------------------------------------------

MEMORY_CAP_MB = 320


def test_memory_stays_bounded_on_a_stream_several_times_larger():
    """A gigabyte on standard input, more than three times the cap, is checked in full under it."""
    rng = random.Random(9)
    rows = [f"{rng.randint(-10**9, 10**9)};{_german(rng)};{_dates(rng, '{d:02}.{m:02}.{y:04}')};"
            f"{uuid.UUID(int=rng.getrandbits(128))};{rng.choice(['yes', 'no'])}\n" for _ in range(20000)]
    rows[7] = "12x;1,5;01.01.2024;x;yes\n"       # one row with two bad cells per chunk
    chunk = "".join(rows).encode()
    repeats = (1 << 30) // len(chunk) + 1
    schema = Schema({"a": "i64", "b": Column("decimal", GERMAN, scale=2), "c": ("date", "DMY"), "d": "uuid", "e": "bool"})
    code = ("import resource, sys; from quillmere.cli import command; status = command(); "
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024, file=sys.stderr); sys.exit(status)")
    import tempfile

    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as handle:
        handle.write(schema.to_json())
    process = subprocess.Popen([sys.executable, "-c", code, "check", "-", "--schema", handle.name, "--json",
                                "--threads", "2", "--quiet"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)

    def feed():
        try:
            process.stdin.write(b"a;b;c;d;e\n")
            for _ in range(repeats):
                process.stdin.write(chunk)
        finally:
            process.stdin.close()

    feeder = threading.Thread(target=feed)
    feeder.start()
    out = process.stdout.read()
    err = process.stderr.read().decode()
    process.wait(timeout=900)
    feeder.join()
    os.unlink(handle.name)
    assert process.returncode == 1, err
    report = json.loads(out)
    assert report["rows"] == 20000 * repeats and report["fault_count"] == 2 * repeats
    peak_mb = int(err.split()[-1])
    assert repeats * len(chunk) > 3 * (MEMORY_CAP_MB << 20)
    assert peak_mb < MEMORY_CAP_MB, f"peak RSS {peak_mb} MB"
