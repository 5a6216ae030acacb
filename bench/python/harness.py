"""Per-call timing of one of our casts against a peer on the same inputs.

Each bench module in this directory defines ``comparisons()``, returning a
list of :class:`Comparison`; ``bench/run`` collects them and prints ratios.
Both sides are called straight from the timing loop, with their constant
arguments passed as a caller's loop would pass them: no wrapper function adds
its own frame to either side.
"""

from __future__ import annotations

import importlib
import time
from dataclasses import dataclass
from typing import Callable, Sequence


@dataclass
class Comparison:
    group: str                      # table section, e.g. "integers"
    case: str                       # what is measured, e.g. "cast_i64 plain digits"
    peer: str                       # e.g. "int()"
    ours: Callable[..., object]
    theirs: Callable[..., object]
    inputs: Sequence[object]
    target: float | None = None     # our time / peer time must not exceed this
    note: str = ""
    ours_args: tuple = ()           # constant arguments after the input, e.g. (fmt,)
    theirs_args: tuple = ()
    theirs_raises: bool = False     # the peer's fault path: called inside try/except ValueError
    theirs_expr: str = ""           # the peer as an expression of x over `theirs_names`, e.g. "Decimal(repr(x))"
    theirs_names: dict | None = None
    rounds: int = 5                 # alternating rounds; fewer for rows whose one call takes seconds


def _loop(call: str, arity: int, catch: bool, names: dict | None) -> Callable:
    """A timing loop evaluating `call` for each input x, optionally inside try/except."""
    params = "".join(f", a{i}" for i in range(arity))
    body = f"try:\n                {call}\n            except ValueError:\n                pass" if catch else call
    source = (
        f"def loop(fn, inputs, loops{params}):\n"
        f"    for _ in range(loops):\n"
        f"        for x in inputs:\n"
        f"            {body}\n"
    )
    namespace: dict = dict(names or {})
    exec(source, namespace)
    return namespace["loop"]


def time_per_call(fn: Callable[..., object] | None, inputs: Sequence[object], min_seconds: float = 0.2,
                  args: tuple = (), raises: bool = False, expr: str = "", names: dict | None = None) -> float:
    """Best-of-five mean seconds per call over the inputs."""
    call = expr or "fn(x" + "".join(f", a{i}" for i in range(len(args))) + ")"
    loop = _loop(call, len(args), raises, names)
    loops = 1
    while True:
        start = time.perf_counter()
        loop(fn, inputs, loops, *args)
        elapsed = time.perf_counter() - start
        if elapsed >= min_seconds / 5:
            break
        loops *= 2
    best = elapsed
    for _ in range(4):
        start = time.perf_counter()
        loop(fn, inputs, loops, *args)
        best = min(best, time.perf_counter() - start)
    return best / (loops * len(inputs))


def against_builtin_and_fastnumbers(group: str, ours: Callable[..., object], fmt: object, builtin: Callable,
                                    fast_name: str, cases: list[tuple[str, Sequence[object], float, bool]]
                                    ) -> list[Comparison]:
    """A numeric cast against the builtin and fastnumbers on the same inputs.

    Each case is (label, inputs, target against the builtin, whether the inputs fault). The
    builtin's faults are caught as callers catch them; fastnumbers hands a failed text back,
    so its fault path raises nothing. fastnumbers is left out when it is not installed.
    """
    try:
        fast = getattr(importlib.import_module("fastnumbers"), fast_name)
    except ImportError:
        fast = None
    rows = []
    for label, inputs, target, faults in cases:
        peer = f"{builtin.__name__}() + except ValueError" if faults else f"{builtin.__name__}()"
        rows.append(Comparison(group, label, peer, ours, builtin, inputs, target, ours_args=(fmt,),
                               theirs_raises=faults))
        if fast is not None:
            rows.append(Comparison(group, label, f"fastnumbers.{fast_name}", ours, fast, inputs, ours_args=(fmt,)))
    return rows
