"""The fault matrix: the real mvupdate.exe against servers, download libraries, settings and
shutdowns that misbehave, one case per fault and status. Every case checks the road the run
took (its status path), that the process ended with code 0 and without a crash report, and
that it started the right program at the end (or none, after the end of the session).

A lane (run_faults.py) is one Wine machine with one update server; its addresses are
127.83.(60+lane).1 (the server), .2 (a certificate for another name), .3 (an expired
certificate) and .9 (nothing listens there).

Messages reach the hidden window through mvsendmsg.exe: it is started in the machine as soon as
the program is, waits for a file, and the driver creates that file once the trace shows the
status the case wants. Statuses 5 and 8 last one 50 ms tick and are not aimed at.
"""

import os
import shutil
import subprocess
import time

import scenarios
from mvmachine import Machine, Rig, crash_signs, peak_memory_kb, sha256
from scenarios import Outcome

TRIGGER = "C:\\mvfaults\\go"
ALL_FAILS = [0, 1, 2, 3, 4, 6, 3, 4, 6, 3, 4, 6, 3, 4, 6, 0, 8, 0]
SUCCESS = [0, 1, 2, 3, 4, 5, 8, 0]
CONTROLLER = [("ksagtctl.exe", "/start2")]
QUERY_END = "queryendsession:0:0"
END_SESSION = "endsession:1:0"
LOGOFF = 0x80000000


class Lane:
    """One machine, its server and the names the cases use."""

    def __init__(self, build, number, folder):
        self.number = number
        self.build = build
        self.folder = folder
        self.machine = Machine(build, os.path.join(folder, "prefix"))
        base = "127.83.%d" % (60 + number)
        self.address, self.wrong_address, self.expired_address, self.dead_address = (
            base + ".1", base + ".2", base + ".3", base + ".9")
        self.host = "update.flt%d.mvtest.invalid" % number
        self.wrong_host = "wrong.flt%d.mvtest.invalid" % number
        self.expired_host = "expired.flt%d.mvtest.invalid" % number
        self.dead_host = "dead.flt%d.mvtest.invalid" % number
        hosts = [self.host, "%s=%s" % (self.wrong_host, self.wrong_address),
                 "%s=%s" % (self.expired_host, self.expired_address), "%s=%s" % (self.dead_host, self.dead_address)]
        self.rig = Rig(self.address, hosts, os.path.join(folder, "rig"), wrong_name_address=self.wrong_address,
                       expired_address=self.expired_address)
        self.release = scenarios.Release(build, os.path.join(folder, "release"))
        self.sendmsg = build.path("tests", "e2e", "tools", "mvsendmsg.exe")
        self.scrambler = build.path("standins", "scrambler", "mvscramble.exe")
        self.case_dir = os.path.join(folder, "case")

    def scrambled(self, text):
        """The stored form of text, as the product's other software writes it."""
        out = self.machine.wine(self.scrambler, "-s", "200", text)
        return out.stdout.decode("ascii").strip().splitlines()[-1].strip()

    def version_path(self, host=None):
        return "/" + (host or self.host).split(".")[0] + "/smt.php" + self.build.version_query() + "&TK="

    def version_prefix(self, host=None):
        return "/" + (host or self.host).split(".")[0] + "/"


class Plan:
    """How one run is set up and driven.

    trigger: the status path (with the leading 0 of construction) at which the messages are
    sent; messages: the messages for mvsendmsg (NAME:WPARAM:LPARAM); send_now: send them at once, before the window
    exists; prepare: called with the machine once the program is installed, to change what
    lies around it; cwd: the working directory the program inherits. A held answer is held for
    good: the program must get out by itself."""

    def __init__(self, settings=None, serve=None, library_fault=None, args=(), trigger=None, messages=(),
                 send_now=False, prepare=None, cwd=None, timeout=240):
        self.settings = settings
        self.serve = serve
        self.library_fault = library_fault
        self.args = args
        self.trigger = trigger
        self.messages = list(messages)
        self.send_now = send_now
        self.prepare = prepare
        self.cwd = cwd
        self.timeout = timeout


