"""Dates, times, date-times and timestamps against Python's own datetime."""

from __future__ import annotations

import calendar
import datetime as dt
import re
from operator import attrgetter

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quillmere as q

UTC = dt.timezone.utc
MALFORMED = q.CastFailure.MALFORMED
OUT_OF_RANGE = q.CastFailure.OUT_OF_RANGE
ORDERS = [q.DateOrder.YMD, q.DateOrder.MDY, q.DateOrder.DMY]

dates = st.dates(min_value=dt.date(1, 1, 1), max_value=dt.date(9999, 12, 31))
times = st.times()
fraction_digits = st.text(alphabet="0123456789", min_size=1, max_size=14)


def value(verdict):
    assert isinstance(verdict, q.Success), verdict
    return verdict.value


def truncated_micros(digits: str) -> int:
    return int((digits + "000000")[:6])


def test_every_iso_date_round_trips():
    from_ordinal, isoformat, get = dt.date.fromordinal, dt.date.isoformat, attrgetter("value")
    last = dt.date.max.toordinal()
    for start in range(1, last + 1, 8192):
        expected = list(map(from_ordinal, range(start, min(start + 8192, last + 1))))
        assert list(map(get, map(q.cast_date, map(isoformat, expected)))) == expected, start


@given(st.integers(1, 9999), st.integers(0, 99), st.integers(0, 99))
def test_strict_date_values_agree_with_python(year, month, day):
    text = f"{year:04d}-{month:02d}-{day:02d}"
    try:
        expected = dt.date(year, month, day)
    except ValueError:
        verdict = q.cast_date(text)
        assert verdict.reason is OUT_OF_RANGE
        assert (verdict.offset, verdict.length) == ((5, 2) if not 1 <= month <= 12 else (8, 2))
    else:
        assert value(q.cast_date(text)) == expected
        assert value(q.cast_date(text.encode())) == expected


def separated(year: int, month: int, day: int, order, sep: str, pad_month: bool, pad_day: bool) -> str:
    m = f"{month:02d}" if pad_month else str(month)
    d = f"{day:02d}" if pad_day else str(day)
    y = f"{year:04d}"
    fields = {q.DateOrder.YMD: (y, m, d), q.DateOrder.MDY: (m, d, y), q.DateOrder.DMY: (d, m, y)}[order]
    return sep.join(fields)


@given(dates, st.sampled_from(ORDERS), st.sampled_from("-./"), st.booleans(), st.booleans())
def test_separated_dates_in_every_order(date, order, sep, pad_month, pad_day):
    text = separated(date.year, date.month, date.day, order, sep, pad_month, pad_day)
    assert value(q.cast_date(text, order)) == date
    assert value(q.cast_datetime(text, order)) == dt.datetime(date.year, date.month, date.day)


@given(st.integers(1, 9999), st.integers(1, 12), st.integers(1, 68), st.sampled_from(ORDERS))
def test_separated_dates_past_the_month_end_fault_on_the_day(year, month, past, order):
    day = calendar.monthrange(year, month)[1] + past
    text = separated(year, month, day, order, "/", True, True)
    verdict = q.cast_date(text, order)
    assert verdict.reason is OUT_OF_RANGE
    assert text[verdict.offset : verdict.offset + verdict.length] == f"{day:02d}"


@given(dates, st.sampled_from(ORDERS))
def test_year_first_text_reads_year_month_day_under_any_order(date, order):
    text = separated(date.year, date.month, date.day, q.DateOrder.YMD, ".", False, True)
    assert value(q.cast_date(text, order)) == date


def python_iso(text: str) -> str:
    """The same text in the form every supported Python's fromisoformat reads:
    3.10 wants a fraction of exactly six digits (or three) and no "Z"."""
    text = re.sub(r"[Zz]$", "+00:00", text)
    return re.sub(r"\.(\d+)", lambda m: "." + (m.group(1) + "000000")[:6], text)


