"""Whole tables: Schema.cast of eight text columns against pyarrow and polars, threads, and Dask.

The table has 1M rows of text in eight columns that every side can cast (integers, a real, a
plain decimal, RFC 3339 timestamps, ISO dates, booleans); 1% of its cells are bad. Ours casts
the faulty table and builds the whole fault table. polars (``strict=False``, or its ``str``
parsers where it has no cast from text) casts the same faulty table into nulls;
``pyarrow.compute.cast`` raises at a bad cell, so it casts the clean twin of the table.
"""

from __future__ import annotations

import os
import tempfile
import time

from harness import Comparison

ROWS = 1_000_000


def _tables():
    import numpy as np
    import pyarrow as pa

    rng = np.random.default_rng(7)
    seconds = rng.integers(0, 4 * 10**9, ROWS).astype("datetime64[s]")
    clean = {
        "id": rng.integers(-2**63, 2**63 - 1, ROWS).astype(str),
        "qty": rng.integers(0, 2**63, ROWS, dtype=np.uint64).astype(str),
        "count": rng.integers(-2**31, 2**31 - 1, ROWS).astype(str),
        "ratio": rng.standard_normal(ROWS).astype(str),
        "price": np.char.mod("%.6f", rng.integers(-10**12, 10**12, ROWS) / 10**6),
        "booked": np.datetime_as_string(seconds, timezone="UTC"),
        "day": np.datetime_as_string(seconds.astype("datetime64[D]")),
        "paid": np.where(rng.random(ROWS) < 0.5, "true", "false"),
    }
    faulty = {}
    for name, cells in clean.items():
        cells = cells.astype(object)
        bad = rng.random(ROWS) < 0.01
        cells[bad] = rng.choice(np.array(["x", "", "1.2.3", "NaN?", "2024-13-45", "tru"], dtype=object), int(bad.sum()))
        faulty[name] = cells
    as_table = lambda columns: pa.table({name: pa.array(cells, pa.string()) for name, cells in columns.items()})
    return as_table(clean), as_table(faulty)


def _schema():
    import quillmere as q
    from quillmere import Column, Schema

    return Schema({"id": q.cast_i64, "qty": q.cast_u64, "count": q.cast_i32, "ratio": q.cast_f64,
                   "price": Column(q.cast_decimal, scale=6), "booked": q.cast_timestamp, "day": q.cast_date,
                   "paid": q.cast_bool})


def _pyarrow_cast(table):
    import pyarrow as pa
    import pyarrow.compute as pc

    types = {"id": pa.int64(), "qty": pa.uint64(), "count": pa.int32(), "ratio": pa.float64(),
             "price": pa.decimal128(18, 6), "booked": pa.timestamp("us", "UTC"), "day": pa.date32(),
             "paid": pa.bool_()}
    return pa.table({name: pc.cast(table.column(name), target) for name, target in types.items()})


def _polars_cast(frame):
    import polars as pl

    return frame.with_columns(
        pl.col("id").cast(pl.Int64, strict=False), pl.col("qty").cast(pl.UInt64, strict=False),
        pl.col("count").cast(pl.Int32, strict=False), pl.col("ratio").cast(pl.Float64, strict=False),
        pl.col("price").cast(pl.Decimal(18, 6), strict=False),
        pl.col("booked").str.to_datetime(time_unit="us", time_zone="UTC", strict=False),
        pl.col("day").str.to_date(strict=False),
        pl.col("paid").replace_strict({"true": True, "false": False}, default=None, return_dtype=pl.Boolean))


def _dask_jobs(table, schema):
    """The same Dask job over Parquet partitions, with and without the cast: the difference is ours."""
    import dask
    import dask.dataframe as dd
    import distributed
    import pyarrow.parquet as pq

    import quillmere.dask

    folder = tempfile.mkdtemp(prefix="quillmere-bench-")
    for number in range(8):
        rows = ROWS // 8
        pq.write_table(table.slice(number * rows, rows), os.path.join(folder, f"part-{number}.parquet"))
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0")
    client = distributed.Client(cluster)

    def settled():
        # The same job has the same task keys every time: one started before the
        # scheduler has let go of the last one's results would reuse them, not run.
        while client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
            time.sleep(0.001)

    def with_cast(_):
        typed, faults = quillmere.dask.cast(dd.read_parquet(folder), schema)
        dask.compute(typed.map_partitions(len), faults.map_partitions(len))
        settled()

    def engine_only(_):
        dd.read_parquet(folder).map_partitions(len).compute()
        settled()

    with_cast(None)  # the workers import quillmere and the engines once, before any timing
    return with_cast, engine_only, (cluster, client)


def comparisons() -> list[Comparison]:
    try:
        import polars as pl
        import pyarrow  # noqa: F401

        import quillmere.columns  # noqa: F401
    except ModuleNotFoundError:
        return []
    clean, faulty = _tables()
    schema = _schema()
    assert _pyarrow_cast(clean).num_rows == ROWS and schema.cast(clean).fault_count == 0
    frame = pl.from_arrow(faulty)
    group = "tables"
    # The harness hands both sides the same input; a peer that needs its own form of it ignores it.
    rows = [
        Comparison(group, "Schema.cast 8 columns × 1M, 1% bad, fault table (2 threads)", "polars cast(strict=False)",
                   lambda t: schema.cast(t, threads=2), lambda _t: _polars_cast(frame), [faulty], target=1.0),
        Comparison(group, "Schema.cast 8 columns × 1M, 1% bad, fault table (1 thread)", "pyarrow.compute.cast (clean)",
                   lambda t: schema.cast(t, threads=1), lambda _t: _pyarrow_cast(clean), [faulty], target=1.0,
                   note="pyarrow raises at the first bad cell, so it casts the clean table"),
        Comparison(group, "Schema.cast 8 columns × 1M: 2 threads", "1 thread",
                   lambda t: schema.cast(t, threads=2), lambda t: schema.cast(t, threads=1), [faulty],
                   target=1 / 1.6, note="two threads at least 1.6× the throughput of one"),
    ]
    try:
        with_cast, engine_only, _keep = _dask_jobs(faulty, schema)
    except ModuleNotFoundError:
        return rows
    rows.append(Comparison(group, "Dask LocalCluster 2 processes: read 8 Parquet partitions + cast", "same job without the cast",
                           with_cast, engine_only, [None], note="the cast's share of the job is 1 − 1/ratio; "
                           "the rest is the engine (scheduling, reading Parquet, moving partitions)"))
    rows[-1]._cluster = _keep  # type: ignore[attr-defined]  # lives as long as the row
    return rows
