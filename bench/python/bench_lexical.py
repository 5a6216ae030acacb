"""cast_uuid against uuid.UUID, and cast_char against chr(int(...))."""

from __future__ import annotations

import random
import uuid

import quillmere as q

from harness import Comparison


def _hyphenated(count: int = 1000) -> list[str]:
    rng = random.Random(4122)
    return [str(uuid.UUID(int=rng.getrandbits(128))) for _ in range(count)]


def _braced(count: int = 1000) -> list[str]:
    return ["{" + s.upper() + "}" for s in _hyphenated(count)]


def _malformed(count: int = 1000) -> list[str]:
    return [s[:20] + "g" + s[21:] for s in _hyphenated(count)]


def _code_points(count: int = 1000) -> list[str]:
    rng = random.Random(65)
    return ["U+%04X" % rng.choice([rng.randrange(0xD800), rng.randrange(0xE000, 0x110000)]) for _ in range(count)]


def comparisons() -> list[Comparison]:
    return [
        Comparison(
            group="lexical",
            case="cast_uuid hyphenated",
            peer="uuid.UUID(s)",
            ours=q.cast_uuid,
            theirs=uuid.UUID,
            inputs=_hyphenated(),
            target=0.25,
        ),
        Comparison(
            group="lexical",
            case="cast_uuid braced upper case",
            peer="uuid.UUID(s)",
            ours=q.cast_uuid,
            theirs=uuid.UUID,
            inputs=_braced(),
        ),
        Comparison(
            group="lexical",
            case="cast_uuid invalid digit",
            peer="uuid.UUID(s) raising ValueError",
            ours=q.cast_uuid,
            theirs=uuid.UUID,
            theirs_raises=True,
            inputs=_malformed(),
        ),
        Comparison(
            group="lexical",
            case="cast_char U+XXXX",
            peer="chr(int(s[2:], 16))",
            ours=q.cast_char,
            theirs=None,
            theirs_expr="chr(int(x[2:], 16))",
            inputs=_code_points(),
        ),
    ]
