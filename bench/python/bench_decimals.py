"""Decimal casts against the standard library's decimal module."""

from __future__ import annotations

import random
from decimal import Decimal

import quillmere as q
from harness import Comparison


def _texts(rng: random.Random) -> list[str]:
    """Column-like decimal text: prices, quantities, rates, a few long values."""
    texts = []
    for _ in range(1000):
        kind = rng.random()
        if kind < 0.4:
            texts.append(f"{rng.randint(0, 99999)}.{rng.randint(0, 99):02d}")
        elif kind < 0.6:
            texts.append(str(rng.randint(-(10**6), 10**6)))
        elif kind < 0.8:
            texts.append(f"-{rng.randint(0, 999)}.{rng.randint(0, 10**6):06d}")
        else:
            texts.append(f"{rng.randint(0, 10**12)}.{rng.randint(0, 10**9):09d}")
    return texts


def _doubles(rng: random.Random) -> list[float]:
    """Doubles as spreadsheets hold them: short decimals, and computed values."""
    xs = [float(f"{rng.randint(0, 10**7)}e{rng.randint(-6, 2)}") for _ in range(500)]
    xs += [rng.random() * 10 ** rng.randint(-3, 8) for _ in range(500)]
    return xs


def comparisons() -> list[Comparison]:
    rng = random.Random(42)
    fmt = q.NumFormat.INVARIANT
    texts = _texts(rng)
    doubles = _doubles(rng)
    cast_decimal = q.cast_decimal
    from_float = q.cast_decimal_from_float
    return [
        Comparison(
            group="decimals",
            case="cast_decimal(s, INVARIANT) on plain decimal text",
            peer="decimal.Decimal(s)",
            ours=cast_decimal,
            ours_args=(fmt,),
            theirs=Decimal,
            inputs=texts,
            target=1.3,
        ),
        Comparison(
            group="decimals",
            case="cast_decimal_from_float(x), spreadsheet-like doubles",
            peer="decimal.Decimal(repr(x))",
            ours=from_float,
            theirs=None,
            theirs_expr="Decimal(repr(x))",
            theirs_names={"Decimal": Decimal},
            inputs=doubles,
            target=0.5,
        ),
        Comparison(
            group="decimals",
            case="cast_decimal_from_float(x), uniformly random doubles in ±1000",
            peer="decimal.Decimal(repr(x))",
            ours=from_float,
            theirs=None,
            theirs_expr="Decimal(repr(x))",
            theirs_names={"Decimal": Decimal},
            inputs=[rng.uniform(-1000, 1000) for _ in range(1000)],
            target=0.5,
        ),
    ]
