"""Misuses a type checker must report: every line marked "# error" and no other."""

from __future__ import annotations

import decimal
from types import MappingProxyType

import quillmere as q
from quillmere import CastFailure, DateOrder, ExcelEpoch, Fault, NumFormat, Success, UnixPrecision


def takes_int(value: int) -> int:
    return value


q.cast_date("01/02/2024", ExcelEpoch.EPOCH_1904)  # error: an epoch where a date order belongs
q.cast_datetime("01/02/2024 10:00", UnixPrecision.SECONDS)  # error
q.cast_unix("1700000000", DateOrder.YMD)  # error
q.cast_excel_serial("45000", 1)  # error: a bare int, not the enumeration
q.cast_excel_serial_from_float(45000.0, DateOrder.DMY)  # error
q.cast_i32("12", None)  # error: the format is not optional
q.cast_i32(bytearray(b"12"), NumFormat.INVARIANT)  # error: str or bytes only
q.cast_bool(12)  # error
NumFormat(".", ",", "ALL")  # error: flags are an int
NumFormat.from_localeconv([("decimal_point", ",")])  # error: not a mapping
NumFormat.from_localeconv(MappingProxyType({1: ","}))  # error: keys are str

q.cast_i32("12", NumFormat.INVARIANT).value  # error: a Fault has no value
q.cast_i32("12", NumFormat.INVARIANT).reason  # error: a Success has no reason

match q.cast_decimal("1.5", NumFormat.INVARIANT):
    case Success(value):
        takes_int(value)  # error: the value is a Decimal
    case Fault(reason, offset, length):
        reason.upper()  # error: the reason is a CastFailure, not a str

verdict = q.cast_f64("x", NumFormat.INVARIANT)
if isinstance(verdict, Fault):
    verdict.reason == "MALFORMED"  # error: a CastFailure never equals a str
    verdict.offset = 0  # error: read-only
if isinstance(verdict, Success):
    size: decimal.Decimal = verdict.value  # error: a float is not a Decimal

Fault("MALFORMED", 0, 1)  # error: a reason is a CastFailure member
Fault(CastFailure.MALFORMED, "0", 1)  # error
