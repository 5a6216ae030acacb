"""The quillmere command on a generated 1 GB CSV of ten mixed columns, 1% of its cells bad.

``quillmere check`` (reading, casting every cell, counting faults and listing the first) runs
as a user runs it, in its own process; the peer reads the same file with
``pyarrow.csv.read_csv``, every column as a string, in this process. The second row is the
command on two threads against one.
"""

from __future__ import annotations

import atexit
import os
import random
import shutil
import subprocess
import sys
import tempfile
import uuid

from harness import Comparison

SIZE = 1 << 30
NAMES = ["id", "price", "qty", "ratio", "day", "stamp", "flag", "ref", "wait", "name"]
SCHEMA = """[columns.id]
cast = "i64"
[columns.price]
cast = "decimal"
scale = 2
[columns.qty]
cast = "i32"
[columns.ratio]
cast = "f64"
[columns.day]
cast = "date"
[columns.stamp]
cast = "timestamp"
[columns.flag]
cast = "bool"
[columns.ref]
cast = "uuid"
[columns.wait]
cast = "duration"
"""
BAD = ["x", "", "12x", "1.2.3", "2024-13-45", "tru", "P1Y"]


def _chunk(rows: int) -> bytes:
    rng = random.Random(11)
    lines = []
    for i in range(rows):
        day = f"{rng.randint(1970, 2030):04}-{rng.randint(1, 12):02}-{rng.randint(1, 28):02}"
        cells = [str(rng.randint(-2**63, 2**63 - 1)), f"{rng.randint(0, 10**7)}.{rng.randint(0, 99):02}",
                 str(rng.randint(-2**31, 2**31 - 1)), repr(rng.gauss(0, 1000)), day,
                 f"{day}T{rng.randint(0, 23):02}:{rng.randint(0, 59):02}:{rng.randint(0, 59):02}Z",
                 rng.choice(["true", "false"]), str(uuid.UUID(int=rng.getrandbits(128))),
                 f"PT{rng.randint(0, 99)}H{rng.randint(0, 59)}M", f"customer {i % 977}"]
        if rng.random() < 0.1:   # one cell in ten rows: 1% of the cells
            column = rng.randrange(9)
            cells[column] = rng.choice(BAD)
        lines.append(",".join(cells))
    return ("\n".join(lines) + "\n").encode()


def _files() -> tuple[str, str]:
    folder = tempfile.mkdtemp(prefix="quillmere-bench-cli-")
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    path, schema = os.path.join(folder, "mixed.csv"), os.path.join(folder, "schema.toml")
    chunk = _chunk(100_000)
    with open(path, "wb") as out:
        out.write((",".join(NAMES) + "\n").encode())
        for _ in range(SIZE // len(chunk) + 1):
            out.write(chunk)
        # On disk before anything is timed: the kernel writing a gigabyte back would fall on
        # whichever side runs first.
        out.flush()
        os.fsync(out.fileno())
    with open(schema, "w") as out:
        out.write(SCHEMA)
    return path, schema


def comparisons() -> list[Comparison]:
    try:
        import pyarrow as pa
        import pyarrow.csv as pa_csv
        import rich  # noqa: F401
    except ModuleNotFoundError:
        return []
    path, schema = _files()

    def check(threads: int):
        def run(_input: object) -> None:
            done = subprocess.run([sys.executable, "-m", "quillmere", "check", path, "--schema", schema, "--quiet",
                                   "--threads", str(threads)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if done.returncode != 1:   # the file has faults: anything else is a failure of the command
                raise RuntimeError(done.stderr.decode())
        return run

    def read_all_as_strings(_input: object) -> None:
        pa_csv.read_csv(path, convert_options=pa_csv.ConvertOptions(column_types={n: pa.string() for n in NAMES}))

    group = "command"
    return [
        Comparison(group, "quillmere check, 1 GB CSV of 10 mixed columns, 1% bad (2 threads)",
                   "pyarrow.csv.read_csv, all columns as strings", check(2), read_all_as_strings, [None],
                   target=2.0, rounds=1, note="the command's process start and imports included"),
        Comparison(group, "quillmere check, 1 GB CSV: 2 threads", "1 thread", check(2), check(1), [None],
                   target=1 / 1.6, rounds=1, note="two threads at least 1.6× the throughput of one"),
    ]
