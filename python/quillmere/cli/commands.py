"""The three commands, from parsed arguments to an exit status."""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Any

import pyarrow as pa
from rich.console import Console
from rich.progress import BarColumn, Progress, TaskProgressColumn, TextColumn, TimeRemainingColumn

from ..schema import Column, Schema
from .errors import UsageError
from .infer import NULL_TOKENS, infer, to_toml
from .output import TableWriter, fault_table
from .report import JsonReport, console_for, print_check, print_problems, stdout_text
from .run import Caster, Summary, run, with_scales
from .source import Options, Source, open_source

EXIT_CLEAN, EXIT_FAULTS = 0, 1
PROGRESS_AFTER = 1.0        # seconds of work before a progress bar appears


class ProgressBar:
    """A progress bar on standard error, shown only on a terminal and only once the work has
    taken longer than a second; gone when the work is done."""

    def __init__(self, source: Source, quiet: bool, label: str) -> None:
        self.source = source
        self.enabled: bool = not quiet and sys.stderr.isatty()
        self.started: float = time.perf_counter()
        self.label = label
        self.bar: Progress | None = None
        self.task: Any = None

    def update(self) -> None:
        if not self.enabled:
            return
        if self.bar is None:
            if time.perf_counter() - self.started < PROGRESS_AFTER:
                return
            total = self.source.size if self.source.format == "csv" else self.source.total_rows
            self.bar = Progress(TextColumn("{task.description}"), BarColumn(), TaskProgressColumn(),
                                TimeRemainingColumn(), console=Console(stderr=True), transient=True)
            self.bar.start()
            self.task = self.bar.add_task(f"{self.label} {self.source.name}", total=total)
        self.bar.update(self.task, completed=self.source.position())

    def close(self) -> None:
        if self.bar is not None:
            self.bar.stop()
            self.bar = None


def _options(arguments: argparse.Namespace) -> Options:
    return Options(format=arguments.format, delimiter=arguments.delimiter, quote=arguments.quote,
                   header=arguments.header, encoding=arguments.encoding)


def _tokens(arguments: argparse.Namespace) -> tuple[str, ...] | None:
    if arguments.null is None:
        return None
    tokens = []
    for token in arguments.null:
        token = token.strip("\t\n\f\r ")
        if token not in tokens:
            tokens.append(token)
    return tuple(tokens)


def load_schema(path: str) -> Schema:
    try:
        return Schema.load(path)
    except OSError as error:
        raise UsageError(f"cannot read schema {path}: {error.strerror or error}") from None
    except (ValueError, TypeError, KeyError, ModuleNotFoundError) as error:
        # Also TOML and JSON syntax errors, which are ValueErrors.
        raise UsageError(f"schema {path}: {error}") from None


def with_nulls(schema: Schema, tokens: tuple[str, ...]) -> Schema:
    """The schema with ``tokens`` as the only null tokens of every column."""
    declared = {name: Column(c.cast, c.notation, unit=c.unit, scale=c.scale) for name, c in schema.items()}
    return Schema(declared, nulls=tokens, unit=schema.unit)


def _schema_for(arguments: argparse.Namespace, source: Source) -> tuple[Schema, str]:
    tokens = _tokens(arguments)
    if arguments.schema:
        schema = load_schema(arguments.schema)
        label = arguments.schema
    else:
        if arguments.file == "-":
            raise UsageError("give a --schema to check standard input (it cannot be read twice to infer one)")
        progress = ProgressBar(source, arguments.quiet, "inferring")
        try:
            inference = infer(source, tokens=tokens if tokens is not None else NULL_TOKENS, threads=arguments.threads,
                              progress=progress.update)
        finally:
            progress.close()
        schema = inference.schema()
        label = "inferred (quillmere infer)"
    if tokens is not None:
        schema = with_nulls(schema, tokens)
    return schema, label


def run_command(arguments: argparse.Namespace) -> int:
    pa.set_cpu_count(arguments.threads)
    command = {"infer": command_infer, "check": command_check, "cast": command_cast}[arguments.command]
    return command(arguments)


