"""Collects the core and Python benchmark results into one table of ratios."""

from __future__ import annotations

import argparse
import datetime
import importlib.util
import json
import os
import platform
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "python"))

import harness  # noqa: E402


def per_item_ns(bench: dict) -> float:
    """Nanoseconds per input where the benchmark counts items (one batch of inputs per iteration)."""
    if bench.get("items_per_second"):
        return 1e9 / bench["items_per_second"]
    return bench["real_time"]


def core_rows(path: Path) -> list[dict]:
    """Pairs core benchmarks named "<group>/<case>/<impl>": quillmere against each peer.

    A peer's label "target>=X" means our throughput must be at least X times its throughput.
    """
    data = json.loads(path.read_text())
    by_case: dict[tuple[str, str], dict[str, dict]] = {}
    for bench in data["benchmarks"]:
        parts = bench["name"].split("/")
        if len(parts) < 3 or bench.get("run_type") == "aggregate":
            continue
        group, case, impl = parts[0], parts[1], "/".join(parts[2:])
        # Of the repetitions, the fastest is the one least disturbed by the machine.
        kept = by_case.setdefault((group, case), {}).get(impl)
        if kept is None or bench["real_time"] < kept["real_time"]:
            by_case[(group, case)][impl] = bench
    rows = []
    for (group, case), impls in by_case.items():
        ours = impls.get("quillmere")
        if ours is None:
            continue
        for impl, peer in impls.items():
            if impl == "quillmere":
                continue
            ratio = peer["real_time"] / ours["real_time"]  # throughput ratio: ours / theirs
            target = None
            label = peer.get("label", "")
            if label.startswith("target>="):
                target = float(label.split(">=")[1])
            rows.append(dict(group=f"core {group}", case=case, peer=impl, ours_ns=per_item_ns(ours),
                             peer_ns=per_item_ns(peer), metric="throughput", ratio=ratio, target=target,
                             met=None if target is None else ratio >= target))
    return rows


def python_rows(quick: bool) -> list[dict]:
    rows = []
    # The first timings after the build and the installs run slow for a while
    # on this machine; a second of untimed work brings it to its steady pace.
    deadline = time.perf_counter() + (0.1 if quick else 1.0)
    while time.perf_counter() < deadline:
        sum(range(1000))
    for path in sorted((HERE / "python").glob("bench_*.py")):
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        for c in module.comparisons():
            min_seconds = 0.02 if quick else 0.1
            # Alternate the two sides so that a slow spell of the machine does not fall on one side only.
            ours = theirs = float("inf")
            for _ in range(1 if quick else c.rounds):
                ours = min(ours, harness.time_per_call(c.ours, c.inputs, min_seconds, c.ours_args))
                theirs = min(theirs, harness.time_per_call(c.theirs, c.inputs, min_seconds, c.theirs_args,
                                                           c.theirs_raises, c.theirs_expr, c.theirs_names))
            ratio = ours / theirs
            rows.append(dict(group=f"Python {c.group}", case=c.case, peer=c.peer, ours_ns=ours * 1e9,
                             peer_ns=theirs * 1e9, metric="time", ratio=ratio, target=c.target,
                             met=None if c.target is None else ratio <= c.target, note=c.note))
    return rows


def render(rows: list[dict]) -> str:
    lines = [
        "| group | case | peer | ours (ns) | peer (ns) | ratio | target | |",
        "|---|---|---|---:|---:|---:|---|---|",
    ]
    for r in rows:
        if r["metric"] == "throughput":
            ratio = f"{r['ratio']:.2f}× throughput"
            target = "" if r["target"] is None else f"≥ {r['target']:g}×"
        else:
            ratio = f"{r['ratio']:.2f}× time"
            target = "" if r["target"] is None else f"≤ {r['target']:g}×"
        if r["met"] is None:
            verdict = ""
        elif r["met"]:
            verdict = "met"
        else:
            gap = r["ratio"] / r["target"] if r["metric"] == "time" else r["target"] / r["ratio"]
            verdict = f"**missed** by {gap:.2f}×"
        lines.append(f"| {r['group']} | {r['case']} | {r['peer']} | {r['ours_ns']:.1f} | {r['peer_ns']:.1f} "
                     f"| {ratio} | {target} | {verdict} |")
    return "\n".join(lines)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--core", type=Path)
    parser.add_argument("--readme", type=Path)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()

    rows = (core_rows(args.core) if args.core and args.core.exists() else []) + python_rows(args.quick)
    table = render(rows)
    print(table)
    if args.readme and not args.quick:
        import quillmere

        cpu = platform.processor() or platform.machine()
        try:
            for line in Path("/proc/cpuinfo").read_text().splitlines():
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
        except OSError:
            pass
        notes_path = HERE / "where-the-time-goes.md"
        notes = "\n" + notes_path.read_text() if notes_path.exists() else ""
        args.readme.write_text(
            "# Benchmarks\n\n"
            "Run `bench/run` (release build, one command). Every row times quillmere and a peer on the same "
            "inputs in the same run. Core rows compare throughput (higher is better for us: our throughput over "
            "the peer's); Python rows compare time per call (lower is better: our time over the peer's). Fault "
            "rows time the peer's `try`/`except` path. Rows without a target compare with a peer no issue set "
            "a target against. The machine is a shared 2-core virtual machine: single runs of the same build vary "
            "by up to a third, so read a ratio near its target as a tie.\n\n"
            f"Latest run: {datetime.date.today().isoformat()}, quillmere {quillmere.__version__}, "
            f"CPython {platform.python_version()}, {cpu}, {os.cpu_count()} cores.\n\n"
            + table + "\n"
            + notes
        )


if __name__ == "__main__":
    main()
