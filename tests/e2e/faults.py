"""The end-to-end table: the real mvupdate.exe under Wine in normal runs (rows n-) and against
servers, download libraries, settings and shutdowns that misbehave. A row is (key, estimated
seconds, what, spec): run() sets the run up as spec says, check() makes the checks every row makes
and those its spec names. Messages reach the hidden window once the trace shows the status a row
wants (trigger; 5 and 8 last one 50 ms tick: not aimed at)."""

import datetime
import glob
import os
import pathlib
import re
import shutil
import subprocess
import time

from mvmachine import (
    RECORDS,
    RELEASE,
    SOURCE,
    Machine,
    Outcome,
    Release,
    Rig,
    crash_signs,
    sha256,
    version_answer,
)
from signedsite import SignedSite

TRIGGER = "C:\\mvfaults\\go"  # the trigger file as the machine names it
# Status paths: the version check or the INI download failed, four download attempts failed, success.
V_FAILS, I_FAILS, ALL_FAILS = (
    [0, 1, 0, 8, 0],
    [0, 1, 2, 0, 8, 0],
    [0, 1, 2] + [3, 4, 6] * 4 + [0, 8, 0],
)
SUCCESS = [0, 1, 2, 3, 4, 5, 8, 0]
CONTROLLER = [("ksagtctl.exe", "/start2")]
QUERY_END, LOGOFF = "queryendsession:0:0", 0x80000000
V_FAILED, I_FAILED = "Get version info failed. Result = ", "Get dlk_ini_file failed. Result = "
# What the program promises whatever a server does: start delay, 30 s for an answer, 10 s in
# status 0, and 10 s more at most before the final launch and the exit.
RUN_BOUND = 30 + 30 + 10 + 10
TOKEN = "t0k&en"
ECHOED_TOKEN, PROXY_PASSWORD, SERVER_PASSWORD = "Echo7Secret9", "Pr0xyPa55", "S3rverPa55"
FILES = ["/rel/dlk.php", "/rel/agent/%s/mvagtx.exe" % RELEASE, "/rel/data/data.bin"]


class Lane:
    """A machine and its server on 127.83.number.1 (update.<label>.mvtest.invalid, also named
    mirror.<label>...); .2 has a certificate for another name (wrong.<label>...), .3 an expired one,
    nothing listens on .9 (dead.<label>...).
    """

    def __init__(self, build, folder, number, label=None, machine=None):
        self.build, self.case_dir = build, os.path.join(folder, "case")
        self.machine = machine or Machine(build, os.path.join(folder, "prefix"))
        label = label or "l%d" % number
        self.host = "update.%s.mvtest.invalid" % label
        q = "/update/smt.php" + build.version_query()
        self.names = dict(host=self.host, query=build.version_query(), q=q, v=q + "&TK=")
        for kind, n in (("mirror", 1), ("wrong", 2), ("expired", 3), ("dead", 9)):
            self.names.update(
                {
                    kind: "%s.%s.mvtest.invalid" % (kind, label),
                    kind + "_address": "127.83.%d.%d" % (number, n),
                }
            )
        hosts = [self.host] + [
            "%s=%s" % (self.names[k], self.names[k + "_address"])
            for k in ("mirror", "wrong", "expired", "dead")
        ]
        self.rig = Rig(
            "127.83.%d.1" % number,
            hosts,
            os.path.join(folder, "rig"),
            [
                "--wrong-name-address",
                self.names["wrong_address"],
                "--expired-address",
                self.names["expired_address"],
            ],
        )
        self.release = Release(build, os.path.join(folder, "release"))
        self.sendmsg = build.path("tests", "e2e", "tools", "mvsendmsg.exe")

    def scrambled(self, text):
        """The stored form of text, as the product's other software writes it."""
        out = self.machine.wine(
            self.build.path("standins", "scrambler", "mvscramble.exe"), "-s", "200", text
        )
        return out.stdout.decode("ascii").strip().splitlines()[-1].strip()

    def fill(self, value):
        return value.format(**self.names) if isinstance(value, str) else value

    def given(self, value):  # value, or what it gives for the lane
        return value(self) if callable(value) else value


# --- what the server sends: each part is called with the lane -------------------------------


def V(body=None, at="host", root=None, **lines):
    """A version answer (the release's, its URL root on the server named root) for the server named at."""
    return lambda lane: lane.rig.answer(
        version_answer(lane.names[root or at]) if body is None else lane.given(body),
        prefix="/" + lane.names[at].split(".")[0] + "/",
        **lines,
    )


def changed(**tags):
    """The release's version answer with tags changed."""
    return V(lambda lane: version_answer(lane.host, **tags))


def I(body=None, **lines):
    """The INI (by default the release's) at its path."""
    return lambda lane: lane.rig.answer(
        lane.release.ini() if body is None else lane.given(body), path=FILES[0], **lines
    )


def F(**data_lines):
    """The agent, and the data file (from disk unless data_lines give a body)."""

    def part(lane):
        lane.rig.answer(path=FILES[1], body_file=lane.release.agent_file)
        from_disk = {} if "body" in data_lines else {"body_file": lane.release.data_file}
        lane.rig.answer(path=FILES[2], **data_lines, **from_disk)

    return part


def TLS(mode, skip=0):
    """HTTPS handshakes broken (plain, garbage or close) after skip of them."""
    return lambda lane: lane.rig.control("/tls-fault", "mode: %s\nskip: %d\n" % (mode, skip))


def moved(location, **where):
    """A redirect (302, its connection closed) to location (names filled in) for the requests where
    names (path= or prefix=)."""
    return lambda lane: lane.rig.answer(
        "moved", status=302, close=1, header="Location: " + lane.fill(location), **where
    )


def nothing_needed(lane):
    """An INI whose only file is the agent as installed: the library has nothing to fetch."""
    return lane.release.ini(agent=lane.release.old_agent)


FULL = (V(), I(), F())
LIGHT = (V(), I(nothing_needed))


def as_stored(ini):
    """The INI as the program stores it: CR CR LF for CR LF."""
    return ini.replace(b"\r\n", b"\r\r\n")


def run(lane, name, spec):
    """Sets the machine and the server up as spec says, runs mvupdate.exe and all it starts to their end."""
    machine, rig = lane.machine, lane.rig
    machine.install()
    spec.get("prepare", lambda lane: None)(lane)
    machine.set_library_fault(spec.get("fault"))
    trigger_file = os.path.join(machine.drive, "mvfaults", "go")
    shutil.rmtree(os.path.dirname(trigger_file), ignore_errors=True)
    os.makedirs(os.path.dirname(trigger_file))
    # A second run of a row finds the settings the first one left.
    if not spec.get("keep_settings"):
        settings = lane.given(spec.get("settings", {"SURL": "{host}"}))
        machine.import_settings({k: lane.fill(v) for k, v in settings.items()}, lane.case_dir)
    rig.reset()
    for part in spec.get("serve", ()):
        part(lane)

    timeout, trigger = spec.get("timeout", 240), spec.get("trigger")
    output_file, tool_file = (
        os.path.join(lane.case_dir, n) for n in ("program-output.txt", "mvsendmsg-output.txt")
    )
    facts = {"fired_at": None, "fired_time": None, "peak_kb": 0, "tool": None}

    def watch(process):
        if spec.get("messages"):
            wait = ["--wait-file", TRIGGER, "--wait-ms", str(timeout * 1000)]
            facts["tool"] = machine.start_program(lane.sendmsg, wait + spec["messages"], tool_file)
        ends = time.monotonic() + timeout
        while process.poll() is None and time.monotonic() < ends:
            # The loader runs the program in the process it was started as.
            status = Machine.read("/proc/%d/status" % process.pid) or b""
            facts["peak_kb"] = max(
                [facts["peak_kb"]] + [int(n) for n in re.findall(rb"VmHWM:\s*(\d+)", status)]
            )
            waiting = trigger is not None and facts["fired_at"] is None
            path = [0] + machine.status_path() if waiting else []
            if waiting and len(path) >= len(trigger):
                pathlib.Path(trigger_file).write_text("go\n")
                facts["fired_at"], facts["fired_time"] = path, time.monotonic()
            time.sleep(0.02)

    watched = trigger or spec.get("messages") or spec.get("memory")
    # Through the launcher: it hands the program a handle to inherit, and a PATH of its own.
    launcher = {"launcher": [lane.sendmsg, "--launch"] + spec["launch"]} if "launch" in spec else {}
    code, seconds, by_itself = machine.run_updater(
        spec.get("args", ()),
        watch if watched else None,
        output_file,
        spec["cwd"](lane) if "cwd" in spec else None,
        timeout,
        **launcher,
    )
    ended, tool = time.monotonic(), facts["tool"]
    try:
        tool_code = tool and tool.wait(timeout=60)
    except subprocess.TimeoutExpired:
        machine.end_all()
        tool_code = tool.wait(timeout=30)
    # Only now, with the program gone, are held answers let go (for the next row's sake).
    rig.control("/release", "")
    quiet = machine.wait_quiet(120)
    if not quiet:  # nothing of this run may write into the next one's files
        machine.end_all()

    out = Outcome(name)
    out.facts = dict(
        exit=code,
        seconds=round(seconds, 1),
        peak_kb=facts["peak_kb"],
        path=[0] + machine.status_path(),
        after_trigger=round(ended - facts["fired_time"], 1)
        if facts["fired_time"] is not None
        else None,
        requests=rig.requests(),
        launches=machine.launches(),
        tool_code=tool_code,
        crash=crash_signs(Machine.read(output_file).decode("utf-8", "replace")),
        tool_output=tool and Machine.read(tool_file).decode("utf-8", "replace").strip(),
        launch_log=machine.records("launches"),
        **{
            source: machine.records(source)
            for source in ("trace", "modules", "library", "library_log")
        },
    )
    out.facts["errors"] = [r.get("error", "") for r in out.facts["requests"]]
    out.check("run ended by itself", by_itself, "still running after %d s" % timeout)
    out.check("machine quiet afterwards", quiet, "programs still running 120 s after the run")
    out.expect_equal("exit code", 0, code)
    out.expect_equal("no crash report", [], out.facts["crash"])
    if spec.get("messages"):
        out.expect_equal("mvsendmsg's exit code", 0, tool_code)
    if trigger is not None:
        out.expect_equal("messages sent in the wanted status", trigger, facts["fired_at"])
    return out


