"""cast_i64 against int() on the same strings, on the value and on the fault path."""

from __future__ import annotations

import random

from harness import Comparison, against_builtin_and_fastnumbers

import quillmere as q


def _plain_texts() -> list[str]:
    rng = random.Random(42)
    texts = []
    for _ in range(1000):
        digits = rng.randint(1, 18)
        value = rng.randrange(10 ** digits)
        texts.append(str(-value if rng.random() < 0.5 else value))
    return texts


def comparisons() -> list[Comparison]:
    return against_builtin_and_fastnumbers("integers", q.cast_i64, q.NumFormat.INVARIANT, int, "try_int", [
        ("cast_i64 plain digits", _plain_texts(), 1.0, False),
        ('cast_i64("12x") fault', ["12x"] * 100, 0.1, True),
    ])