def clock_text(t: dt.time, seconds: bool, digits: str | None) -> str:
    text = f"{t.hour:02d}:{t.minute:02d}"
    if seconds:
        text += f":{t.second:02d}"
        if digits is not None:
            text += "." + digits
    return text


@given(times, st.booleans(), st.none() | fraction_digits)
def test_times_agree_with_fromisoformat(t, seconds, digits):
    text = clock_text(t, seconds, digits)
    ours = value(q.cast_time(text))
    expected = dt.time(t.hour, t.minute, t.second if seconds else 0,
                       truncated_micros(digits) if seconds and digits else 0)
    assert ours == expected
    assert ours == dt.time.fromisoformat(python_iso(text))


@given(st.integers(0, 99), st.integers(0, 99), st.integers(0, 99))
def test_time_values_out_of_range(hour, minute, second):
    text = f"{hour:02d}:{minute:02d}:{second:02d}"
    verdict = q.cast_time(text)
    if hour < 24 and minute < 60 and second < 60:
        assert value(verdict) == dt.time.fromisoformat(text)
    else:
        assert verdict.reason is OUT_OF_RANGE
        assert verdict.offset == (0 if hour > 23 else 3 if minute > 59 else 6)


@pytest.mark.parametrize(
    "text, micros",
    [("00:00:00.0000009", 0), ("00:00:00.9999999", 999999), ("23:59:59.999999999", 999999),
     ("12:30:45.1234567", 123456), ("12:30:45.5", 500000)],
)
def test_fractions_truncate_to_microseconds(text, micros):
    assert value(q.cast_time(text)).microsecond == micros
    assert value(q.cast_datetime("2024-01-15T" + text, 1)).microsecond == micros
    assert value(q.cast_timestamp("2024-01-15T" + text + "Z")).microsecond == micros


@given(dates, times, st.sampled_from("Tt "), st.booleans(), st.none() | fraction_digits)
def test_iso_datetimes_agree_with_fromisoformat(date, t, sep, seconds, digits):
    text = date.isoformat() + sep + clock_text(t, seconds, digits)
    ours = value(q.cast_datetime(text, q.DateOrder.YMD))
    assert ours == dt.datetime.fromisoformat(python_iso(text))
    assert ours.date() == date and ours.tzinfo is None
    assert (ours.hour, ours.minute) == (t.hour, t.minute)


@given(dates, st.integers(1, 12), st.integers(0, 59), st.sampled_from(["am", "pm", "AM", "Pm"]), st.booleans())
def test_twelve_hour_clock(date, hour, minute, marker, space):
    text = f"{date.isoformat()} {hour}:{minute:02d}{' ' if space else ''}{marker}"
    expected_hour = hour % 12 + (12 if marker.lower() == "pm" else 0)
    assert value(q.cast_datetime(text, 1)) == dt.datetime.combine(date, dt.time(expected_hour, minute))


offsets = st.integers(-(23 * 60 + 59), 23 * 60 + 59)


def offset_text(minutes: int | None, zulu: str) -> str:
    if minutes is None:
        return zulu
    sign = "-" if minutes < 0 else "+"
    return f"{sign}{abs(minutes) // 60:02d}:{abs(minutes) % 60:02d}"


@given(dates, times, st.none() | fraction_digits, st.none() | offsets, st.sampled_from("Zz"), st.sampled_from("Tt"))
def test_timestamps_agree_with_fromisoformat(date, t, digits, minutes, zulu, sep):
    local = f"{date.isoformat()}{sep}{t.hour:02d}:{t.minute:02d}:{t.second:02d}"
    if digits is not None:
        local += "." + digits
    text = local + offset_text(minutes, zulu)
    micros = truncated_micros(digits) if digits else 0
    naive = dt.datetime.combine(date, t.replace(microsecond=micros))
    try:
        expected = (naive - dt.timedelta(minutes=minutes or 0)).replace(tzinfo=UTC)
    except OverflowError:
        expected = None
    verdict = q.cast_timestamp(text)
    if expected is None:
        assert (verdict.reason, verdict.offset, verdict.length) == (OUT_OF_RANGE, 0, len(text))
        return
    ours = value(verdict)
    assert ours == expected and ours.tzinfo is UTC
    assert ours == dt.datetime.fromisoformat(python_iso(text))


