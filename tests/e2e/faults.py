"""The end-to-end table: the real mvupdate.exe under Wine in normal runs (rows n-) and against
servers, download libraries, settings and shutdowns that misbehave. A row (mvrun.Row) says how its
run is set up and what it must show; mvrun.run() runs it, mvrun.check() makes the checks every row
makes and those the row names. Messages reach the hidden window once the trace shows the status a
row wants (trigger; DONE and QUIT last one 50 ms tick: not aimed at)."""

import dataclasses
import datetime
import os
import pathlib
import re
import shutil
import time

from mvmachine import RECORDS, Machine, Outcome, crash_signs, version_answer
from mvrun import (
    ALL_FAILS,
    CONTROLLER,
    FAILED_ATTEMPT,
    FILES,
    FULL,
    I_FAILS,
    LIGHT,
    SUCCESS,
    V_FAILS,
    Row,
    Status,
    as_stored,
    changed_version,
    check,
    files_part,
    full_success,
    ini_part,
    moved,
    nothing_needed,
    refuses_unknown_keys,
    run,
    tls_fault,
    version_part,
)
from signedsite import SignedSite

QUERY_END, LOGOFF = "queryendsession:0:0", 0x80000000
V_FAILED, I_FAILED = "Get version info failed. Result = ", "Get dlk_ini_file failed. Result = "
# What the program promises whatever a server does: start delay, 30 s for an answer, 10 s in
# IDLE, and 10 s more at most before the final launch and the exit.
RUN_BOUND = 30 + 30 + 10 + 10
TOKEN = "t0k&en"
ECHOED_TOKEN, PROXY_PASSWORD, SERVER_PASSWORD = "Echo7Secret9", "Pr0xyPa55", "S3rverPa55"


def run_row(lane, row):
    """Runs the row on the lane: its Outcome."""
    if row.special is not None:
        return row.special(lane, row)
    if row.served is not None:
        return run_signed(lane, row)
    out = run(lane, row)
    check(out, lane, row)
    return out


def crash_detector(lane, row):
    """A program that dies of a page fault must be seen, or the crash checks prove nothing."""
    out, started = Outcome(row.what), time.monotonic()
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
    Status.IDLE: dict(serve=(changed_version(Status="FAILED"),)),
    Status.CHECKING_VERSION: dict(serve=(version_part(hold=1),)),
    Status.DOWNLOADING_INI: dict(serve=(version_part(), ini_part(hold=1))),
    Status.READY_TO_DOWNLOAD: dict(serve=FULL),
    Status.DOWNLOADING: dict(serve=FULL, fault="never-notify"),
}
ROAD_TO = {
    Status.IDLE: V_FAILS[:3],
    Status.CHECKING_VERSION: SUCCESS[:2],
    Status.DOWNLOADING_INI: SUCCESS[:3],
    Status.READY_TO_DOWNLOAD: SUCCESS[:4],
    Status.DOWNLOADING: SUCCESS[:5],
}
ENDED = [Status.QUIT, Status.IDLE]  # the end of every run


def held(key, seconds, what, status, **fields):
    """A row whose run the server (or the library) keeps in status."""
    return Row(key, seconds, what, **{**HOLD_IN[status], **fields})


