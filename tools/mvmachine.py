"""A Wine machine with mvupdate.exe and the stand-ins installed (C:\\Orvik\\MV\\bin, the download library
in C:\\Orvik), the loopback update server it talks to and the sample release it offers; for the
end-to-end runs (mvrun.py), the demo and the bench."""

import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import time
import urllib.error
import urllib.request

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(SOURCE, "tools", "wine-run")
RIG = os.path.join(SOURCE, "standins", "updateserver", "mvrig.py")
WINESERVER = "/usr/lib/wine/wineserver64"
WINDOWS_PROGRAM = "C:\\Orvik\\MV\\bin\\mvupdate.exe"
RELEASE = "7.2"
# What the emulator writes when a program dies of an exception nobody handled.
CRASH_SIGNS = (
    "Unhandled exception",
    "Unhandled page fault",
    "Unhandled stack overflow",
    "starting debugger",
    "terminate called",
    "Assertion failed",
)
# The record files of the stand-ins, under C:\Orvik; each line starts with its time and process.
RECORDS = {
    "trace": "MV/bin/ovktrace.log",
    "modules": "MV/bin/kstrac32.log",
    "launches": "MV/bin/launches.log",
    "library": "ieksdlk.record",
    "library_log": "ieksdlk.log",
}


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def crash_signs(text):
    return [line for line in text.splitlines() if any(sign in line for sign in CRASH_SIGNS)]


def version_answer(host, **changed):
    """The answer offering RELEASE from https://host/rel, tags changed (text or bytes)."""
    tags = dict(
        Status="SUCCESS",
        DlkProductVersion=RELEASE,
        DlkProductDescription="Mirrorvale agent",
        DlkIniName="dlk.php",
        DlkUrlRoot="https://%s/rel" % host,
        DlkUnpackVersion=RELEASE,
        DlkExtVersion=RELEASE,
        SupportDelta="0",
        LID="9",
    )
    tags.update(changed)
    inner = b"".join(
        b"  <%s>%s</%s>\n" % (t.encode(), v if isinstance(v, bytes) else v.encode(), t.encode())
        for t, v in tags.items()
    )
    return b'<?xml version="1.0"?>\n<MVHostVersion>\n' + inner + b"</MVHostVersion>\n"


class Build:
    """Where a build left the stand-ins, and the mvupdate.exe to install (default: its own)."""

    def __init__(self, build_dir, program=None):
        self.dir = os.path.abspath(build_dir)
        self.program = os.path.abspath(program) if program else self.path("app", "mvupdate.exe")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def version_query(self):
        """The version URL's query up to the token; an i686 program says it runs under WOW64."""
        image = pathlib.Path(self.program).read_bytes()
        pe = int.from_bytes(image[0x3C:0x40], "little")
        wow64 = int.from_bytes(image[pe + 4 : pe + 6], "little") == 0x014C
        return "?AT=RV&OS=WINVISTA%s&isUTF8=1" % ("&OS_Bit=64" if wow64 else "")

    def program_files(self):
        files = {
            name: self.path("standins", "programs", name)
            for name in ("mvagtx.exe", "ksagtctl.exe", "mvcfg.exe")
        }
        return dict(
            files,
            **{
                "mvupdate.exe": self.program,
                "ovktrace.dll": self.path("standins", "ovktrace", "ovktrace.dll"),
                "KSTRAC32.DLL": self.path("standins", "kstrac32", "KSTRAC32.DLL"),
            },
        )


