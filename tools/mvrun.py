"""One run of the real mvupdate.exe on a lane (a Wine machine and its update server), described by
a row: how the run is set up (settings, what the server sends, the download library's fault,
messages to the hidden window) and what it must show (status path, requests, launches, records,
files). run() runs it, check() makes the checks every row makes and those the row names. The
end-to-end table (tests/e2e/faults.py) is made of such rows; the bench runs its normal success
row (full_success()) as it is, and the demo names statuses by Status."""

import dataclasses
import enum
import glob
import os
import pathlib
import re
import shutil
import subprocess
import time
from typing import Any, Callable, Mapping, Optional, Sequence, Union

from mvmachine import (
    RELEASE,
    Machine,
    Outcome,
    Release,
    Rig,
    crash_signs,
    sha256,
    version_answer,
)


class Status(enum.IntEnum):
    """The application's statuses, as its trace names them ("Change AgtApp status to N.")."""

    IDLE = 0
    CHECKING_VERSION = 1
    DOWNLOADING_INI = 2
    READY_TO_DOWNLOAD = 3
    DOWNLOADING = 4
    DONE = 5
    DOWNLOAD_FAILED = 6
    QUIT = 8


def status_name(number):
    """The status's name, or "?" for a number the application has no status for."""
    try:
        return Status(number).name
    except ValueError:
        return "?"


# Status paths: the version check or the INI download failed, four download attempts failed, success.
V_FAILS = [Status.IDLE, Status.CHECKING_VERSION, Status.IDLE, Status.QUIT, Status.IDLE]
I_FAILS = [Status.IDLE, Status.CHECKING_VERSION, Status.DOWNLOADING_INI] + V_FAILS[2:]
FAILED_ATTEMPT = [Status.READY_TO_DOWNLOAD, Status.DOWNLOADING, Status.DOWNLOAD_FAILED]
ALL_FAILS = I_FAILS[:3] + FAILED_ATTEMPT * 4 + V_FAILS[2:]
SUCCESS = I_FAILS[:3] + [
    Status.READY_TO_DOWNLOAD,
    Status.DOWNLOADING,
    Status.DONE,
    Status.QUIT,
    Status.IDLE,
]

TRIGGER = "C:\\mvfaults\\go"  # the trigger file as the machine names it
CONTROLLER = [("ksagtctl.exe", "/start2")]
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


# --- what the server sends --------------------------------------------------------------------
# Each builder returns a part: a function of the lane, called when the row runs, since the names
# of the lane's servers are known only then. A body may be such a function too.

Part = Callable[[Lane], Any]


def version_part(body=None, at="host", root=None, **lines):
    """A version answer for the server named at (by default the release's, its URL root on the
    server named root, else at); lines as the rig takes them (status=, hold=, cut_after=, ...)."""

    def serve_version(lane):
        answer = version_answer(lane.names[root or at]) if body is None else lane.given(body)
        lane.rig.answer(answer, prefix="/" + lane.names[at].split(".")[0] + "/", **lines)

    return serve_version


def changed_version(**tags):
    """The release's version answer with tags changed (values: names filled in by the answer)."""
    return version_part(lambda lane: version_answer(lane.host, **tags))


def ini_part(body=None, path=FILES[0], **lines):
    """The INI (by default the release's) at its path."""

    def serve_ini(lane):
        lane.rig.answer(
            lane.release.ini() if body is None else lane.given(body), path=path, **lines
        )

    return serve_ini


def files_part(**data_lines):
    """The agent, and the data file (from disk unless data_lines give a body)."""

    def serve_files(lane):
        lane.rig.answer(path=FILES[1], body_file=lane.release.agent_file)
        from_disk = {} if "body" in data_lines else {"body_file": lane.release.data_file}
        lane.rig.answer(path=FILES[2], **data_lines, **from_disk)

    return serve_files


def tls_fault(mode, skip=0):
    """HTTPS handshakes broken (plain, garbage or close) after skip of them."""

    def break_handshakes(lane):
        lane.rig.control("/tls-fault", "mode: %s\nskip: %d\n" % (mode, skip))

    return break_handshakes


def moved(location, **where):
    """A redirect (302, its connection closed) to location (names filled in) for the requests where
    names (path= or prefix=)."""

    def serve_redirect(lane):
        location_line = "Location: " + lane.fill(location)
        lane.rig.answer("moved", status=302, close=1, header=location_line, **where)

    return serve_redirect


def nothing_needed(lane):
    """An INI whose only file is the agent as installed: the library has nothing to fetch."""
    return lane.release.ini(agent=lane.release.old_agent)


