"""A generated table of text cells as they arrive from files: eight columns of different casts,
about 1% bad cells, some nulls and null tokens. Shared by the table, Dask and Spark tests and the
table benchmarks."""

from __future__ import annotations

import uuid

import quillmere as q
from quillmere import Column, DateOrder, NumFormat, Schema

GERMAN = NumFormat(",", ".", NumFormat.ALL)

SCHEMA = Schema({
    "id": q.cast_i64,
    "qty": q.cast_u64,
    "price": Column(q.cast_decimal, GERMAN, scale=2),
    "booked": q.cast_timestamp,
    "paid": q.cast_bool,
    "day": (q.cast_date, DateOrder.DMY),
    "wait": q.cast_duration,
    "ref": q.cast_uuid,
}, nulls=["NA", "N/A"])

# Cells that are faults for some casts, nulls for all (the tokens, padded), or surprising but valid.
JUNK = ["", "   ", "x", "12x", "1.5.5", "é", "9" * 30, "NA ", " N/A", "--", "2024-13-01", "tru", "0x", "1e999",
        "\u00a0", "12\u20ac", "P", "(5"]


def messy_table(rows: int, seed: int = 0, bad: float = 0.01):
    """The table as pyarrow, with a unique int64 ``key`` and a pass-through ``note`` column."""
    import numpy as np
    import pyarrow as pa

    rng = np.random.default_rng(seed)
    ids = rng.integers(-2**63, 2**63 - 1, rows, dtype=np.int64)
    qty = rng.integers(0, 10**6, rows, dtype=np.uint64)
    huge = rng.random(rows) < bad / 2   # valid u64 values that do not fit a signed 64-bit column
    qty[huge] = rng.integers(2**63, 2**64 - 1, int(huge.sum()), dtype=np.uint64)
    cents = rng.integers(-10**9, 10**9, rows)
    seconds = rng.integers(-2 * 10**9, 4 * 10**9, rows).astype("datetime64[s]")
    micros = seconds.astype("datetime64[us]") + rng.integers(0, 10**6, rows).astype("timedelta64[us]")
    stamps = np.where(rng.random(rows) < 0.5, np.datetime_as_string(seconds, timezone="UTC"),
                      np.datetime_as_string(micros, timezone="UTC"))
    days = np.datetime_as_string(rng.integers(-700_000, 2_900_000, rows).astype("datetime64[D]"))
    hours, minutes = rng.integers(0, 10_000, rows), rng.integers(0, 60, rows)
    refs = rng.integers(0, 256, (rows, 16), dtype=np.uint8)
    words = np.array(["yes", "no", "true", "false", "1", "0", "Y", "N", "on", "off"])

    columns = {
        "key": pa.array(np.arange(rows, dtype=np.int64)),
        "id": ids.astype(str).tolist(),
        "qty": qty.astype(str).tolist(),
        "price": [_german(c) for c in cents.tolist()],
        "booked": stamps.tolist(),
        "paid": words[rng.integers(0, len(words), rows)].tolist(),
        "day": [f"{d[-2:]}.{d[-5:-3]}.{d[:-6]}" for d in days.tolist()],
        "wait": [f"PT{h}H{m}M" if h % 3 else f"P{h}DT{m}M" for h, m in zip(hours.tolist(), minutes.tolist())],
        "ref": [str(uuid.UUID(bytes=bytes(r))) for r in refs],
        "note": [f"row {i}" for i in range(rows)],
    }
    for name in SCHEMA:
        cells = columns[name]
        for row in np.flatnonzero(rng.random(rows) < bad).tolist():
            pick = rng.integers(0, len(JUNK) + 1)
            cells[row] = None if pick == len(JUNK) else JUNK[pick]
    return pa.table({name: (cells if isinstance(cells, pa.Array) else pa.array(cells, pa.string()))
                     for name, cells in columns.items()})


def _german(cents: int) -> str:
    whole, fraction = divmod(abs(cents), 100)
    return f"{'-' if cents < 0 else ''}{whole:,}".replace(",", ".") + f",{fraction:02d}"


def chunked(table, pieces: int):
    """The same table cut into ``pieces`` record batches of unequal length."""
    import pyarrow as pa

    bounds = sorted({0, table.num_rows, *((table.num_rows * k * k) // (pieces * pieces) for k in range(1, pieces))})
    return pa.Table.from_batches([batch for a, b in zip(bounds, bounds[1:])
                                  for batch in table.slice(a, b - a).to_batches()], schema=table.schema)
