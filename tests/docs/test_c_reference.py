"""The C reference documents every function, constant and type that quillmere.h declares."""

import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parents[2]
HEADER = (ROOT / "src" / "capi" / "quillmere.h").read_text()
REFERENCE = (ROOT / "docs" / "c" / "reference.md").read_text()


def c_blocks(markdown: str) -> str:
    return "\n".join(re.findall(r"^```c\n(.*?)^```", markdown, re.M | re.S))


def test_every_export_has_its_prototype_on_the_page():
    exported = set(re.findall(r"^QUILLMERE_API\s[^;(]*?\b(\w+)\s*\(", HEADER, re.M))
    shown = set(re.findall(r"^\w[\w\s*]*?\b(\w+)\(.*\);$", c_blocks(REFERENCE), re.M))
    assert exported, "no export found in the header"
    assert exported - shown == set(), "exported but not documented"
    assert shown - exported == set(), "documented but not exported"


def test_every_constant_and_type_is_named_on_the_page():
    # The literalinclude blocks show the header's own text; this catches a name
    # added outside the included ranges.
    included = "".join(
        HEADER[HEADER.index(start):HEADER.index(end, HEADER.index(start))]
        for start, end in re.findall(r":start-at: \"?(.+?)\"?\n:end-at: \"?(.+?)\"?\n", REFERENCE))
    names = set(re.findall(r"\b(QUILLMERE_[A-Z0-9_]+|quillmere_[a-z0-9_]+)\b", HEADER)) - {"QUILLMERE_H"}
    missing = {name for name in names if name not in included and name not in REFERENCE}
    assert missing == set()
