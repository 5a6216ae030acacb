"""Schema.cast on one machine: the column casts it calls, every input library, errors before work."""

import pickle
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

pa = pytest.importorskip("pyarrow")
columns = pytest.importorskip("quillmere.columns")

import quillmere as q  # noqa: E402
from quillmere import Column, NumFormat, Schema, _tables  # noqa: E402
from messy_table import SCHEMA, chunked, messy_table  # noqa: E402

FAULT_COLUMNS = ["row", "column", "reason", "offset", "length"]


@pytest.fixture(scope="module")
def messy():
    pytest.importorskip("numpy")  # the generator's; pyarrow no longer brings it
    return chunked(messy_table(20_000, seed=1), 5)


@pytest.fixture
def small_pieces(monkeypatch):
    """Cuts even small tables into many pieces, so the threads and the reassembly are exercised."""
    monkeypatch.setattr(_tables, "MIN_PIECE_ROWS", 7)


def column_cast(schema, name, column, row_base=0):
    """What the column layer alone says about one column: its values and its faults with the name."""
    declared = schema[name]
    options = {"row_base": row_base}
    if schema.nulls_of(name):
        options["nulls"] = schema.nulls_of(name)
    if declared.scale is not None:
        options["scale"] = declared.scale
    notation = () if declared.notation is None else (declared.notation,)
    result = getattr(columns, f"cast_{declared.cast}")(column, *notation, **options)
    faults = pa.table(result.faults) if hasattr(result.faults, "__arrow_c_stream__") else pa.record_batch(result.faults)
    return pa.chunked_array(result.values).combine_chunks(), pa.table(faults).to_pylist()


def expected_faults(schema, table, row_base=0):
    faults = []
    for position, name in enumerate(table.schema.names):
        if name in schema:
            faults += [dict(fault, column=name, position=position)
                       for fault in column_cast(schema, name, table.column(name), row_base)[1]]
    faults.sort(key=lambda fault: (fault["row"], fault["position"]))
    return [{key: fault[key] for key in FAULT_COLUMNS} for fault in faults]


def test_cast_is_the_column_casts(messy, small_pieces):
    typed, faults = SCHEMA.cast(messy, threads=2, row_base=100)
    for name in SCHEMA:
        values, _ = column_cast(SCHEMA, name, messy.column(name), 100)
        assert typed.column(name).combine_chunks().equals(values), name
    assert typed.column("note") == messy.column("note") and typed.schema.names == messy.schema.names
    assert faults.to_pylist() == expected_faults(SCHEMA, messy, 100)
    assert faults.schema == _tables.fault_schema()


def test_every_library_gives_the_same_cast(messy):
    pl = pytest.importorskip("polars")
    pd = pytest.importorskip("pandas")
    reference = SCHEMA.cast(messy)
    as_arrow = {
        "batch": lambda: SCHEMA.cast(messy.combine_chunks().to_batches()[0]),
        "stream": lambda: SCHEMA.cast(pa.RecordBatchReader.from_batches(messy.schema, messy.to_batches())),
        "polars": lambda: SCHEMA.cast(pl.from_arrow(messy)),
        "pandas": lambda: SCHEMA.cast(messy.to_pandas()),
    }
    for kind, run in as_arrow.items():
        typed, faults = run()
        typed_arrow = pa.table(typed) if kind != "pandas" else pa.Table.from_pandas(typed, preserve_index=False)
        faults_arrow = pa.table(faults) if kind != "pandas" else pa.Table.from_pandas(faults, preserve_index=False)
        assert faults_arrow.to_pylist() == reference.faults.to_pylist(), kind
        for name in SCHEMA:
            ours, theirs = typed_arrow.column(name), reference.table.column(name)
            if name == "ref" and kind == "polars":  # polars has no UUID type: the 16 bytes
                theirs = theirs.cast(theirs.type.storage_type).cast(ours.type)
            assert ours.combine_chunks().equals(theirs.combine_chunks()), (kind, name)
    assert isinstance(as_arrow["polars"]().table, pl.DataFrame)


def test_pandas_keeps_its_index_and_untouched_columns():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"a": ["1", "x", None], "b": [object(), 2, "3"]}, index=[7, 5, 9])
    typed, faults = Schema({"a": "i8"}).cast(frame)
    assert list(typed.index) == [7, 5, 9] and typed["b"] is not None and (typed["b"] == frame["b"]).all()
    assert str(typed["a"].dtype) == "int8[pyarrow]" and typed["a"].tolist() == [1, pd.NA, pd.NA]
    assert faults.to_dict("records") == [{"row": 1, "column": "a", "reason": 2, "offset": 0, "length": 1}]


_cells = st.one_of(st.none(), st.sampled_from(["1", " 2 ", "-3", "x", "", " ", "NA", " NA ", "N/A", "é1", "1é",
                                              "0x7f", "300", "12:30", "2024-01-02", "yes", "1,5", "P1D", "abc€"]),
                   st.text(max_size=4))
_schema_pool = {"i8": "i8", "u16": Column("u16", nulls=["N/A"]), "bool": "bool", "f32": "f32", "time": "time",
                "date": "date", "dec": ("decimal", NumFormat.DETECT), "char": "char", "dur": "duration"}