def normal_rows():
    """Normal runs: installed, nothing missing, check mode, the settings the program reads."""
    return [
        full_success(),
        Row(
            "n-missing",
            75,
            "normal mode, package missing four times",
            serve=(version_part(), ini_part(), files_part(body="<html>gone</html>", status=404)),
            path=ALL_FAILS,
            attempts=4,
            installed="old",
        ),
        Row(
            "n-intact",
            40,
            "check mode, agent intact; the library's import beside it",
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
        Row(
            "n-outdated",
            40,
            "check mode, agent outdated",
            args=("/CHECK",),
            serve=FULL,
            path=SUCCESS,
            asked=["{v}"] + FILES[:2],
            installed="agent",
            launches=[("mvagtx.exe", "")],
        ),
        Row(
            "n-empty-body",
            45,
            "server answers: empty body",
            serve=(version_part(""),),
            path=V_FAILS,
            asked=["{v}"],
        ),
        Row(
            "n-surl-token",
            45,
            "SURL with scheme and /Orvik, scrambled token",
            settings=lambda lane: {"SURL": "https://{host}/Orvik", "RTN": lane.scrambled(TOKEN)},
            serve=FULL,
            path=SUCCESS,
            asked=["{v}" + TOKEN] + FILES,
            after={"SURL": "{host}/Orvik", "LANGUAGEID": "9"},
            no_trace=[TOKEN],
            no_modules=[TOKEN],
        ),
        Row(
            "n-settings",
            45,
            "install section, trace level and language from the settings",
            settings={
                "SURL": "{host}",
                "InstallSectionName": "Other",
                "TraceLevel": "0",
                "LANGUAGEID": "13",
            },
            serve=(
                version_part(),
                ini_part(lambda lane: lane.release.ini().replace(b"[ZEInstall]", b"[Other]")),
                files_part(),
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
    ]


def self_check_rows():
    return [
        Row(
            "self-crash",
            5,
            "crash reports are seen (self-check)",
            path=None,
            special=crash_detector,
        )
    ]


def version_rows():
    """CHECKING_VERSION: nothing listens, a cut body, broken handshakes, no answer at all."""
    return (
        [
            Row(
                "v-refused",
                45,
                "version check: nothing listens",
                settings={"SURL": "{dead}"},
                path=V_FAILS,
                failed=V_FAILED,
                asked=[],
            ),
            Row(
                "v-cut",
                45,
                "version check: connection cut mid-body",
                serve=(
                    version_part(
                        lambda lane: version_answer(lane.host) + b" " * 4000, cut_after=200
                    ),
                ),
                path=V_FAILS,
                failed=V_FAILED,
            ),
        ]
        + [
            Row(
                "v-tls-" + mode,
                45,
                "version check: TLS handshake broken (%s)" % mode,
                serve=LIGHT + (tls_fault(mode),),
                path=V_FAILS,
                failed=V_FAILED,
                asked=[],
                errors=["TLS fault: " + mode],
            )
            for mode in ("plain", "garbage", "close")
        ]
        + [
            held(
                "v-hold",
                75,
                "version check: no answer, held for good",
                Status.CHECKING_VERSION,
                path=V_FAILS,
                trace=[(V_FAILED, "Getting downloading info time out.")],
                within=("seconds", RUN_BOUND),
            ),
        ]
    )


def certificate_rows():
    """A server certificate for another name or out of its dates: refused, MVRelaxedTls or not."""
    table = []
    for kind, key, relaxed in (("wrong", "wrongname", "1"), ("expired", "expired", ("dword", 1))):
        serve = (version_part(at=kind), ini_part(nothing_needed))
        table += [
            Row(
                "v-" + key,
                45,
                "certificate: %s, refused" % kind,
                settings={"SURL": "{%s}" % kind},
                serve=serve,
                path=V_FAILS,
                failed=V_FAILED,
                asked=[],
                modules=["server certificate refused"],
            ),
            # Without update keys TLS is all that tells the real server from any other.
            Row(
                "v-%s-relaxed-no-key" % key,
                40,
                "certificate: %s, MVRelaxedTls without an update key: ignored, refused" % kind,
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
        ]
    return table


def no_credentials_sent(out, lane):
    out.check(
        "no credentials sent",
        "header: Authorization:" not in lane.rig.control("/requests"),
        "an Authorization header reached the server",
    )


def redirect_rows():
    """Redirects: followed over TLS only, at most five times. One that leaves TLS is refused
    before anything is sent (a plain request shows as a request not over TLS), its location traced
    with the token masked; the run then ends as after any failed request."""
    leaving = "http://{host}:443/update/%s/smt.php{query}&TK=%s" % (TOKEN, TOKEN)
    to_mirror = moved("https://{mirror}/mirror/smt.php{query}&TK=", prefix="/update/")
    return [
        Row(
            "v-redirect-http",
            45,
            "version check: redirected to plain HTTP on the TLS port",
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
        Row(
            "i-redirect-http",
            45,
            "INI download: redirected to plain HTTP",
            serve=(version_part(), moved("http://{host}/dl/dlk.php", path=FILES[0])),
            path=I_FAILS,
            asked=["{v}", FILES[0]],
            trace=[I_FAILED + "12040."],
            modules=["MVUrl redirect refused: it leaves TLS; location: http://{host}/dl/dlk.php"],
        ),
        Row(
            "v-redirect-https",
            45,
            "version check: redirected to HTTPS on another host",
            serve=(to_mirror, version_part(at="mirror", root="host"), ini_part(nothing_needed)),
            path=SUCCESS,
            asked=["{v}", "/mirror/smt.php{query}&TK=", FILES[0]],
            modules=["MVUrl redirected to https://{mirror}/mirror/smt.php{query}&TK=********"],
        ),
        # The stored server credentials are the configured server's: a host a redirect leads to
        # gets none when it asks.
        Row(
            "v-redirect-401",
            45,
            "version check: redirected to another host that asks for credentials",
            settings=lambda lane: {
                "SURL": "{host}",
                "ServerAuthUserName": "server-user",
                "ServerAuthPassword": lane.scrambled(SERVER_PASSWORD),
            },
            serve=(
                to_mirror,
                version_part(at="mirror", root="host", auth="server-user:" + SERVER_PASSWORD),
            ),
            path=V_FAILS,
            asked=["{v}", "/mirror/smt.php{query}&TK="],
            trace=[V_FAILED + "401."],
            check=no_credentials_sent,
        ),
        Row(
            "v-redirect-loop",
            45,
            "version check: redirected back to itself for good",
            serve=(moved("{v}", prefix="/update/"),),
            path=V_FAILS,
            asked=["{v}"] * 6,
            trace=[V_FAILED + "12156."],
            modules=["MVUrl redirect refused: more than 5 redirects"],
        ),
    ]


def answer_size_rows():
    """Answers too long for the URL module, or too long for the program to use."""
    return [
        Row(
            key,
            50,
            "version answer: " + what,
            serve=(version_part(b"", **lines),),
            path=V_FAILS,
            trace=[V_FAILED + "223."],
            modules=["MVUrl answer body passes its limit of 1048576 bytes"],
            memory=160,
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
    ] + [
        # Longer than any answer the program uses, well inside the module's limit: refused at
        # once, not by the wait for an answer.
        Row(
            "v-200k",
            50,
            "version answer: 200 KB",
            serve=(version_part(b"", body_size=200 * 1024),),
            path=V_FAILS,
            trace=["OnUrlReturn: an answer of 204800 bytes is refused (at most 102399)."],
            no_trace=["Getting downloading info time out."],
        ),
        # Exactly at the limit the body arrives whole; the program then finds it too long to use.
        Row(
            "v-limit",
            75,
            "version answer: 1 MiB exactly",
            serve=(version_part(b"", body_size=2**20),),
            path=V_FAILS,
            trace=["OnUrlReturn: an answer of 1048576 bytes is refused (at most 102399)."],
            no_trace=["Getting downloading info time out."],
            no_modules=["passes its limit"],
        ),
    ]


def secret_echo_rows():
    """Secrets are masked by their values, wherever a text brings them back."""
    return [
        Row(
            "v-token-echo-accepted",
            45,
            "accepted answer echoing the token HTML-escaped and bare",
            settings=lambda lane: {"SURL": "{host}", "RTN": lane.scrambled(ECHOED_TOKEN)},
            serve=(
                changed_version(
                    Echo="https://{host}/update/smt.php?LID=9&amp;TK=%s" % ECHOED_TOKEN,
                    Note="TK=%s" % ECHOED_TOKEN,
                ),
                ini_part(),
                files_part(),
            ),
            path=SUCCESS,
            installed="release",
            trace=["<Note>TK=********</Note>"],
            no_trace=[ECHOED_TOKEN],
            no_modules=[ECHOED_TOKEN],
        ),
        Row(
            "v-password-echo",
            75,
            "error page echoing the token and the stored passwords",
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
                version_part(
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
    ]


def planted_rows():
    """Libraries and an INI planted where an unwary program would pick them up."""
    return [
        # The program looks for libraries nowhere but in its own folder and the system's (a
        # library's own imports also beside it): planted copies are never loaded.
        Row(
            "planted-trace",
            40,
            "trace libraries and a download library's import planted (working directory, PATH)",
            serve=LIGHT,
            path=None,
            asked=["{v}", FILES[0]],
            cwd=plant_libraries,
            launch=["--path", "C:\\onpath"],
            no_files=["planted/*.log", "onpath/*.log"],
            no_library=[re.compile("^Dlk")],
        ),
        # The INI goes into a folder of a random name made for the run: a link planted at its
        # old place is neither written through nor read.
        Row(
            "planted-ini",
            40,
            "link planted at the INI's old place in the temporary directory",
            serve=FULL,
            path=SUCCESS,
            installed="release",
            prepare=plant_old_ini,
            library=[re.compile(r"(?i)^DlkStdDownload .*\\temp\\mvu-[0-9a-f]{16}\\dlk\.php")],
            check=old_ini_untouched,
        ),
    ]


def error_status_rows():
    """Credentials asked for (407, 401), and any other status (404, 500: alike), which brings its
    page as the answer."""
    table = []
    for step, status, header in (("v", 407, "Proxy-Authenticate"), ("i", 401, "WWW-Authenticate")):
        asks = dict(
            body="<html>credentials</html>", status=status, header=header + ': Basic realm="mv"'
        )
        failed = V_FAILED if step == "v" else I_FAILED
        table.append(
            Row(
                "%s-%d" % (step, status),
                45,
                "%s: %d" % ("version check" if step == "v" else "INI download", status),
                serve=(version_part(**asks),)
                if step == "v"
                else (version_part(), ini_part(**asks)),
                path=V_FAILS if step == "v" else I_FAILS,
                failed=failed,
                trace=[failed + "%d." % status],
            )
        )
    ini_page = b"<html><body><h1>500</h1></body></html>\r\n"
    table.append(
        Row(
            "i-500-page",
            50,
            "INI download: 500 with a page: stored, refused by the library",
            serve=(version_part(), ini_part(ini_page, status=500), files_part()),
            path=ALL_FAILS,
            attempts=4,
            stored=lambda lane: as_stored(ini_page),
        )
    )
    return table


def ini_rows():
    """DOWNLOADING_INI: nothing listens, a cut body, a broken handshake, no answer, an empty INI,
    and a temporary directory of non-ASCII characters."""
    return [
        Row(
            "i-refused",
            45,
            "INI download: nothing listens",
            serve=(version_part(root="dead"),),
            path=I_FAILS,
            failed=I_FAILED,
        ),
        Row(
            "i-cut",
            45,
            "INI download: connection cut mid-body",
            serve=(
                version_part(),
                ini_part(lambda lane: lane.release.ini() + b";" * 8000, cut_after=300),
            ),
            path=I_FAILS,
            failed=I_FAILED,
        ),
        # The version answer closes its connection, so the INI request needs a handshake of its own.
        Row(
            "i-tls-garbage",
            45,
            "INI download: TLS handshake broken (garbage byte)",
            serve=(version_part(close=1), tls_fault("garbage", skip=1)),
            path=I_FAILS,
            failed=I_FAILED,
            asked=["{v}"],
            errors=["TLS fault: garbage"],
        ),
        held(
            "i-hold",
            75,
            "INI download: no answer, held for good",
            Status.DOWNLOADING_INI,
            path=I_FAILS,
            trace=[(I_FAILED, "Getting dlk ini file time out.")],
            within=("seconds", RUN_BOUND),
        ),
        Row(
            "i-empty",
            45,
            "INI download: INI of 0 bytes",
            serve=(version_part(), ini_part("")),
            path=I_FAILS,
            trace=[I_FAILED + "0."],
        ),
        # A temporary directory whose name needs more bytes in UTF-8 than characters: the INI's
        # path reaches the library whole, and the run's folder goes afterwards.
        Row(
            "i-temp-unicode",
            45,
            "temporary directory with non-ASCII characters",
            serve=FULL,
            launch=["--temp-sub", UNICODE_TEMP],
            path=SUCCESS,
            installed="release",
            library=[re.compile(r"iniPath=\S*\\%s\\mvu-[0-9a-f]{16}\\+dlk\.php" % UNICODE_TEMP)],
            check=unicode_temp_emptied,
        ),
    ]


def download_rows():
    """DOWNLOADING: a cut package, a library that notifies twice, stale or late, none at all, or
    one that refuses every download."""
    missing = (version_part(), ini_part(), files_part(body="<html>gone</html>", status=404))
    return [
        Row(
            "d-cut",
            50,
            "package download: connection cut mid-body",
            serve=(version_part(), ini_part(), files_part(cut_after=1000)),
            path=ALL_FAILS,
            attempts=4,
            installed="old",
        ),
        Row(
            "d-twice",
            40,
            "library notifies twice: success",
            serve=FULL,
            fault="notify-twice",
            path=SUCCESS,
            installed="release",
            notified=2,
        ),
        Row(
            "d-twice-fail",
            50,
            "library notifies each failure twice",
            serve=missing,
            fault="notify-twice",
            path=ALL_FAILS,
            attempts=4,
            notified=8,
        ),
        # The first attempt's thread reports its failure again once the second has started: only
        # the second attempt's own outcome may decide.
        Row(
            "d-stale",
            45,
            "library repeats a failed attempt's outcome during the retry",
            serve=FULL,
            fault="notify-stale",
            path=I_FAILS[:3] + FAILED_ATTEMPT + SUCCESS[3:],
            installed="release",
            library=[
                re.compile(r"^DlkStdDownload .* userData=1$"),
                re.compile(r"^DlkStdDownload .* userData=2$"),
            ],
            library_log=["fault notify-stale: the outcome once more"],
            trace=["OnDlkStdDownloadNotify: notification of attempt 1 ignored in attempt 2."],
        ),
        # The library holds its outcome until the program ends it, then notifies from its thread
        # while the program is inside DlkExitStdDownload: that must change nothing.
        Row(
            "d-late",
            40,
            "library notifies late, during its exit",
            serve=FULL,
            fault="notify-late",
            trigger=ROAD_TO[Status.DOWNLOADING],
            messages=[QUERY_END],
            path=ROAD_TO[Status.DOWNLOADING] + ENDED,
            library_log=["late notify after exit began: event=1"],
            no_trace=["DLKAPI DlkStdDownloadNotify: Meeting download succeed."],
        ),
        # No download library: every attempt fails at once, no wait for a notification.
        Row(
            "d-no-library",
            60,
            "no download library",
            serve=FULL,
            prepare=lambda lane: os.remove(lane.machine.orvik("ieksdlk.dll")),
            path=ALL_FAILS,
            within=("seconds", RUN_BOUND),
        ),
        # A library that refuses every download at once: four quick attempts, no time-out.
        Row(
            "d-refused",
            55,
            "library refuses every download",
            serve=FULL,
            fault="refuse-start",
            path=ALL_FAILS,
            attempts=4,
            installed="old",
            trace=["DlkStdDownload refused the download: -3"],
            within=("seconds", RUN_BOUND),
        ),
    ]


def silent_library_rows():
    """The library keeps its outcome until the program ends it: the download's own 600 s time-out
    ends the run, and the late notification comes in QUIT."""
    return [
        Row(
            "d-silent-600s",
            700,
            "library silent for the whole 600 s time-out",
            serve=FULL,
            fault="notify-late",
            timeout=900,
            path=ROAD_TO[Status.DOWNLOADING] + [Status.IDLE] + ENDED,
            trace=["Downlaoding/Version-Checking time out."],
            no_trace=["DLKAPI DlkStdDownloadNotify: Meeting download succeed."],
        )
    ]


def query_end_rows():
    """WM_QUERYENDSESSION in each status: the close command traced, then QUIT; a log-off's is
    ignored."""
    return [
        held(
            "qes-%d" % status,
            45,
            "WM_QUERYENDSESSION in status %d%s"
            % (status, " (library never notifies)" if status == Status.DOWNLOADING else ""),
            status,
            trigger=ROAD_TO[status],
            messages=[QUERY_END],
            path=ROAD_TO[status] + ENDED,
            library=["DlkExitStdDownload"],
            trace=[["Command : ID_MENU_CLOSE.", "Change AgtApp status to 8."]],
        )
        for status in HOLD_IN
    ] + [
        Row(
            "logoff-3",
            40,
            "log-off query and end in status 3: ignored",
            serve=FULL,
            trigger=ROAD_TO[Status.READY_TO_DOWNLOAD],
            messages=["queryendsession:0:%#x" % LOGOFF, "endsession:1:%#x" % LOGOFF],
            path=SUCCESS,
            no_trace=["Command : ID_MENU_CLOSE."],
        ),
    ]


def end_session_rows():
    """The end of the session (any request held for good): cleaned up, the library stopped, exit
    within 10 s of the message, nothing started. A shutdown cancelled after its query
    (WM_ENDSESSION with wParam FALSE): the session goes on, so the run ends as the query asked,
    with its teardown and the controller's launch."""
    ending = [(status, None) for status in HOLD_IN] + [(Status.DOWNLOADING, "notify-progress")]
    return [
        held(
            "es-%d%s" % (status, "-progress" if fault else ""),
            45,
            "WM_ENDSESSION (wParam 1) in status %d%s"
            % (status, " (library notifying progress)" if fault else ""),
            status,
            fault=fault or HOLD_IN[status].get("fault"),
            trigger=ROAD_TO[status],
            messages=["endsession:1:0"],
            path=ROAD_TO[status] + [Status.IDLE],
            launches=[],
            library=["DlkExitStdDownload"],
            within=("after_trigger", 10),
            library_log=["fault notify-progress: stopped by the exit"] if fault else [],
        )
        for status, fault in ending
    ] + [
        held(
            "es-cancelled-%d" % status,
            45,
            "WM_QUERYENDSESSION, then WM_ENDSESSION (wParam 0) in status %d" % status,
            status,
            trigger=ROAD_TO[status],
            messages=[QUERY_END, "endsession:0:0"],
            path=ROAD_TO[status] + ENDED,
            library=["DlkExitStdDownload"],
            within=("after_trigger", 10),
        )
        for status in HOLD_IN
    ]


def registry_rows():
    """Settings in the registry that are unusable: of the wrong type, too long, or nothing but a
    scheme."""
    return [
        # An SURL that is no text reads as none; the configuration program, started then, gets
        # none of the handles the program was given to inherit.
        Row(
            "r-surl-dword",
            40,
            "SURL as REG_DWORD",
            settings={"SURL": ("dword", 5)},
            path=[Status.IDLE] + ENDED,
            asked=[],
            launches=[("mvcfg.exe", "")] + CONTROLLER,
            launch=[],
            launch_log=[re.compile(r'^mvcfg\.exe .* probe="not inherited"$')],
        ),
        Row(
            "r-surl-scheme",
            45,
            "SURL of nothing but https://",
            settings={"SURL": "https://"},
            path=V_FAILS,
            failed=V_FAILED,
            after={"SURL": ""},
        ),
        # Unusable values read as absent: no language nor token sent, the default section,
        # LANGUAGEID filled.
        Row(
            "r-odd-values",
            40,
            "values too long or of the wrong type read as absent",
            settings={
                "SURL": "{host}",
                "RTN": "0000" + "41" * 4998,
                "InstallSectionName": "S" * 300,
                "LANGUAGEID": ("dword", 13),
                "SystemTrayIcon": ("multi_sz", ["1"]),
            },
            serve=LIGHT,
            path=SUCCESS,
            asked=["{v}", FILES[0]],
            after={"LANGUAGEID": "9"},
            library=[re.compile(r'^DlkStdDownload .*section="ZEInstall"')],
        ),
        # A number where the proxy's name should be names no proxy that works.
        Row(
            "r-proxy",
            45,
            "proxy server stored as a number",
            settings={
                "SURL": "{host}",
                "MVProxyEnable": ("dword", 1),
                "MVProxyServer": ("dword", 0x31),
            },
            serve=LIGHT,
            path=V_FAILS,
            failed=V_FAILED,
        ),
    ]


def rows(long_rows=False):
    """The rows: the normal runs (n-), then the faults, by the status they hit."""
    refuses_unknown_keys()
    table = (
        normal_rows()
        + self_check_rows()
        + version_rows()
        + certificate_rows()
        + redirect_rows()
        + answer_size_rows()
        + secret_echo_rows()
        + planted_rows()
        + error_status_rows()
        + ini_rows()
        + download_rows()
        + query_end_rows()
        + end_session_rows()
        + registry_rows()
        + signed_answer_rows()
        + signed_refusal_rows()
        + signed_key_rows()
        + rollout_rows()
        + rollout_check_rows()
        + library_value_rows()
    )
    return table + silent_library_rows() if long_rows else table


# --- signed answers: a release published with the operator's kit and served by nginx ------------

REFUSED = "Update answer refused: "
NO_LIBRARY = ["DlkInitStdDownload", "DlkSetStdParameter", "DlkStdDownload "]
ANSWER, INI = "/signed/smt.php", "/rel/dlk.php"
SIGNED_FILES = [ANSWER, INI, FILES[1], FILES[2]]
ACCEPTED = dict(path=SUCCESS, served=SIGNED_FILES, installed="release", after={"LANGUAGEID": "9"})
# Refused: nothing written, nothing given to the library, the reason traced, controller started.
REFUSED_ROW = dict(path=V_FAILS, served=[ANSWER], after={"LANGUAGEID": None}, no_library=NO_LIBRARY)


def signed_site(lane):
    """The lane's nginx site (made at its first signed row), its keys named for the settings."""
    site = lane.signed_site = getattr(lane, "signed_site", None) or SignedSite(lane)
    lane.names.update(key_a=site.keys["a"][1], key_b=site.keys["b"][1])
    return site


def run_signed(lane, row):
    """Publishes as the row says (publish: key and mvpublish options; alter: a change to the site),
    serves it with nginx and runs the row against it; settings take {key_a} and {key_b}."""
    site = signed_site(lane)
    site.publish(*row.publish, port=row.port, alias=row.server)
    if row.alter is not None:
        row.alter(site)
    site.start()
    try:
        given = lane.given(row.settings if row.settings is not None else {})
        out = run(lane, dataclasses.replace(row, settings={"SURL": "{signed}", **given}))
    finally:
        site.stop()
    check(out, lane, row)
    asked = site.asked()
    out.expect_equal("files nginx was asked for", row.served, asked)
    return out


def signed_row(key, what, base, **fields):
    """A row against a signed site: base (accepted, refused ...) with fields changed."""
    return Row(key, 50, what, **{**base, **fields})


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


def serial_kept(out, lane):
    out.expect_equal(
        "MVLastSerial kept",
        str(lane.signed_site.serial() + 1),
        lane.machine.setting("MVLastSerial"),
    )


def serial_raised(out, lane):
    """The serial of the site's answer stored: a lower one is refused afterwards."""
    out.expect_equal(
        "MVLastSerial raised", str(lane.signed_site.serial()), lane.machine.setting("MVLastSerial")
    )


def ini_held_open(out, lane):
    tool_output = out.facts["tool_output"] or ""
    out.check(
        "the stored INI could not be changed or deleted",
        re.search(r"rewrite dlk.php: refused", tool_output)
        and re.search(r"delete dlk.php: refused", tool_output),
        out.facts["tool_output"],
    )


def signed_answer_rows():
    """Signed answers accepted: by either key, with or without keys set, serials not below the
    stored one, a relaxed certificate, a port; and the stored INI held and checked."""
    key_a = {"MVUpdateKey": "{key_a}"}
    return [
        signed_row(
            "s-signed",
            "signed answer, its key set: accepted",
            ACCEPTED,
            settings=key_a,
            trace=["Update answer signature verified with key 1."],
        ),
        signed_row(
            "s-second-key",
            "signed by the second of two keys: accepted",
            ACCEPTED,
            settings={"MVUpdateKey": " {key_b} ; {key_a}"},
            trace=["Update answer signature verified with key 2."],
        ),
        signed_row(
            "s-no-key",
            "signed answer, no key set: accepted as before",
            ACCEPTED,
            settings={},
            trace=["Update answers are not signature-checked (no MVUpdateKey)."],
            no_trace=["Update answer refused", "Update answer signature"],
        ),
        signed_row(
            "s-serial-equal",
            "serial equal to the highest admitted (the same release again): accepted",
            ACCEPTED,
            settings=stored_serial(0),
            trace=["Update answer signature verified"],
        ),
        signed_row(
            "s-serial-higher",
            "serial above the highest admitted: accepted and stored",
            ACCEPTED,
            settings=stored_serial(-5),
            check=serial_raised,
        ),
        signed_row(
            "s-relaxed",
            "certificate for another name, MVRelaxedTls with an update key: accepted",
            ACCEPTED,
            server="alias",
            settings={"SURL": "{signed_alias}", "MVUpdateKey": "{key_a}", "MVRelaxedTls": "1"},
            trace=["Update answer signature verified with key 1."],
            modules=["MVUrl certificate name and date checks relaxed by MVRelaxedTls"],
            served=["/alias/smt.php", INI, FILES[1], FILES[2]],
        ),
        signed_row(
            "s-port",
            "SURL with a port: the connection goes there, the answer names it",
            ACCEPTED,
            port=8443,
            settings={"SURL": "{signed}:8443", "MVUpdateKey": "{key_a}"},
            trace=["Update answer signature verified with key 1."],
            modules=[re.compile(r"server \S+:8443")],
        ),
        signed_row(
            "s-ini-rewritten",
            "the stored INI rewritten by another program after its writing: refused",
            ACCEPTED,
            settings=key_a,
            trigger=ROAD_TO[Status.READY_TO_DOWNLOAD],
            messages=["rewriteini"],
            check=ini_held_open,
        ),
        signed_row(
            "s-ini-changed",
            "INI changed after signing: refused",
            ACCEPTED,
            settings=key_a,
            alter=edit_site(INI, b"[ZEInstall]", b"[ZEInstall]\r\n; changed"),
            path=I_FAILS,
            served=[ANSWER, INI],
            installed="old",
            no_library=NO_LIBRARY,
            trace=[REFUSED + "INI digest mismatch.", I_FAILED + "0."],
        ),
    ]


def signed_refusal_rows():
    """Signed answers refused for what they carry: another key's signature, none, a changed byte,
    a missing digest, expiry or serial, an expiry too far, another server, a plain URL root."""
    key_a = {"MVUpdateKey": "{key_a}"}
    return [
        signed_row(
            "s-wrong-key",
            "signed with another key: refused",
            REFUSED_ROW,
            settings=lambda lane: {"MVUpdateKey": "{key_b}", "RTN": lane.scrambled(TOKEN)},
            trace=[REFUSED + "signature invalid."],
            no_trace=[TOKEN],
            no_modules=[TOKEN],
        ),
        signed_row(
            "s-no-digest",
            "signed answer without the INI's digest: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(rb"\s*<DlkIniSha256>.*?</DlkIniSha256>", b""),
            trace=[REFUSED + "INI digest missing."],
        ),
        signed_row(
            "s-unsigned",
            "signature missing: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=edit_site(ANSWER, b"<MVSignature>", b"<MVSignatur>"),
            trace=[REFUSED + "signature missing."],
        ),
        signed_row(
            "s-expired",
            "answer expired: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(
                rb"<MVExpires>.*?</MVExpires>", b"<MVExpires>2001-01-01T00:00:00Z</MVExpires>"
            ),
            trace=[REFUSED + "answer expired."],
        ),
        signed_row(
            "s-envelope",
            "a byte of the envelope changed: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=edit_site(ANSWER, b"<LID>9</LID>", b"<LID>7</LID>"),
            trace=[REFUSED + "signature invalid."],
        ),
        signed_row(
            "s-serial-missing",
            "signed answer without a serial: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(rb"\s*<MVSerial>.*?</MVSerial>", b""),
            trace=[REFUSED + "serial missing."],
            after={"LANGUAGEID": None, "MVLastSerial": None},
        ),
        signed_row(
            "s-no-expiry",
            "signed answer without an expiry: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(rb"\s*<MVExpires>.*?</MVExpires>", b""),
            trace=[REFUSED + "answer expired."],
        ),
        signed_row(
            "s-expiry-far",
            "expiry more than 400 days ahead: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=lambda site: site.resign(far_expiry),
            trace=[REFUSED + "expiry too far ahead."],
        ),
        signed_row(
            "s-other-server",
            "an answer the same key signed for another server: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(
                rb"<MVServer>[^<]*</MVServer>", b"<MVServer>beta.mvtest.invalid/beta</MVServer>"
            ),
            trace=[REFUSED + "answer for another server."],
        ),
        signed_row(
            "s-http-root",
            "signed URL root of plain HTTP: refused",
            REFUSED_ROW,
            settings=key_a,
            alter=resign(rb"<DlkUrlRoot>https://", b"<DlkUrlRoot>http://"),
            trace=[REFUSED + "URL root not over TLS."],
        ),
        signed_row(
            "s-claims-verified",
            "a refused answer carrying the acceptance text: never traced",
            REFUSED_ROW,
            settings={"MVUpdateKey": "{key_b}"},
            alter=edit_site(
                ANSWER,
                b"<MVSignature>",
                b"Update answer signature verified with key 1.\n<MVSignature>",
            ),
            trace=[REFUSED + "signature invalid."],
            no_trace=["verified with key"],
        ),
    ]


def signed_key_rows():
    """Refused for what the machine holds: update keys that are no keys, a serial below the
    stored one."""
    unusable = [REFUSED + "update key unusable."]
    return [
        signed_row(
            "s-key-junk",
            "MVUpdateKey holding no usable key: refused",
            REFUSED_ROW,
            settings={"MVUpdateKey": "not;a key"},
            trace=unusable,
        ),
        signed_row(
            "s-serial-older",
            "serial below the highest admitted: refused",
            REFUSED_ROW,
            settings=stored_serial(1),
            trace=[re.compile(re.escape(REFUSED) + r"older than serial \d+\.")],
            check=serial_kept,
        ),
        signed_row(
            "s-key-empty",
            "MVUpdateKey present but empty: refused",
            REFUSED_ROW,
            settings={"MVUpdateKey": ""},
            trace=unusable,
        ),
        signed_row(
            "s-key-dword",
            "MVUpdateKey of another type: refused",
            REFUSED_ROW,
            settings={"MVUpdateKey": ("dword", 1)},
            trace=unusable,
        ),
    ]


# --- staged rollouts: releases offered to a share of the machines, by their buckets --------------

OFFERED, NOT_OFFERED = (
    "Update offered to this machine: ",
    "Update not offered to this machine yet: ",
)
INTACT_CHECK = "DlkStdGetSectionIntegrity2"
TAKEN = ACCEPTED
# Not for this machine: the answer admitted (an answer for others is still admitted: a lower
# serial stays refused afterwards), nothing of it used, the controller started.
PASSED_OVER = dict(
    path=V_FAILS,
    served=[ANSWER],
    installed="old",
    no_library=NO_LIBRARY + [INTACT_CHECK],
    after={"LANGUAGEID": None, "MVRolloutBucket": "4711"},
    check=serial_raised,
)
ROLLOUT_REFUSED = dict(
    path=V_FAILS,
    served=[ANSWER],
    installed="old",
    no_library=NO_LIBRARY,
    after={"LANGUAGEID": None, "MVLastSerial": None, "MVRolloutBucket": "4711"},
)
KEYED = {"MVUpdateKey": "{key_a}", "MVRolloutBucket": "4711"}


def at(share):
    """Published by key a, offered to share % of the machines."""
    return ("a", "--rollout", share)


def drawn_bucket(lane, row):
    """No bucket stored: the first run draws one and stores it, the second finds it and decides the
    same; at 50 % the decision is whichever the drawn bucket gives."""
    site = signed_site(lane)
    site.publish("a", "--rollout", "50")
    site.start()
    try:
        settings = {"SURL": "{signed}", "MVUpdateKey": "{key_a}"}
        first = run(lane, Row(row.key, row.seconds, row.what, path=None, settings=settings))
        bucket = lane.machine.setting("MVRolloutBucket")
        second = run(lane, Row(row.key, row.seconds, row.what, path=None, keep_settings=True))
    finally:
        site.stop()
    first.check("a bucket stored", bucket and bucket.isdigit() and int(bucket) < 10000, bucket)
    if not (bucket and bucket.isdigit()):
        return first
    taken = int(bucket) < 5000
    decision = "%srollout 50 %%, bucket %s." % (OFFERED if taken else NOT_OFFERED, bucket)
    expected = dict(
        path=SUCCESS if taken else V_FAILS,
        installed="release" if taken else "old",
        no_library=[] if taken else NO_LIBRARY,
    )
    drawn = ["MVRolloutBucket drawn: %s." % bucket, decision]
    check(first, lane, Row(row.key, row.seconds, row.what, trace=drawn, **expected))
    found_again = dict(
        trace=[decision], no_trace=["MVRolloutBucket"], after={"MVRolloutBucket": bucket}
    )
    check(second, lane, Row(row.key, row.seconds, row.what, **expected, **found_again))
    first.checks += [("second run: " + what, ok, detail) for what, ok, detail in second.checks]
    first.expect_equal(
        "files nginx was asked for", (SIGNED_FILES if taken else [ANSWER]) * 2, site.asked()
    )
    first.facts["note"] = "bucket %s: %s" % (bucket, "in" if taken else "out")
    return first


def new_bucket_stored(out, lane):
    out.check(
        "a new bucket stored",
        re.fullmatch(r"\d{1,4}", lane.machine.setting("MVRolloutBucket") or ""),
        lane.machine.setting("MVRolloutBucket"),
    )


def rollout_rows():
    """A stored bucket against the answer's share: below it installed, at or above it not."""
    return [
        signed_row(
            "o-out",
            "bucket 4711 at 47.11 %: not offered",
            PASSED_OVER,
            publish=at("47.11"),
            settings=KEYED,
            trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
            no_trace=["MVRolloutBucket", OFFERED],
        ),
        signed_row(
            "o-in",
            "bucket 4711 at 47.12 %: installed",
            TAKEN,
            publish=at("47.12"),
            settings=KEYED,
            trace=[OFFERED + "rollout 47.12 %, bucket 4711."],
            no_trace=["MVRolloutBucket", NOT_OFFERED],
            after={"LANGUAGEID": "9", "MVRolloutBucket": "4711"},
        ),
        signed_row(
            "o-halted",
            "bucket 4711 at 0 %: not offered",
            PASSED_OVER,
            publish=at("0"),
            settings=KEYED,
            trace=[NOT_OFFERED + "rollout 0 %, bucket 4711."],
        ),
        signed_row(
            "o-full",
            "bucket 4711 at 100 %: installed",
            TAKEN,
            publish=at("100"),
            settings=KEYED,
            trace=[OFFERED + "rollout 100 %, bucket 4711."],
        ),
        signed_row(
            "o-untagged",
            "bucket 4711, no share in the answer: installed as before, the bucket untouched",
            TAKEN,
            settings=KEYED,
            no_trace=["rollout", "MVRolloutBucket"],
            after={"LANGUAGEID": "9", "MVRolloutBucket": "4711"},
        ),
        signed_row(
            "o-unsigned-out",
            "no update key, bucket 4711 at 47.11 %: not offered",
            PASSED_OVER,
            publish=at("47.11"),
            settings={"MVRolloutBucket": "4711"},
            trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
            check=lambda out, lane: None,
        ),
    ]


def rollout_check_rows():
    """Buckets drawn or drawn again, check mode on either side of the share, and shares that are
    not the signer's: outside the envelope, raised after signing, unreadable."""
    return [
        signed_row(
            "o-redrawn",
            "a bucket that is no bucket: drawn again, traced, stored",
            TAKEN,
            publish=at("100"),
            settings={"MVUpdateKey": "{key_a}", "MVRolloutBucket": "12345"},
            trace=[
                re.compile(r"^MVRolloutBucket was no bucket: drawn again: \d{1,4}\.$"),
                re.compile(r"rollout 100 %, bucket \d{1,4}\.$"),
            ],
            check=new_bucket_stored,
        ),
        signed_row(
            "o-check-out",
            "check mode, bucket 4711 at 47.11 %: no intact check, the agent started",
            PASSED_OVER,
            args=("/check",),
            publish=at("47.11"),
            settings=KEYED,
            trace=[NOT_OFFERED + "rollout 47.11 %, bucket 4711."],
            launches=[("mvagtx.exe", "")],
        ),
        signed_row(
            "o-check-in",
            "check mode, bucket 4711 at 47.12 %: the intact check, then the agent",
            TAKEN,
            args=("/check",),
            publish=at("47.12"),
            settings=KEYED,
            trace=[OFFERED + "rollout 47.12 %, bucket 4711."],
            library=[INTACT_CHECK],
            installed="agent",
            served=SIGNED_FILES[:3],
            launches=[("mvagtx.exe", "")],
        ),
        signed_row(
            "o-outside",
            "a share of 0 % beside the signed envelope: not read, installed",
            TAKEN,
            settings=KEYED,
            alter=edit_site(ANSWER, b"<MVSignature>", b"<MVRollout>0</MVRollout>\n<MVSignature>"),
            no_trace=["rollout", "MVRolloutBucket"],
        ),
        signed_row(
            "o-tampered",
            "the share raised after signing: refused",
            ROLLOUT_REFUSED,
            publish=at("10"),
            settings=KEYED,
            alter=edit_site(ANSWER, b"<MVRollout>10</MVRollout>", b"<MVRollout>100</MVRollout>"),
            trace=[REFUSED + "signature invalid."],
            no_trace=["rollout 100", "MVRolloutBucket"],
        ),
        signed_row(
            "o-malformed",
            "a share with three decimals, signed: refused",
            ROLLOUT_REFUSED,
            publish=at("12.5"),
            settings=KEYED,
            alter=resign(rb"<MVRollout>[^<]*</MVRollout>", b"<MVRollout>12.505</MVRollout>"),
            trace=[REFUSED + "rollout unreadable."],
            no_trace=["offered to this machine", "MVRolloutBucket"],
        ),
        Row(
            "o-drawn",
            100,
            "no bucket stored: drawn, stored, the same on a second run",
            path=None,
            special=drawn_bucket,
        ),
    ]


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
        Row(
            "lib-values",
            45,
            "DlkUrlRootEx, SupportDelta and a Chinese title reach the library; the start delay",
            settings={"SURL": "{host}", "LANGUAGEID": "3"},
            serve=(
                changed_version(DlkUrlRootEx="alt/dlk-ex.php", SupportDelta="2"),
                ini_part(nothing_needed, path=ex_path),
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
    ]