def command_infer(arguments: argparse.Namespace) -> int:
    source = open_source(arguments.file, _options(arguments))
    tokens = _tokens(arguments)
    progress = ProgressBar(source, arguments.quiet, "inferring")
    try:
        inference = infer(source, threshold=arguments.threshold, tokens=tokens if tokens is not None else NULL_TOKENS,
                          sample=arguments.sample, threads=arguments.threads, progress=progress.update)
    finally:
        progress.close()
    out = stdout_text()
    if arguments.output:
        path = Path(arguments.output)
        text = inference.schema().to_json() + "\n" if path.suffix.lower() == ".json" else to_toml(inference)
        try:
            path.write_text(text, encoding="utf-8")
        except OSError as error:
            raise UsageError(f"cannot write {path}: {error.strerror or error}") from None
    if arguments.json:
        from .report import dumps

        out.write(dumps(inference.to_json()) + "\n")
    elif not arguments.output:
        out.write(to_toml(inference))
    else:
        counts = {status: sum(1 for d in inference.decisions if d.status == status)
                  for status in ("typed", "text", "ambiguous")}
        console_for(out).print(f"wrote {arguments.output}: {counts['typed']} typed, {counts['text']} text, "
                               f"{counts['ambiguous']} ambiguous column(s)")
    return EXIT_CLEAN


def command_check(arguments: argparse.Namespace) -> int:
    started = time.perf_counter()
    source = open_source(arguments.file, _options(arguments))
    schema, label = _schema_for(arguments, source)
    caster = Caster(schema, source)
    summary = Summary(source, schema, arguments.limit)
    out = stdout_text()
    report = JsonReport(out, source, schema.to_dict(), label) if arguments.json else None
    progress = ProgressBar(source, arguments.quiet, "checking")
    try:
        for outcome in run(source, caster.cast, arguments.threads, before=caster.check_types):
            listed = summary.add(outcome)
            if report is not None:
                report.faults(listed)
            progress.update()
    finally:
        progress.close()
    ragged = any(p.kind == "ragged_row" for p in source.problems)
    status = EXIT_FAULTS if summary.fault_count or ragged else EXIT_CLEAN
    if report is not None:
        report.finish(summary, status)
    else:
        print_check(console_for(out), summary, label, time.perf_counter() - started)
    return status


def command_cast(arguments: argparse.Namespace) -> int:
    started = time.perf_counter()
    source = open_source(arguments.file, _options(arguments))
    schema, _label = _schema_for(arguments, source)
    typed_out = TableWriter(arguments.output)
    faults_out = TableWriter(arguments.faults, ("parquet", "arrow", "csv", "tsv")) if arguments.faults else None
    if arguments.faults and Path(arguments.faults).resolve() == Path(arguments.output).resolve():
        raise UsageError("the output and the fault file must differ")
    caster = Caster(schema, source, keep_others=not arguments.drop_others)
    progress = ProgressBar(source, arguments.quiet, "finding decimal scales in")
    try:
        schema = with_scales(schema, source, arguments.threads, progress.update)
    finally:
        progress.close()
    caster.schema = schema
    summary = Summary(source, schema, limit=None if faults_out else 0)
    progress = ProgressBar(source, arguments.quiet, "casting")
    try:
        for outcome in run(source, caster.cast, arguments.threads, before=caster.check_types):
            listed = summary.add(outcome)
            typed_out.write(outcome.typed)
            if faults_out is not None and listed:
                faults_out.write(fault_table(listed))
            progress.update()
    finally:
        progress.close()
        typed_out.close()
        if faults_out is not None:
            faults_out.close(empty=fault_table([]).schema)
    ragged = any(p.kind == "ragged_row" for p in source.problems)
    console = Console(stderr=True, highlight=False, soft_wrap=True)
    elapsed = time.perf_counter() - started
    where = "standard output" if arguments.output == "-" else arguments.output
    message = f"wrote {typed_out.rows:,} rows to {where}; "
    if summary.fault_count:
        bad = sum(1 for t in summary.tallies.values() if t.faults)
        message += f"{summary.fault_count:,} bad cells in {bad} column{'s' if bad != 1 else ''}"
        message += f" (listed in {arguments.faults})" if arguments.faults else " (null in the output; --faults F lists them)"
    else:
        message += "no bad cells"
    console.print(f"{message} ({elapsed:.1f} s)")
    print_problems(console, source.problems)
    return EXIT_FAULTS if summary.fault_count or ragged else EXIT_CLEAN
