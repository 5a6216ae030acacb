"""quillmere.spark in a local[2] session: Spark's types, faults keyed by a column, the single-machine verdicts."""

import os
import sys

import pytest

pytest.importorskip("quillmere.columns")
pa = pytest.importorskip("pyarrow")
pyspark = pytest.importorskip("pyspark")

import quillmere as q  # noqa: E402
import quillmere.spark  # noqa: E402
from quillmere import Column, Schema  # noqa: E402
from quillmere.schema import CAST_NAMES  # noqa: E402
from messy_table import SCHEMA, messy_table  # noqa: E402

ROWS = 60_000
I64_MAX = 2**63 - 1

pytestmark = pytest.mark.slow


@pytest.fixture(scope="module")
def spark():
    from pyspark.sql import SparkSession

    os.environ["PYSPARK_PYTHON"] = sys.executable   # the workers import this environment
    session = (SparkSession.builder.master("local[2]").appName("quillmere-tests")
               .config("spark.ui.enabled", "false").config("spark.sql.session.timeZone", "UTC")
               .config("spark.sql.shuffle.partitions", "2").getOrCreate())
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()


def comparable(column):
    """A column in a form both sides share: temporal values as their integer counts, UUIDs as text."""
    column = column.combine_chunks() if isinstance(column, pa.ChunkedArray) else column
    if isinstance(column.type, pa.BaseExtensionType):
        return pa.array([None if v is None else str(__import__("uuid").UUID(bytes=v)) for v in
                         column.storage.to_pylist()], pa.string())
    if pa.types.is_timestamp(column.type) or pa.types.is_duration(column.type):
        return column.cast(pa.int64())
    if pa.types.is_time(column.type):
        return column.cast(pa.time64("ns")).cast(pa.int64())
    if pa.types.is_unsigned_integer(column.type):
        column = column.cast(pa.uint64())
        over = pa.compute.greater(column, pa.scalar(I64_MAX, pa.uint64()))
        return pa.compute.if_else(over, None, column).cast(pa.int64())
    if pa.types.is_integer(column.type):
        return column.cast(pa.int64())
    return column


def spark_expected(schema, table, key):
    """The single-machine cast as Spark must show it: u64 past 2^63-1 a fault, faults keyed by `key`."""
    typed, faults = schema.cast(table, text=True)
    found = [dict(f, **{key: table.column(key)[f["row"]].as_py()}) for f in faults.to_pylist()]
    for name, column in schema.items():
        if column.cast == "u64":
            values = typed.column(name).to_pylist()
            for row in (r for r, v in enumerate(values) if v is not None and v > I64_MAX):
                text = table.column(name)[row].as_py()
                start = len(text) - len(text.lstrip("\t\n\f\r "))
                trimmed = text.strip("\t\n\f\r ")
                found.append({"row": row, "column": name, "reason": 3, "offset": start, "length": len(trimmed),
                              "text": trimmed, key: table.column(key)[row].as_py()})
    position = {name: i for i, name in enumerate(table.schema.names)}
    found.sort(key=lambda f: (f["row"], position[f["column"]]))
    return typed, [{k: f[k] for k in (key, "column", "reason", "offset", "length", "text")} for f in found]


def collected(df, key):
    return df.toArrow().sort_by(key)


def test_spark_cast_equals_one_machine(spark, tmp_path):
    import pyarrow.parquet as pq

    table = messy_table(ROWS, seed=3)
    for number, start in enumerate(range(0, ROWS, ROWS // 4)):
        pq.write_table(table.slice(start, ROWS // 4), tmp_path / f"part-{number}.parquet")
    df = spark.read.parquet(str(tmp_path)).repartition(5)
    result = quillmere.spark.cast(df, SCHEMA, key="key", text=True, cache=True)
    typed, faults = collected(result.table, "key"), result.faults.toArrow()
    expected_typed, expected_faults = spark_expected(SCHEMA, table, "key")
    assert typed.num_rows == ROWS and typed.schema.names == table.schema.names
    for name in SCHEMA:
        assert comparable(typed.column(name)).equals(comparable(expected_typed.column(name))), name
    position = {name: i for i, name in enumerate(table.schema.names)}
    ours = sorted(faults.to_pylist(), key=lambda f: (f["key"], position[f["column"]]))
    assert any(f["column"] == "qty" and f["reason"] == 3 for f in ours)
    assert ours == expected_faults


GOOD = {"bool": "yes", "char": "é", "uuid": "{00000000-0000-0000-0000-0000000000AB}", "i8": "-128", "i16": "7",
        "i32": "7", "i64": "7", "u8": "255", "u16": "65535", "u32": "4294967295", "u64": "18446744073709551615",
        "f32": "0.1", "f64": "1e300", "decimal": "1.25", "timestamp": "2024-01-01T01:02:03.456789+02:00",
        "unix": "1700000000", "excel_serial": "45000.5", "date": "2024-02-29", "datetime": "2024-02-29 13:14:15",
        "time": "23:59:59.999999", "duration": "P1DT1S", "decimal_from_float": 0.1,
        "excel_serial_from_float": 45000.25, "excel_time": 0.75, "excel_duration": -1.5}
NOTATION = {"unix": q.UnixPrecision.SECONDS, "excel_serial": q.ExcelEpoch.EPOCH_1900,
            "datetime": q.DateOrder.YMD, "excel_serial_from_float": q.ExcelEpoch.EPOCH_1904}


def test_every_cast_reaches_spark_in_its_type(spark):
    schema = Schema({name: Column(name, NOTATION.get(name), scale=3 if "decimal" in name else None)
                     for name in CAST_NAMES})
    rows = {name: [GOOD[name], None if isinstance(GOOD[name], float) else "bad", None] for name in CAST_NAMES}
    table = pa.table({"k": ["a", "b", "c"], **{name: pa.array(cells, pa.float64() if isinstance(cells[0], float)
                                                               else pa.string()) for name, cells in rows.items()}})
    result = quillmere.spark.cast(spark.createDataFrame(table.to_pandas()), schema, key="k", text=True)
    assert [f.dataType for f in result.table.schema.fields[1:]] == [quillmere.spark.spark_type(schema, n)
                                                                    for n in CAST_NAMES]
    typed, faults = collected(result.table, "k"), result.faults.toArrow().sort_by("k")
    expected_typed, expected_faults = spark_expected(schema, table, "k")
    for name in CAST_NAMES:
        assert comparable(typed.column(name)).equals(comparable(expected_typed.column(name))), name
    order = {name: i for i, name in enumerate(table.schema.names)}
    assert sorted(faults.to_pylist(), key=lambda f: (f["k"], order[f["column"]])) == expected_faults


def test_misuse_is_reported_before_any_work(spark):
    df = spark.createDataFrame([("1", 2, "x")], "a string, n int, k string")
    for schema, message in ((Schema({"a": "decimal"}), "declare the decimal's scale"),
                            (Schema({"a": "timestamp"}, unit="ns"), "Spark holds microseconds"),
                            (Schema({"n": "i64"}), "column 'n' is int, which cast_i64 cannot read"),
                            (Schema({"b": "i64"}), "no column 'b'")):
        with pytest.raises((ValueError, TypeError), match=message):
            quillmere.spark.cast(df, schema, key="k")
    with pytest.raises(ValueError, match="key column 'z'"):
        quillmere.spark.cast(df, Schema({"a": "i8"}), key="z")
    typed, faults = quillmere.spark.cast(df, Schema({"a": "i8", "n": "excel_time"}), key="k", others="drop")
    assert typed.columns == ["a", "n"] and faults.count() == 0
