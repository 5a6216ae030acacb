"""``python -m quillmere``: the ``quillmere`` command."""

from .cli import main

raise SystemExit(main())