FULL = (version_part(), ini_part(), files_part())
LIGHT = (version_part(), ini_part(nothing_needed))


def as_stored(ini):
    """The INI as the program stores it: CR CR LF for CR LF."""
    return ini.replace(b"\r\n", b"\r\r\n")


# --- a row ---------------------------------------------------------------------------------------

# Expected texts of the records: a text (the lane's names filled in), a pattern, a tuple (any of
# them) or a list (all of them, in this order).
Texts = Sequence[Any]
Settings = Union[Mapping[str, Any], Callable[[Lane], Mapping[str, Any]]]


@dataclasses.dataclass(frozen=True)
class Row:
    """One row of the end-to-end table. A key no field names is refused when the row is made."""

    key: str
    seconds: int  # the estimated time of its run, for dealing the rows out to the lanes
    what: str
    _: dataclasses.KW_ONLY
    # The expected status path; None: a run without its trace libraries shows none.
    path: Optional[Sequence[int]]
    # Set-up. settings: the values under the settings key (None: SURL the lane's server).
    settings: Optional[Settings] = None
    keep_settings: bool = False  # a second run finds the settings the first one left
    serve: Sequence[Part] = ()
    prepare: Optional[Callable[[Lane], Any]] = None  # the machine changed before the run
    fault: Optional[str] = None  # the download library stand-in's fault keyword
    args: Sequence[str] = ()
    cwd: Optional[Callable[[Lane], str]] = None  # sets the machine up, gives the working directory
    launch: Optional[Sequence[str]] = None  # started through the launcher, with these options
    trigger: Optional[Sequence[int]] = None  # the status path at which the messages are sent
    messages: Sequence[str] = ()  # for mvsendmsg, sent once the trigger file appears
    timeout: int = 240
    memory: Optional[int] = None  # the peak resident size must stay below this many MB
    # Expectations.
    launches: Sequence[Any] = tuple(CONTROLLER)
    asked: Optional[Sequence[str]] = None  # the version request first, the rest in any order
    failed: Optional[str] = None  # this failure record, with a nonzero code after it
    attempts: Optional[int] = None  # download attempts
    notified: Optional[int] = None  # outcomes the library notified
    installed: Optional[str] = None  # "release", "agent" or "old"
    stored: Optional[Callable[[Lane], bytes]] = None  # the stored INI
    after: Mapping[str, Any] = dataclasses.field(default_factory=dict)  # settings afterwards
    within: Optional[tuple] = None  # (fact, seconds): "seconds" or "after_trigger"
    no_files: Sequence[str] = ()  # glob patterns on the machine's drive C:
    check: Optional[Callable[[Outcome, Lane], Any]] = None  # checks of the row's own
    # Texts that must be in the records, or must not (no_...).
    trace: Texts = ()
    modules: Texts = ()
    library: Texts = ()
    library_log: Texts = ()
    launch_log: Texts = ()
    errors: Texts = ()  # the server's record of failed requests
    no_trace: Texts = ()
    no_modules: Texts = ()
    no_library: Texts = ()
    # A signed site (rows whose answer is published with the operator's kit, served by nginx;
    # served given makes a row one of them): the key and mvpublish's options, a change to the
    # site, its port, its alias, the files nginx must have been asked for.
    publish: Sequence[str] = ("a",)
    alter: Optional[Callable[[Any], Any]] = None
    port: Optional[int] = None
    server: Optional[str] = None
    served: Optional[Sequence[str]] = None
    # A run of its own instead of the usual one: a function of the lane and the row giving the
    # Outcome.
    special: Optional[Callable[[Lane, "Row"], Outcome]] = None


RECORD_SOURCES = ("trace", "modules", "library", "library_log", "launch_log", "errors")


def refuses_unknown_keys():
    """A misspelt key must stop the table from being built, never be passed over."""
    try:
        Row("misspelt", 1, "a misspelt key", path=SUCCESS, no_tarce=["t0k&en"])
    except TypeError as error:
        if "no_tarce" in str(error):
            return
        raise
    raise AssertionError("a row with the unknown key no_tarce was accepted")


def full_success():
    """The normal run: the release offered, downloaded and installed, the controller started."""
    return Row(
        "n-success",
        45,
        "normal mode, full success",
        serve=FULL,
        path=SUCCESS,
        asked=["{v}"] + FILES,
        installed="release",
        after={"LANGUAGEID": "9"},
        stored=lambda lane: as_stored(lane.release.ini()),
        library=[
            'DlkInitStdDownload urlRoot="https://{host}/rel" unpackVersion="7.2" extVersion="7.2" vendor="Orvik" build="319"',
            'DlkSetStdParameter name="DlkLocalSetting" value="OQ=="',
            'DlkSetStdParameter name="DlkProgressBarTitle" value="TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA=="',
            'DlkSetStdParameter name="DlkMovingInSubdir" value="Wanta"',
            re.compile(r"iniPath=\S*\\mvu-[0-9a-f]{16}\\+dlk\.php"),
        ],
    )


