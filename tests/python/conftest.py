import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import settings

# Property tests stay quick by default; QUILLMERE_HYPOTHESIS=thorough searches longer.
settings.register_profile("default", max_examples=200, deadline=None)
settings.register_profile("thorough", max_examples=5000, deadline=None)
settings.load_profile(os.environ.get("QUILLMERE_HYPOTHESIS", "default"))

# Loads the extension module on its own, without the package that binds it.
UNBOUND_PRELUDE = """
import importlib.machinery, importlib.util
_pkg = importlib.util.find_spec("quillmere")
_spec = importlib.machinery.PathFinder.find_spec("_native", list(_pkg.submodule_search_locations))
_spec.name = "quillmere._native"
native = importlib.util.module_from_spec(_spec)
"""


@pytest.fixture
def run_fresh():
    """Runs a snippet in a fresh interpreter and returns its stdout lines, checking its exit status."""

    def run(code: str, unbound: bool = False, flags: tuple[str, ...] = (), status: int = 0) -> list[str]:
        source = (UNBOUND_PRELUDE if unbound else "") + textwrap.dedent(code)
        done = subprocess.run([sys.executable, *flags, "-c", source], capture_output=True, text=True, timeout=120)
        assert done.returncode == status, done.stderr
        return done.stdout.splitlines()

    return run