@pytest.mark.parametrize(
    "text, expected",
    [("0001-01-01T00:00:00Z", dt.datetime(1, 1, 1, tzinfo=UTC)),
     ("9999-12-31T23:59:59.999999999Z", dt.datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC)),
     ("1969-12-31T23:59:59.5Z", dt.datetime(1969, 12, 31, 23, 59, 59, 500000, tzinfo=UTC)),
     ("2024-01-01T00:00:00.1234567Z", dt.datetime(2024, 1, 1, 0, 0, 0, 123456, tzinfo=UTC))],
)
def test_timestamp_extremes(text, expected):
    assert value(q.cast_timestamp(text)) == expected


def test_spans_count_code_points_for_str_and_bytes_for_bytes():
    text = "2024-01-15é"
    assert q.cast_date(text, 1) == q.Fault(MALFORMED, 10, 1)
    assert q.cast_date(text.encode(), 1) == q.Fault(MALFORMED, 10, 2)
    assert q.cast_datetime("é 2024-01-15", 1) == q.Fault(MALFORMED, 0, 1)
    assert q.cast_time("12:30:45é") == q.Fault(MALFORMED, 8, 1)
    assert q.cast_timestamp("2024-01-15T10:30:00Zé") == q.Fault(MALFORMED, 20, 1)
    assert q.cast_date("  \t") == q.Fault(q.CastFailure.EMPTY, 0, 0)


class TestOrderArgument:
    def test_members_plain_integers_and_keywords(self):
        assert value(q.cast_date("15.01.2024", q.DateOrder.DMY)) == dt.date(2024, 1, 15)
        assert value(q.cast_date("2024-01-31", order=1)) == dt.date(2024, 1, 31)
        assert value(q.cast_datetime(text="1/15/2024 3pm", order=2)) == dt.datetime(2024, 1, 15, 15)

    def test_none_selects_the_strict_form(self):
        assert q.cast_date("2024-02-30").reason is OUT_OF_RANGE
        assert q.cast_date("2024-02-30", None) == q.cast_date("2024-02-30")
        assert q.cast_date("15.01.2024", None) == q.Fault(MALFORMED, 0, 4)

    @pytest.mark.parametrize("cast", [q.cast_date, q.cast_datetime])
    @pytest.mark.parametrize(
        "order, error, message",
        [(0, ValueError, "order must be a DateOrder"),
         (4, ValueError, "order must be a DateOrder"),
         (2**32 - 1, ValueError, "order must be a DateOrder"),
         (-1, OverflowError, "number too small to fit in target type"),
         (2**32, OverflowError, "number too large to fit in target type")],
    )
    def test_out_of_range(self, cast, order, error, message):
        with pytest.raises(error) as info:
            cast("01/02/2024", order)
        assert str(info.value) == message

    @pytest.mark.parametrize("order", ["1", 1.0])
    def test_non_integer_orders_are_type_errors(self, order):
        with pytest.raises(TypeError):
            q.cast_date("2024-01-15", order)
        with pytest.raises(TypeError):
            q.cast_datetime("2024-01-15", order)

    def test_datetime_requires_an_order(self):
        with pytest.raises(TypeError):
            q.cast_datetime("2024-01-15")  # type: ignore[call-arg]
        with pytest.raises(TypeError):
            q.cast_datetime("2024-01-15", None)  # type: ignore[arg-type]


@settings(max_examples=300)
@given(st.text(alphabet="0123456789-:.T tZz+/apm", max_size=32))
def test_arbitrary_text_never_raises_and_spans_fit(text):
    for verdict in (q.cast_date(text), q.cast_date(text, 3), q.cast_time(text), q.cast_datetime(text, 2),
                    q.cast_timestamp(text)):
        if isinstance(verdict, q.Fault):
            assert 0 <= verdict.offset and verdict.offset + verdict.length <= len(text)
