"""Type-checks a user's script and a script of misuses with mypy --strict and
pyright (strict mode), against the installed quillmere.

usage.py must check clean; misuse.py must draw errors on exactly the lines
marked "# error", from each checker. pyright's --verifytypes must also find
every public symbol of the package fully typed.

    python tests/typing/check.py     (mypy and basedpyright installed beside python)
"""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
BIN = Path(sys.executable).parent
PYRIGHT = [str(BIN / "basedpyright"), "--project", str(HERE / "pyrightconfig.json"), "--pythonpath", sys.executable]


def marked_lines(script: Path) -> set[int]:
    return {n for n, line in enumerate(script.read_text().splitlines(), 1) if re.search(r"\s# error(:|$)", line)}


def mypy_errors(script: Path) -> tuple[set[int], str]:
    with tempfile.TemporaryDirectory() as cache:
        done = subprocess.run(
            [sys.executable, "-m", "mypy", "--strict", "--show-absolute-path", "--cache-dir", cache, str(script)],
            capture_output=True, text=True)
    lines = {int(m.group(1)) for m in re.finditer(rf"^{re.escape(str(script))}:(\d+): error:", done.stdout, re.M)}
    return lines, done.stdout


def pyright_errors(script: Path) -> tuple[set[int], str]:
    done = subprocess.run([*PYRIGHT, "--outputjson", str(script)], capture_output=True, text=True)
    diagnostics = [d for d in json.loads(done.stdout)["generalDiagnostics"] if d["severity"] == "error"]
    lines = {d["range"]["start"]["line"] + 1 for d in diagnostics}
    return lines, "\n".join(f"{d['range']['start']['line'] + 1}: {d['message']}" for d in diagnostics)


def completeness() -> tuple[float, str]:
    # --verifytypes finds the package through the python on PATH.
    env = {**os.environ, "PATH": f"{BIN}{os.pathsep}{os.environ.get('PATH', '')}"}
    done = subprocess.run([PYRIGHT[0], "--verifytypes", "quillmere", "--ignoreexternal", "--outputjson"],
                          capture_output=True, text=True, cwd=tempfile.gettempdir(), env=env)
    report = json.loads(done.stdout)
    return report["typeCompleteness"]["completenessScore"], done.stdout


def main() -> int:
    failures = []
    for checker in (mypy_errors, pyright_errors):
        for script in (HERE / "usage.py", HERE / "misuse.py"):
            found, output = checker(script)
            expected = marked_lines(script)
            if found != expected:
                failures.append(f"{checker.__name__} on {script.name}: errors on lines {sorted(found)}, "
                                f"expected {sorted(expected)}\n{output}")
    score, report = completeness()
    if score != 1.0:
        failures.append(f"pyright --verifytypes: completeness {score}\n{report}")
    for failure in failures:
        print(failure, file=sys.stderr)
    if not failures:
        print(f"typing: usage.py clean and misuse.py's {len(marked_lines(HERE / 'misuse.py'))} misuses reported, "
              "by mypy --strict and pyright; public interface fully typed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
