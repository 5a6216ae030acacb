"""Smoke test of an installed distribution, run from outside the source tree:
the package imports from site-packages, carries its type information, and
casts, including the values and faults that need the package's binding."""

import datetime
import decimal
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
print(f"quillmere {q.__version__} on Python {sys.version.split()[0]}: {package}")
