"""A user's script: it must pass mypy --strict and pyright's strict mode as it is."""

from __future__ import annotations

import datetime
import decimal
import uuid
from collections.abc import Iterable, Iterator
from types import MappingProxyType
from typing import TypeVar, assert_type

import quillmere as q
from quillmere import CastFailure, DateOrder, ExcelEpoch, Fault, NumFormat, Success, UnixPrecision, Verdict

T = TypeVar("T")

EURO = NumFormat(",", ".", NumFormat.GROUPING | NumFormat.CURRENCY | NumFormat.PARENTHESES, "€")
FROM_LOCALE = NumFormat.from_localeconv(MappingProxyType({"decimal_point": ",", "thousands_sep": "."}))


def amount(cell: str) -> decimal.Decimal | None:
    match q.cast_decimal(cell, EURO):
        case Success(value):
            assert_type(value, decimal.Decimal)
            return value
        case Fault(CastFailure.EMPTY, _, _):
            return None
        case Fault(reason, offset, length):
            assert_type(reason, CastFailure)
            raise ValueError(f"{reason.name} at {cell[offset:offset + length]!r}")


def first_good(verdicts: Iterable[Verdict[T]]) -> T | None:
    for verdict in verdicts:
        if isinstance(verdict, Success):
            return verdict.value
    return None


def spans(verdicts: Iterable[Verdict[object]]) -> Iterator[tuple[int, int]]:
    for verdict in verdicts:
        if isinstance(verdict, Fault):
            yield verdict.offset, verdict.offset + verdict.length


def main() -> None:
    assert_type(q.cast_i64("(1,234)", NumFormat.INVARIANT), Verdict[int])
    assert_type(q.cast_f64("1.234,5", NumFormat.DETECT), Verdict[float])
    assert_type(q.cast_bool(b" yes "), Verdict[bool])
    assert_type(q.cast_char("U+0041"), Verdict[str])
    assert_type(q.cast_uuid("00112233-4455-6677-8899-aabbccddeeff"), Verdict[uuid.UUID])
    assert_type(q.cast_date("2024-01-15"), Verdict[datetime.date])
    assert_type(q.cast_date("15.01.2024", DateOrder.DMY), Verdict[datetime.date])
    assert_type(q.cast_datetime("01/15/2024 3 pm", DateOrder.MDY), Verdict[datetime.datetime])
    assert_type(q.cast_time("12:30"), Verdict[datetime.time])
    assert_type(q.cast_timestamp("2024-01-15T10:30:00Z"), Verdict[datetime.datetime])
    assert_type(q.cast_unix("1700000000", UnixPrecision.SECONDS), Verdict[datetime.datetime])
    assert_type(q.cast_excel_serial("45000.75", ExcelEpoch.EPOCH_1900), Verdict[datetime.datetime])
    assert_type(q.cast_excel_serial_from_float(45000.75, ExcelEpoch.EPOCH_1904), Verdict[datetime.datetime])
    assert_type(q.cast_excel_time(0.5), Verdict[datetime.time])
    assert_type(q.cast_excel_duration(1), Verdict[datetime.timedelta])
    assert_type(q.cast_duration("P1DT2H"), Verdict[datetime.timedelta])
    assert_type(q.cast_decimal_from_float(0.1), Verdict[decimal.Decimal])

    assert_type(first_good([q.cast_u8("7", FROM_LOCALE), q.cast_u8("x", FROM_LOCALE)]), int | None)
    assert_type(list(spans([q.cast_i8("300", NumFormat.INVARIANT)])), list[tuple[int, int]])

    verdict = q.cast_time("25:00")
    if isinstance(verdict, Fault) and verdict.reason is CastFailure.OUT_OF_RANGE:
        print("no such hour:", verdict.offset, verdict.length)
    flags: int = EURO.flags & ~NumFormat.CURRENCY
    packed: bytes = NumFormat(".", ",", flags).packed
    print(amount("(1.234,50 €)"), len(packed), q.__version__)


if __name__ == "__main__":
    main()