# --- the run -------------------------------------------------------------------------------------


def prepare_machine(lane, row):
    """The program installed, the row's changes made, its settings written, its answers scripted."""
    machine, rig = lane.machine, lane.rig
    machine.install()
    if row.prepare is not None:
        row.prepare(lane)
    machine.set_library_fault(row.fault)
    trigger_file = os.path.join(machine.drive, "mvfaults", "go")
    shutil.rmtree(os.path.dirname(trigger_file), ignore_errors=True)
    os.makedirs(os.path.dirname(trigger_file))
    # A second run of a row finds the settings the first one left.
    if not row.keep_settings:
        settings = lane.given(row.settings if row.settings is not None else {"SURL": "{host}"})
        machine.import_settings({k: lane.fill(v) for k, v in settings.items()}, lane.case_dir)
    rig.reset()
    for part in row.serve:
        part(lane)
    return trigger_file


def watcher(lane, row, trigger_file, tool_file, facts):
    """While the program runs: mvsendmsg started, the peak memory read, the trigger file written
    once the trace shows the row's trigger path."""
    machine = lane.machine

    def watch(process):
        if row.messages:
            wait = ["--wait-file", TRIGGER, "--wait-ms", str(row.timeout * 1000)]
            facts["tool"] = machine.start_program(
                lane.sendmsg, wait + list(row.messages), tool_file
            )
        ends = time.monotonic() + row.timeout
        while process.poll() is None and time.monotonic() < ends:
            # The loader runs the program in the process it was started as.
            status = Machine.read("/proc/%d/status" % process.pid) or b""
            facts["peak_kb"] = max(
                [facts["peak_kb"]] + [int(n) for n in re.findall(rb"VmHWM:\s*(\d+)", status)]
            )
            waiting = row.trigger is not None and facts["fired_at"] is None
            path = [0] + machine.status_path() if waiting else []
            if waiting and len(path) >= len(row.trigger):
                pathlib.Path(trigger_file).write_text("go\n")
                facts["fired_at"], facts["fired_time"] = path, time.monotonic()
            time.sleep(0.02)

    return watch


