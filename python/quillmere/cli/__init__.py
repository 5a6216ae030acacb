"""The ``quillmere`` command: infer a file's column types, check every cell, cast it.

::

    quillmere infer FILE                  propose a schema (TOML), with how well each column fits
    quillmere check FILE --schema S       count faults per column, show the first bad cells
    quillmere cast FILE --schema S -o OUT write the typed rows, and with --faults F every fault

Exit status: 0 when no cell is at fault, 1 when some are, 2 when the command could not run
(a file it cannot read, a schema that does not fit the file, a bad option).
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import Any

from .. import __version__

__all__ = ["command", "main"]

EXIT_CLEAN, EXIT_FAULTS, EXIT_MISUSE = 0, 1, 2
_DELIMITER_NAMES = {"comma": ",", "semicolon": ";", "tab": "\t", "\\t": "\t", "pipe": "|", "space": " "}


def _delimiter(text: str) -> str:
    value = _DELIMITER_NAMES.get(text.lower(), text)
    if len(value) != 1 or value in "\r\n\"":
        raise argparse.ArgumentTypeError(f"a delimiter is one character (or comma, semicolon, tab, pipe), not {text!r}")
    return value


def _quote(text: str) -> str:
    if text.lower() == "none":
        return ""
    if len(text) != 1 or text in "\r\n":
        raise argparse.ArgumentTypeError(f"a quote is one character (or none), not {text!r}")
    return text


def _limit(text: str) -> int | None:
    if text.lower() == "all":
        return None
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"expected a count or 'all', not {text!r}")
    return value


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a positive whole number, not {text!r}")
    return value


def _share(text: str) -> float:
    try:
        value = float(text.rstrip("%")) / (100 if text.endswith("%") else 1)
    except ValueError:
        value = -1.0
    if not 0 <= value <= 1:
        raise argparse.ArgumentTypeError(f"expected a share between 0 and 1 (or a percentage), not {text!r}")
    return value


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> Any:  # one line, exit status 2, like every misuse
        self.exit(EXIT_MISUSE, f"{self.prog}: {message}\n")


def parser() -> argparse.ArgumentParser:
    top = _Parser(prog="quillmere", description="Infer the column types of a CSV, TSV, Parquet or Arrow file, "
                  "check every cell against a schema, and cast it; every bad cell is shown with its row, "
                  "column, reason and the offending characters.",
                  epilog="Exit status: 0 no faults, 1 faults found, 2 could not run.")
    top.add_argument("--version", action="version", version=f"quillmere {__version__}")
    top.add_argument("--traceback", action="store_true", help=argparse.SUPPRESS)  # for reporting a fault of ours
    commands = top.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)

    def common(sub: argparse.ArgumentParser, schema: bool = True) -> None:
        sub.add_argument("file", metavar="FILE", help="CSV, TSV, Parquet or Arrow IPC file; - for standard input")
        if schema:
            sub.add_argument("--schema", "-s", metavar="SCHEMA",
                             help="the schema (TOML, or JSON when named .json); inferred from the file when left out")
        reading = sub.add_argument_group("reading the file (detected unless given)")
        reading.add_argument("--format", choices=("csv", "parquet", "arrow"), help="the file's format")
        reading.add_argument("--delimiter", "-d", type=_delimiter, help="field delimiter (or comma, semicolon, tab, pipe)")
        reading.add_argument("--quote", type=_quote, help="quote character, or none")
        header = reading.add_mutually_exclusive_group()
        header.add_argument("--header", dest="header", action="store_true", default=None,
                            help="the first record names the columns")
        header.add_argument("--no-header", dest="header", action="store_false",
                            help="the first record is data; columns are named column_1, column_2, …")
        reading.add_argument("--encoding", help="text encoding (default UTF-8, or what a byte order mark says)")
        sub.add_argument("--null", action="append", metavar="TOKEN",
                         help="a text that means a missing value (repeatable; '' for empty cells); replaces the "
                              "schema's or the recognised tokens")
        sub.add_argument("--threads", type=_positive, default=_cores(), help="threads to cast on (default: every core)")
        sub.add_argument("--quiet", "-q", action="store_true", help="no progress bar")

    infer = commands.add_parser("infer", help="propose a schema for a file",
                                description="Propose a schema: for each column the narrowest cast that fits its "
                                            "cells, under the notation the whole column settles. Prints the schema "
                                            "as TOML, with how many cells of each column fit and a few that do not.")
    common(infer, schema=False)
    infer.add_argument("--sample", type=_positive, metavar="N", help="infer from the first N rows only")
    infer.add_argument("--threshold", type=_share, default=0.9, metavar="SHARE",
                       help="the share of a column's non-null cells a cast must fit, or the column stays text "
                            "(default 0.9)")
    infer.add_argument("--json", action="store_true", help="print the schema and the evidence as JSON")
    infer.add_argument("--output", "-o", metavar="SCHEMA", help="write the schema to this file (.toml or .json)")

    check = commands.add_parser("check", help="report every cell that does not fit a schema",
                                description="Cast every cell under the schema and report, per column, nulls and "
                                            "faults by reason, and the first bad cells with the offending "
                                            "characters marked. Without --schema, the schema is inferred first.")
    common(check)
    check.add_argument("--limit", "-n", type=_limit, default=20, metavar="N",
                       help="how many bad cells to list (default 20; 'all' for every one)")
    check.add_argument("--json", action="store_true", help="write a machine-readable report")

    cast = commands.add_parser("cast", help="write the typed data and the faults",
                               description="Cast every cell under the schema and write the typed rows (Parquet, "
                                           "Arrow IPC or CSV, by the output's extension); a bad cell is null there, "
                                           "and listed in the fault file.")
    common(cast)
    cast.add_argument("--output", "-o", metavar="OUT", required=True,
                      help="typed rows: .parquet, .arrow/.feather, .arrows (stream) or .csv/.tsv; - for CSV on stdout")
    cast.add_argument("--faults", "-f", metavar="FAULTS", help="fault table: .csv, .parquet or .arrow")
    cast.add_argument("--drop-others", action="store_true", help="leave out the columns the schema does not name")
    return top


def _cores() -> int:
    try:
        return len(os.sched_getaffinity(0)) or 1
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def main(argv: list[str] | None = None) -> int:
    """Runs the command; returns its exit status."""
    arguments = parser().parse_args(argv)
    if arguments.command is None:
        parser().print_usage(sys.stderr)
        return EXIT_MISUSE
    try:
        import pyarrow  # noqa: F401
        import rich  # noqa: F401
    except ModuleNotFoundError as error:
        print(f"quillmere: the command needs {error.name}: pip install 'quillmere[cli]'", file=sys.stderr)
        return EXIT_MISUSE
    from .commands import run_command
    from .errors import UsageError

    try:
        return run_command(arguments)
    except UsageError as error:
        print(f"quillmere: {error}", file=sys.stderr)
        return EXIT_MISUSE
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader of our output went away (``| head``); nothing more to say.
        try:
            sys.stdout = open(os.devnull, "w")  # noqa: SIM115
        except OSError:
            pass
        return 141
    except MemoryError:
        print("quillmere: out of memory", file=sys.stderr)
        return EXIT_MISUSE
    except OSError as error:
        print(f"quillmere: {error.strerror or error}{f': {error.filename}' if error.filename else ''}",
              file=sys.stderr)
        return EXIT_MISUSE
    except Exception as error:  # noqa: BLE001  (a fault of ours: still one line, and not status 1)
        if arguments.traceback:
            raise
        print(f"quillmere: unexpected {type(error).__name__}: {error}", file=sys.stderr)
        return EXIT_MISUSE


class _WithoutPandas:
    """An import finder that says pandas is not installed."""

    @staticmethod
    def find_spec(name: str, path: object = None, target: object = None) -> None:
        if name == "pandas":
            raise ModuleNotFoundError("the quillmere command runs without pandas", name=name)


def command() -> int:
    """The ``quillmere`` executable (and ``python -m quillmere``): :func:`main` in a process of its own."""
    # pyarrow, the first time it builds an array from Python objects, imports pandas (when it is
    # installed) to look for pandas objects. The command never holds one, and the import would
    # cost every run a third of a second with the interpreter lock held.
    if "pandas" not in sys.modules:
        sys.meta_path.insert(0, _WithoutPandas)
    # numpy (imported by pyarrow) starts a BLAS thread per core that spins before it sleeps,
    # taking a core from the casts at every start; the command does no linear algebra.
    os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
    return main()
