"""What the extension relies on beyond CPython's documented contract.

Each test pins one behaviour a shortcut in src/python depends on (the comment
there names the test). If one fails on a new CPython, the shortcut must change
with it before anything else.
"""

import datetime as dt
import decimal
import sys
import uuid

import pytest

import quillmere as q

UTC = dt.timezone.utc
STATE_FORMS = [
    (dt.date, bytes([7, 232, 1, 15]), (), dt.date(2024, 1, 15)),
    (dt.time, bytes([23, 59, 58, 0x0F, 0x42, 0x3F]), (), dt.time(23, 59, 58, 999999)),
    (dt.datetime, bytes([0, 1, 1, 1, 0, 0, 0, 0, 0, 0]), (), dt.datetime(1, 1, 1)),
    (dt.datetime, bytes([39, 15, 12, 31, 23, 59, 59, 0, 0, 1]), (UTC,), dt.datetime(9999, 12, 31, 23, 59, 59, 1, UTC)),
]


@pytest.mark.parametrize("cls, state, tzinfo, expected", STATE_FORMS)
def test_date_classes_read_their_compact_form_without_keeping_it(cls, state, tzinfo, expected):
    # Dates are built from their pickle state through a kept argument tuple
    # whose bytes are refilled in place for the next call.
    before = sys.getrefcount(state)
    assert cls(state, *tzinfo) == expected
    assert sys.getrefcount(state) == before


@pytest.mark.parametrize("cls", [dt.date, dt.time, dt.datetime, decimal.Decimal])
def test_standard_classes_are_built_by_their_own_constructor_alone(cls):
    # The condition under which the kept call is prepared: calling the class
    # runs nothing but its C __new__. Should it fail, values are still right
    # but take the slower ordinary call.
    assert type(cls) is type and cls.__init__ is object.__init__
    assert type(cls.__dict__["__new__"]) is type(object.__new__)


def test_uuid_is_complete_once_its_two_slots_are_set():
    # UUIDs are allocated generically and given their slots, as unpickling does.
    assert uuid.UUID.__bases__ == (object,) and uuid.UUID.__dictoffset__ == 0
    assert {"int", "is_safe"} <= set(uuid.UUID.__slots__)
    built = object.__new__(uuid.UUID)
    object.__setattr__(built, "int", 0x0123456789ABCDEF)
    object.__setattr__(built, "is_safe", uuid.SafeUUID.unknown)
    assert built == uuid.UUID(int=0x0123456789ABCDEF) and str(built) == str(uuid.UUID(int=0x0123456789ABCDEF))
    assert q.cast_uuid("00000000-0000-0000-0123-456789abcdef").value.is_safe is uuid.SafeUUID.unknown


@pytest.mark.parametrize(
    "cls, attribute", [(q.Success, "__match_args__"), (q.Fault, "__match_args__"), (q.NumFormat, "INVARIANT")]
)
def test_classes_are_immutable_and_keep_their_attributes(cls, attribute):
    # Class attributes are written into the class's own dict while it is
    # created, past the refusal of type.__setattr__.
    kept = getattr(cls, attribute)
    assert kept is cls.__dict__[attribute]
    for change in (lambda: setattr(cls, attribute, None), lambda: delattr(cls, attribute),
                   lambda: setattr(cls, "added", 1)):
        with pytest.raises(TypeError, match="immutable type"):
            change()
    assert getattr(cls, attribute) is kept


def test_reused_verdicts_keep_their_class_alive():
    # Freed verdicts are reused through PyObject_Init, which takes the
    # reference to a heap type that the instance's dealloc gives back.
    counts = [sys.getrefcount(q.Success), sys.getrefcount(q.Fault)]
    for _ in range(1000):
        [q.Success(i) for i in range(100)], [q.Fault(i, 0, 0) for i in range(100)]
    assert [sys.getrefcount(q.Success), sys.getrefcount(q.Fault)] == counts
