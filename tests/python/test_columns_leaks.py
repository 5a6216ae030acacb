"""Column casts leave nothing behind: memory stays flat over a million small
casts and a few large ones, whichever way their results are exported,
consumed or dropped. QUILLMERE_LEAK_CALLS sets the number of small casts."""

from __future__ import annotations

import gc
import os

import pytest

from quillmere import NumFormat
from quillmere import columns as c

CALLS = int(os.environ.get("QUILLMERE_LEAK_CALLS", "1000000"))
CELLS = ["12", "x", None, "٣", "-4"]


def resident_bytes() -> int:
    gc.collect()
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def small_casts(count: int) -> None:
    fmt = NumFormat.INVARIANT
    for i in range(count):
        result = c.cast_i64(CELLS, fmt, nulls=("-4",))
        data = result.values._data
        # Capsules made and dropped unconsumed are released by their destructors.
        if i % 3 == 0:
            data.__arrow_c_array__()
        elif i % 3 == 1:
            result.faults._data.__arrow_c_stream__()
        else:
            result.fault_columns()._data.__arrow_c_schema__()


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="reads /proc")
def test_a_million_small_casts_leave_memory_flat():
    small_casts(20000)  # warm the allocators
    before = resident_bytes()
    small_casts(CALLS)
    grown = resident_bytes() - before
    assert grown < 8 * 2**20, f"resident memory grew by {grown} bytes over {CALLS} casts"


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="reads /proc")
def test_large_casts_give_their_memory_back():
    pa = pytest.importorskip("pyarrow")
    texts = pa.array([f"{n}.25" if n % 100 else "bad" for n in range(1_000_000)])
    fmt = NumFormat.INVARIANT

    def cast_and_consume():
        result = c.cast_decimal(texts, fmt)
        arrow = pa.array(result.values)  # consumed: pyarrow calls release once it is done
        table = pa.table(result.faults)
        assert arrow.null_count == 10_000 and table.num_rows == 10_000

    # Allocator pools (ours and pyarrow's) settle in the first rounds; a leak
    # of the 16 MB value buffer would then still grow by 80 MB over five.
    for _ in range(3):
        cast_and_consume()
    before = resident_bytes()
    for _ in range(5):
        cast_and_consume()
    grown = resident_bytes() - before
    assert grown < 24 * 2**20, f"resident memory grew by {grown} bytes over 5 casts of 1M cells"
