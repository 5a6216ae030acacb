"""Every example in the README and the documentation runs and shows what it says.

Python examples are doctests (or plain code) in ``python`` blocks. C examples
are ``c`` blocks: a block with a ``main`` is built against the installed library,
found with pkg-config as the documentation tells users to, and run (its
``assert``s are its claims); any other block is compiled after ``quillmere.h``, so
a prototype it shows must agree with the header's. C examples need
QUILLMERE_PREFIX, the prefix the C library was installed to.
"""

from __future__ import annotations

import doctest
import os
import pathlib
import shlex
import subprocess
import tempfile

import pytest
from sybil import Example, Sybil
from sybil.parsers.myst import CodeBlockParser, PythonCodeBlockParser, SkipParser

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
PREFIX = os.environ.get("QUILLMERE_PREFIX")


def pkg_config(*args: str) -> list[str]:
    assert PREFIX is not None
    pc_dir = next(pathlib.Path(PREFIX).rglob("quillmere.pc")).parent
    env = {**os.environ, "PKG_CONFIG_PATH": str(pc_dir)}
    return shlex.split(subprocess.run(["pkg-config", *args, "quillmere"], env=env, check=True,
                                      capture_output=True, text=True).stdout)


def run_c(example: Example) -> str | None:
    source = example.parsed
    program = "main(" in source
    if not program:
        source = "#include <quillmere.h>\n" + source
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "example.c"
        path.write_text(source)
        command = ["cc", "-std=c11", "-Wall", "-Wextra", "-Werror", "-pedantic", *pkg_config("--cflags"), str(path)]
        if program:
            libdir = pkg_config("--variable=libdir")[0]
            command += [*pkg_config("--libs"), f"-Wl,-rpath,{libdir}", "-o", str(path.with_suffix(""))]
        else:
            command += ["-c", "-o", str(path.with_suffix(".o"))]
        for step in ([command, [str(path.with_suffix(""))]] if program else [command]):
            done = subprocess.run(step, capture_output=True, text=True)
            if done.returncode != 0:
                return f"{' '.join(step[:1])} failed ({done.returncode}):\n{done.stdout}{done.stderr}"
    return None


SYBIL = Sybil(parsers=[
    PythonCodeBlockParser(doctest_optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE),
    CodeBlockParser("c", run_c),
    SkipParser(),
])


def examples(language: str) -> list[pytest.param]:
    params = []
    for path in DOCUMENTS:
        document = SYBIL.parse(path)
        chosen = [e for e in document if (e.region.evaluator is run_c) == (language == "c")]
        if chosen:
            params.append(pytest.param(document, chosen, id=str(path.relative_to(ROOT))))
    return params


def evaluate(chosen: list[Example]) -> None:
    for example in chosen:
        try:
            example.evaluate()
        except Exception as error:  # a doctest mismatch, or what the example raised
            failure = f"{example.path}:{example.line}: {type(error).__name__}: {error}"
        else:
            continue
        pytest.fail(failure, pytrace=False)


@pytest.mark.parametrize(("document", "chosen"), examples("python"))
def test_python_examples(document, chosen):
    evaluate(chosen)


@pytest.mark.skipif(PREFIX is None, reason="QUILLMERE_PREFIX names no installed C library")
@pytest.mark.parametrize(("document", "chosen"), examples("c"))
def test_c_examples(document, chosen):
    evaluate(chosen)