def found(lines, wanted, lane):
    """Whether lines hold wanted: a text (names filled in), a pattern, a tuple (any) or a list (all, in order)."""
    at = 0
    for item in wanted if isinstance(wanted, list) else [wanted]:
        options = item if isinstance(item, tuple) else (item,)
        at = next(
            (
                i + 1
                for i in range(at, len(lines))
                for o in options
                if (o.search(lines[i]) if hasattr(o, "search") else lane.fill(o) in lines[i])
            ),
            None,
        )
        if at is None:
            return False
    return True


def check(out, lane, spec):
    """The checks every row makes, and those its spec names."""
    facts, machine, release = out.facts, lane.machine, lane.release
    path, lib, trace = facts["path"], facts["library"], facts["trace"]
    asked = [r.get("path", "") for r in facts["requests"] if r.get("method")]
    downloads = [c for c in lib if c.startswith("DlkStdDownload")]
    out.expect_equal("programs started", spec.get("launches", CONTROLLER), facts["launches"])
    out.check(
        "every request over TLS",
        all(r.get("listener") == "https" for r in facts["requests"] if r.get("method")),
        facts["requests"],
    )
    if spec["path"] is not None:  # None: a run without its trace libraries shows no path
        out.expect_equal("status path", spec["path"], path)
        if 2 not in path:
            out.check("no INI asked", FILES[0] not in asked, asked)
        if 4 not in path:
            out.expect_equal("no library download", [], downloads)
    # Without a temporary directory the check below would hold whatever the program did.
    out.check("the machine's temporary directories found", machine.temp_dirs(), "none")
    out.expect_equal(
        "the run's folder removed afterwards",
        [],
        [d for t in machine.temp_dirs() for d in os.listdir(t) if d.startswith("mvu-")],
    )
    if "asked" in spec:  # the version request first, the rest in any order
        want = [lane.fill(p) for p in spec["asked"]]
        out.expect_equal("requests", want[:1] + sorted(want[1:]), asked[:1] + sorted(asked[1:]))
    if "local" in spec:
        out.check(
            "every request to " + lane.fill(spec["local"]),
            asked and all(r.get("local") == lane.fill(spec["local"]) for r in facts["requests"]),
            facts["requests"],
        )
    # Texts that must be in the records (source: ...), or must not (no_source: ...).
    for source in ("trace", "modules", "library", "library_log", "launch_log", "errors"):
        lines = facts[source]
        for text in spec.get(source, ()):
            out.check(
                "%s: %s" % (source, getattr(text, "pattern", text)),
                found(lines, text, lane),
                lines[-8:],
            )
        if spec.get("no_" + source) and source in ("trace", "modules") and spec["path"] is not None:
            # A missing or empty record file would hold no secret either.
            out.check("%s records written" % source, lines, "none")
        for text in spec.get("no_" + source, ()):
            out.check(
                "not in %s: %s" % (source, getattr(text, "pattern", text)),
                not found(lines, text, lane),
                [t for t in lines if found([t], text, lane)][:3],
            )
    if "failed" in spec:  # the failure record with a nonzero code after it
        texts = [t for t in trace if spec["failed"] in t]
        codes = [t.split(spec["failed"], 1)[1].rstrip(".") for t in texts]
        out.check(
            "traced %s<failure code>" % spec["failed"],
            codes and all(c.lstrip("-").isdigit() and int(c) != 0 for c in codes),
            texts,
        )
    if "attempts" in spec:
        out.expect_equal("download attempts", spec["attempts"], len(downloads))
        if FILES[2] in asked:
            out.expect_equal(
                "data file fetched at each attempt", spec["attempts"], asked.count(FILES[2])
            )
    if "notified" in spec:
        out.expect_equal(
            "outcomes notified",
            spec["notified"],
            len([x for x in facts["library_log"] if "notify event=1 " in x]),
        )
    if "installed" in spec:
        want = {
            "release": (release.agent, release.data),
            "agent": (release.agent, None),
            "old": (release.old_agent, None),
        }[spec["installed"]]
        have = [
            machine.read(machine.program_path(p))
            for p in ("mvagtx.exe", os.path.join("data", "data.bin"))
        ]
        out.expect_equal(
            "agent and data file installed",
            [d and sha256(d) for d in want],
            [d and sha256(d) for d in have],
        )
        leftovers = [
            n
            for _r, _d, files in os.walk(machine.orvik())
            for n in files
            if n.endswith((".dlknew", ".dlkold"))
        ]
        out.expect_equal("nothing half-installed", [], leftovers)
    if "stored" in spec:
        stored, want = machine.read(machine.orvik("ieksdlk.received.ini")), spec["stored"](lane)
        out.check(
            "stored INI",
            stored == want,
            "%s bytes stored, %d expected" % (len(stored or b""), len(want)),
        )
    for name, value in spec.get("after", {}).items():
        out.expect_equal("%s afterwards" % name, lane.fill(value), machine.setting(name))
    if "within" in spec:
        what, bound = spec["within"]
        out.check(
            "%s within %d s" % (what, bound),
            facts[what] is not None and facts[what] <= bound,
            facts[what],
        )
    if "memory" in spec:
        out.facts["note"] = "peak RSS %d MB" % (facts["peak_kb"] // 1024)
        out.check(
            "memory stays low",
            0 < facts["peak_kb"] < spec["memory"] * 1024,
            "%d KB" % facts["peak_kb"],
        )
    for pattern in spec.get("no_files", ()):  # on the machine's drive C:
        out.expect_equal("no file " + pattern, [], glob.glob(os.path.join(machine.drive, pattern)))
    if "check" in spec:
        spec["check"](out, lane)


def run_case(lane, key):
    """Runs the row key on the lane: its Outcome."""
    _key, _seconds, name, spec = next(r for r in rows(True) if r[0] == key)
    if "special" in spec:
        return spec["special"](lane)
    out = run(lane, name, spec)
    check(out, lane, spec)
    return out


def crash_detector(lane):
    """A program that dies of a page fault must be seen, or the crash checks prove nothing."""
    out, started = Outcome("crash reports are seen (self-check)"), time.monotonic()
    output_file = os.path.join(lane.case_dir, "crash-output.txt")
    os.makedirs(lane.case_dir, exist_ok=True)
    code = lane.machine.start_program(lane.sendmsg, ["--page-fault"], output_file).wait(timeout=120)
    lane.machine.wait_quiet(120)
    out.facts = {"seconds": round(time.monotonic() - started, 1), "path": [], "exit": code}
    out.check(
        "crash reported",
        crash_signs(Machine.read(output_file).decode("utf-8", "replace")),
        "nothing recognised in the output",
    )
    out.check("nonzero exit code", code != 0, code)
    return out


def plant_libraries(lane):
    """The trace libraries moved from beside the program: ovktrace.dll to C:\\planted (the working
    directory the program inherits), KSTRAC32.DLL to C:\\onpath (first on its PATH); the import of
    a download library that needs one planted in both. The working directory is returned."""
    drive, machine = lane.machine.drive, lane.machine
    standins = lane.build.path("standins", "ieksdlk", "with-dependency")
    shutil.copyfile(os.path.join(standins, "ieksdlk.dll"), machine.orvik("ieksdlk.dll"))
    for folder, library in (("planted", "ovktrace.dll"), ("onpath", "KSTRAC32.DLL")):
        shutil.rmtree(os.path.join(drive, folder), ignore_errors=True)
        os.makedirs(os.path.join(drive, folder))
        shutil.copyfile(
            os.path.join(standins, "ieksdep.dll"), os.path.join(drive, folder, "ieksdep.dll")
        )
        os.replace(machine.program_path(library), os.path.join(drive, folder, library))
    return os.path.join(drive, "planted")


def plant_old_ini(lane):
    """Under the INI's old name in every temporary directory, a link to another INI: one that
    lists the installed agent only, so that a library given it would install nothing."""
    victim = os.path.join(lane.machine.drive, "victim.ini")
    pathlib.Path(victim).write_bytes(nothing_needed(lane))
    for temp in lane.machine.temp_dirs():
        pathlib.Path(temp, "dlk.php").unlink(missing_ok=True)
        os.symlink(victim, os.path.join(temp, "dlk.php"))


def old_ini_untouched(out, lane):
    links = [os.path.join(temp, "dlk.php") for temp in lane.machine.temp_dirs()]
    out.check("a temporary directory to plant in", links, "none found")
    out.expect_equal(
        "the links and their target untouched",
        [os.path.join(lane.machine.drive, "victim.ini")] * len(links) + [nothing_needed(lane)],
        [os.readlink(link) for link in links]
        + [Machine.read(os.path.join(lane.machine.drive, "victim.ini"))],
    )


UNICODE_TEMP = "Pr\u00fcfung-\u65e5\u672c\u8a9e-" + "\u20ac" * 60


def unicode_temp_emptied(out, lane):
    folders = [os.path.join(t, UNICODE_TEMP) for t in lane.machine.temp_dirs()]
    folders = [f for f in folders if os.path.isdir(f)]
    out.check("the non-ASCII temporary directory used", folders, "not found")
    out.expect_equal(
        "the run's folder removed from it",
        [],
        [d for f in folders for d in os.listdir(f) if d.startswith("mvu-")],
    )


# --- the table -------------------------------------------------------------------------------

# Serving that keeps a run in a status, and the road there.
HOLD_IN = {
    0: dict(serve=(changed(Status="FAILED"),)),
    1: dict(serve=(V(hold=1),)),
    2: dict(serve=(V(), I(hold=1))),
    3: dict(serve=FULL),
    4: dict(serve=FULL, fault="never-notify"),
}
ROAD_TO = {0: [0, 1, 0], 1: [0, 1], 2: [0, 1, 2], 3: [0, 1, 2, 3], 4: [0, 1, 2, 3, 4]}
NORMAL_LIB = [
    'DlkInitStdDownload urlRoot="https://{host}/rel" unpackVersion="7.2" extVersion="7.2" vendor="Orvik" build="319"',
    'DlkSetStdParameter name="DlkLocalSetting" value="OQ=="',
    'DlkSetStdParameter name="DlkProgressBarTitle" value="TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA=="',
    'DlkSetStdParameter name="DlkMovingInSubdir" value="Wanta"',
    re.compile(r"iniPath=\S*\\mvu-[0-9a-f]{16}\\+dlk\.php"),
]
# Unusable values read as absent: no language nor token sent, the default section, LANGUAGEID filled.
DEFAULTS_KEPT = dict(
    serve=LIGHT,
    path=SUCCESS,
    asked=["{v}", FILES[0]],
    after={"LANGUAGEID": "9"},
    library=[re.compile(r'^DlkStdDownload .*section="ZEInstall"')],
)


def rows(long_rows=False):
    """The rows: the normal runs (n-), then the faults, by the status they hit."""
    table = [
        (
            "n-success",
            45,
            "normal mode, full success",
            dict(
                serve=FULL,
                path=SUCCESS,
                asked=["{v}"] + FILES,
                installed="release",
                after={"LANGUAGEID": "9"},
                stored=lambda lane: as_stored(lane.release.ini()),
                library=NORMAL_LIB,
            ),
        ),
        (
            "n-missing",
            75,
            "normal mode, package missing four times",
            dict(
                serve=(V(), I(), F(body="<html>gone</html>", status=404)),
                path=ALL_FAILS,
                attempts=4,
                installed="old",
            ),
        ),
        (
            "n-intact",
            40,
            "check mode, agent intact; the library's import beside it",
            dict(
                args=("/check",),
                serve=LIGHT,
                # A library loaded by its path finds its own imports in its folder.
                prepare=lambda lane: [
                    shutil.copyfile(
                        lane.build.path("standins", "ieksdlk", "with-dependency", name),
                        lane.machine.orvik(name),
                    )
                    for name in ("ieksdlk.dll", "ieksdep.dll")
                ],
                path=SUCCESS,
                asked=["{v}", FILES[0]],
                library=[re.compile(r'^DlkStdGetSectionIntegrity2 .*fileName="mvagtx\.exe"')],
                launches=[("mvagtx.exe", "")],
            ),
        ),
        (
            "n-outdated",
            40,
            "check mode, agent outdated",
            dict(
                args=("/CHECK",),
                serve=FULL,
                path=SUCCESS,
                asked=["{v}"] + FILES[:2],
                installed="agent",
                launches=[("mvagtx.exe", "")],
            ),
        ),
        (
            "n-empty-body",
            45,
            "server answers: empty body",
            dict(serve=(V(""),), path=V_FAILS, asked=["{v}"]),
        ),
        (
            "n-surl-token",
            45,
            "SURL with scheme and /Orvik, scrambled token",
            dict(
                settings=lambda lane: {
                    "SURL": "https://{host}/Orvik",
                    "RTN": lane.scrambled(TOKEN),
                },
                serve=FULL,
                path=SUCCESS,
                asked=["{v}" + TOKEN] + FILES,
                after={"SURL": "{host}/Orvik", "LANGUAGEID": "9"},
                no_trace=[TOKEN],
                no_modules=[TOKEN],
            ),
        ),
        (
            "n-settings",
            45,
            "install section, trace level and language from the settings",
            dict(
                settings={
                    "SURL": "{host}",
                    "InstallSectionName": "Other",
                    "TraceLevel": "0",
                    "LANGUAGEID": "13",
                },
                serve=(
                    V(),
                    I(lambda lane: lane.release.ini().replace(b"[ZEInstall]", b"[Other]")),
                    F(),
                ),
                path=SUCCESS,
                asked=["{q}&LID=13&TK="] + FILES,
                after={"LANGUAGEID": "13"},
                installed="release",
                library=[
                    'DlkSetStdParameter name="DlkProgressBarTitle" value="SW5zdGFsYWNpw7NuIGRlIE1pcnJvcnZhbGU="',
                    re.compile(r'^DlkStdDownload .*section="Other"'),
                ],
                # Progress records (level -1) pass a threshold of 0, detail records (0) do not.
                trace=["normal download..."],
                no_trace=["The length of return value result"],
            ),
        ),
        ("self-crash", 5, "crash reports are seen (self-check)", dict(special=crash_detector)),
        # Status 1: the version check.
        (
            "v-refused",
            45,
            "version check: nothing listens",
            dict(settings={"SURL": "{dead}"}, path=V_FAILS, failed=V_FAILED, asked=[]),
        ),
        (
            "v-cut",
            45,
            "version check: connection cut mid-body",
            dict(
                serve=(V(lambda lane: version_answer(lane.host) + b" " * 4000, cut_after=200),),
                path=V_FAILS,
                failed=V_FAILED,
            ),
        ),
    ]
    table += [
        (
            "v-tls-" + mode,
            45,
            "version check: TLS handshake broken (%s)" % mode,
            dict(
                serve=LIGHT + (TLS(mode),),
                path=V_FAILS,
                failed=V_FAILED,
                asked=[],
                errors=["TLS fault: " + mode],
            ),
        )
        for mode in ("plain", "garbage", "close")
    ]
    for kind, key, relaxed in (("wrong", "wrongname", "1"), ("expired", "expired", ("dword", 1))):
        serve = (V(at=kind), I(nothing_needed))
        table += [
            (
                "v-" + key,
                45,
                "certificate: %s, refused" % kind,
                dict(
                    settings={"SURL": "{%s}" % kind},
                    serve=serve,
                    path=V_FAILS,
                    failed=V_FAILED,
                    asked=[],
                    modules=["server certificate refused"],
                ),
            ),
            # Without update keys TLS is all that tells the real server from any other.
            (
                "v-%s-relaxed-no-key" % key,
                40,
                "certificate: %s, MVRelaxedTls without an update key: ignored, refused" % kind,
                dict(
                    settings={"SURL": "{%s}" % kind, "MVRelaxedTls": relaxed},
                    serve=serve,
                    path=V_FAILS,
                    failed=V_FAILED,
                    asked=[],
                    modules=[
                        "MVRelaxedTls ignored: it needs MVUpdateKey",
                        "server certificate refused",
                    ],
                ),
            ),
        ]
    # Redirects: followed over TLS only, at most five times. One that leaves TLS is refused before
    # anything is sent (a plain request shows as a request not over TLS), its location traced with
    # the token masked; the run then ends as after any failed request.
    leaving = "http://{host}:443/update/%s/smt.php{query}&TK=%s" % (TOKEN, TOKEN)
    table += [
        (
            "v-redirect-http",
            45,
            "version check: redirected to plain HTTP on the TLS port",
            dict(
                settings=lambda lane: {"SURL": "{host}", "RTN": lane.scrambled(TOKEN)},
                serve=(moved(leaving, prefix="/update/"),),
                path=V_FAILS,
                asked=["{v}" + TOKEN],
                trace=[V_FAILED + "12040."],
                modules=[
                    "MVUrl redirect refused: it leaves TLS; location: "
                    + leaving.replace(TOKEN, "********")
                ],
                no_trace=[TOKEN],
                no_modules=[TOKEN],
            ),
        ),
        (
            "i-redirect-http",
            45,
            "INI download: redirected to plain HTTP",
            dict(
                serve=(V(), moved("http://{host}/dl/dlk.php", path=FILES[0])),
                path=I_FAILS,
                asked=["{v}", FILES[0]],
                trace=[I_FAILED + "12040."],
                modules=[
                    "MVUrl redirect refused: it leaves TLS; location: http://{host}/dl/dlk.php"
                ],
            ),
        ),
        (
            "v-redirect-https",
            45,
            "version check: redirected to HTTPS on another host",
            dict(
                serve=(
                    moved("https://{mirror}/mirror/smt.php{query}&TK=", prefix="/update/"),
                    V(at="mirror", root="host"),
                    I(nothing_needed),
                ),
                path=SUCCESS,
                asked=["{v}", "/mirror/smt.php{query}&TK=", FILES[0]],
                modules=["MVUrl redirected to https://{mirror}/mirror/smt.php{query}&TK=********"],
            ),
        ),
        # The stored server credentials are the configured server's: a host a redirect leads to
        # gets none when it asks.
        (
            "v-redirect-401",
            45,
            "version check: redirected to another host that asks for credentials",
            dict(
                settings=lambda lane: {
                    "SURL": "{host}",
                    "ServerAuthUserName": "server-user",
                    "ServerAuthPassword": lane.scrambled(SERVER_PASSWORD),
                },
                serve=(
                    moved("https://{mirror}/mirror/smt.php{query}&TK=", prefix="/update/"),
                    V(at="mirror", root="host", auth="server-user:" + SERVER_PASSWORD),
                ),
                path=V_FAILS,
                asked=["{v}", "/mirror/smt.php{query}&TK="],
                trace=[V_FAILED + "401."],
                check=lambda out, lane: out.check(
                    "no credentials sent",
                    "header: Authorization:" not in lane.rig.control("/requests"),
                    "an Authorization header reached the server",
                ),
            ),
        ),
        (
            "v-redirect-loop",
            45,
            "version check: redirected back to itself for good",
            dict(
                serve=(moved("{v}", prefix="/update/"),),
                path=V_FAILS,
                asked=["{v}"] * 6,
                trace=[V_FAILED + "12156."],
                modules=["MVUrl redirect refused: more than 5 redirects"],
            ),
        ),
    ]
    table += (
        [
            (
                key,
                50,
                "version answer: " + what,
                dict(
                    serve=(V(b"", **lines),),
                    path=V_FAILS,
                    trace=[V_FAILED + "223."],
                    modules=["MVUrl answer body passes its limit of 1048576 bytes"],
                    memory=160,
                ),
            )
            for key, what, lines in (
                ("v-300mb", "300 MB announced", dict(body_size=300 * 1024 * 1024)),
                ("v-endless", "endless, no length", dict(body_size=10**12, no_length=1)),
                (
                    "v-limit-plus-1",
                    "1 MiB and 1 byte, no length",
                    dict(body_size=2**20 + 1, no_length=1),
                ),
            )
        ]
        + [
            # Longer than any answer the program uses, well inside the module's limit: refused at
            # once, not by the wait for an answer.
            (
                "v-200k",
                50,
                "version answer: 200 KB",
                dict(
                    serve=(V(b"", body_size=200 * 1024),),
                    path=V_FAILS,
                    trace=["OnUrlReturn: an answer of 204800 bytes is refused (at most 102399)."],
                    no_trace=["Getting downloading info time out."],
                ),
            ),
            # Exactly at the limit the body arrives whole; the program then finds it too long to use.
            (
                "v-limit",
                75,
                "version answer: 1 MiB exactly",
                dict(
                    serve=(V(b"", body_size=2**20),),
                    path=V_FAILS,
                    trace=["OnUrlReturn: an answer of 1048576 bytes is refused (at most 102399)."],
                    no_trace=["Getting downloading info time out."],
                    no_modules=["passes its limit"],
                ),
            ),
        ]
        + [
            # Secrets are masked by their values, wherever a text brings them back.
            (
                "v-token-echo-accepted",
                45,
                "accepted answer echoing the token HTML-escaped and bare",
                dict(
                    settings=lambda lane: {"SURL": "{host}", "RTN": lane.scrambled(ECHOED_TOKEN)},
                    serve=(
                        changed(
                            Echo="https://{host}/update/smt.php?LID=9&amp;TK=%s" % ECHOED_TOKEN,
                            Note="TK=%s" % ECHOED_TOKEN,
                        ),
                        I(),
                        F(),
                    ),
                    path=SUCCESS,
                    installed="release",
                    trace=["<Note>TK=********</Note>"],
                    no_trace=[ECHOED_TOKEN],
                    no_modules=[ECHOED_TOKEN],
                ),
            ),
            (
                "v-password-echo",
                75,
                "error page echoing the token and the stored passwords",
                dict(
                    settings=lambda lane: {
                        "SURL": "{host}",
                        "RTN": lane.scrambled("s3cr&t0k3n"),
                        "ProxyUserName": "proxy-user",
                        "ProxyPassword": lane.scrambled(PROXY_PASSWORD),
                        "ServerAuthUserName": "server-user",
                        "ServerAuthPassword": lane.scrambled(SERVER_PASSWORD),
                    },
                    # A page that is no answer: the check waits out its time.
                    serve=(
                        V(
                            lambda lane: "<html><body>Denied: %s / %s<br>\r\nNot found: %s%s\r\n"
                            % (PROXY_PASSWORD, SERVER_PASSWORD, lane.names["v"], "s3cr&t0k3n"),
                            status=404,
                        ),
                    ),
                    path=V_FAILS,
                    asked=["{v}s3cr&t0k3n"],
                    trace=[
                        "Denied: ******** / ********",
                        "Not found: ",
                        "Getting downloading info time out.",
                    ],
                    no_trace=["s3cr&t0k3n", PROXY_PASSWORD, SERVER_PASSWORD],
                    no_modules=["s3cr&t0k3n", PROXY_PASSWORD, SERVER_PASSWORD],
                ),
            ),
            # The program looks for libraries nowhere but in its own folder and the system's (a
            # library's own imports also beside it): planted copies are never loaded.
            (
                "planted-trace",
                40,
                "trace libraries and a download library's import planted (working directory, PATH)",
                dict(
                    serve=LIGHT,
                    path=None,
                    asked=["{v}", FILES[0]],
                    cwd=plant_libraries,
                    launch=["--path", "C:\\onpath"],
                    no_files=["planted/*.log", "onpath/*.log"],
                    no_library=[re.compile("^Dlk")],
                ),
            ),
            # The INI goes into a folder of a random name made for the run: a link planted at its
            # old place is neither written through nor read.
            (
                "planted-ini",
                40,
                "link planted at the INI's old place in the temporary directory",
                dict(
                    serve=FULL,
                    path=SUCCESS,
                    installed="release",
                    prepare=plant_old_ini,
                    library=[
                        re.compile(r"(?i)^DlkStdDownload .*\\temp\\mvu-[0-9a-f]{16}\\dlk\.php")
                    ],
                    check=old_ini_untouched,
                ),
            ),
        ]
    )
    for step, status, header in (("v", 407, "Proxy-Authenticate"), ("i", 401, "WWW-Authenticate")):
        asks = dict(
            body="<html>credentials</html>", status=status, header=header + ': Basic realm="mv"'
        )
        failed = V_FAILED if step == "v" else I_FAILED
        table.append(
            (
                "%s-%d" % (step, status),
                45,
                "%s: %d" % ("version check" if step == "v" else "INI download", status),
                dict(
                    serve=(V(**asks),) if step == "v" else (V(), I(**asks)),
                    path=V_FAILS if step == "v" else I_FAILS,
                    failed=failed,
                    trace=[failed + "%d." % status],
                ),
            )
        )
    # Any other status (404, 500: alike) brings its page as the answer.
    ini_page = b"<html><body><h1>500</h1></body></html>\r\n"
    table += [
        (
            "i-500-page",
            50,
            "INI download: 500 with a page: stored, refused by the library",
            dict(
                serve=(V(), I(ini_page, status=500), F()),
                path=ALL_FAILS,
                attempts=4,
                stored=lambda lane: as_stored(ini_page),
            ),
        ),
    ]
    table += [
        (
            "v-hold",
            75,
            "version check: no answer, held for good",
            dict(
                HOLD_IN[1],
                path=V_FAILS,
                trace=[(V_FAILED, "Getting downloading info time out.")],
                within=("seconds", RUN_BOUND),
            ),
        ),
        # Status 2: the INI download.
        (
            "i-refused",
            45,
            "INI download: nothing listens",
            dict(serve=(V(root="dead"),), path=I_FAILS, failed=I_FAILED),
        ),
        (
            "i-cut",
            45,
            "INI download: connection cut mid-body",
            dict(
                serve=(V(), I(lambda lane: lane.release.ini() + b";" * 8000, cut_after=300)),
                path=I_FAILS,
                failed=I_FAILED,
            ),
        ),
        # The version answer closes its connection, so the INI request needs a handshake of its own.
        (
            "i-tls-garbage",
            45,
            "INI download: TLS handshake broken (garbage byte)",
            dict(
                serve=(V(close=1), TLS("garbage", skip=1)),
                path=I_FAILS,
                failed=I_FAILED,
                asked=["{v}"],
                errors=["TLS fault: garbage"],
            ),
        ),
        (
            "i-hold",
            75,
            "INI download: no answer, held for good",
            dict(
                HOLD_IN[2],
                path=I_FAILS,
                trace=[(I_FAILED, "Getting dlk ini file time out.")],
                within=("seconds", RUN_BOUND),
            ),
        ),
        (
            "i-empty",
            45,
            "INI download: INI of 0 bytes",
            dict(serve=(V(), I("")), path=I_FAILS, trace=[I_FAILED + "0."]),
        ),
        # Status 4: the download library.
        (
            "d-cut",
            50,
            "package download: connection cut mid-body",
            dict(serve=(V(), I(), F(cut_after=1000)), path=ALL_FAILS, attempts=4, installed="old"),
        ),
        (
            "d-twice",
            40,
            "library notifies twice: success",
            dict(serve=FULL, fault="notify-twice", path=SUCCESS, installed="release", notified=2),
        ),
        (
            "d-twice-fail",
            50,
            "library notifies each failure twice",
            dict(
                serve=(V(), I(), F(body="<html>gone</html>", status=404)),
                fault="notify-twice",
                path=ALL_FAILS,
                attempts=4,
                notified=8,
            ),
        ),
        # A temporary directory whose name needs more bytes in UTF-8 than characters: the INI's
        # path reaches the library whole, and the run's folder goes afterwards.
        (
            "i-temp-unicode",
            45,
            "temporary directory with non-ASCII characters",
            dict(
                serve=FULL,
                launch=["--temp-sub", UNICODE_TEMP],
                path=SUCCESS,
                installed="release",
                library=[
                    re.compile(r"iniPath=\S*\\%s\\mvu-[0-9a-f]{16}\\+dlk\.php" % UNICODE_TEMP)
                ],
                check=unicode_temp_emptied,
            ),
        ),
        # The first attempt's thread reports its failure again once the second has started: only
        # the second attempt's own outcome may decide.
        (
            "d-stale",
            45,
            "library repeats a failed attempt's outcome during the retry",
            dict(
                serve=FULL,
                fault="notify-stale",
                path=[0, 1, 2, 3, 4, 6, 3, 4, 5, 8, 0],
                installed="release",
                library=[
                    re.compile(r"^DlkStdDownload .* userData=1$"),
                    re.compile(r"^DlkStdDownload .* userData=2$"),
                ],
                library_log=["fault notify-stale: the outcome once more"],
                trace=["OnDlkStdDownloadNotify: notification of attempt 1 ignored in attempt 2."],
            ),
        ),
        # The library holds its outcome until the program ends it, then notifies from its thread
        # while the program is inside DlkExitStdDownload: that must change nothing.
        (
            "d-late",
            40,
            "library notifies late, during its exit",
            dict(
                serve=FULL,
                fault="notify-late",
                trigger=ROAD_TO[4],
                messages=[QUERY_END],
                path=[0, 1, 2, 3, 4, 8, 0],
                library_log=["late notify after exit began: event=1"],
                no_trace=["DLKAPI DlkStdDownloadNotify: Meeting download succeed."],
            ),
        ),
    ]
    # Messages to the hidden window: the close command traced, then status 8.
    for status in (0, 1, 2, 3, 4):
        table.append(
            (
                "qes-%d" % status,
                45,
                "WM_QUERYENDSESSION in status %d%s"
                % (status, " (library never notifies)" if status == 4 else ""),
                dict(
                    HOLD_IN[status],
                    trigger=ROAD_TO[status],
                    messages=[QUERY_END],
                    path=ROAD_TO[status] + [8, 0],
                    library=["DlkExitStdDownload"],
                    trace=[["Command : ID_MENU_CLOSE.", "Change AgtApp status to 8."]],
                ),
            )
        )
    # The end of the session (any request held for good): cleaned up, the library stopped, exit
    # within 10 s of the message, nothing started.
    for key, status, wparam, fault in (
        ("es-0", 0, 1, None),
        ("es-1", 1, 1, None),
        ("es-2", 2, 1, None),
        ("es-3", 3, 1, None),
        ("es-4", 4, 1, None),
        ("es-4-progress", 4, 1, "notify-progress"),
    ):
        table.append(
            (
                key,
                45,
                "WM_ENDSESSION (wParam %d) in status %d%s"
                % (wparam, status, " (library notifying progress)" if fault else ""),
                dict(
                    HOLD_IN[status],
                    fault=fault or HOLD_IN[status].get("fault"),
                    trigger=ROAD_TO[status],
                    messages=["endsession:%d:0" % wparam],
                    path=ROAD_TO[status] + [0],
                    launches=[],
                    library=["DlkExitStdDownload"],
                    within=("after_trigger", 10),
                    library_log=["fault notify-progress: stopped by the exit"] if fault else [],
                ),
            )
        )
    # A shutdown cancelled after its query (WM_ENDSESSION with wParam FALSE): the session goes
    # on, so the run ends as the query asked, with its teardown and the controller's launch.
    for status in (0, 1, 2, 3, 4):
        table.append(
            (
                "es-cancelled-%d" % status,
                45,
                "WM_QUERYENDSESSION, then WM_ENDSESSION (wParam 0) in status %d" % status,
                dict(
                    HOLD_IN[status],
                    trigger=ROAD_TO[status],
                    messages=[QUERY_END, "endsession:0:0"],
                    path=ROAD_TO[status] + [8, 0],
                    library=["DlkExitStdDownload"],
                    within=("after_trigger", 10),
                ),
            )
        )
    table += [
        # No download library: every attempt fails at once, no wait for a notification.
        (
            "d-no-library",
            60,
            "no download library",
            dict(
                serve=FULL,
                prepare=lambda lane: os.remove(lane.machine.orvik("ieksdlk.dll")),
                path=ALL_FAILS,
                within=("seconds", RUN_BOUND),
            ),
        ),
        # A library that refuses every download at once: four quick attempts, no time-out.
        (
            "d-refused",
            55,
            "library refuses every download",
            dict(
                serve=FULL,
                fault="refuse-start",
                path=ALL_FAILS,
                attempts=4,
                installed="old",
                trace=["DlkStdDownload refused the download: -3"],
                within=("seconds", RUN_BOUND),
            ),
        ),
        (
            "logoff-3",
            40,
            "log-off query and end in status 3: ignored",
            dict(
                serve=FULL,
                trigger=ROAD_TO[3],
                messages=["queryendsession:0:%#x" % LOGOFF, "endsession:1:%#x" % LOGOFF],
                path=SUCCESS,
                no_trace=["Command : ID_MENU_CLOSE."],
            ),
        ),
        # Settings in the registry: an SURL that is no text reads as none; the configuration
        # program, started then, gets none of the handles the program was given to inherit.
        (
            "r-surl-dword",
            40,
            "SURL as REG_DWORD",
            dict(
                settings={"SURL": ("dword", 5)},
                path=[0, 8, 0],
                asked=[],
                launches=[("mvcfg.exe", "")] + CONTROLLER,
                launch=[],
                launch_log=[re.compile(r'^mvcfg\.exe .* probe="not inherited"$')],
            ),
        ),
    ] + [
        (
            "r-surl-scheme",
            45,
            "SURL of nothing but https://",
            dict(settings={"SURL": "https://"}, path=V_FAILS, failed=V_FAILED, after={"SURL": ""}),
        ),
        (
            "r-odd-values",
            40,
            "values too long or of the wrong type read as absent",
            dict(
                DEFAULTS_KEPT,
                settings={
                    "SURL": "{host}",
                    "RTN": "0000" + "41" * 4998,
                    "InstallSectionName": "S" * 300,
                    "LANGUAGEID": ("dword", 13),
                    "SystemTrayIcon": ("multi_sz", ["1"]),
                },
            ),
        ),
        # A number where the proxy's name should be names no proxy that works.
        (
            "r-proxy",
            45,
            "proxy server stored as a number",
            dict(
                settings={
                    "SURL": "{host}",
                    "MVProxyEnable": ("dword", 1),
                    "MVProxyServer": ("dword", 0x31),
                },
                serve=LIGHT,
                path=V_FAILS,
                failed=V_FAILED,
            ),
        ),
    ]
    table += signed_answer_rows()
    table += rollout_rows()
    table += library_value_rows()
    if long_rows:
        # The library keeps its outcome until the program ends it: the download's own 600 s
        # time-out ends the run, and the late notification comes in status 8.
        table.append(
            (
                "d-silent-600s",
                700,
                "library silent for the whole 600 s time-out",
                dict(
                    serve=FULL,
                    fault="notify-late",
                    timeout=900,
                    path=[0, 1, 2, 3, 4, 0, 8, 0],
                    trace=["Downlaoding/Version-Checking time out."],
                    no_trace=["DLKAPI DlkStdDownloadNotify: Meeting download succeed."],
                ),
            )
        )
    return table


# --- signed answers: a release published with the operator's kit and served by nginx ------------

REFUSED = "Update answer refused: "
NO_LIBRARY = ["DlkInitStdDownload", "DlkSetStdParameter", "DlkStdDownload "]


def signed_run(key, name, spec):
    """Publishes as spec says (publish: key and mvpublish options; alter: a change to the site),
    serves it with nginx and runs the row against it; settings take {key_a} and {key_b}."""

    def special(lane):
        site = lane.signed_site = getattr(lane, "signed_site", None) or SignedSite(lane)
        lane.names.update(key_a=site.keys["a"][1], key_b=site.keys["b"][1])
        site.publish(*spec.get("publish", ("a",)), port=spec.get("port"), alias=spec.get("server"))
        spec.get("alter", lambda site: None)(site)
        site.start()
        try:
            settings = {"SURL": "{signed}", **lane.given(spec["settings"])}
            out = run(lane, name, dict(spec, settings=settings))
        finally:
            site.stop()
        check(out, lane, spec)
        asked = site.asked()
        out.expect_equal("files nginx was asked for", spec["served"], asked)
        return out

    return (key, 50, name, dict(special=special))


def edit_site(relative, old, new):
    def alter(site):
        path = site.path(relative)
        data = pathlib.Path(path).read_bytes()
        assert old in data, (old, relative)
        pathlib.Path(path).write_bytes(data.replace(old, new, 1))

    return alter


def resign(pattern, replacement):
    """The site's answer with the envelope's text changed and signed again."""
    return lambda site: site.resign(lambda e: re.sub(pattern, replacement, e))


def stored_serial(offset):
    """Settings with key a and the highest admitted serial the site's serial plus offset."""
    return lambda lane: {
        "MVUpdateKey": "{key_a}",
        "MVLastSerial": str(lane.signed_site.serial() + offset),
    }


def far_expiry(envelope):
    far = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + 500 * 86400))
    return re.sub(
        rb"<MVExpires>.*?</MVExpires>", b"<MVExpires>%s</MVExpires>" % far.encode(), envelope
    )