def run(lane, row):
    """Sets the machine and the server up as the row says, runs mvupdate.exe and all it starts to
    their end: the Outcome, its facts and the checks every run makes."""
    machine, rig = lane.machine, lane.rig
    trigger_file = prepare_machine(lane, row)
    output_file, tool_file = (
        os.path.join(lane.case_dir, n) for n in ("program-output.txt", "mvsendmsg-output.txt")
    )
    facts = {"fired_at": None, "fired_time": None, "peak_kb": 0, "tool": None}
    watched = row.trigger or row.messages or row.memory
    # Through the launcher: it hands the program a handle to inherit, and a PATH of its own.
    launcher = (
        {"launcher": [lane.sendmsg, "--launch"] + list(row.launch)}
        if row.launch is not None
        else {}
    )
    code, seconds, by_itself = machine.run_updater(
        row.args,
        watcher(lane, row, trigger_file, tool_file, facts) if watched else None,
        output_file,
        row.cwd(lane) if row.cwd is not None else None,
        row.timeout,
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

    out = Outcome(row.what)
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
    out.check("run ended by itself", by_itself, "still running after %d s" % row.timeout)
    out.check("machine quiet afterwards", quiet, "programs still running 120 s after the run")
    out.expect_equal("exit code", 0, code)
    out.expect_equal("no crash report", [], out.facts["crash"])
    if row.messages:
        out.expect_equal("mvsendmsg's exit code", 0, tool_code)
    if row.trigger is not None:
        out.expect_equal(
            "messages sent in the wanted status", [int(s) for s in row.trigger], facts["fired_at"]
        )
    return out


# --- the checks ----------------------------------------------------------------------------------


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


def check_common(out, lane, row, asked, downloads):
    """What every run must show: its launches, TLS throughout, nothing asked or downloaded before
    its status, and the run's own folder gone."""
    facts, machine, path = out.facts, lane.machine, out.facts["path"]
    out.expect_equal("programs started", list(row.launches), facts["launches"])
    out.check(
        "every request over TLS",
        all(r.get("listener") == "https" for r in facts["requests"] if r.get("method")),
        facts["requests"],
    )
    if row.path is not None:  # None: a run without its trace libraries shows no path
        out.expect_equal("status path", [int(s) for s in row.path], path)
        if Status.DOWNLOADING_INI not in path:
            out.check("no INI asked", FILES[0] not in asked, asked)
        if Status.DOWNLOADING not in path:
            out.expect_equal("no library download", [], downloads)
    # Without a temporary directory the check below would hold whatever the program did.
    out.check("the machine's temporary directories found", machine.temp_dirs(), "none")
    out.expect_equal(
        "the run's folder removed afterwards",
        [],
        [d for t in machine.temp_dirs() for d in os.listdir(t) if d.startswith("mvu-")],
    )


def check_records(out, lane, row):
    """Texts that must be in the records (trace: ...), or must not (no_trace: ...)."""
    for source in RECORD_SOURCES:
        lines = out.facts[source]
        for text in getattr(row, source):
            out.check(
                "%s: %s" % (source, getattr(text, "pattern", text)),
                found(lines, text, lane),
                lines[-8:],
            )
        absent = getattr(row, "no_" + source, ())
        if absent and source in ("trace", "modules") and row.path is not None:
            # A missing or empty record file would hold no secret either.
            out.check("%s records written" % source, lines, "none")
        for text in absent:
            out.check(
                "not in %s: %s" % (source, getattr(text, "pattern", text)),
                not found(lines, text, lane),
                [t for t in lines if found([t], text, lane)][:3],
            )


def check_download(out, lane, row, asked, downloads):
    """The failure record, the attempts and notifications, and what the library installed."""
    machine, release, trace = lane.machine, lane.release, out.facts["trace"]
    if row.failed is not None:  # the failure record with a nonzero code after it
        texts = [t for t in trace if row.failed in t]
        codes = [t.split(row.failed, 1)[1].rstrip(".") for t in texts]
        out.check(
            "traced %s<failure code>" % row.failed,
            codes and all(c.lstrip("-").isdigit() and int(c) != 0 for c in codes),
            texts,
        )
    if row.attempts is not None:
        out.expect_equal("download attempts", row.attempts, len(downloads))
        if FILES[2] in asked:
            out.expect_equal(
                "data file fetched at each attempt", row.attempts, asked.count(FILES[2])
            )
    if row.notified is not None:
        out.expect_equal(
            "outcomes notified",
            row.notified,
            len([x for x in out.facts["library_log"] if "notify event=1 " in x]),
        )
    if row.installed is not None:
        want = {
            "release": (release.agent, release.data),
            "agent": (release.agent, None),
            "old": (release.old_agent, None),
        }[row.installed]
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
    if row.stored is not None:
        stored, want = machine.read(machine.orvik("ieksdlk.received.ini")), row.stored(lane)
        out.check(
            "stored INI",
            stored == want,
            "%s bytes stored, %d expected" % (len(stored or b""), len(want)),
        )


def check_afterwards(out, lane, row):
    """The settings, the time bounds, the memory and the files the run left."""
    facts, machine = out.facts, lane.machine
    for name, value in row.after.items():
        out.expect_equal("%s afterwards" % name, lane.fill(value), machine.setting(name))
    if row.within is not None:
        what, bound = row.within
        out.check(
            "%s within %d s" % (what, bound),
            facts[what] is not None and facts[what] <= bound,
            facts[what],
        )
    if row.memory is not None:
        out.facts["note"] = "peak RSS %d MB" % (facts["peak_kb"] // 1024)
        out.check(
            "memory stays low",
            0 < facts["peak_kb"] < row.memory * 1024,
            "%d KB" % facts["peak_kb"],
        )
    for pattern in row.no_files:  # on the machine's drive C:
        out.expect_equal("no file " + pattern, [], glob.glob(os.path.join(machine.drive, pattern)))


def check(out, lane, row):
    """The checks every row makes, and those the row names."""
    facts = out.facts
    asked = [r.get("path", "") for r in facts["requests"] if r.get("method")]
    downloads = [c for c in facts["library"] if c.startswith("DlkStdDownload")]
    check_common(out, lane, row, asked, downloads)
    if row.asked is not None:  # the version request first, the rest in any order
        want = [lane.fill(p) for p in row.asked]
        out.expect_equal("requests", want[:1] + sorted(want[1:]), asked[:1] + sorted(asked[1:]))
    check_records(out, lane, row)
    check_download(out, lane, row, asked, downloads)
    check_afterwards(out, lane, row)
    if row.check is not None:
        row.check(out, lane)


def run_row(lane, row):
    """Runs the row on the lane and checks it: its Outcome."""
    out = run(lane, row)
    check(out, lane, row)
    return out
