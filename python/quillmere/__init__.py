"""Exact, explainable text casting.

Every cast returns a verdict: ``Success(value)``, or ``Fault(reason, offset,
length)`` naming a :class:`CastFailure` and the offending span of the input
(code points for ``str``, bytes for ``bytes``). Bad data never raises.

>>> import quillmere as q
>>> q.cast_i32("(1,234)", q.NumFormat.INVARIANT)
Success(value=-1234)
"""

from __future__ import annotations

from enum import IntEnum
from typing import TypeVar, Union

from . import _native
from ._native import *  # noqa: F403  (the module's own __all__)
from ._native import Fault, Success


class CastFailure(IntEnum):
    """Why a cast failed."""

    EMPTY = 1
    """The input holds no text: zero bytes, or only whitespace."""
    MALFORMED = 2
    """The text does not have the form the cast accepts."""
    OUT_OF_RANGE = 3
    """The text has an accepted form but names a value the target cannot hold."""


class DateOrder(IntEnum):
    """Which field of a separated date is which."""

    YMD = 1
    MDY = 2
    DMY = 3


class UnixPrecision(IntEnum):
    """The unit of a Unix-epoch count."""

    SECONDS = 1
    MILLISECONDS = 2
    MICROSECONDS = 3
    NANOSECONDS = 4


class ExcelEpoch(IntEnum):
    """The serial numbering of a workbook."""

    EPOCH_1900 = 1
    """Serial 1 is 1900-01-01; serial 60 is the nonexistent 1900-02-29."""
    EPOCH_1904 = 2
    """Serial 0 is 1904-01-01."""


_T = TypeVar("_T")

Verdict = Union[Success[_T], Fault]
"""What every cast returns: ``Success[T]`` holding the value, or a ``Fault``."""

_native._bind(CastFailure)

__version__: str = _native.native_version()

__all__ = ["CastFailure", "DateOrder", "UnixPrecision", "ExcelEpoch", "Verdict"]
__all__ += _native.__all__
__all__.remove("_bind")

from .schema import Column, Schema  # noqa: E402  (needs the enumerations above)

__all__ += ["Column", "Schema"]