def signed_answer_rows():
    answer, ini = "/signed/smt.php", "/rel/dlk.php"
    files = [answer, ini, "/rel/agent/%s/mvagtx.exe" % RELEASE, "/rel/data/data.bin"]
    accepted = dict(path=SUCCESS, served=files, installed="release", after={"LANGUAGEID": "9"})
    # Refused: nothing written, nothing given to the library, the reason traced, controller started.
    refused = dict(path=V_FAILS, served=[answer], after={"LANGUAGEID": None}, no_library=NO_LIBRARY)
    return [
        signed_run(key, what, dict(base, **spec))
        for key, what, base, spec in (
            (
                "s-signed",
                "signed answer, its key set: accepted",
                accepted,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    trace=["Update answer signature verified with key 1."],
                ),
            ),
            (
                "s-second-key",
                "signed by the second of two keys: accepted",
                accepted,
                dict(
                    settings={"MVUpdateKey": " {key_b} ; {key_a}"},
                    trace=["Update answer signature verified with key 2."],
                ),
            ),
            (
                "s-no-key",
                "signed answer, no key set: accepted as before",
                accepted,
                dict(
                    settings={},
                    trace=["Update answers are not signature-checked (no MVUpdateKey)."],
                    no_trace=["Update answer refused", "Update answer signature"],
                ),
            ),
            (
                "s-wrong-key",
                "signed with another key: refused",
                refused,
                dict(
                    settings=lambda lane: {"MVUpdateKey": "{key_b}", "RTN": lane.scrambled(TOKEN)},
                    trace=[REFUSED + "signature invalid."],
                    no_trace=[TOKEN],
                    no_modules=[TOKEN],
                ),
            ),
            (
                "s-no-digest",
                "signed answer without the INI's digest: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(rb"\s*<DlkIniSha256>.*?</DlkIniSha256>", b""),
                    trace=[REFUSED + "INI digest missing."],
                ),
            ),
            (
                "s-unsigned",
                "signature missing: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=edit_site(answer, b"<MVSignature>", b"<MVSignatur>"),
                    trace=[REFUSED + "signature missing."],
                ),
            ),
            (
                "s-expired",
                "answer expired: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(
                        rb"<MVExpires>.*?</MVExpires>",
                        b"<MVExpires>2001-01-01T00:00:00Z</MVExpires>",
                    ),
                    trace=[REFUSED + "answer expired."],
                ),
            ),
            (
                "s-envelope",
                "a byte of the envelope changed: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=edit_site(answer, b"<LID>9</LID>", b"<LID>7</LID>"),
                    trace=[REFUSED + "signature invalid."],
                ),
            ),
            (
                "s-key-junk",
                "MVUpdateKey holding no usable key: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "not;a key"}, trace=[REFUSED + "update key unusable."]
                ),
            ),
            (
                "s-serial-older",
                "serial below the highest admitted: refused",
                refused,
                dict(
                    settings=stored_serial(1),
                    trace=[re.compile(re.escape(REFUSED) + r"older than serial \d+\.")],
                    check=lambda out, lane: out.expect_equal(
                        "MVLastSerial kept",
                        str(lane.signed_site.serial() + 1),
                        lane.machine.setting("MVLastSerial"),
                    ),
                ),
            ),
            (
                "s-serial-equal",
                "serial equal to the highest admitted (the same release again): accepted",
                accepted,
                dict(settings=stored_serial(0), trace=["Update answer signature verified"]),
            ),
            (
                "s-serial-higher",
                "serial above the highest admitted: accepted and stored",
                accepted,
                dict(
                    settings=stored_serial(-5),
                    check=lambda out, lane: out.expect_equal(
                        "MVLastSerial raised",
                        str(lane.signed_site.serial()),
                        lane.machine.setting("MVLastSerial"),
                    ),
                ),
            ),
            (
                "s-serial-missing",
                "signed answer without a serial: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(rb"\s*<MVSerial>.*?</MVSerial>", b""),
                    trace=[REFUSED + "serial missing."],
                    after={"LANGUAGEID": None, "MVLastSerial": None},
                ),
            ),
            (
                "s-no-expiry",
                "signed answer without an expiry: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(rb"\s*<MVExpires>.*?</MVExpires>", b""),
                    trace=[REFUSED + "answer expired."],
                ),
            ),
            (
                "s-expiry-far",
                "expiry more than 400 days ahead: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=lambda site: site.resign(far_expiry),
                    trace=[REFUSED + "expiry too far ahead."],
                ),
            ),
            (
                "s-other-server",
                "an answer the same key signed for another server: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(
                        rb"<MVServer>[^<]*</MVServer>",
                        b"<MVServer>beta.mvtest.invalid/beta</MVServer>",
                    ),
                    trace=[REFUSED + "answer for another server."],
                ),
            ),
            (
                "s-http-root",
                "signed URL root of plain HTTP: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=resign(rb"<DlkUrlRoot>https://", b"<DlkUrlRoot>http://"),
                    trace=[REFUSED + "URL root not over TLS."],
                ),
            ),
            (
                "s-claims-verified",
                "a refused answer carrying the acceptance text: never traced",
                refused,
                dict(
                    settings={"MVUpdateKey": "{key_b}"},
                    alter=edit_site(
                        answer,
                        b"<MVSignature>",
                        b"Update answer signature verified with key 1.\n<MVSignature>",
                    ),
                    trace=[REFUSED + "signature invalid."],
                    no_trace=["verified with key"],
                ),
            ),
            (
                "s-key-empty",
                "MVUpdateKey present but empty: refused",
                refused,
                dict(settings={"MVUpdateKey": ""}, trace=[REFUSED + "update key unusable."]),
            ),
            (
                "s-key-dword",
                "MVUpdateKey of another type: refused",
                refused,
                dict(
                    settings={"MVUpdateKey": ("dword", 1)}, trace=[REFUSED + "update key unusable."]
                ),
            ),
            (
                "s-relaxed",
                "certificate for another name, MVRelaxedTls with an update key: accepted",
                accepted,
                dict(
                    server="alias",
                    settings={
                        "SURL": "{signed_alias}",
                        "MVUpdateKey": "{key_a}",
                        "MVRelaxedTls": "1",
                    },
                    trace=["Update answer signature verified with key 1."],
                    modules=["MVUrl certificate name and date checks relaxed by MVRelaxedTls"],
                    served=["/alias/smt.php", ini, FILES[1], FILES[2]],
                ),
            ),
            (
                "s-port",
                "SURL with a port: the connection goes there, the answer names it",
                accepted,
                dict(
                    port=8443,
                    settings={"SURL": "{signed}:8443", "MVUpdateKey": "{key_a}"},
                    trace=["Update answer signature verified with key 1."],
                    modules=[re.compile(r"server \S+:8443")],
                ),
            ),
            (
                "s-ini-rewritten",
                "the stored INI rewritten by another program after its writing: refused",
                accepted,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    trigger=[0, 1, 2, 3],
                    messages=["rewriteini"],
                    check=lambda out, lane: out.check(
                        "the stored INI could not be changed or deleted",
                        re.search(r"rewrite dlk.php: refused", out.facts["tool_output"] or "")
                        and re.search(r"delete dlk.php: refused", out.facts["tool_output"] or ""),
                        out.facts["tool_output"],
                    ),
                ),
            ),
            (
                "s-ini-changed",
                "INI changed after signing: refused",
                accepted,
                dict(
                    settings={"MVUpdateKey": "{key_a}"},
                    alter=edit_site(ini, b"[ZEInstall]", b"[ZEInstall]\r\n; changed"),
                    path=I_FAILS,
                    served=[answer, ini],
                    installed="old",
                    no_library=NO_LIBRARY,
                    trace=[REFUSED + "INI digest mismatch.", I_FAILED + "0."],
                ),
            ),
        )
    ]


