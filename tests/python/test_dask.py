"""quillmere.dask on a real two-process LocalCluster: the same typed table and faults as one machine."""

import pickle

import pytest

pytest.importorskip("quillmere.columns")
pa = pytest.importorskip("pyarrow")
pd = pytest.importorskip("pandas")
dask = pytest.importorskip("dask")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import quillmere.dask  # noqa: E402
from quillmere import Schema  # noqa: E402
from messy_table import SCHEMA, messy_table  # noqa: E402

ROWS = 300_000

pytestmark = pytest.mark.slow


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster:
        with distributed.Client(cluster) as connected:
            yield connected


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """The generated table as seven Parquet files of unequal length: seven partitions."""
    import pyarrow.parquet as pq

    folder = tmp_path_factory.mktemp("messy")
    table = messy_table(ROWS, seed=2)
    bounds = [0, 1, 9_000, 60_000, 61_000, 150_000, 299_000, ROWS]
    for number, (start, stop) in enumerate(zip(bounds, bounds[1:])):
        pq.write_table(table.slice(start, stop - start), folder / f"part-{number}.parquet")
    return folder


@pytest.fixture(scope="module")
def messy(files):
    return dd.read_parquet(files).compute().reset_index(drop=True)


def test_cluster_cast_equals_one_machine(client, files, messy):
    ddf = dd.read_parquet(files)
    assert ddf.npartitions == 7
    result = quillmere.dask.cast(ddf, SCHEMA, text=True)
    typed, faults = dask.compute(result.table, result.faults)
    single = SCHEMA.cast(messy, text=True)
    assert single.fault_count > ROWS * 8 // 200  # about 1% of the cells are bad
    pd.testing.assert_frame_equal(typed.reset_index(drop=True), single.table)
    pd.testing.assert_frame_equal(faults.reset_index(drop=True), single.faults)
    assert list(typed.dtypes) == list(result.table.dtypes)  # the metadata told the truth


def test_key_in_place_of_row_numbers(client, messy):
    ddf = dd.from_pandas(messy.iloc[:20_000], npartitions=3)
    faults = quillmere.dask.cast(ddf, SCHEMA, key="key", others="drop").faults.compute().reset_index(drop=True)
    single = SCHEMA.cast(messy.iloc[:20_000]).faults
    assert list(faults.columns) == ["key", "column", "reason", "offset", "length"]
    assert faults["key"].tolist() == messy["key"].iloc[single["row"]].tolist()
    pd.testing.assert_frame_equal(faults.drop(columns="key"), single.drop(columns="row"))


def test_misuse_is_reported_before_any_work(messy):
    ddf = dd.from_pandas(messy.iloc[:10], npartitions=2)
    for schema, message in ((Schema({"price": "decimal"}), "declare the decimal's scale"),
                            (Schema({"nope": "bool"}), "no column 'nope'"),
                            (Schema({"key": "i64"}), "column 'key' holds int64")):
        with pytest.raises((ValueError, TypeError), match=message):
            quillmere.dask.cast(ddf, schema)
    with pytest.raises(ValueError, match="key column 'k'"):
        quillmere.dask.cast(ddf, SCHEMA, key="k")
    assert pickle.loads(pickle.dumps(SCHEMA)) == SCHEMA  # what the workers receive
