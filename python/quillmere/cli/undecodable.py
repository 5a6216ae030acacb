"""Bytes that are not UTF-8: found, carried through the CSV reader, and reported in their cell.

pyarrow's CSV reader needs valid UTF-8 wherever it turns bytes into text (a ragged row's
text, for one), so each byte that is not part of a UTF-8 character is handed to it as a
marker: the private-use code point U+10FE00 plus the byte. A cell holding a marker is a
``MALFORMED`` fault at the first one, counted in code points: where a cast of the same cell
as a ``str`` decoded with ``surrogateescape`` reports its first lone surrogate. For display
the markers become those lone surrogates again. (A file that holds both bytes that are not
UTF-8 and these rare private-use characters has the latter read as bytes too.)
"""

from __future__ import annotations

import pyarrow as pa
import pyarrow.compute as pc

MARK = 0x10FE00
_TO_MARK = {0xDC00 + byte: MARK + byte for byte in range(0x80, 0x100)}
_FROM_MARK = {MARK + byte: 0xDC00 + byte for byte in range(0x80, 0x100)}
_MARKED = "[\\x{10FE80}-\\x{10FEFF}]"


def marked(text: str) -> bytes:
    """A ``surrogateescape`` str as UTF-8, each escaped byte as its marker."""
    return text.translate(_TO_MARK).encode("utf-8")


class Escaper:
    """Rewrites a stream block by block so that every byte that is not UTF-8 becomes a marker.
    An ASCII block costs one scan; any other is validated by Arrow first. A character cut at a
    block's end waits for the next block."""

    def __init__(self) -> None:
        self.invalid: bool = False     # a byte that is not UTF-8 has been seen
        self._tail = b""

    def feed(self, data: bytes) -> bytes:
        if not self._tail and data.isascii():
            return data
        data = self._tail + data
        cut = _complete_characters(data)
        self._tail = data[cut:]
        body = data[:cut]
        if _is_utf8(body):
            return body
        self.invalid = True
        return marked(body.decode("utf-8", "surrogateescape"))

    def close(self) -> bytes:
        tail, self._tail = self._tail, b""
        if not tail:
            return b""
        self.invalid = True
        return marked(tail.decode("utf-8", "surrogateescape"))


def _is_utf8(data: bytes) -> bool:
    offsets = pa.py_buffer((0).to_bytes(8, "little") + len(data).to_bytes(8, "little"))
    text = pa.Array.from_buffers(pa.large_string(), 1, [None, offsets, pa.py_buffer(data)])
    try:
        text.validate(full=True)
    except pa.ArrowInvalid:
        return False
    return True


def _complete_characters(data: bytes) -> int:
    """The length of ``data`` without a multi-byte character cut off at its end."""
    for back in range(1, min(4, len(data)) + 1):
        byte = data[-back]
        if byte < 0x80:
            return len(data)
        if byte >= 0xC0:   # the lead byte of the last character
            needed = 2 if byte < 0xE0 else 3 if byte < 0xF0 else 4
            return len(data) - back if back < needed else len(data)
    return len(data)


def _first(text: str) -> int:
    return next(i for i, char in enumerate(text) if 0xDC80 <= ord(char) <= 0xDCFF)


def marked_cells(strings: pa.ChunkedArray) -> list[tuple[int, int]]:
    """Cells of a text column read from CSV that hold a marker: (index, code points before the first)."""
    hits = pc.match_substring_regex(strings, _MARKED)
    if not pc.any(hits).as_py():
        return []
    rows = pc.indices_nonzero(pc.fill_null(hits, False)).to_pylist()
    cells = strings.take(pa.array(rows, pa.int64())).to_pylist()
    return [(row, _first(cell.translate(_FROM_MARK))) for row, cell in zip(rows, cells)]


def invalid_cells(array: pa.ChunkedArray) -> list[tuple[int, int]]:
    """Cells of a binary column that are not UTF-8: (index, code points before the first bad byte)."""
    found = []
    base = 0
    for chunk in array.chunks:
        try:
            chunk.view(pa.large_string() if pa.types.is_large_binary(chunk.type) else pa.string()).validate(full=True)
        except pa.ArrowInvalid:
            for i, cell in enumerate(chunk.to_pylist()):
                if cell is None:
                    continue
                try:
                    cell.decode("utf-8")
                except UnicodeDecodeError as error:
                    found.append((base + i, len(cell[:error.start].decode("utf-8"))))
        base += len(chunk)
    return found


def decode_cell(cell: bytes | str | None, escaped: bool) -> str | None:
    """A cell as text, a byte that is not UTF-8 as a lone surrogate (``surrogateescape``)."""
    if cell is None:
        return None
    text = cell if isinstance(cell, str) else cell.decode("utf-8", "surrogateescape")
    return text.translate(_FROM_MARK) if escaped else text