# --- staged rollouts: releases offered to a share of the machines, by their buckets --------------

OFFERED, NOT_OFFERED = (
    "Update offered to this machine: ",
    "Update not offered to this machine yet: ",
)
INTACT_CHECK = "DlkStdGetSectionIntegrity2"


def rollout_answer():
    answer, ini = "/signed/smt.php", "/rel/dlk.php"
    return answer, [answer, ini, FILES[1], FILES[2]]


def serial_raised(out, lane):
    """An answer for others is still admitted: a lower serial stays refused afterwards."""
    out.expect_equal(
        "MVLastSerial raised", str(lane.signed_site.serial()), lane.machine.setting("MVLastSerial")
    )


def drawn_bucket_run(key, name):
    """No bucket stored: the first run draws one and stores it, the second finds it and decides the
    same; at 50 % the decision is whichever the drawn bucket gives."""
    answer, files = rollout_answer()

    def special(lane):
        site = lane.signed_site = getattr(lane, "signed_site", None) or SignedSite(lane)
        lane.names.update(key_a=site.keys["a"][1], key_b=site.keys["b"][1])
        site.publish("a", "--rollout", "50")
        site.start()
        try:
            settings = {"SURL": "{signed}", "MVUpdateKey": "{key_a}"}
            first = run(lane, name, dict(settings=settings))
            bucket = lane.machine.setting("MVRolloutBucket")
            second = run(lane, name, dict(keep_settings=True))
        finally:
            site.stop()
        first.check("a bucket stored", bucket and bucket.isdigit() and int(bucket) < 10000, bucket)
        if not (bucket and bucket.isdigit()):
            return first
        taken = int(bucket) < 5000
        decision = "%srollout 50 %%, bucket %s." % (OFFERED if taken else NOT_OFFERED, bucket)
        spec = dict(
            path=SUCCESS if taken else V_FAILS,
            installed="release" if taken else "old",
            no_library=[] if taken else NO_LIBRARY,
        )
        check(first, lane, dict(spec, trace=["MVRolloutBucket drawn: %s." % bucket, decision]))
        check(
            second,
            lane,
            dict(
                spec,
                trace=[decision],
                no_trace=["MVRolloutBucket"],
                after={"MVRolloutBucket": bucket},
            ),
        )
        first.checks += [("second run: " + what, ok, detail) for what, ok, detail in second.checks]
        first.expect_equal(
            "files nginx was asked for", (files if taken else [answer]) * 2, site.asked()
        )
        first.facts["note"] = "bucket %s: %s" % (bucket, "in" if taken else "out")
        return first

    return (key, 100, name, dict(special=special))


