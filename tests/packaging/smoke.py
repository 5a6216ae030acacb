"""Smoke test of an installed distribution, run from outside the source tree:
the package imports from site-packages, carries its type information, and
casts, including the values and faults that need the package's binding."""

import datetime
import decimal
import gc
import pathlib
import sys

import quillmere as q

expected_version = sys.argv[1]
package = pathlib.Path(q.__file__).parent
assert "site-packages" in package.parts, package
assert {"py.typed", "_native.pyi"} <= {p.name for p in package.iterdir()}
assert pathlib.Path(q._native.__file__).name == "_native.abi3.so"
assert q.__version__ == expected_version, (q.__version__, expected_version)

assert q.cast_i32("(1,234)", q.NumFormat.INVARIANT) == q.Success(-1234)
assert q.cast_decimal("1.10", q.NumFormat.INVARIANT) == q.Success(decimal.Decimal("1.1"))
assert q.cast_date("15.01.2024", q.DateOrder.DMY) == q.Success(datetime.date(2024, 1, 15))
fault = q.cast_i32("12é", q.NumFormat.INVARIANT)
assert fault == q.Fault(q.CastFailure.MALFORMED, 2, 1) and fault.reason is q.CastFailure.MALFORMED
# A stable-ABI module must return new references to True, False and
# NotImplemented: before 3.12 they are counted like any object, and a module
# built against headers that assume them immortal wears their counts down.
singletons = (True, False, NotImplemented)
gc.collect()
before = [sys.getrefcount(s) for s in singletons]
for _ in range(200):
    assert (q.Success(1) == 1, q.Success(1) != 1) == (False, True)
    assert q.Success(1).__lt__(q.Success(2)) is NotImplemented
gc.collect()
drift = [sys.getrefcount(s) - count for s, count in zip(singletons, before)]
assert all(abs(d) < 20 for d in drift), f"reference counts of {singletons} drifted by {drift}"
print(f"quillmere {q.__version__} on Python {sys.version.split()[0]}: {package}")
