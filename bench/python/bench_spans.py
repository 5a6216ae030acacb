"""Durations: cast_duration against pydantic's lax-mode timedelta validation
of the same ISO 8601 texts. The peer is skipped when pydantic is not installed."""

from __future__ import annotations

from datetime import timedelta

import quillmere as q

from harness import Comparison

ISO_DURATIONS = [
    "P1DT2H30M",
    "PT0.5S",
    "-P3DT4H5M",
    "PT1H30M15.25S",
    "P2W",
    "PT36H",
    "P10DT0.000001S",
    "-PT0.000001S",
]

# Half of them faulty, as a column of mixed cells is.
MIXED = ISO_DURATIONS[:4] + ["P1Y", "PT", "P1DT2X", "PT1.5"]


def comparisons() -> list[Comparison]:
    try:
        from pydantic import TypeAdapter
    except ImportError:
        return []
    validate = TypeAdapter(timedelta).validate_python  # lax mode: strings are parsed
    for text in ISO_DURATIONS:
        assert q.cast_duration(text).value == validate(text), text
    return [
        Comparison("durations", "cast_duration ISO 8601", "pydantic TypeAdapter(timedelta)",
                   q.cast_duration, validate, ISO_DURATIONS, target=0.5),
        Comparison("durations", "cast_duration ISO 8601, half faulty", "pydantic TypeAdapter(timedelta)",
                   q.cast_duration, validate, MIXED, target=0.5, theirs_raises=True,
                   note="the peer's faults are ValidationError, caught"),
    ]

