#!/usr/bin/env python3
"""The performance figures, printed as one table. Started by tools/bench.sh inside
tools/with-test-network and a virtual display; a measurement, with no pass or fail of its own.

1. Bodies of 100 KB, 10 MB and 100 MB (1 MB = 2^20 bytes) fetched over HTTPS from a loopback
   update server (standins/updateserver/mvrig.py): several times through the URL module (mvurlbench.exe under
   wine64: MVUrlRequestW, then MVUrlDispatch until the completion function runs), as often through
   WinInet alone the worker's way, the body kept the same way (the floor the module stands on; the
   two take turns, a process each, in three rounds), and as often with curl from the host, to the same URL; medians, throughput, CPU, the module-to-floor
   ratio, and the first fetch of a process (WinInet and TLS set-up). 10 MB and 100 MB again with
   8 KB, 64 KB and 256 KB reads, module and floor alike.
2. Growth: time and CPU per MB for 100 MB over those for 10 MB (1.00 is linear).
3. One full update run in normal mode (the end-to-end row n-success, reused as it is), with the
   release program of the build the tests run (--update-arch: the i686 one, which reads the 32-bit
   registry view, wherever this machine executes 32-bit code) and that build's stand-ins: wall
   time, the overhead beyond the program's fixed waits, and the CPU time of the program's process.
   Its checks failing fails the bench (exit code 1); no speed figure does.
4. Sizes of mvupdate.exe: the release builds (the i686 one ships) and the test builds, as built
   and stripped.

Usage: bench.py --build-dir build/bench-x64 --x86-dir build/bench-x86 [--update-arch x86|x64]
                [--quick] [--no-update-run]
"""

import argparse
import datetime
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from mvmachine import WINDOWS_PROGRAM, WINE_RUN, Build, Machine, Outcome  # noqa: E402
from mvrun import Lane, Status, full_success, run_row  # noqa: E402

# The end-to-end lane's names on 127.83.97.x: the server is update.bench.mvtest.invalid.
LANE, LABEL = 97, "bench"
HOST = "update.%s.mvtest.invalid" % LABEL
MB = 1 << 20
# (label, bytes, repetitions, repetitions with --quick)
BODIES = [("100 KB", 100 * 1024, 21, 6), ("10 MB", 10 * MB, 9, 3), ("100 MB", 100 * MB, 6, 3)]
# Bytes asked of each read, for the module and the floor alike; the module's own is the first.
READ_SIZES = [64 * 1024, 8 * 1024, 256 * 1024]
# The program sleeps 30 s before it starts and waits 1 s before the download.
FIXED_WAITS = 31.0
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def say(text):
    print(text, file=sys.stderr, flush=True)


def url_of(size):
    return "https://%s/body/%d" % (HOST, size)