class Machine:
    """One Wine prefix with the program installed; runs are made one after the other in it."""

    def __init__(self, build, prefix):
        self.build, self.prefix = build, os.path.abspath(prefix)
        self.drive = os.path.join(self.prefix, "drive_c")

    def wine(self, *args, timeout=600, check=True):
        result = subprocess.run(
            [WINE_RUN, "--prefix", self.prefix] + list(args),
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            timeout=timeout,
        )
        if check and result.returncode != 0:
            raise RuntimeError(
                "wine %s failed (%d): %s" % (args, result.returncode, result.stdout[-2000:])
            )
        return result

    def boot(self):
        self.wine("cmd", "/c", "exit", timeout=300)

    def orvik(self, *parts):
        """A path under C:\\Orvik, where the download library lies."""
        return os.path.join(self.drive, "Orvik", *parts)

    def program_path(self, name):
        return self.orvik("MV", "bin", name)

    def install(self):
        """A fresh copy of the program and the stand-ins, and nothing else, in C:\\Orvik."""
        shutil.rmtree(self.orvik(), ignore_errors=True)
        os.makedirs(self.program_path(""))
        for name, source in self.build.program_files().items():
            shutil.copyfile(source, self.program_path(name))
        for name in ("ieksdlk.dll", "ksdlkext.dll"):
            shutil.copyfile(self.build.path("standins", name.split(".")[0], name), self.orvik(name))
        # A run folder an earlier run left behind would be taken for the next run's.
        for temp in self.temp_dirs():
            for name in os.listdir(temp):
                if name.startswith("mvu-"):
                    shutil.rmtree(os.path.join(temp, name), ignore_errors=True)

    def import_settings(self, values, folder):
        """Replaces the settings: text, ("dword", n), ("binary", bytes) or ("multi_sz", [texts]) each."""

        def data(value):
            if isinstance(value, str):
                return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
            kind, data = value
            if kind == "dword":
                return "dword:%08x" % data
            if kind == "multi_sz":
                data = ("".join(t + "\0" for t in data) + "\0").encode("utf-16-le")
            return ("hex:" if kind == "binary" else "hex(7):") + ",".join("%02x" % b for b in data)

        lines = [
            "Windows Registry Editor Version 5.00",
            "",
            r"[-HKEY_LOCAL_MACHINE\SOFTWARE\Orvik]",
            "",
            r"[HKEY_LOCAL_MACHINE\SOFTWARE\Orvik\Config\MV\General]",
        ]
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "settings.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write(
                "\r\n".join(lines + ['"%s"=%s' % (name, data(v)) for name, v in values.items()])
                + "\r\n"
            )
        self.wine("regedit", "/S", "Z:" + path.replace("/", "\\"))

    def setting(self, name):
        """A text value of the product's settings, or None when absent."""
        out = self.wine(
            "reg", "query", r"HKLM\SOFTWARE\Orvik\Config\MV\General", "/v", name, check=False
        ).stdout
        for line in out.decode("utf-8", "replace").splitlines():
            m = re.match(r"\s+(\S+)\s+REG_\w+\s*(.*)$", line)
            if m and m.group(1).lower() == name.lower():
                return m.group(2).rstrip("\r")
        return None

    def temp_dirs(self):
        return [
            os.path.join(root, d)
            for root, dirs, _files in os.walk(os.path.join(self.drive, "users"))
            for d in dirs
            if d.lower() == "temp"
        ]

    def run_updater(
        self, args=(), while_running=None, output_path=None, cwd=None, timeout=300, launcher=()
    ):
        """Runs mvupdate.exe (through the launcher's command, a host path and its options, if given)
        to its exit or for timeout seconds, calling while_running(process) meanwhile: (exit code,
        seconds, whether it ended by itself)."""
        started = time.monotonic()
        with open(output_path or os.devnull, "wb") as output:
            process = subprocess.Popen(
                [WINE_RUN, "--prefix", self.prefix]
                + list(launcher)
                + [WINDOWS_PROGRAM]
                + list(args),
                stdout=output,
                stderr=subprocess.STDOUT,
                cwd=cwd,
            )
        if while_running is not None:
            while_running(process)
        try:
            code = process.wait(timeout=max(0.1, started + timeout - time.monotonic()))
            return code, time.monotonic() - started, True
        except subprocess.TimeoutExpired:
            seconds = time.monotonic() - started
            self.end_all()
            return process.wait(timeout=60), seconds, False

    def start_program(self, path, args, output_path):
        """Starts another Windows program (a host path) in the machine and returns at once."""
        with open(output_path, "wb") as output:
            return subprocess.Popen(
                [WINE_RUN, "--prefix", self.prefix, path] + list(args),
                stdout=output,
                stderr=subprocess.STDOUT,
            )

    def wait_quiet(self, timeout=120):
        """Waits until no program runs in the machine (its wineserver has ended); False on time-out."""
        try:
            subprocess.run(
                [WINESERVER, "-w"], env=dict(os.environ, WINEPREFIX=self.prefix), timeout=timeout
            )
            return True
        except subprocess.TimeoutExpired:
            return False

    def end_all(self):
        subprocess.run(
            [WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=self.prefix), check=False
        )

    @staticmethod
    def read(path):
        return pathlib.Path(path).read_bytes() if os.path.exists(path) else None

    def records(self, name):
        """The lines of a record file (RECORDS) without their time and process (and category)."""
        lines = (
            (self.read(self.orvik(RECORDS[name])) or b"").decode("utf-8", "replace").splitlines()
        )
        return [
            m.group(1)
            for m in (re.match(r"\S+ \S+ pid=\d+ tid=\d+ (?:cat=\d+ )?(.*)$", s) for s in lines)
            if m
        ]

    def status_path(self):
        return [
            int(n)
            for n in re.findall(
                r"Change AgtApp status to (-?\d+)\.", "\n".join(self.records("trace"))
            )
        ]

    def launches(self):
        """(program, args) of every program the run started, in order."""
        found = (
            re.search(r'^(\S+) args="((?:[^"]|"")*)"', line) for line in self.records("launches")
        )
        return [(m.group(1), m.group(2).replace('""', '"')) for m in found if m]

    def set_library_fault(self, keyword):
        """Switches the download library stand-in's fault (ieksdlk.faults beside it) to keyword, or off."""
        path = pathlib.Path(self.orvik("ieksdlk.faults"))
        path.unlink(missing_ok=True)
        if keyword is not None:
            path.write_text(keyword + "\n")


