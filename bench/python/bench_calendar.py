"""Dates, times, date-times and timestamps against the standard library and
the common third-party parsers, on the same ISO text.

Peers that are not installed (pydantic, ciso8601) are left out.
"""

from __future__ import annotations

import datetime as dt
import random

import quillmere as q
from harness import Comparison

GROUP = "calendar"


def _texts(count: int = 256, seed: int = 20240115):
    rng = random.Random(seed)
    dates, times, datetimes, stamps = [], [], [], []
    for _ in range(count):
        d = dt.date.fromordinal(rng.randint(dt.date(1900, 1, 1).toordinal(), dt.date(2100, 12, 31).toordinal()))
        t = dt.time(rng.randrange(24), rng.randrange(60), rng.randrange(60), rng.randrange(1_000_000))
        clock = t.isoformat(timespec=rng.choice(["seconds", "milliseconds", "microseconds"]))
        minutes = rng.choice([0, 60, -300, 330, rng.randint(-1439, 1439)])
        zone = "Z" if minutes == 0 else f"{'-' if minutes < 0 else '+'}{abs(minutes) // 60:02d}:{abs(minutes) % 60:02d}"
        dates.append(d.isoformat())
        times.append(clock)
        datetimes.append(f"{d.isoformat()}T{clock}")
        stamps.append(f"{d.isoformat()}T{clock}{zone}")
    return dates, times, datetimes, stamps


def _pydantic_adapters():
    try:
        import pydantic
    except ImportError:
        return None
    return {kind: pydantic.TypeAdapter(kind).validate_python for kind in (dt.date, dt.time, dt.datetime)}


def _ciso8601():
    try:
        import ciso8601
    except ImportError:
        return None
    return ciso8601.parse_rfc3339


def comparisons() -> list[Comparison]:
    dates, times, datetimes, stamps = _texts()
    ymd = q.DateOrder.YMD
    cast_datetime = q.cast_datetime

    out = [
        Comparison(GROUP, "cast_date ISO", "date.fromisoformat", q.cast_date, dt.date.fromisoformat, dates, 2.0),
        Comparison(GROUP, "cast_time ISO", "time.fromisoformat", q.cast_time, dt.time.fromisoformat, times, 1.5),
        Comparison(GROUP, "cast_datetime ISO (YMD)", "datetime.fromisoformat", cast_datetime,
                   dt.datetime.fromisoformat, datetimes, 1.5, ours_args=(ymd,)),
        Comparison(GROUP, "cast_timestamp RFC 3339", "datetime.fromisoformat", q.cast_timestamp,
                   dt.datetime.fromisoformat, stamps, 1.5,
                   note="the peer keeps the offset; ours converts to UTC"),
    ]

    parse_rfc3339 = _ciso8601()
    if parse_rfc3339 is not None:
        out.append(Comparison(GROUP, "cast_timestamp RFC 3339", "ciso8601.parse_rfc3339", q.cast_timestamp,
                              parse_rfc3339, stamps, 1.2))

    adapters = _pydantic_adapters()
    if adapters is not None:
        out += [
            Comparison(GROUP, "cast_date ISO", "pydantic TypeAdapter(date) lax", q.cast_date, adapters[dt.date],
                       dates, 0.5),
            Comparison(GROUP, "cast_time ISO", "pydantic TypeAdapter(time) lax", q.cast_time, adapters[dt.time],
                       times, 0.5),
            Comparison(GROUP, "cast_datetime ISO (YMD)", "pydantic TypeAdapter(datetime) lax", cast_datetime,
                       adapters[dt.datetime], datetimes, 0.5, ours_args=(ymd,)),
        ]
    return out