def run_measured(argv, timeout, output_path=None):
    """Runs a Windows program through tools/wine-run to its end: (exit code, seconds, (user, sys)
    CPU seconds, (wall-clock start, end)).

    wine-run execs wine64, which runs the program in that same process, so the process started
    here is the program's. Its end is awaited without reaping it (waitid with WNOWAIT), so
    /proc/<pid>/stat still holds its own user and system time: only its threads count, not the
    wineserver (a daemon of its own) nor the programs it starts (Wine detaches them)."""
    started = time.monotonic()
    clock_started = time.time()
    output = open(output_path, "wb") if output_path else subprocess.DEVNULL
    try:
        process = subprocess.Popen(
            [WINE_RUN] + list(argv), env=dict(os.environ), stdout=output, stderr=subprocess.STDOUT
        )
    finally:
        if output_path:
            output.close()
    watchdog = threading.Timer(timeout, process.kill)
    watchdog.start()
    try:
        os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
        seconds = time.monotonic() - started
        clock = (clock_started, time.time())
        with open("/proc/%d/stat" % process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        # Fields 14 and 15 of the record (utime, stime), counted after the command name.
        cpu = (int(fields[11]) / CLOCK_TICKS, int(fields[12]) / CLOCK_TICKS)
        process.wait()
    finally:
        watchdog.cancel()
    return process.returncode, seconds, cpu, clock


class MeasuredMachine(Machine):
    """The end-to-end machine, with the program's own process measured (run_measured)."""

    cpu = None
    seconds = None
    clock = None

    def run_updater(self, args=(), while_running=None, output_path=None, cwd=None, timeout=300):
        if while_running is not None or cwd is not None:
            raise ValueError(
                "a measured run takes no watcher (it would reap the process first) nor a folder"
            )
        code, self.seconds, self.cpu, self.clock = run_measured(
            ["--prefix", self.prefix, WINDOWS_PROGRAM] + list(args), timeout, output_path
        )
        return code, self.seconds, True


def idle_program(machine, build, repetitions=5):
    """Median wall and CPU seconds of Wine starting and ending a GUI program that does next to
    nothing (a copy of the mvcfg.exe stand-in: it writes one line beside itself), measured as the
    updater is: what any run pays before and after its own work. The first run, not counted,
    brings up Wine's desktop process, which a Windows machine always has running."""
    folder = build.path("bench", "idle")
    os.makedirs(folder, exist_ok=True)
    program = os.path.join(folder, "idle.exe")
    shutil.copyfile(build.program_files()["mvcfg.exe"], program)
    runs = [
        run_measured(["--prefix", machine.prefix, program], 120) for _ in range(repetitions + 1)
    ][1:]
    return statistics.median(r[1] for r in runs), statistics.median(sum(r[2]) for r in runs)


def module_fetches(machine, build, size, repetitions, wininet_alone=False, read_size=READ_SIZES[0]):
    """(seconds, CPU seconds) of the process's first fetch (100 KB), and of each of repetitions
    fetches of a body after it, through the URL module (or WinInet alone, keeping the body the
    same way), reading read_size bytes at a time."""
    smallest = BODIES[0][1]
    args = (["--wininet"] if wininet_alone else []) + ["--read-size", str(read_size)]
    # The first fetch loads WinInet and TLS and opens the connection: not counted with the rest.
    args += ["1", str(smallest), url_of(smallest), str(repetitions), str(size), url_of(size)]
    result = machine.wine(build.path("bench", "mvurlbench.exe"), *args, timeout=3600, check=False)
    text = result.stdout.decode("utf-8", "replace")
    if result.returncode != 0:
        raise RuntimeError("mvurlbench.exe failed (%d):\n%s" % (result.returncode, text[-3000:]))
    kind = "wininet " if wininet_alone else "fetch "
    fetches = [line.split() for line in text.splitlines() if line.startswith(kind)]
    timed = [(float(seconds), float(cpu)) for _kind, _url, _size, seconds, cpu in fetches]
    return timed[0], timed[1:]


def paired_fetches(machine, build, size, repetitions, read_size=READ_SIZES[0], rounds=3):
    """((module firsts, floor firsts), (module fetches, floor fetches)) of a body: the module and the
    floor take turns, a process each, in rounds, so that a change in the machine's load falls on
    both alike instead of on whichever ran second."""
    firsts, fetches = ([], []), ([], [])
    per_round = -(-repetitions // rounds)
    for _ in range(min(rounds, repetitions)):
        for kind, wininet_alone in enumerate((False, True)):
            first, timed = module_fetches(machine, build, size, per_round, wininet_alone, read_size)
            firsts[kind].append(first)
            fetches[kind].extend(timed)
    return firsts, fetches


def curl_fetches(size, repetitions):
    """(seconds, CPU seconds, process seconds) of each of repetitions curl fetches of a body:
    curl's own time_total, the user and system time of its process, and that process's life."""
    ca = os.environ["MVU_TEST_CA_CERT"]
    out = []
    for _ in range(repetitions):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        result = subprocess.run(
            [
                "curl",
                "--http1.0",
                "--cacert",
                ca,
                "-sS",
                "-o",
                "/dev/null",
                "-w",
                "%{http_code} %{size_download} %{time_total}",
                url_of(size),
            ],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            timeout=600,
        )
        lifetime = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        fields = result.stdout.decode().split()
        if result.returncode != 0 or fields[:2] != ["200", str(size)]:
            raise RuntimeError(
                "curl %s failed: %s %s" % (url_of(size), result.stdout, result.stderr)
            )
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        out.append((float(fields[2]), cpu, lifetime))
    return out


def update_run(lane):
    machine = lane.machine
    try:
        outcome = run_row(lane, full_success())
    except Exception:  # a run that went wrong still has a wall time worth showing, with the reason
        outcome = Outcome("normal mode, full success")
        outcome.check("scenario ran", False, traceback.format_exc())
    return outcome, machine.cpu, machine.seconds, phases(machine)


def phases(machine):
    """Where the run's time went beyond its fixed waits, from the time stamps of the program's
    trace records and its status changes: (label, seconds) pairs, or None without records."""
    records = []
    for line in (
        (machine.read(machine.program_path("ovktrace.log")) or b"")
        .decode("utf-8", "replace")
        .splitlines()
    ):
        try:
            stamp = datetime.datetime.strptime(line[:23], "%Y-%m-%d %H:%M:%S.%f").timestamp()
        except ValueError:
            continue
        status = re.search(r"Change AgtApp status to (-?\d+)\.", line)
        records.append((stamp, int(status.group(1)) if status else None))
    if not records or machine.clock is None:
        return None
    began, ended = machine.clock

    def first_status(status):
        return next((stamp for stamp, s in records if s == status), None)

    marks = [
        ("Wine start to first record, less 30 s", began + 30.0),
        ("set-up: OLE, window, libraries", records[0][0]),
        ("version check and INI (2 fetches)", first_status(Status.CHECKING_VERSION)),
        ("wait before the download, less 1 s", first_status(Status.READY_TO_DOWNLOAD)),
        ("download and install by the library", first_status(Status.DOWNLOADING)),
        ("to the last record", first_status(Status.DONE)),
        ("last record to exit (launch, Wine exit)", records[-1][0]),
        (None, ended),
    ]
    if any(stamp is None for _label, stamp in marks):
        return None
    out = [(label, marks[i + 1][1] - stamp) for i, (label, stamp) in enumerate(marks[:-1])]
    out[3] = (out[3][0], out[3][1] - 1.0)
    return out


def exe_sizes(path, strip):
    if not os.path.exists(path):
        return None
    with tempfile.TemporaryDirectory() as folder:
        stripped = os.path.join(folder, "stripped.exe")
        subprocess.run([strip, "-o", stripped, path], check=True)
        return os.path.getsize(path), os.path.getsize(stripped)


def median(pairs, which=0):
    return statistics.median(p[which] for p in pairs)


def mean(pairs, which):
    # CPU times come in 10 ms ticks: a mean resolves short fetches better than a median.
    return statistics.mean(p[which] for p in pairs)


def megabytes_per_second(size, seconds):
    return size / MB / seconds if seconds > 0 else float("inf")


def print_table(fetched, update, sizes, load):
    rows = []

    def row(*cells):
        rows.append(cells + ("",) * (5 - len(cells)))

    module, wininet, curl = fetched["module"], fetched["wininet"], fetched["curl"]
    row("URL fetch over HTTPS, median", "URL module", "WinInet floor", "curl", "module / floor")
    for label, size, _reps, _quick in BODIES:
        m, w, c = module[size], wininet[size], curl[size]
        row(
            "  %s x%d: time" % (label, len(m)),
            "%.3f s" % median(m),
            "%.3f s" % median(w),
            "%.3f s" % median(c),
            "%.3f" % (median(m) / median(w)),
        )
        row(
            "  %s: throughput" % label,
            *("%.1f MB/s" % megabytes_per_second(size, median(t)) for t in (m, w, c)),
        )
        row(
            "  %s: CPU per fetch (mean)" % label,
            *("%.0f ms" % (1000 * mean(t, 1)) for t in (m, w, c)),
            "%.2f" % (mean(m, 1) / mean(c, 1)) if mean(c, 1) > 0 else "",
        )
    # Loading WinInet and TLS and opening the first connection; for curl, its whole process.
    small = curl[BODIES[0][1]]
    row(
        "  first fetch of a process, 100 KB",
        "%.3f s" % median(fetched["module first"]),
        "%.3f s" % median(fetched["wininet first"]),
        "%.3f s" % median(small, 2),
        "%.2f" % (median(fetched["module first"]) / median(small, 2)),
    )
    growth = [
        (median(t[100 * MB]) / 100) / (median(t[10 * MB]) / 10) for t in (module, wininet, curl)
    ]
    row("Per-MB time, 100 MB / 10 MB (1.00: linear)", *("%.2f" % g for g in growth))
    # CPU time is steadier than wall time on a machine with other work on it.
    cpu_growth = [
        (mean(t[100 * MB], 1) / 100) / (mean(t[10 * MB], 1) / 10) for t in (module, wininet, curl)
    ]
    row("Per-MB CPU, 100 MB / 10 MB", *("%.2f" % g for g in cpu_growth))
    row("Read size (median time)", "URL module", "WinInet floor", "", "module / floor")
    for (label, read_size), (m, w) in sorted(
        fetched["read sizes"].items(), key=lambda kv: (kv[0][0], kv[0][1])
    ):
        row(
            "  %s, %d KB reads" % (label, read_size // 1024),
            "%.3f s" % median(m),
            "%.3f s" % median(w),
            "",
            "%.3f" % (median(m) / median(w)),
        )
    if update is not None:
        outcome, cpu, seconds, split, idle, kind = update
        row(
            "Full update run, normal mode, %s (%s)"
            % (kind, "checks pass" if outcome.passed else "CHECKS FAIL"),
            "",
            "",
            "",
        )
        if seconds is not None:
            row("  wall time", "%.1f s" % seconds, "", "")
            row(
                "  overhead beyond the fixed waits (30 s + 1 s)",
                "%.1f s" % (seconds - FIXED_WAITS),
                "",
                "",
            )
        for label, part in split or []:
            row("    " + label, "%.2f s" % part, "", "")
        if cpu is not None:
            row("  CPU of mvupdate.exe (user + sys)", "%.2f s" % sum(cpu), "%.2f + %.2f" % cpu, "")
        row(
            "  for scale: Wine runs a program doing nothing",
            "%.2f s" % idle[0],
            "CPU %.2f s" % idle[1],
            "",
        )
    row("mvupdate.exe size", "as built", "stripped", "")
    for arch, pair in sizes:
        row(
            "  " + arch,
            "%.1f KB" % (pair[0] / 1024) if pair else "not built",
            "%.1f KB" % (pair[1] / 1024) if pair else "",
            "",
        )

    widths = [max(len(r[i]) for r in rows) for i in range(5)]
    print()
    for r in rows:
        print(
            "  ".join(
                cell.ljust(widths[i]) if i == 0 else cell.rjust(widths[i])
                for i, cell in enumerate(r)
            ).rstrip()
        )
    print()
    notes = (
        "Times: the module's from submission to its completion function (dispatch polled every ms).",
        "WinInet floor: the worker's exchange alone, the body read straight into one buffer of its",
        "announced length, with the same read size (the module's own unless the row says). curl: its own",
        "time_total (first fetch: its whole process), the body to /dev/null. CPU: the bench process",
        "(GetProcessTimes, 10 ms ticks), curl's process (rusage, its start-up included), mvupdate.exe's",
        "own process (/proc/<pid>/stat at its exit). 1 MB = 2^20 bytes. Load average when the bench",
        "began: %.2f on %d processors." % (load, os.cpu_count() or 0),
    )
    print("\n".join(notes))
    if update is not None:
        outcome, seconds, kind = update[0], update[2], update[5]
        overhead = "%.1f s" % (seconds - FIXED_WAITS) if seconds is not None else "not measured"
        print(
            "\nUpdate run (%s): %s; overhead beyond the fixed waits: %s."
            % (kind, "checks pass" if outcome.passed else "CHECKS FAIL", overhead)
        )
        for what, ok, detail in outcome.checks:
            if not ok:
                print("update run: %s: %s" % (what, detail))


def main():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--build-dir", default=os.path.join(SOURCE, "build", "bench-x64"))
    parser.add_argument("--x86-dir", default=os.path.join(SOURCE, "build", "bench-x86"))
    parser.add_argument("--release-dir", default=os.path.join(SOURCE, "build", "release"))
    parser.add_argument("--release-x64-dir", default=os.path.join(SOURCE, "build", "release-x64"))
    parser.add_argument(
        "--update-arch",
        choices=("x86", "x64"),
        help="the build whose release program the update run installs (default: tools/test-arch)",
    )
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    parser.add_argument(
        "--no-update-run", action="store_true", help="leave out the full update run"
    )
    args = parser.parse_args()
    if "MVU_TEST_NETWORK_DIR" not in os.environ:
        say("bench.py runs inside tools/with-test-network (tools/bench.sh sees to it)")
        return 2
    if shutil.which("curl") is None:
        say("bench.py needs curl (tools/install-deps.sh installs it)")
        return 2

    load = os.getloadavg()[0]
    build = Build(args.build_dir)
    work = build.path("bench")
    prefix = os.path.join(work, "prefix")
    lane = Lane(build, work, LANE, LABEL, MeasuredMachine(build, prefix))
    machine, rig = lane.machine, lane.rig
    # The update run: the release program of the build the tests run, with that build's
    # stand-ins, in the same machine and against the same server (the same folder: the same rig).
    # Its settings are written as the end-to-end runs write them, by regedit under the loader
    # tools/wine-run picks, so they land in the registry view this program reads.
    update_arch = (
        args.update_arch
        or subprocess.run(
            [os.path.join(SOURCE, "tools", "test-arch")],
            stdout=subprocess.PIPE,
            text=True,
            check=True,
        ).stdout.strip()
    )
    update_dirs = {
        "x86": (args.x86_dir, args.release_dir),
        "x64": (args.build_dir, args.release_x64_dir),
    }[update_arch]
    update_build = Build(
        update_dirs[0], os.path.join(os.path.abspath(update_dirs[1]), "app", "mvupdate.exe")
    )
    update_lane = Lane(update_build, work, LANE, LABEL, MeasuredMachine(update_build, prefix))
    say("bench: booting the Wine prefix")
    machine.boot()
    rig.start()
    try:
        rig.reset()
        for _label, size, _reps, _quick in BODIES:
            rig.answer(path="/body/%d" % size, body_size=size)
        # No stored proxy or credentials: direct exchanges.
        machine.wine("reg", "delete", r"HKLM\SOFTWARE\Orvik", "/f", check=False)
        fetched = {
            "module": {},
            "wininet": {},
            "curl": {},
            "module first": [],
            "wininet first": [],
            "read sizes": {},
        }
        for label, size, reps, quick_reps in BODIES:
            # Each body by all three right after each other, the module and the floor in turns.
            say("bench: %s through the URL module, WinInet alone and curl" % label)
            count = quick_reps if args.quick else reps
            firsts, (fetched["module"][size], fetched["wininet"][size]) = paired_fetches(
                machine, build, size, count
            )
            fetched["module first"] += firsts[0]
            fetched["wininet first"] += firsts[1]
            fetched["curl"][size] = curl_fetches(size, count)
            if size >= 10 * MB:
                for read_size in READ_SIZES:
                    say("bench: %s with %d KB reads" % (label, read_size // 1024))
                    fetched["read sizes"][(label, read_size)] = paired_fetches(
                        machine, build, size, count, read_size
                    )[1]
        update = None
        if not args.no_update_run:
            say(
                "bench: one full update run of %s (it waits 30 s before it starts)"
                % update_build.program
            )
            idle = idle_program(update_lane.machine, update_build)
            kind = {"x86": "i686 release", "x64": "x86_64 release"}[update_arch]
            update = update_run(update_lane) + (idle, kind)
    finally:
        rig.stop()
    sizes = [
        (
            "i686 release (what ships)",
            exe_sizes(
                os.path.join(os.path.abspath(args.release_dir), "app", "mvupdate.exe"),
                "i686-w64-mingw32-strip",
            ),
        ),
        (
            "x86_64 release",
            exe_sizes(
                os.path.join(os.path.abspath(args.release_x64_dir), "app", "mvupdate.exe"),
                "x86_64-w64-mingw32-strip",
            ),
        ),
        (
            "i686 RelWithDebInfo",
            exe_sizes(
                os.path.join(os.path.abspath(args.x86_dir), "app", "mvupdate.exe"),
                "i686-w64-mingw32-strip",
            ),
        ),
        (
            "x86_64 RelWithDebInfo",
            exe_sizes(build.path("app", "mvupdate.exe"), "x86_64-w64-mingw32-strip"),
        ),
    ]
    print_table(fetched, update, sizes, load)
    # Only the update run's checks decide: a speed figure never fails the bench.
    return 1 if update is not None and not update[0].passed else 0


if __name__ == "__main__":
    sys.exit(main())