class Release:
    """A small sample release (a newer agent and a data file, served from folder) and its INI."""

    def __init__(self, build, folder):
        self.old_agent = pathlib.Path(build.program_files()["mvagtx.exe"]).read_bytes()
        # Still a working program: data appended after a program's image is left alone.
        self.agent = self.old_agent + b"\0Mirrorvale agent " + RELEASE.encode() + b"\0"
        self.data = bytes((i * 7 + 3) % 256 for i in range(300 * 1024))
        os.makedirs(folder, exist_ok=True)
        self.agent_file, self.data_file = os.path.join(folder, "mvagtx.exe"), os.path.join(
            folder, "data.bin"
        )
        for path, data in ((self.agent_file, self.agent), (self.data_file, self.data)):
            pathlib.Path(path).write_bytes(data)

    def ini(self, agent=None):
        """The release's INI (bytes), or one listing only the given agent: nothing else to fetch."""
        files = [("mvagtx.exe", "agent/%s/mvagtx.exe" % RELEASE, agent or self.agent, "MV\\bin")]
        if agent is None:
            files.append(("data.bin", "data/data.bin", self.data, "MV\\bin\\data"))
        lines = ["; Mirrorvale agent " + RELEASE, "[ZEInstall]"] + [
            "file=%s|%s|%d|%s|%s" % (name, path, len(data), sha256(data), folder)
            for name, path, data, folder in files
        ]
        return ("\r\n".join(lines) + "\r\n").encode()


class Outcome:
    """What one run left behind (facts), and the checks made on it."""

    def __init__(self, name):
        self.name, self.checks, self.facts = name, [], {}

    def check(self, what, ok, detail=""):
        self.checks.append((what, bool(ok), detail))

    def expect_equal(self, what, expected, actual):
        self.check(what, expected == actual, "expected %r, got %r" % (expected, actual))

    @property
    def passed(self):
        return all(ok for _what, ok, _detail in self.checks)


class Rig:
    """A loopback update server (standins/updateserver/mvrig.py) on an address of its own."""

    def __init__(self, address, hosts, state_dir, options=()):
        self.address = address
        self.state = state_dir
        self.pidfile = os.path.join(state_dir, "rig.pid")
        self.options = (
            ["--address", address] + [a for host in hosts for a in ("--host", host)] + list(options)
        )

    def start(self):
        os.makedirs(self.state, exist_ok=True)
        subprocess.run(
            [
                "python3",
                RIG,
                "start",
                "--pidfile",
                self.pidfile,
                "--log",
                os.path.join(self.state, "rig.log"),
            ]
            + self.options,
            check=True,
            stdout=subprocess.DEVNULL,
        )

    def stop(self):
        subprocess.run(
            ["python3", RIG, "stop", "--pidfile", self.pidfile],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )

    def control(self, path, body=None):
        data = body if body is None or isinstance(body, bytes) else body.encode("utf-8")
        request = urllib.request.Request("http://%s:8079%s" % (self.address, path), data=data)
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return answer.read().decode("utf-8")
        except urllib.error.HTTPError as e:
            raise RuntimeError(
                "rig %s refused %s: %s" % (self.address, path, e.read().decode("utf-8"))
            )

    def reset(self):
        self.control("/reset", "")

    def answer(self, body=b"", **lines):
        """Scripts an answer: keyword lines as the rig takes them (path=, prefix=, status=, ...)."""
        text = "".join("%s: %s\n" % (k.replace("_", "-"), v) for k, v in lines.items())
        return self.control(
            "/answer",
            text.encode("utf-8") + b"\n" + (body if isinstance(body, bytes) else body.encode()),
        )

    def requests(self):
        """The recorded requests as dicts, their header lines left out."""
        blocks = [
            dict(
                line.split(": ", 1)
                for line in block.splitlines()
                if ": " in line and not line.startswith("header:")
            )
            for block in self.control("/requests").split("\n\n")
        ]
        return [b for b in blocks if "id" in b]