class TraceWatch:
    """Follows the program's trace file as it grows and collects the status changes."""

    def __init__(self, path):
        self.file = path
        self.offset = 0
        self.rest = b""
        self.path = [0]

    def poll(self):
        try:
            with open(self.file, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return
        self.offset += len(data)
        lines = (self.rest + data).split(b"\n")
        self.rest = lines.pop()
        for line in lines:
            marker = b"Change AgtApp status to "
            at = line.find(marker)
            if at >= 0:
                number = line[at + len(marker):].split(b".")[0]
                if number.lstrip(b"-").isdigit():
                    self.path.append(int(number))


def run(lane, name, plan):
    """Sets the machine and the server up as the plan says, runs mvupdate.exe to its end, waits
    until everything it started has ended, and gathers what is left to check."""
    machine, rig = lane.machine, lane.rig
    machine.install()
    machine.clear_temp("dlk.php")
    if plan.prepare is not None:
        plan.prepare(machine)
    machine.set_library_fault(plan.library_fault)
    trigger_file = machine.host_path(TRIGGER)
    os.makedirs(os.path.dirname(trigger_file), exist_ok=True)
    if os.path.exists(trigger_file):
        os.remove(trigger_file)
    os.makedirs(lane.case_dir, exist_ok=True)
    settings = {"SURL": lane.host} if plan.settings is None else plan.settings
    machine.import_settings(settings, lane.case_dir)
    rig.reset()
    if plan.serve is not None:
        plan.serve()

    output_file = os.path.join(lane.case_dir, "program-output.txt")
    tool_file = os.path.join(lane.case_dir, "mvsendmsg-output.txt")
    started = time.monotonic()
    process = machine.start_updater(plan.args, output_file, cwd=plan.cwd)
    tool = None
    if plan.messages:
        wait = [] if plan.send_now else ["--wait-file", TRIGGER, "--wait-ms", str(plan.timeout * 1000)]
        tool = machine.start_program(lane.sendmsg, wait + plan.messages, tool_file)

    watch = TraceWatch(machine.program_path("ovktrace.log"))
    fired_at = None
    fired_time = None
    timed_out = False
    peak_kb = 0
    while process.poll() is None:
        # The loader runs the program in the process it was started as.
        peak_kb = max(peak_kb, peak_memory_kb(process.pid))
        if time.monotonic() - started > plan.timeout:
            timed_out = True
            break
        watch.poll()
        if plan.trigger is not None and fired_at is None and len(watch.path) >= len(plan.trigger):
            with open(trigger_file, "w") as f:
                f.write("go\n")
            fired_at = list(watch.path)
            fired_time = time.monotonic()
        time.sleep(0.02)
    ended = time.monotonic()
    seconds = ended - started
    if timed_out:
        machine.end_all()
    code = process.wait(timeout=60)
    tool_code = None
    if tool is not None:
        try:
            tool_code = tool.wait(timeout=60)
        except subprocess.TimeoutExpired:
            machine.end_all()
            tool_code = tool.wait(timeout=30)
    # Only now, with the program gone, are held answers let go (for the next case's sake).
    rig.release()
    quiet = machine.wait_quiet(120)
    if not quiet:
        # Nothing of this run may write into the next one's files.
        machine.end_all()

    out = Outcome(name)
    with open(output_file, "rb") as f:
        output = f.read().decode("utf-8", "replace")
    tool_output = ""
    if tool is not None:
        with open(tool_file, "rb") as f:
            tool_output = f.read().decode("utf-8", "replace")
    out.facts = {
        "exit": code,
        "seconds": round(seconds, 1),
        "after_trigger": round(ended - fired_time, 1) if fired_time is not None else None,
        "peak_kb": peak_kb,
        "path": [0] + machine.status_path(),
        "fired_at": fired_at,
        "requests": rig.requests(),
        "launches": machine.launches(),
        "library": machine.library_calls(),
        "library_log": machine.library_log(),
        "trace": machine.trace_texts(),
        "crash": crash_signs(output),
        "tool_code": tool_code,
        "tool_output": tool_output.strip(),
    }
    out.check("run ended by itself", not timed_out, "still running after %d s" % plan.timeout)
    out.check("machine quiet afterwards", quiet, "programs still running 120 s after the run")
    out.expect_equal("exit code", 0, code)
    out.expect_equal("no crash report", [], out.facts["crash"])
    if plan.messages:
        out.check("messages sent", tool_code == 0 or (plan.send_now and tool_code == 3),
                  "mvsendmsg ended with %s: %s" % (tool_code, tool_output.strip()))
    if plan.trigger is not None:
        out.expect_equal("messages sent in the wanted status", plan.trigger, fired_at)
    return out


# --- checks ----------------------------------------------------------------------------------

def expect_path(out, expected):
    out.expect_equal("status path", expected, out.facts["path"])


def expect_launches(out, expected):
    out.expect_equal("programs started", list(expected), out.facts["launches"])


def has_trace(out, text):
    return any(text in t for t in out.facts["trace"])


def expect_trace(out, text):
    out.check("traced: " + text, has_trace(out, text), "not in the trace")


def expect_no_trace(out, text):
    out.check("not traced: " + text, not has_trace(out, text),
              [t for t in out.facts["trace"] if text in t][:3])


def expect_trace_before(out, first, second):
    """first is traced, and second is traced after it."""
    trace = out.facts["trace"]
    at = next((i for i, t in enumerate(trace) if first in t), None)
    later = at is not None and any(second in t for t in trace[at + 1:])
    out.check("traced %r, then %r" % (first, second), later, "not in that order")


def expect_failed_request(out, record):
    """record ("Get version info failed. Result = ") followed by a nonzero code."""
    texts = [t for t in out.facts["trace"] if record in t]
    codes = [t.split(record, 1)[1].rstrip(".") for t in texts]
    out.check("traced %s<failure code>" % record, codes and all(c.lstrip("-").isdigit() and int(c) != 0 for c in codes),
              texts)


# What the program promises whatever a server does: start delay, 30 s for an answer, 10 s in
# status 0, and 10 s more at most before the final launch and the exit.
RUN_BOUND = 30 + 30 + 10 + 10


def expect_within(out, what, seconds, bound):
    out.check("%s within %d s" % (what, bound), seconds is not None and seconds <= bound, "%s s" % seconds)


def request_paths(out):
    return [r.get("path", "") for r in out.facts["requests"] if r.get("method")]


def tls_faults(out):
    return [r.get("error", "") for r in out.facts["requests"] if r.get("error", "").startswith("TLS fault")]


def library_notifications(out):
    return [line for line in out.facts["library_log"] if "notify event=1 " in line]


def installed(lane, *parts):
    return scenarios.installed(lane.machine, *parts)


def expect_release_installed(out, lane):
    out.expect_equal("new agent installed", sha256(lane.release.agent),
                     sha256(installed(lane, "MV", "bin", "mvagtx.exe") or b""))
    out.expect_equal("data file installed", sha256(lane.release.data),
                     sha256(installed(lane, "MV", "bin", "data", "data.bin") or b""))


def stored_ini(lane):
    return lane.machine.received_ini()


# --- what the server sends -------------------------------------------------------------------

def serve_version(lane, body, host=None, **lines):
    lane.rig.answer(body, prefix=lane.version_prefix(host), **lines)


def serve_ini(lane, body, **lines):
    lane.rig.answer(body, path="/rel/dlk.php", **lines)


def serve_files(lane, **data_lines):
    release = lane.release
    lane.rig.answer(path="/rel/agent/%s/mvagtx.exe" % scenarios.RELEASE, body_file=release.agent_file)
    if data_lines:
        lane.rig.answer(path="/rel/data/data.bin", **data_lines)
    else:
        lane.rig.answer(path="/rel/data/data.bin", body_file=release.data_file)


def nothing_needed_ini(lane):
    """An INI whose only file is the agent as installed: the library has nothing to fetch."""
    return lane.release.ini(files=("agent",), agent=lane.release.old_agent)


def serve_full(lane):
    serve_version(lane, lane.release.version_answer(lane.host))
    serve_ini(lane, lane.release.ini())
    serve_files(lane)


def serve_light(lane, root_host=None, version_host=None):
    """A version answer and an INI with nothing to download: the run reaches 5 at once."""
    serve_version(lane, lane.release.version_answer(root_host or lane.host), host=version_host)
    serve_ini(lane, nothing_needed_ini(lane))


def padded(text, total, before=True):
    """text (bytes) with a comment added before or after it, total bytes in all."""
    room = total - len(text) - len(b"<!--") - len(b"-->\n")
    assert room >= 0
    comment = b"<!--" + b"p" * room + b"-->\n"
    return comment + text if before else text + comment


def padded_ini(ini, total):
    """ini (bytes, CR LF lines) with comment lines added after its first line, total bytes in all."""
    first, rest = ini.split(b"\r\n", 1)
    need = total - len(ini)
    full, part = divmod(need, 100)
    if 0 < part < 3:
        full -= 1
        part += 100
    lines = [b";" + b"p" * 97 + b"\r\n"] * full
    if part:
        lines.append(b";" + b"p" * (part - 3) + b"\r\n")
    out = first + b"\r\n" + b"".join(lines) + rest
    assert len(out) == total
    return out


def envelope(host, tags):
    """A version answer made of the given (tag, value) pairs, values as bytes or text."""
    inner = b"".join(b"  <%s>%s</%s>\n" % (t.encode(), v if isinstance(v, bytes) else v.encode(), t.encode())
                     for t, v in tags)
    return b"<?xml version=\"1.0\"?>\n<MVHostVersion>\n" + inner + b"</MVHostVersion>\n"


def standard_tags(host):
    return [("Status", "SUCCESS"), ("DlkProductVersion", scenarios.RELEASE),
            ("DlkProductDescription", "Mirrorvale agent"), ("DlkIniName", "dlk.php"),
            ("DlkUrlRoot", "https://%s/rel" % host), ("DlkUnpackVersion", scenarios.RELEASE),
            ("DlkExtVersion", scenarios.RELEASE), ("SupportDelta", "0"), ("LID", "9")]


def with_tag(tags, name, value):
    return [(t, value if t == name else v) for t, v in tags]


# --- status 1: the version check -------------------------------------------------------------

def version_fails_fast(key_text, serve, settings=None, record="Get version info failed. Result = "):
    """A version check that fails at once: status 0, the end 10 s later, the controller."""
    def case(lane):
        out = run(lane, "version check: " + key_text,
                  Plan(settings=settings(lane) if settings else None, serve=lambda: serve(lane)))
        expect_path(out, [0, 1, 0, 8, 0])
        expect_launches(out, CONTROLLER)
        if record:
            expect_failed_request(out, record)
        out.check("no INI asked", "/rel/dlk.php" not in request_paths(out), request_paths(out))
        return out
    return case


def version_times_out(key_text, serve, record=None):
    """An answer the program cannot use: it waits out the 30 s of status 1, then ends."""
    def case(lane):
        out = run(lane, "version check: " + key_text, Plan(serve=lambda: serve(lane)))
        expect_path(out, [0, 1, 0, 8, 0])
        expect_launches(out, CONTROLLER)
        expect_trace(out, "Getting downloading info time out.")
        if record:
            expect_trace(out, record)
        out.check("no INI asked", "/rel/dlk.php" not in request_paths(out), request_paths(out))
        return out
    return case


def version_refused(lane):
    out = version_fails_fast("nothing listens", lambda lane: None,
                             settings=lambda lane: {"SURL": lane.dead_host})(lane)
    out.expect_equal("the server saw nothing", [], out.facts["requests"])
    return out


def version_cut(lane):
    body = padded(lane.release.version_answer(lane.host).encode(), 4000, before=False)
    return version_fails_fast("connection cut mid-body", lambda lane: serve_version(lane, body, cut_after=200))(lane)


def version_tls(mode):
    def case(lane):
        out = version_fails_fast("TLS handshake broken (%s)" % mode,
                                 lambda lane: (serve_light(lane), lane.rig.tls_fault(mode)))(lane)
        out.check("the handshake was broken", tls_faults(out), out.facts["requests"])
        out.expect_equal("no request got through", [], request_paths(out))
        return out
    return case


def version_certificate(kind, relaxed=None):
    """A certificate for another name, or an expired one: refused by default (the version check
    fails and the run ends with the usual launch); accepted where the operator relaxed the
    checks with MVRelaxedTls."""
    def case(lane):
        host = lane.wrong_host if kind == "wrong name" else lane.expired_host
        address = lane.wrong_address if kind == "wrong name" else lane.expired_address
        settings = {"SURL": host}
        if relaxed is not None:
            settings["MVRelaxedTls"] = relaxed
        out = run(lane, "certificate: %s, %s" % (kind, "accepted with MVRelaxedTls" if relaxed else "refused"),
                  Plan(settings=settings, serve=lambda: serve_light(lane, host, host)))
        expect_launches(out, CONTROLLER)
        if relaxed is None:
            expect_path(out, [0, 1, 0, 8, 0])
            expect_failed_request(out, "Get version info failed. Result = ")
            out.expect_equal("no request got through", [], request_paths(out))
            refusals = [r for r in lane.machine.module_records() if "server certificate refused" in r]
            out.check("the refusal traced with its reason", refusals, lane.machine.module_records()[-5:])
            return out
        expect_path(out, SUCCESS)
        locals_ = [(r.get("path"), r.get("local")) for r in out.facts["requests"]]
        out.expect_equal("version and INI fetched from that address",
                         [(lane.version_path(host), address + ":443"), ("/rel/dlk.php", address + ":443")], locals_)
        return out
    return case


def planted_trace_libraries(lane):
    """Trace libraries planted in the working directory the program inherits (and not beside
    it) are never loaded: no library search looks there."""
    folder = os.path.join(lane.machine.drive, "planted")

    def prepare(machine):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in ("ovktrace.dll", "KSTRAC32.DLL"):
            os.replace(machine.program_path(name), os.path.join(folder, name))

    out = run(lane, "trace libraries planted in the working directory",
              Plan(serve=lambda: serve_light(lane), prepare=prepare, cwd=folder))
    expect_launches(out, CONTROLLER)
    out.expect_equal("no record written by a planted library", [],
                     [n for n in os.listdir(folder) if n.endswith(".log")])
    out.check("the run went on without them", "/rel/dlk.php" in request_paths(out), request_paths(out))
    shutil.rmtree(folder, ignore_errors=True)
    return out


def planted_ini(kind):
    """A file, or a link to another file, planted under the INI's name in the temporary
    directory: neither used nor written; the INI goes into the run's own folder, which is gone
    afterwards."""
    def case(lane):
        victim = os.path.join(lane.machine.drive, "victim.txt")
        planted = []

        def prepare(machine):
            with open(victim, "wb") as f:
                f.write(b"victim\n")
            for temp in machine.temp_dirs():
                path = os.path.join(temp, "dlk.php")
                planted.append(path)
                if kind == "link":
                    os.symlink(victim, path)
                else:
                    with open(path, "wb") as f:
                        f.write(b"planted\n")

        out = run(lane, "INI name planted in the temporary directory (%s)" % kind,
                  Plan(serve=lambda: serve_full(lane), prepare=prepare))
        out.check("a temporary directory to plant in", planted, "none found")
        expect_path(out, SUCCESS)
        expect_launches(out, CONTROLLER)
        with open(victim, "rb") as f:
            out.expect_equal("link target untouched", b"victim\n", f.read())
        if kind == "file":
            out.expect_equal("planted files untouched", [b"planted\n"] * len(planted),
                             [open(p, "rb").read() for p in planted])
        given = [c for c in out.facts["library"] if c.startswith("DlkStdDownload ")]
        out.check("the library never given the planted path", given and all("\\mvu-" in c for c in given), given)
        out.expect_equal("the run's folder removed afterwards", [], lane.machine.private_folders())
        lane.machine.clear_temp("dlk.php")
        return out
    return case


def version_oversized(key_text, **lines):
    """An answer far past what the program takes: refused once it passes the body limit, with
    the program's memory staying low, and the run ends on the normal path."""
    def case(lane):
        out = run(lane, "version answer: " + key_text,
                  Plan(serve=lambda: serve_version(lane, b"", **lines)))
        expect_path(out, [0, 1, 0, 8, 0])
        expect_launches(out, CONTROLLER)
        expect_trace(out, "Get version info failed. Result = 223.")
        out.facts["note"] = "peak RSS %d MB" % (out.facts["peak_kb"] // 1024)
        out.check("memory stays low", 0 < out.facts["peak_kb"] < 160 * 1024, "%d KB" % out.facts["peak_kb"])
        return out
    return case


def token_echoed(lane):
    """An error page that echoes the request URL, token and all: the token reaches no trace."""
    token = "s3cr&t0k3n"
    scrambled = lane.scrambled(token)
    page = "<html><body>Not found: %s%s</body></html>\r\n" % (lane.version_path(), token)
    out = run(lane, "error page echoing the token",
              Plan(settings={"SURL": lane.host, "RTN": scrambled},
                   serve=lambda: serve_version(lane, page, status=404)))
    expect_path(out, [0, 1, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    out.expect_equal("token sent verbatim", [lane.version_path() + token], request_paths(out))
    expect_trace(out, "Not found: ")
    out.expect_equal("token in no trace record", [],
                     [t for t in out.facts["trace"] + lane.machine.module_records() if token in t])
    return out


def version_status(status):
    def serve(lane):
        header = {401: 'WWW-Authenticate: Basic realm="mv"', 407: 'Proxy-Authenticate: Basic realm="mv"'}[status]
        serve_version(lane, "<html>credentials</html>", status=status, header=header)

    def case(lane):
        out = version_fails_fast("%d" % status, serve)(lane)
        expect_trace(out, "Get version info failed. Result = %d." % status)
        return out
    return case


def version_error_page(status):
    page = "<html><body><h1>%d</h1>%s</body></html>" % (status, "sorry " * 200)
    return version_times_out("%d with a page" % status,
                             lambda lane: serve_version(lane, page, status=status))


def version_size(total):
    """A valid answer padded with a comment in front to total bytes."""
    def serve(lane):
        serve_version(lane, padded(lane.release.version_answer(lane.host).encode(), total))
        serve_ini(lane, nothing_needed_ini(lane))

    if total <= 102399:
        def case(lane):
            out = run(lane, "version answer of %d bytes" % total, Plan(serve=lambda: serve(lane)))
            expect_path(out, SUCCESS)
            expect_launches(out, CONTROLLER)
            expect_trace(out, "The length of return value result = %d" % total)
            return out
        return case
    return version_times_out("answer of %d bytes" % total, serve, record="OnUrlReturn result= %d" % total)


def version_hold(lane):
    """A server that accepts and never answers: the exchange's own time-outs or the 30 s of
    status 1 give up on it, and the run ends within its bound."""
    out = run(lane, "version check: no answer, held for good",
              Plan(serve=lambda: serve_version(lane, lane.release.version_answer(lane.host), hold=1)))
    expect_path(out, [0, 1, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    out.check("the check gave up", has_trace(out, "Get version info failed. Result = ") or
              has_trace(out, "Getting downloading info time out."), out.facts["trace"][-8:])
    expect_within(out, "launch and exit", out.facts["seconds"], RUN_BOUND)
    return out


def version_unreadable(key_text, body_of):
    """An envelope the program cannot read: "Getting version info error." and status 0."""
    def case(lane):
        out = version_fails_fast(key_text, lambda lane: serve_version(lane, body_of(lane)), record=None)(lane)
        expect_trace(out, "Getting version info error.")
        return out
    return case


def no_closing_mark(lane):
    return envelope(lane.host, standard_tags(lane.host)).replace(b"</MVHostVersion>", b"")


def envelope_too_long(lane):
    return envelope(lane.host, with_tag(standard_tags(lane.host), "DlkProductDescription", "d" * 4100))


def nul_in_envelope(lane):
    return envelope(lane.host, with_tag(standard_tags(lane.host), "DlkProductDescription", b"Mirror\0vale"))


def version_long_tags(lane):
    """Values longer than their buffers fall back to their defaults; one that just fits is kept."""
    tags = standard_tags(lane.host)
    tags = with_tag(tags, "DlkProductVersion", "7" * 300)
    tags = with_tag(tags, "DlkProductDescription", "d" * 1000)
    tags = with_tag(tags, "DlkIniName", "n" * 300 + ".php")
    tags = with_tag(tags, "DlkUnpackVersion", "u" * 256)
    tags = with_tag(tags, "DlkExtVersion", "e" * 255)
    tags = with_tag(tags, "SupportDelta", "1" * 40)
    tags = with_tag(tags, "LID", "9" * 40)
    body = envelope(lane.host, tags)

    def serve():
        serve_version(lane, body)
        serve_ini(lane, nothing_needed_ini(lane))

    out = run(lane, "version answer: tags longer than their buffers", Plan(serve=serve))
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    out.expect_equal("INI asked under the default name", [lane.version_path(), "/rel/dlk.php"], request_paths(out))
    lib = out.facts["library"]
    out.check("library given the default (empty) unpack version and the extension version that fits",
              any('unpackVersion="" extVersion="%s"' % ("e" * 255) in c for c in lib), lib[:1])
    out.check("support delta passed empty", 'DlkSetStdParameter name="SupportDelta" value=""' in lib, lib)
    out.expect_equal("LANGUAGEID filled with the empty LID", "", lane.machine.setting("LANGUAGEID"))
    return out


def version_hostile_ini_name(lane):
    """An INI name that climbs out of the temporary directory: the INI is fetched but never
    written there, and nothing reaches the library."""
    name = "..\\..\\..\\..\\Orvik\\MV\\bin\\mvagtx.exe"
    body = envelope(lane.host, with_tag(standard_tags(lane.host), "DlkIniName", name))

    def serve():
        serve_version(lane, body)
        lane.rig.answer(lane.release.ini(), prefix="/rel/")
    out = run(lane, "version answer: INI name leading out of the temp folder", Plan(serve=serve))
    expect_path(out, [0, 1, 2, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    expect_trace(out, "Create file ")
    out.expect_equal("agent untouched", sha256(lane.release.old_agent),
                     sha256(installed(lane, "MV", "bin", "mvagtx.exe") or b""))
    out.expect_equal("library not prepared", [], [c for c in out.facts["library"] if c.startswith("DlkInit")])
    return out


def version_bad_utf8(lane):
    body = envelope(lane.host, with_tag(standard_tags(lane.host), "DlkProductDescription", b"Mirror\xff\xfevale \xc3("))

    def serve():
        serve_version(lane, body)
        serve_ini(lane, nothing_needed_ini(lane))

    out = run(lane, "version answer: invalid UTF-8 in a value", Plan(serve=serve))
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    return out


# --- status 2: the INI download --------------------------------------------------------------

def ini_fails_fast(key_text, serve, root_host=None, record="Get dlk_ini_file failed. Result = ", version_lines=None):
    def case(lane):
        def setup():
            serve_version(lane, lane.release.version_answer(root_host(lane) if root_host else lane.host),
                          **(version_lines or {}))
            serve(lane)
        out = run(lane, "INI download: " + key_text, Plan(serve=setup))
        expect_path(out, [0, 1, 2, 0, 8, 0])
        expect_launches(out, CONTROLLER)
        if record:
            expect_failed_request(out, record)
        out.expect_equal("no library download", [], [c for c in out.facts["library"] if c.startswith("DlkStdDownload")])
        return out
    return case


def ini_times_out(key_text, serve, record=None):
    def case(lane):
        def setup():
            serve_version(lane, lane.release.version_answer(lane.host))
            serve(lane)
        out = run(lane, "INI download: " + key_text, Plan(serve=setup))
        expect_path(out, [0, 1, 2, 0, 8, 0])
        expect_launches(out, CONTROLLER)
        expect_trace(out, "Getting dlk ini file time out.")
        if record:
            expect_trace(out, record)
        return out
    return case


def ini_library_fails(key_text, body, stored=None):
    """An INI the program stores but the library cannot use: four attempts, then the end."""
    def case(lane):
        def setup():
            serve_version(lane, lane.release.version_answer(lane.host))
            serve_ini(lane, **body(lane))
            serve_files(lane)
        out = run(lane, "INI download: " + key_text, Plan(serve=setup))
        expect_path(out, ALL_FAILS)
        expect_launches(out, CONTROLLER)
        out.expect_equal("four download attempts", 4,
                         len([c for c in out.facts["library"] if c.startswith("DlkStdDownload ")]))
        if stored is not None:
            out.expect_equal("stored INI", stored(lane), stored_ini(lane))
        return out
    return case


def ini_succeeds(key_text, body, stored=None):
    def case(lane):
        ini = body(lane)

        def setup():
            serve_version(lane, lane.release.version_answer(lane.host))
            serve_ini(lane, ini)
            serve_files(lane)
        out = run(lane, "INI download: " + key_text, Plan(serve=setup))
        expect_path(out, SUCCESS)
        expect_launches(out, CONTROLLER)
        expect_release_installed(out, lane)
        expected = stored(lane, ini) if stored else ini.replace(b"\r\n", b"\r\r\n")
        out.check("stored INI as received (CR CR LF for CR LF)", stored_ini(lane) == expected,
                  "%s bytes stored, %d expected" % (len(stored_ini(lane) or b""), len(expected)))
        return out
    return case


def ini_refused(lane):
    return ini_fails_fast("nothing listens", lambda lane: None, root_host=lambda lane: lane.dead_host)(lane)


def ini_cut(lane):
    body = padded_ini(lane.release.ini().encode(), 8000)
    return ini_fails_fast("connection cut mid-body", lambda lane: serve_ini(lane, body, cut_after=300))(lane)


def ini_tls(lane):
    # The version answer closes its connection, so the INI request needs a handshake of its own.
    out = ini_fails_fast("TLS handshake broken (garbage byte)", lambda lane: lane.rig.tls_fault("garbage", skip=1),
                         version_lines={"close": 1})(lane)
    out.check("the handshake was broken", tls_faults(out), out.facts["requests"])
    return out


def ini_status(status):
    def serve(lane):
        header = {401: 'WWW-Authenticate: Basic realm="mv"', 407: 'Proxy-Authenticate: Basic realm="mv"'}[status]
        serve_ini(lane, "<html>credentials</html>", status=status, header=header)

    def case(lane):
        out = ini_fails_fast("%d" % status, serve)(lane)
        expect_trace(out, "Get dlk_ini_file failed. Result = %d." % status)
        return out
    return case


def ini_error_page(status):
    page = "<html><body><h1>%d</h1></body></html>\r\n" % status
    return ini_library_fails("%d with a page: stored, refused by the library" % status,
                             lambda lane: {"body": page, "status": status},
                             stored=lambda lane: page.replace("\r\n", "\r\r\n").encode())


def ini_hold(lane):
    def setup():
        serve_version(lane, lane.release.version_answer(lane.host))
        serve_ini(lane, lane.release.ini(), hold=1)
    out = run(lane, "INI download: no answer, held for good", Plan(serve=setup))
    expect_path(out, [0, 1, 2, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    out.check("the download gave up", has_trace(out, "Get dlk_ini_file failed. Result = ") or
              has_trace(out, "Getting dlk ini file time out."), out.facts["trace"][-8:])
    expect_within(out, "launch and exit", out.facts["seconds"], RUN_BOUND)
    return out


def ini_too_large(lane):
    body = padded_ini(lane.release.ini().encode(), 102400)
    return ini_times_out("INI of 102400 bytes", lambda lane: serve_ini(lane, body),
                         record="OnUrlReturn result= 102400")(lane)


def ini_empty(lane):
    out = ini_fails_fast("INI of 0 bytes", lambda lane: serve_ini(lane, ""), record=None)(lane)
    expect_trace(out, "Get dlk_ini_file failed. Result = 0.")
    return out


def hundred_kb_ini(lane):
    """The release's section among many other sections, 100 KB in all."""
    ini = lane.release.ini().encode()
    others = []
    n = 0
    while len(ini) + sum(len(o) for o in others) < 100000 - 200:
        others.append(b"[Other%04d]\r\nfile=x%04d.bin|other/x%04d.bin|%d|%s|MV\\bin\\other\r\n"
                      % (n, n, n, n, sha256(b"%d" % n).encode()))
        n += 1
    return padded_ini(b"".join(others) + ini, 100000)


def bad_utf8_ini(lane):
    ini = lane.release.ini().encode()
    return ini.replace(b"[ZEInstall]", b"; caf\xe9 \xff\xfe \xc3(\r\n[ZEInstall]")


def bad_utf8_stored(lane, ini):
    # Each byte that is no UTF-8 reaches the file as U+FFFD.
    return ini.replace(b"\xe9", b"\xef\xbf\xbd").replace(b"\xff\xfe", b"\xef\xbf\xbd" * 2).replace(
        b"\xc3(", b"\xef\xbf\xbd(").replace(b"\r\n", b"\r\r\n")


# --- status 4: the download library ---------------------------------------------------------

def download_cut(lane):
    def setup():
        serve_version(lane, lane.release.version_answer(lane.host))
        serve_ini(lane, lane.release.ini())
        serve_files(lane, body_file=lane.release.data_file, cut_after=1000)
    out = run(lane, "package download: connection cut mid-body", Plan(serve=setup))
    expect_path(out, ALL_FAILS)
    expect_launches(out, CONTROLLER)
    out.expect_equal("four download attempts", 4, request_paths(out).count("/rel/data/data.bin"))
    out.expect_equal("old agent left as it was", sha256(lane.release.old_agent),
                     sha256(installed(lane, "MV", "bin", "mvagtx.exe") or b""))
    return out


def notify_twice(lane):
    out = run(lane, "library notifies twice: success", Plan(serve=lambda: serve_full(lane),
                                                            library_fault="notify-twice"))
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    expect_release_installed(out, lane)
    out.expect_equal("the outcome notified twice", 2, len(library_notifications(out)))
    return out


def notify_twice_failing(lane):
    def setup():
        serve_version(lane, lane.release.version_answer(lane.host))
        serve_ini(lane, lane.release.ini())
        serve_files(lane, body="<html>gone</html>", status=404)
    out = run(lane, "library notifies each failure twice", Plan(serve=setup, library_fault="notify-twice"))
    expect_path(out, ALL_FAILS)
    expect_launches(out, CONTROLLER)
    out.expect_equal("each failure notified twice", 8, len(library_notifications(out)))
    out.expect_equal("still four download attempts", 4, request_paths(out).count("/rel/data/data.bin"))
    return out


def notify_late(lane):
    """The library holds its outcome until the program ends it, then notifies from its thread
    while the program is inside DlkExitStdDownload: the run has moved on (status 8) and the
    notification must change nothing."""
    plan = Plan(serve=lambda: serve_full(lane), library_fault="notify-late", trigger=[0, 1, 2, 3, 4],
                messages=[QUERY_END])
    out = run(lane, "library notifies late, during its exit", plan)
    expect_path(out, [0, 1, 2, 3, 4, 8, 0])
    expect_launches(out, CONTROLLER)
    out.check("the late notification was delivered during the exit",
              any(line.startswith("late notify after exit began: event=1") for line in out.facts["library_log"]),
              out.facts["library_log"][-6:])
    expect_no_trace(out, "DLKAPI DlkStdDownloadNotify: Meeting download succeed.")
    return out


def never_notify_long(lane):
    """Optional (--long): the library keeps its outcome until the program ends it, and the
    download's own time-out of 600 s ends the run; the late notification then comes in status 8."""
    plan = Plan(serve=lambda: serve_full(lane), library_fault="notify-late", timeout=900)
    out = run(lane, "library silent for the whole 600 s time-out", plan)
    expect_path(out, [0, 1, 2, 3, 4, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    expect_trace(out, "Downlaoding/Version-Checking time out.")
    expect_no_trace(out, "DLKAPI DlkStdDownloadNotify: Meeting download succeed.")
    return out


# --- messages to the hidden window -----------------------------------------------------------

def status_setup(lane, status):
    """Serving that keeps the run in status: the plan's library fault and release go with it."""
    if status == 0:
        return dict(serve=lambda: serve_version(lane, lane.release.version_answer(lane.host, status="FAILED")))
    if status == 1:
        return dict(serve=lambda: serve_version(lane, lane.release.version_answer(lane.host), hold=1))
    if status == 2:
        def serve():
            serve_version(lane, lane.release.version_answer(lane.host))
            serve_ini(lane, lane.release.ini(), hold=1)
        return dict(serve=serve)
    if status == 3:
        return dict(serve=lambda: serve_full(lane))
    return dict(serve=lambda: serve_full(lane), library_fault="never-notify")


ROAD_TO = {0: [0, 1, 0], 1: [0, 1], 2: [0, 1, 2], 3: [0, 1, 2, 3], 4: [0, 1, 2, 3, 4]}


def query_end_session(status):
    """A shutdown query in status: status 8, the loop ends, the controller is started."""
    def case(lane):
        plan = Plan(trigger=ROAD_TO[status], messages=[QUERY_END], **status_setup(lane, status))
        out = run(lane, "WM_QUERYENDSESSION in status %d%s" % (status, " (library never notifies)" if status == 4 else ""),
                  plan)
        expect_path(out, ROAD_TO[status] + [8, 0])
        expect_launches(out, CONTROLLER)
        expect_trace_before(out, "Command : ID_MENU_CLOSE.", "Change AgtApp status to 8.")
        out.check("the library was ended", "DlkExitStdDownload" in out.facts["library"], out.facts["library"])
        return out
    return case


def end_session(status, wparam=1, library_fault=None):
    """The end of the session in status (any request held for good): cleaned up, the library
    stopped, exit code 0 within 10 s of the message, nothing started."""
    def case(lane):
        setup = status_setup(lane, status)
        if library_fault:
            setup["library_fault"] = library_fault
        plan = Plan(trigger=ROAD_TO[status], messages=["endsession:%d:0" % wparam], **setup)
        out = run(lane, "WM_ENDSESSION (wParam %d) in status %d%s" % (
            wparam, status, " (library notifying progress)" if library_fault else ""), plan)
        expect_path(out, ROAD_TO[status] + [0])
        expect_launches(out, [])
        out.check("the library was ended", "DlkExitStdDownload" in out.facts["library"], out.facts["library"])
        expect_within(out, "exit after the message", out.facts["after_trigger"], 10)
        if library_fault == "notify-progress":
            out.check("progress was notified until the library's exit",
                      any("fault notify-progress: stopped by the exit" in line for line in out.facts["library_log"]),
                      out.facts["library_log"][-4:])
        return out
    return case


def no_download_library(lane):
    """No download library beside the program: every attempt fails at once (no 10-minute wait
    for a notification that cannot come), and the run ends with the controller."""
    out = run(lane, "no download library", Plan(serve=lambda: serve_full(lane),
                                                prepare=lambda m: os.remove(m.library_path("ieksdlk.dll"))))
    expect_path(out, ALL_FAILS)
    expect_launches(out, CONTROLLER)
    expect_within(out, "launch and exit", out.facts["seconds"], RUN_BOUND)
    return out


def logoff_ignored(lane):
    """Log-off (ENDSESSION_LOGOFF in lParam) is not a shutdown: the run goes on to its end."""
    plan = Plan(trigger=ROAD_TO[3], messages=["queryendsession:0:%#x" % LOGOFF, "endsession:1:%#x" % LOGOFF],
                serve=lambda: serve_full(lane))
    out = run(lane, "log-off query and end in status 3: ignored", plan)
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    expect_no_trace(out, "Command : ID_MENU_CLOSE.")
    return out


def close_in_download(lane):
    plan = Plan(trigger=ROAD_TO[4], messages=["close"], **status_setup(lane, 4))
    out = run(lane, "WM_CLOSE in status 4: the run ends in order", plan)
    expect_path(out, [0, 1, 2, 3, 4, 8, 0])
    expect_launches(out, CONTROLLER)
    return out


def before_window(lane):
    """A shutdown during the first 30 s finds no window: the run is not touched."""
    plan = Plan(messages=[QUERY_END, END_SESSION], send_now=True, serve=lambda: serve_light(lane))
    out = run(lane, "shutdown messages before the window exists", plan)
    out.expect_equal("no window found", 3, out.facts["tool_code"])
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    return out


# --- settings in the registry ----------------------------------------------------------------

def surl_unusable(key_text, value):
    """An SURL that is no usable text reads as none: the configuration program, then the end."""
    def case(lane):
        out = run(lane, "SURL " + key_text, Plan(settings={"SURL": value(lane)}))
        expect_path(out, [0, 8, 0])
        expect_launches(out, [("mvcfg.exe", ""), ("ksagtctl.exe", "/start2")])
        out.expect_equal("nothing asked", [], out.facts["requests"])
        return out
    return case


def surl_scheme_only(lane):
    """An SURL that is only a scheme names no server: the request fails, the value is written
    back without its scheme (empty), and the run ends as after any failed check."""
    out = run(lane, "SURL of nothing but https://", Plan(settings={"SURL": "https://"}))
    expect_path(out, [0, 1, 0, 8, 0])
    expect_launches(out, CONTROLLER)
    expect_failed_request(out, "Get version info failed. Result = ")
    out.expect_equal("SURL written back empty", "", lane.machine.setting("SURL"))
    return out


def long_values(lane):
    settings = {"SURL": lane.host, "RTN": "0000" + "41" * 4998, "InstallSectionName": "S" * 300,
                "LANGUAGEID": "9" * 300}
    out = run(lane, "RTN of 10000, section and language of 300 chars", Plan(settings=settings,
                                                                          serve=lambda: serve_light(lane)))
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    out.expect_equal("version request with neither language nor token", lane.version_path(),
                     (request_paths(out) or [None])[0])
    out.check("default install section", any(c.startswith("DlkStdDownload ") and 'section="ZEInstall"' in c
                                             for c in out.facts["library"]), out.facts["library"])
    out.expect_equal("LANGUAGEID filled from the answer", "9", lane.machine.setting("LANGUAGEID"))
    return out


def wrong_types(lane):
    settings = {"SURL": lane.host, "LANGUAGEID": ("dword", 13), "InstallSectionName": ("binary", b"Other\0"),
                "RTN": ("dword", 1), "SystemTrayIcon": ("multi_sz", ["1"])}
    out = run(lane, "values of the wrong type read as absent", Plan(settings=settings,
                                                                  serve=lambda: serve_light(lane)))
    expect_path(out, SUCCESS)
    expect_launches(out, CONTROLLER)
    out.expect_equal("version request with neither language nor token", lane.version_path(),
                     (request_paths(out) or [None])[0])
    out.check("default install section", any(c.startswith("DlkStdDownload ") and 'section="ZEInstall"' in c
                                             for c in out.facts["library"]), out.facts["library"])
    out.expect_equal("LANGUAGEID filled from the answer", "9", lane.machine.setting("LANGUAGEID"))
    return out


def proxy_wrong_types(lane):
    """The proxy values are read as they are stored, whatever their type: a number where the
    proxy's name should be names no proxy that works, and the version check fails."""
    settings = {"SURL": lane.host, "MVProxyEnable": ("dword", 1), "MVProxyServer": ("dword", 0x31)}
    out = run(lane, "proxy server stored as a number", Plan(settings=settings, serve=lambda: serve_light(lane)))
    expect_launches(out, CONTROLLER)
    expect_path(out, [0, 1, 0, 8, 0])
    expect_failed_request(out, "Get version info failed. Result = ")
    return out


def crash_detector(lane):
    """The checks above would miss a crash if the emulator's report of one did not reach them:
    a program that dies of a page fault must be seen."""
    out = Outcome("crash reports are seen (self-check)")
    started = time.monotonic()
    output_file = os.path.join(lane.case_dir, "crash-output.txt")
    os.makedirs(lane.case_dir, exist_ok=True)
    code = lane.machine.start_program(lane.sendmsg, ["--page-fault"], output_file).wait(timeout=120)
    lane.machine.wait_quiet(120)
    with open(output_file, "rb") as f:
        signs = crash_signs(f.read().decode("utf-8", "replace"))
    out.facts = {"seconds": round(time.monotonic() - started, 1), "path": [], "exit": code}
    out.check("crash reported", signs, "nothing recognised in the output")
    out.check("nonzero exit code", code != 0, code)
    return out


# --- the matrix -------------------------------------------------------------------------------

def cases(long_cases=False):
    """(key, estimated seconds, case) of every case, in the order of the table."""
    out = [
        ("self-crash", 5, crash_detector),
        ("v-refused", 45, version_refused),
        ("v-cut", 45, version_cut),
        ("v-tls-plain", 45, version_tls("plain")),
        ("v-tls-garbage", 45, version_tls("garbage")),
        ("v-tls-close", 45, version_tls("close")),
        ("v-wrongname", 45, version_certificate("wrong name")),
        ("v-expired", 45, version_certificate("expired")),
        ("v-wrongname-ok", 40, version_certificate("wrong name", relaxed="1")),
        ("v-expired-ok", 40, version_certificate("expired", relaxed=("dword", 1))),
        ("v-300mb", 50, version_oversized("300 MB announced", body_size=300 * 1024 * 1024)),
        ("v-endless", 50, version_oversized("endless, no length", body_size=10 ** 12, no_length=1)),
        ("v-token-echo", 75, token_echoed),
        ("planted-trace", 40, planted_trace_libraries),
        ("planted-ini", 40, planted_ini("file")),
        ("planted-link", 40, planted_ini("link")),
        ("v-401", 45, version_status(401)),
        ("v-407", 45, version_status(407)),
        ("v-404-page", 75, version_error_page(404)),
        ("v-500-page", 75, version_error_page(500)),
        ("v-102399", 40, version_size(102399)),
        ("v-102400", 75, version_size(102400)),
        ("v-hold", 75, version_hold),
        ("v-no-close", 45, version_unreadable("envelope without its closing mark", no_closing_mark)),
        ("v-env-4100", 45, version_unreadable("envelope content over 4096 chars", envelope_too_long)),
        ("v-nul", 45, version_unreadable("NUL byte inside the envelope", nul_in_envelope)),
        ("v-long-tags", 40, version_long_tags),
        ("v-bad-utf8", 40, version_bad_utf8),
        ("v-ini-escape", 45, version_hostile_ini_name),
        ("i-refused", 45, ini_refused),
        ("i-cut", 45, ini_cut),
        ("i-tls-garbage", 45, ini_tls),
        ("i-401", 45, ini_status(401)),
        ("i-407", 45, ini_status(407)),
        ("i-404-page", 50, ini_error_page(404)),
        ("i-500-page", 50, ini_error_page(500)),
        ("i-102399", 40, ini_succeeds("INI of 102399 bytes",
                                      lambda lane: padded_ini(lane.release.ini().encode(), 102399))),
        ("i-102400", 75, ini_too_large),
        ("i-hold", 75, ini_hold),
        ("i-empty", 45, ini_empty),
        ("i-100kb", 40, ini_succeeds("INI of 100 KB, many sections", hundred_kb_ini)),
        ("i-nul-first", 50, ini_library_fails("NUL as the first byte: stored empty",
                                              lambda lane: {"body": b"\0" + lane.release.ini().encode()},
                                              stored=lambda lane: b"")),
        ("i-bad-utf8", 40, ini_succeeds("invalid UTF-8 in a comment", bad_utf8_ini, stored=bad_utf8_stored)),
        ("d-cut", 50, download_cut),
        ("d-twice", 40, notify_twice),
        ("d-twice-fail", 50, notify_twice_failing),
        ("d-late", 40, notify_late),
    ]
    for status in (0, 1, 2, 3, 4):
        out.append(("qes-%d" % status, 45, query_end_session(status)))
    for status in (0, 1, 2, 3):
        out.append(("es-%d" % status, 45, end_session(status)))
    out += [
        ("es-4-wp0", 45, end_session(4, wparam=0)),
        ("es-4-progress", 45, end_session(4, library_fault="notify-progress")),
        ("d-no-library", 60, no_download_library),
        ("logoff-3", 40, logoff_ignored),
        ("close-4", 40, close_in_download),
        ("pre-window", 40, before_window),
        ("r-surl-dword", 40, surl_unusable("as REG_DWORD", lambda lane: ("dword", 5))),
        ("r-surl-binary", 40, surl_unusable("as REG_BINARY of its text",
                                            lambda lane: ("binary", lane.host.encode("utf-16-le") + b"\0\0"))),
        ("r-surl-300", 40, surl_unusable("of 300 chars", lambda lane: (lane.host + "/" + "x" * 300)[:300])),
        ("r-surl-scheme", 45, surl_scheme_only),
        ("r-long", 40, long_values),
        ("r-types", 40, wrong_types),
        ("r-proxy", 45, proxy_wrong_types),
    ]
    if long_cases:
        out.append(("d-silent-600s", 700, never_notify_long))
    return out
