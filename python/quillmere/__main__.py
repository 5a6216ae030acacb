"""``python -m quillmere``: the ``quillmere`` command."""

from .cli import command

raise SystemExit(command())
