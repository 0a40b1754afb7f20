#!/usr/bin/env python3
"""End-to-end suite: the real mvupdate.exe (i686 build, unmodified, with its 30 s start
delay) under Wine against loopback update servers. Scenarios run in parallel lanes, each lane a
Wine prefix and a server of its own. Must run inside tools/with-test-network.

Usage: run_e2e.py --build-dir build/x86 [--program build/release/app/mvupdate.exe] [--lanes 4] [--only SUBSTRING]
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import scenarios  # noqa: E402
from mvmachine import Build, Machine, Rig, SOURCE  # noqa: E402


def scrambled(build, machine, text):
    """The stored form of text, as the product's other software writes it."""
    out = machine.wine(os.path.join(build.dir, "standins", "scrambler", "mvscramble.exe"), "-s", "200", text)
    return out.stdout.decode("ascii").strip().splitlines()[-1].strip()


def all_scenarios(build, token_holder):
    s = scenarios
    return [
        ("normal", s.normal_success),
        ("missing", s.normal_package_missing),
        ("intact", s.check_mode_intact),
        ("outdated", s.check_mode_outdated),
        # The error page, 401, an answer held for good and a missing SURL are fault-matrix rows.
        ("status-failed", s.failed_answer("status FAILED")),
        ("empty-body", s.failed_answer("empty body")),
        ("surl-token", lambda m, r, h, rel: s.normalised_server(m, r, h, rel, token_holder[m.prefix], "t0k&en")),
        ("language", s.language_present),
    ]


def run_lane(build, lane, jobs, token_holder):
    machine = Machine(build, os.path.join(build.dir, "e2e", "lane%d" % lane, "prefix"))
    host = "update.lane%d.mvtest.invalid" % lane
    rig = Rig("127.83.%d.1" % (30 + lane), [host], os.path.join(build.dir, "e2e", "lane%d" % lane, "rig"))
    release = scenarios.Release(build, os.path.join(build.dir, "e2e", "lane%d" % lane, "release"))
    results = []
    machine.boot()
    token_holder[machine.prefix] = scrambled(build, machine, "t0k&en")
    rig.start()
    try:
        for key, scenario in jobs:
            try:
                out = scenario(machine, rig, host, release)
            except Exception:  # a broken scenario is a failed one, with its reason shown
                out = scenarios.Outcome(key)
                out.check("scenario ran", False, traceback.format_exc())
            out.facts.setdefault("key", key)
            results.append((key, out))
    finally:
        rig.stop()
        subprocess.run(["/usr/lib/wine/wineserver64", "-k"], env=dict(os.environ, WINEPREFIX=machine.prefix),
                       check=False)
    return results


def print_table(results):
    print()
    print("%-12s %-48s %-7s %6s  %s" % ("scenario", "what", "result", "secs", "status path"))
    for key, out in results:
        path = ",".join(str(s) for s in out.facts.get("path", []))
        print("%-12s %-48s %-7s %6s  %s" % (key, out.name[:48], "pass" if out.passed else "FAIL",
                                            out.facts.get("seconds", "-"), path))
    for key, out in results:
        for what, ok, detail in out.checks:
            if not ok:
                print("\n[%s] %s: %s" % (key, what, detail))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default=os.path.join(SOURCE, "build", "x86"))
    parser.add_argument("--program", help="the mvupdate.exe to run (the release build's); default: the build's own")
    parser.add_argument("--lanes", type=int, default=4)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    if "MVU_TEST_NETWORK_DIR" not in os.environ:
        print("run_e2e.py runs inside tools/with-test-network", file=sys.stderr)
        return 2
    build = Build(args.build_dir, args.program)
    print("program under test: %s" % build.program)
    token_holder = {}
    jobs = [j for j in all_scenarios(build, token_holder) if args.only in j[0]]
    lanes = [jobs[i::args.lanes] for i in range(args.lanes) if jobs[i::args.lanes]]
    results = []
    with concurrent.futures.ThreadPoolExecutor(len(lanes)) as pool:
        futures = [pool.submit(run_lane, build, n, lane_jobs, token_holder) for n, lane_jobs in enumerate(lanes)]
        for f in futures:
            results.extend(f.result())
    order = [k for k, _ in jobs]
    results.sort(key=lambda r: order.index(r[0]))
    print_table(results)
    return 0 if all(out.passed for _key, out in results) else 1


if __name__ == "__main__":
    sys.exit(main())
