"""Column results travel to and from the libraries users hold columns in.

Each library reads our arrays through the Arrow PyCapsule interface without a
copy, and each library's columns come in the same way; clean columns give
what the library's own cast gives.
"""

from __future__ import annotations

import copy
import datetime
import pickle

import pytest

from quillmere import NumFormat
from quillmere import columns as c

pa = pytest.importorskip("pyarrow")
pc = pytest.importorskip("pyarrow.compute")

INVARIANT = NumFormat.INVARIANT
NUMERALS = ["12", "-7", "x", None, "9223372036854775807", " 3 "]
WANT = [12, -7, None, None, 9223372036854775807, 3]


def test_pyarrow_arrays_chunked_arrays_and_batches():
    result = c.cast_i64(pa.array(NUMERALS), INVARIANT)
    assert isinstance(result.values, c.Column)
    # Every export is fresh: the same result can be read any number of times.
    assert pa.array(result.values).to_pylist() == pa.array(result.values).to_pylist() == WANT
    assert pa.record_batch(result.faults).to_pylist() == [{"row": 2, "reason": 2, "offset": 0, "length": 1}]

    chunked = c.cast_i64(pa.chunked_array([NUMERALS[:2], [], NUMERALS[2:]]), INVARIANT, row_base=10)
    assert isinstance(chunked.values, c.ChunkedColumn)
    values = pa.chunked_array(chunked.values)
    assert values.num_chunks == 3 and values.to_pylist() == WANT
    assert [len(chunk) for chunk in chunked.values.chunks] == [2, 0, 4]
    assert pa.table(chunked.faults).column("row").to_pylist() == [12]
    assert pa.table(chunked.fault_columns()).column("reason").to_pylist() == [None, None, 2, None, None, None]

    table = pa.table({"n": NUMERALS})
    assert c.cast_i64(table, INVARIANT).to_pyarrow().to_pylist() == WANT


def test_clean_columns_equal_pyarrow_casts():
    texts = pa.array([str(n) for n in range(-500, 500, 7)] + [None])
    assert c.cast_i32(texts, INVARIANT).to_pyarrow().equals(pc.cast(texts, pa.int32()))
    stamps = pa.array(["2024-01-05T12:30:00.123456Z", None, "1999-12-31T23:59:59Z"])
    assert c.cast_timestamp(stamps).to_pyarrow().equals(pc.cast(stamps, pa.timestamp("us", "UTC")))
    dates = pa.array(["2024-02-29", "0001-01-01", None])
    assert c.cast_date(dates).to_pyarrow().equals(pc.cast(dates, pa.date32()))


def test_results_pickle_and_copy_without_losing_anything():
    result = c.cast_decimal(pa.chunked_array([["1.5", "x"], ["2.25"]]), INVARIANT, row_base=4)
    for clone in (pickle.loads(pickle.dumps(result)), copy.copy(result), copy.deepcopy(result)):
        assert clone.fault_count == 1 and clone.row_base == 4
        assert clone.to_pyarrow().equals(result.to_pyarrow())
        assert pa.table(clone.faults).equals(pa.table(result.faults))
        assert pa.table(clone.fault_columns()).equals(pa.table(result.fault_columns()))
    # A damaged byte form is refused, never read past its end.
    data = result.values._data.to_bytes()
    for damaged in (data[:-3], data + b"x", data[:40] + b"\xff" * 8 + data[48:], b"QMC1"):
        with pytest.raises(ValueError, match="not a quillmere column"):
            c._restore("ChunkedColumn", damaged)


def test_polars_series_in_and_out():
    pl = pytest.importorskip("polars")
    series = pl.Series("n", NUMERALS)  # exported as utf8_view
    result = c.cast_i64(series, INVARIANT)
    assert pl.Series(result.values).to_list() == WANT
    faults = pl.DataFrame(result.faults)
    assert faults["row"].to_list() == [2] and faults["reason"].to_list() == [2]
    categorical = c.cast_i64(series.cast(pl.Categorical), INVARIANT)
    assert pl.Series(categorical.values).to_list() == WANT
    long = pl.Series(["2024-01-05T12:30:00.123456Z" * 1, "not a timestamp at all, long", None])
    assert pl.Series(c.cast_timestamp(long).values).dtype == pl.Datetime("us", "UTC")


def test_pandas_series_of_every_string_dtype():
    pd = pytest.importorskip("pandas")
    for dtype in (None, object, "string[pyarrow]", pd.ArrowDtype(pa.large_string())):
        series = pd.Series(NUMERALS, dtype=dtype)
        result = c.cast_i64(series, INVARIANT)
        assert result.to_pyarrow().to_pylist() == WANT
        assert result.fault_count == 1
    # An object column's missing cells may be NaN as well as None.
    assert c.cast_i64(pd.Series(["1", float("nan")], dtype=object), INVARIANT).values.null_count == 1


def test_duckdb_results_in_and_out():
    duckdb = pytest.importorskip("duckdb")
    relation = duckdb.sql("select * from (values ('2024-01-05'), ('2024-02-30'), (null)) t(d)")
    result = c.cast_date(relation)
    assert result.to_pyarrow().to_pylist() == [datetime.date(2024, 1, 5), None, None]
    faults = result.faults
    assert duckdb.sql("select row, reason from faults").fetchall() == [(1, 3)]
