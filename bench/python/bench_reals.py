"""cast_f64 against float() on the same strings: shortest-form doubles, and the fault path."""

from __future__ import annotations

import random
import struct

from harness import Comparison, against_builtin_and_fastnumbers

import quillmere as q


def _shortest_doubles() -> list[str]:
    rng = random.Random(7)
    texts = []
    while len(texts) < 1000:
        x = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if x == x and abs(x) != float("inf"):
            texts.append(repr(x))
    return texts


def _short_decimals() -> list[str]:
    rng = random.Random(8)
    return [f"{rng.uniform(-1000, 1000):.{rng.randint(0, 6)}f}" for _ in range(1000)]


def comparisons() -> list[Comparison]:
    return against_builtin_and_fastnumbers("reals", q.cast_f64, q.NumFormat.INVARIANT, float, "try_float", [
        ("cast_f64 shortest-form doubles", _shortest_doubles(), 1.2, False),
        ("cast_f64 short decimals", _short_decimals(), 1.2, False),
        ('cast_f64("1.5x") fault', ["1.5x"] * 100, 0.5, True),
    ])