def rollout_rows():
    answer, files = rollout_answer()
    taken = dict(path=SUCCESS, served=files, installed="release", after={"LANGUAGEID": "9"})
    # Not for this machine: the answer admitted, nothing of it used, the controller started.
    passed_over = dict(
        path=V_FAILS,
        served=[answer],
        installed="old",
        no_library=NO_LIBRARY + [INTACT_CHECK],
        after={"LANGUAGEID": None, "MVRolloutBucket": "4711"},
        check=serial_raised,
    )
    refused = dict(
        path=V_FAILS,
        served=[answer],
        installed="old",
        no_library=NO_LIBRARY,
        after={"LANGUAGEID": None, "MVLastSerial": None, "MVRolloutBucket": "4711"},
    )
    keyed = {"MVUpdateKey": "{key_a}", "MVRolloutBucket": "4711"}

    def at(share):
        return ("a", "--rollout", share)

    return [
        signed_run(key, what, dict(base, **spec))
        for key, what, base, spec in (
            (
                "o-out",
                "bucket 4711 at 47.11 %: not offered",
                passed_over,
                dict(
                    publish=at("47.11"),
                    settings=keyed,
                    trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
                    no_trace=["MVRolloutBucket", OFFERED],
                ),
            ),
            (
                "o-in",
                "bucket 4711 at 47.12 %: installed",
                taken,
                dict(
                    publish=at("47.12"),
                    settings=keyed,
                    trace=[OFFERED + "rollout 47.12 %, bucket 4711."],
                    no_trace=["MVRolloutBucket", NOT_OFFERED],
                    after={"LANGUAGEID": "9", "MVRolloutBucket": "4711"},
                ),
            ),
            (
                "o-halted",
                "bucket 4711 at 0 %: not offered",
                passed_over,
                dict(
                    publish=at("0"),
                    settings=keyed,
                    trace=[NOT_OFFERED + "rollout 0 %, bucket 4711."],
                ),
            ),
            (
                "o-full",
                "bucket 4711 at 100 %: installed",
                taken,
                dict(
                    publish=at("100"),
                    settings=keyed,
                    trace=[OFFERED + "rollout 100 %, bucket 4711."],
                ),
            ),
            (
                "o-untagged",
                "bucket 4711, no share in the answer: installed as before, the bucket untouched",
                taken,
                dict(
                    settings=keyed,
                    no_trace=["rollout", "MVRolloutBucket"],
                    after={"LANGUAGEID": "9", "MVRolloutBucket": "4711"},
                ),
            ),
            (
                "o-unsigned-out",
                "no update key, bucket 4711 at 47.11 %: not offered",
                passed_over,
                dict(
                    publish=at("47.11"),
                    settings={"MVRolloutBucket": "4711"},
                    trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
                    check=lambda out, lane: None,
                ),
            ),
            (
                "o-redrawn",
                "a bucket that is no bucket: drawn again, traced, stored",
                taken,
                dict(
                    publish=at("100"),
                    settings={"MVUpdateKey": "{key_a}", "MVRolloutBucket": "12345"},
                    trace=[
                        re.compile(r"^MVRolloutBucket was no bucket: drawn again: \d{1,4}\.$"),
                        re.compile(r"rollout 100 %, bucket \d{1,4}\.$"),
                    ],
                    check=lambda out, lane: out.check(
                        "a new bucket stored",
                        re.fullmatch(r"\d{1,4}", lane.machine.setting("MVRolloutBucket") or ""),
                        lane.machine.setting("MVRolloutBucket"),
                    ),
                ),
            ),
            (
                "o-check-out",
                "check mode, bucket 4711 at 47.11 %: no intact check, the agent started",
                passed_over,
                dict(
                    args=("/check",),
                    publish=at("47.11"),
                    settings=keyed,
                    trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
                    launches=[("mvagtx.exe", "")],
                ),
            ),
            (
                "o-check-in",
                "check mode, bucket 4711 at 47.12 %: the intact check, then the agent",
                taken,
                dict(
                    args=("/check",),
                    publish=at("47.12"),
                    settings=keyed,
                    trace=[OFFERED + "rollout 47.12 %, bucket 4711."],
                    library=[INTACT_CHECK],
                    installed="agent",
                    served=files[:3],
                    launches=[("mvagtx.exe", "")],
                ),
            ),
            (
                "o-outside",
                "a share of 0 % beside the signed envelope: not read, installed",
                taken,
                dict(
                    settings=keyed,
                    alter=edit_site(
                        answer, b"<MVSignature>", b"<MVRollout>0</MVRollout>\n<MVSignature>"
                    ),
                    no_trace=["rollout", "MVRolloutBucket"],
                ),
            ),
            (
                "o-tampered",
                "the share raised after signing: refused",
                refused,
                dict(
                    publish=at("10"),
                    settings=keyed,
                    alter=edit_site(
                        answer, b"<MVRollout>10</MVRollout>", b"<MVRollout>100</MVRollout>"
                    ),
                    trace=[REFUSED + "signature invalid."],
                    no_trace=["rollout 100", "MVRolloutBucket"],
                ),
            ),
            (
                "o-malformed",
                "a share with three decimals, signed: refused",
                refused,
                dict(
                    publish=at("12.5"),
                    settings=keyed,
                    alter=resign(
                        rb"<MVRollout>[^<]*</MVRollout>", b"<MVRollout>12.505</MVRollout>"
                    ),
                    trace=[REFUSED + "rollout unreadable."],
                    no_trace=["offered to this machine", "MVRolloutBucket"],
                ),
            ),
        )
    ] + [drawn_bucket_run("o-drawn", "no bucket stored: drawn, stored, the same on a second run")]


