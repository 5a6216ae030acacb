"""cast_i64 against int() on the same strings, on the value and on the fault path."""

from __future__ import annotations

import random

from harness import Comparison

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
    fmt = q.NumFormat.INVARIANT
    cast_i64 = q.cast_i64
    return [
        Comparison(
            group="integers",
            case="cast_i64 plain digits",
            peer="int()",
            ours=cast_i64,
            ours_args=(fmt,),
            theirs=int,
            inputs=_plain_texts(),
            target=1.0,
        ),
        Comparison(
            group="integers",
            case='cast_i64("12x") fault',
            peer="int() + except ValueError",
            ours=cast_i64,
            ours_args=(fmt,),
            theirs=int,
            theirs_raises=True,
            inputs=["12x"] * 100,
            target=0.1,
        ),
    ] + _fastnumbers(fmt)


def _fastnumbers(fmt) -> list[Comparison]:
    """fastnumbers answers a failed text by handing it back, so its fault path raises nothing."""
    try:
        from fastnumbers import try_int
    except ImportError:
        return []
    return [
        Comparison("integers", "cast_i64 plain digits", "fastnumbers.try_int", q.cast_i64, try_int,
                   _plain_texts(), ours_args=(fmt,)),
        Comparison("integers", 'cast_i64("12x") fault', "fastnumbers.try_int", q.cast_i64, try_int,
                   ["12x"] * 100, ours_args=(fmt,)),
    ]
