"""Per-call timing of one of our casts against a peer on the same inputs.

Each bench module in this directory defines ``comparisons()``, returning a
list of :class:`Comparison`; ``bench/run`` collects them and prints ratios.
"""

from __future__ import annotations

import time
from dataclasses import dataclass
from typing import Callable, Sequence


@dataclass
class Comparison:
    group: str                      # table section, e.g. "integers"
    case: str                       # what is measured, e.g. "cast_i64 plain digits"
    peer: str                       # e.g. "int()"
    ours: Callable[[object], object]
    theirs: Callable[[object], object]
    inputs: Sequence[object]
    target: float | None = None     # our time / peer time must not exceed this
    note: str = ""


def time_per_call(fn: Callable[[object], object], inputs: Sequence[object], min_seconds: float = 0.2) -> float:
    """Best-of-five mean seconds per call over the inputs."""
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            for x in inputs:
                fn(x)
        elapsed = time.perf_counter() - start
        if elapsed >= min_seconds / 5:
            break
        loops *= 2
    best = elapsed
    for _ in range(4):
        start = time.perf_counter()
        for _ in range(loops):
            for x in inputs:
                fn(x)
        best = min(best, time.perf_counter() - start)
    return best / (loops * len(inputs))


def raises_value_error(fn: Callable[[object], object]) -> Callable[[object], object]:
    """The peer's fault path as callers write it: try/except."""
    def call(x: object) -> object:
        try:
            return fn(x)
        except ValueError:
            return None
    return call
