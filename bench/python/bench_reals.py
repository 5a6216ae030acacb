"""cast_f64 against float() on the same strings: shortest-form doubles, and the fault path."""

from __future__ import annotations

import random
import struct

from harness import Comparison

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
    fmt = q.NumFormat.INVARIANT
    cast_f64 = q.cast_f64
    return [
        Comparison(
            group="reals",
            case="cast_f64 shortest-form doubles",
            peer="float()",
            ours=cast_f64,
            ours_args=(fmt,),
            theirs=float,
            inputs=_shortest_doubles(),
            target=1.2,
        ),
        Comparison(
            group="reals",
            case="cast_f64 short decimals",
            peer="float()",
            ours=cast_f64,
            ours_args=(fmt,),
            theirs=float,
            inputs=_short_decimals(),
            target=1.2,
        ),
        Comparison(
            group="reals",
            case='cast_f64("1.5x") fault',
            peer="float() + except ValueError",
            ours=cast_f64,
            ours_args=(fmt,),
            theirs=float,
            theirs_raises=True,
            inputs=["1.5x"] * 100,
            target=0.5,
        ),
    ] + _fastnumbers(fmt)


def _fastnumbers(fmt) -> list[Comparison]:
    """fastnumbers answers a failed text by handing it back, so its fault path raises nothing."""
    try:
        from fastnumbers import try_float
    except ImportError:
        return []
    return [
        Comparison("reals", "cast_f64 shortest-form doubles", "fastnumbers.try_float", q.cast_f64, try_float,
                   _shortest_doubles(), ours_args=(fmt,)),
        Comparison("reals", 'cast_f64("1.5x") fault', "fastnumbers.try_float", q.cast_f64, try_float,
                   ["1.5x"] * 100, ours_args=(fmt,)),
    ]