# --- what reaches the download library, and the start delay --------------------------------------

STAMP = re.compile(r"^(\S+ \S+) pid=\d+ tid=\d+ (?:cat=\d+ )?(.*)$")
# Sleep() ends no earlier than asked, and both stamps are read from one clock: a lower bound needs
# no more than the stamps' grain; an upper one allows for a loaded machine.
START_DELAY, EARLY, LATE = 30.0, 0.5, 5.0


def stamped(lane, name):
    """(seconds since the epoch, text) of each line of a stand-in's record file under C:\\Orvik."""
    lines = (lane.machine.read(lane.machine.orvik(name)) or b"").decode("utf-8", "replace")
    found = (STAMP.match(line) for line in lines.splitlines())
    return [
        (datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f").timestamp(), m.group(2))
        for m in found
        if m
    ]


def start_delay_and_hidden_dialog(out, lane):
    """The wait from the program's start (its trace modules registered by its static objects) to
    its first leveled record, and the progress dialog hidden before the download."""
    modules, trace = stamped(lane, RECORDS["modules"]), stamped(lane, RECORDS["trace"])
    out.check("records of both trace channels", modules and trace, (modules[:1], trace[:1]))
    if modules and trace:
        waited = trace[0][0] - modules[0][0]
        out.facts["note"] = "start delay %.2f s" % waited
        out.check(
            "start delay %.0f s (-%.1f s, +%.0f s)" % (START_DELAY, EARLY, LATE),
            START_DELAY - EARLY <= waited <= START_DELAY + LATE,
            "%.2f s from %r to %r" % (waited, modules[0][1], trace[0][1]),
        )
    hidden = [t for t, text in stamped(lane, "ksdlkext.record") if text == "DlkOdeConfig 0 1 0"]
    downloads = [t for t, text in stamped(lane, RECORDS["library"]) if text.startswith("DlkStd")]
    out.check(
        "progress dialog hidden once, before the download",
        len(hidden) == 1 and downloads and hidden[0] <= downloads[0],
        (hidden, downloads[:1]),
    )


def library_value_rows():
    """One run whose answer names the INI by DlkUrlRootEx and carries a SupportDelta, on a machine
    whose language has a title of its own: each value as the library receives it."""
    ex_path = "/rel/alt/dlk-ex.php"
    return [
        (
            "lib-values",
            45,
            "DlkUrlRootEx, SupportDelta and a Chinese title reach the library; the start delay",
            dict(
                settings={"SURL": "{host}", "LANGUAGEID": "3"},
                serve=(
                    changed(DlkUrlRootEx="alt/dlk-ex.php", SupportDelta="2"),
                    lambda lane: lane.rig.answer(nothing_needed(lane), path=ex_path),
                ),
                path=SUCCESS,
                # Asked at the name DlkUrlRootEx gives, never at DlkIniName's.
                asked=["{q}&LID=3&TK=", ex_path],
                library=[
                    'DlkInitStdDownload urlRoot="https://{host}/rel" unpackVersion="7.2"',
                    # "正在设置 Mirrorvale"
                    'DlkSetStdParameter name="DlkProgressBarTitle" value="5q2j5Zyo6K6+572uIE1pcnJvcnZhbGU="',
                    'DlkSetStdParameter name="DlkLocalSetting" value="Mw=="',
                    'DlkSetStdParameter name="SupportDelta" value="Mg=="',
                    # The stored file keeps DlkIniName's name.
                    re.compile(r"iniPath=\S*\\mvu-[0-9a-f]{16}\\+dlk\.php"),
                ],
                check=start_delay_and_hidden_dialog,
            ),
        ),
    ]
