#!/usr/bin/env python3
"""Runs the end-to-end table (faults.py) inside tools/with-test-network in parallel lanes, each a
Wine machine and a server of its own on 127.83.N.x (N from 30 for the normal group, else from 60),
the longest rows dealt out first; prints the rows and their outcomes, exits 1 when any failed."""

import argparse
import concurrent.futures
import os
import shutil
import sys
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))

import faults  # noqa: E402
from mvmachine import SOURCE, Build, Outcome  # noqa: E402
from mvrun import Lane  # noqa: E402

# Files of the emulator's own system that no run changes: shared between the lanes' machines
# by hard links instead of copies (the rest of a machine is copied).
SHARED_SUFFIXES = (
    ".dll",
    ".exe",
    ".drv",
    ".sys",
    ".acm",
    ".ocx",
    ".cpl",
    ".tlb",
    ".nls",
    ".ax",
    ".ds",
    ".com",
    ".msstyles",
    ".ttf",
    ".fon",
    ".mui",
)


def clone_machine(source, target):
    """A new Wine machine made from a booted one (without C:\\Orvik), much faster than booting it."""

    def copy(src, dst):
        shared = os.path.relpath(src, source).startswith(os.path.join("drive_c", "windows"))
        (os.link if shared and src.lower().endswith(SHARED_SUFFIXES) else shutil.copy2)(src, dst)

    partial = target + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    shutil.copytree(
        source,
        partial,
        symlinks=True,
        copy_function=copy,
        ignore=lambda folder, names: ["Orvik"] if folder == os.path.join(source, "drive_c") else [],
    )
    shutil.rmtree(target, ignore_errors=True)
    os.rename(partial, target)


def run_lane(lane, jobs):
    results = []
    lane.rig.start()
    try:
        for row in jobs:
            try:
                out = faults.run_row(lane, row)
            except Exception:  # a broken row is a failed one, with its reason shown
                out = Outcome(row.key)
                out.check("row ran", False, traceback.format_exc())
                lane.machine.end_all()
            results.append((row.key, out))
    finally:
        lane.rig.stop()
        lane.machine.end_all()
    return results


def deal(jobs, count):
    """Longest first, each to the lane with the least work so far."""
    lanes, loads = [[] for _ in range(count)], [0] * count
    for job in sorted(jobs, key=lambda j: -j.seconds):
        at = loads.index(min(loads))
        lanes[at].append(job)
        loads[at] += job.seconds
    return [lane for lane in lanes if lane]


def print_table(results):
    print("\n%-16s %-56s %-7s %6s  %s" % ("row", "what", "result", "secs", "status path"))
    for key, out in results:
        path, note = ",".join(str(s) for s in out.facts.get("path", [])), out.facts.get("note")
        print(
            "%-16s %-56s %-7s %6s  %s%s"
            % (
                key,
                out.name[:56],
                "pass" if out.passed else "FAIL",
                out.facts.get("seconds", "-"),
                path,
                "  (%s)" % note if note else "",
            )
        )
    failed = [(key, out) for key, out in results if not out.passed]
    print(
        "\n%d rows, %d passed, %d failed" % (len(results), len(results) - len(failed), len(failed))
    )
    for key, out in failed:
        for what, ok, detail in out.checks:
            if not ok:
                print("\n[%s] %s: %s" % (key, what, detail))
        if out.facts.get("tool_output"):
            print("[%s] mvsendmsg: %s" % (key, out.facts["tool_output"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default=os.path.join(SOURCE, "build", "x86"))
    parser.add_argument(
        "--program", help="the mvupdate.exe to run (the release build's); default: the build's own"
    )
    parser.add_argument("--lanes", type=int, default=8)
    parser.add_argument(
        "--group", choices=("normal", "fault"), help="the normal rows only, or the others only"
    )
    parser.add_argument(
        "--only", default="", help="rows whose key starts with one of these (comma-separated)"
    )
    parser.add_argument(
        "--long",
        action="store_true",
        help="add the row that waits out the download's 600 s time-out",
    )
    args = parser.parse_args()
    if "MVU_TEST_NETWORK_DIR" not in os.environ:
        parser.error("run_faults.py runs inside tools/with-test-network")
    build = Build(args.build_dir, args.program)
    print("program under test: %s" % build.program)
    jobs = [
        r
        for r in faults.rows(args.long)
        if r.key.startswith(tuple(args.only.split(",")))
        and (args.group is None or (args.group == "normal") == r.key.startswith("n-"))
    ]
    if not jobs:
        parser.error("no row matches %r" % args.only)
    dealt = deal(jobs, max(1, min(args.lanes, 10, len(jobs))))  # 10: 127.83.60-69.x
    work = build.path("e2e", args.group or "all")
    base = 30 if args.group == "normal" else 60
    lanes = [Lane(build, os.path.join(work, "lane%d" % n), base + n) for n in range(len(dealt))]
    first = lanes[0].machine  # booted once, copied for the lanes that have no machine yet
    first.boot()
    first.wait_quiet(300)
    for lane in lanes[1:]:
        if not os.path.exists(os.path.join(lane.machine.prefix, ".mvu-booted")):
            clone_machine(first.prefix, lane.machine.prefix)
    with concurrent.futures.ThreadPoolExecutor(len(lanes)) as pool:
        futures = [pool.submit(run_lane, lane, lane_jobs) for lane, lane_jobs in zip(lanes, dealt)]
        results = [result for f in futures for result in f.result()]
    order = [r.key for r in jobs]
    results.sort(key=lambda r: order.index(r[0]))
    print_table(results)
    return 0 if all(out.passed for _key, out in results) else 1


if __name__ == "__main__":
    sys.exit(main())