@given(rows=st.lists(st.tuples(*[_cells] * 3), max_size=40), names=st.lists(st.sampled_from(sorted(_schema_pool)),
       min_size=1, max_size=3, unique=True), cut=st.integers(1, 5), threads=st.integers(1, 3))
def test_random_tables_any_pieces_and_threads(rows, names, cut, threads):
    _tables.MIN_PIECE_ROWS, saved = 3, _tables.MIN_PIECE_ROWS
    try:
        schema = Schema({name: _schema_pool[name] for name in names}, nulls=["NA"])
        table = chunked(pa.table({name: pa.array([row[i] for row in rows], pa.string())
                                  for i, name in enumerate(names)}), cut)
        typed, faults = schema.cast(table, threads=threads, text=True)
    finally:
        _tables.MIN_PIECE_ROWS = saved
    for name in names:
        assert typed.column(name).combine_chunks().equals(column_cast(schema, name, table.column(name))[0])
    found = faults.to_pylist()
    assert [{k: f[k] for k in FAULT_COLUMNS} for f in found] == expected_faults(schema, table)
    for fault in found:
        cell = table.column(fault["column"])[fault["row"]].as_py()
        assert fault["text"] == cell[fault["offset"]:fault["offset"] + fault["length"]]


def test_spans_in_bytes_and_text_of_binary_cells():
    table = pa.table({"s": pa.array(["12é"]), "b": pa.array(["12é".encode()], pa.binary())})
    schema = Schema({"s": "i32", "b": "i32"})
    chars, in_bytes = schema.cast(table, text=True).faults, schema.cast(table, text=True, spans="bytes").faults
    assert chars.select(["offset", "length", "text"]).to_pylist() == [
        {"offset": 2, "length": 1, "text": "é"}, {"offset": 2, "length": 2, "text": "é"}]
    assert in_bytes.column("length").to_pylist() == [2, 2] and in_bytes.column("text").to_pylist() == ["é", "é"]


def test_nulls_are_not_faults_and_blanks_stay_empty():
    table = pa.table({"a": ["NA", " NA\t", "", "na"], "b": ["NA", "-", "", None]})
    typed, faults = Schema({"a": "i8", "b": Column("i8", nulls=["-", ""])}, nulls=["NA"]).cast(table)
    assert typed.column("a").null_count == 4 and typed.column("b").null_count == 4
    assert [(f["row"], f["column"], f["reason"]) for f in faults.to_pylist()] == [
        (0, "b", 2), (2, "a", q.CastFailure.EMPTY), (3, "a", q.CastFailure.MALFORMED)]


def test_others_dropped_in_table_order():
    table = pa.table({"z": ["1"], "keep": ["k"], "a": ["2"]})
    assert Schema({"a": "i8", "z": "i8"}).cast(table, others="drop").table.schema.names == ["z", "a"]


@pytest.mark.parametrize("table, schema, error, message", [
    ({"a": ["1"]}, {"a": "i8", "b": "i8", "c": "bool"}, ValueError, "the table has no column 'b', 'c' (it has 'a')"),
    ({"a": [1]}, {"a": "i64"}, TypeError, "column 'a' holds int64, which cast_i64 cannot read"),
    ({"a": ["1.5"]}, {"a": "excel_time"}, TypeError, "column 'a' holds string, which cast_excel_time cannot read"),
    ({"a": [2**40]}, {"a": "decimal_from_float"}, TypeError, "holds int64"),
    ({"a": pa.array([[1]])}, {"a": "bool"}, TypeError, "holds list<item: int64>"),
])
def test_errors_come_before_any_work(monkeypatch, table, schema, error, message):
    monkeypatch.setattr(_tables, "cast_piece", lambda *args: pytest.fail("a column was cast"))
    with pytest.raises(error, match=re.escape(message)):
        Schema(schema).cast(pa.table(table))


def test_other_misuse():
    table = pa.table({"a": ["1"]})
    for options, message in (({"others": "all"}, "others must be"), ({"spans": "chars"}, "spans must be"),
                             ({"threads": 0}, "threads must be"), ({"row_base": -1}, "row_base must be")):
        with pytest.raises(ValueError, match=message):
            Schema({"a": "i8"}).cast(table, **options)
    with pytest.raises(TypeError, match="takes a pyarrow Table"):
        Schema({"a": "i8"}).cast({"a": ["1"]})


def test_float_columns_null_columns_and_empty_tables():
    table = pa.table({"f": pa.array([0.5, None, float("nan")], pa.float32()), "n": pa.nulls(3)})
    typed, faults = Schema({"f": "excel_time", "n": "i8"}).cast(table, text=True)
    assert typed.column("n").type == pa.int8() and typed.column("n").null_count == 3
    assert faults.to_pylist() == [{"row": 2, "column": "f", "reason": 2, "offset": 0, "length": 0, "text": None}]


def test_empty_tables_and_pickled_results(messy):
    empty = SCHEMA.cast(messy.slice(0, 0))
    assert empty.table.num_rows == 0 and empty.fault_count == 0 and empty.table.column("price").type == pa.decimal128(38, 2)
    result = SCHEMA.cast(messy.slice(0, 500))
    again = pickle.loads(pickle.dumps(result))
    assert again.table.equals(result.table) and again.faults.equals(result.faults) and again.fault_count > 0
