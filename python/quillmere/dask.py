"""A declared schema over a Dask DataFrame: typed partitions and one fault DataFrame.

>>> import quillmere.dask
>>> typed, faults = quillmere.dask.cast(ddf, schema)
>>> typed, faults = dask.compute(typed, faults)     # each partition is cast once

Each partition is cast by ``Schema.cast`` on whichever worker holds it; the faults of a
partition carry the global row number (the rows of the partitions before it, counted
from the cast partitions themselves, so the input is read once), or, with ``key=``, the
value of a column that identifies the row. Needs ``quillmere[dask]``.
"""

from __future__ import annotations

import operator
from typing import Any, Literal

from ._tables import TableCast, check_columns
from .schema import Schema

__all__ = ["cast"]


def _cast_partition(part: Any, schema: Schema, key: str | None, options: dict[str, Any]) -> tuple[Any, Any, int]:
    """One partition: its typed frame, its faults (rows local to it) and its length."""
    typed, faults = schema.cast(part, **options)
    if key is not None:
        keys = part[key].iloc[faults["row"].to_numpy()].reset_index(drop=True)
        faults = faults.drop(columns="row")
        faults.insert(0, key, keys)
    return typed, faults, len(part)


def _shift_rows(faults: Any, offset: int) -> Any:
    if offset and len(faults):
        faults = faults.assign(row=faults["row"] + offset)
    return faults


def cast(ddf: Any, schema: Schema, *, key: str | None = None, others: Literal["keep", "drop"] = "keep",
         text: bool = False, spans: Literal["bytes", "code_points"] | None = None, threads: int = 1) -> TableCast:
    """Casts a Dask DataFrame under ``schema``; returns lazy ``TableCast(table, faults)``.

    ``table`` has the partitions and divisions of ``ddf``, each declared column replaced by
    its typed values (pandas Arrow-backed dtypes, as ``Schema.cast`` gives for pandas).
    ``faults`` holds the faults of every partition, in row order, with the columns of
    ``Schema.cast``; its ``row`` is the row's position in the whole DataFrame. With
    ``key="id"`` the faults carry the ``id`` of each row (as it was before any cast)
    in place of ``row``, and no partition waits for the ones before it.

    Both results share one cast per partition when computed together
    (``dask.compute(table, faults)``). ``threads`` is the threads each partition's cast
    uses (default 1: the workers already cast partitions side by side). A decimal column
    needs a declared scale here, so that every partition has the same type.
    """
    import dask
    import dask.dataframe as dd

    if not isinstance(schema, Schema):
        raise TypeError(f"schema must be a quillmere Schema, not {type(schema).__name__}")
    names = [str(name) for name in ddf.columns]
    check_columns(schema, names)
    if key is not None and key not in names:
        raise ValueError(f"the key column {key!r} is not in the DataFrame")
    for name, column in schema.items():
        if column.scale is None and column.cast in ("decimal", "decimal_from_float"):
            raise ValueError(f"column {name!r}: declare the decimal's scale (Column(..., scale=N)) so that every "
                             f"partition casts to one type")
    options = dict(others=others, text=text, spans=spans, threads=threads)

    # The metadata is the cast of the empty metadata frame: it also checks every column's type up front.
    typed_meta, faults_meta, _ = _cast_partition(ddf._meta, schema, key, options)

    cast_partition = dask.delayed(_cast_partition, nout=3, pure=True)
    outcomes = [cast_partition(part, schema, key, options) for part in ddf.to_delayed()]
    typed = dd.from_delayed([outcome[0] for outcome in outcomes], meta=typed_meta, divisions=ddf.divisions,
                            verify_meta=False)
    if key is None:
        # Each partition's first row is the sum of the lengths before it: a chain of additions
        # over the cast partitions' lengths, so the input is never read a second time.
        shifted, offset = [], 0
        add, shift = dask.delayed(operator.add, pure=True), dask.delayed(_shift_rows, pure=True)
        for outcome in outcomes:
            shifted.append(shift(outcome[1], offset))
            offset = add(offset, outcome[2])
        fault_parts = shifted
    else:
        fault_parts = [outcome[1] for outcome in outcomes]
    faults = dd.from_delayed(fault_parts, meta=faults_meta, verify_meta=False)
    return TableCast(typed, faults)
