"""Sphinx configuration of the quillmere documentation (pages in MyST Markdown)."""

import pathlib
import re

_header = (pathlib.Path(__file__).parent.parent / "src" / "capi" / "quillmere.h").read_text()

project = "quillmere"
author = "The quillmere developers"
copyright = "the quillmere developers, Apache-2.0"
release = re.search(r'#define QUILLMERE_VERSION_STRING "([^"]+)"', _header).group(1)
version = release

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build", "requirements.txt"]
myst_enable_extensions = ["colon_fence", "deflist"]
myst_heading_anchors = 3

html_theme = "furo"
html_title = f"quillmere {release}"
pygments_style = "sphinx"
