"""A Windows machine under Wine with mvupdate.exe installed (C:\\Orvik\\MV\\bin, with the stand-ins;
the download library two levels above, in C:\\Orvik), the update server it talks to, and the sample
release that server offers. Used by the end-to-end driver (run_faults.py), the demo and the bench.
"""

import hashlib
import os
import re
import shutil
import subprocess
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
WINE_RUN = os.path.join(SOURCE, "tools", "wine-run")
RIG = os.path.join(SOURCE, "tests", "rig", "mvrig.py")
GENERAL_KEY = r"HKLM\SOFTWARE\Orvik\Config\MV\General"
WINESERVER = "/usr/lib/wine/wineserver64"
# What the emulator writes when a program dies of an exception nobody handled.
CRASH_SIGNS = ("Unhandled exception", "Unhandled page fault", "Unhandled stack overflow", "starting debugger",
               "terminate called", "Assertion failed")
PROGRAM_DIR = "Orvik/MV/bin"
LIBRARY_DIR = "Orvik"
WINDOWS_PROGRAM = "C:\\Orvik\\MV\\bin\\mvupdate.exe"
RELEASE = "7.2"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def crash_signs(text):
    """The lines of a program's console output that tell of a crash."""
    return [line for line in text.splitlines() if any(sign in line for sign in CRASH_SIGNS)]


class Build:
    """Where a build left the program and the stand-ins."""

    def __init__(self, build_dir, program=None):
        """program: the mvupdate.exe to install (the release build's), else this build's own."""
        self.dir = os.path.abspath(build_dir)
        self.program = os.path.abspath(program) if program else self.path("app", "mvupdate.exe")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def version_query(self):
        """The version URL's query up to the token, for this build on a 64-bit Windows: the i686
        build runs under WOW64 there, which its URL tells."""
        with open(self.program, "rb") as f:
            image = f.read(4096)
        pe = int.from_bytes(image[0x3C:0x40], "little")
        wow64 = int.from_bytes(image[pe + 4:pe + 6], "little") == 0x014C
        return "?AT=RV&OS=WINVISTA%s&isUTF8=1" % ("&OS_Bit=64" if wow64 else "")

    def program_files(self):
        standins = {name: self.path("standins", "programs", name) for name in ("mvagtx.exe", "ksagtctl.exe", "mvcfg.exe")}
        return dict(standins, **{"mvupdate.exe": self.program,
                                 "ovktrace.dll": self.path("standins", "ovktrace", "ovktrace.dll"),
                                 "KSTRAC32.DLL": self.path("standins", "kstrac32", "KSTRAC32.DLL")})

    def library_files(self):
        return {name: self.path("standins", name.split(".")[0], name) for name in ("ieksdlk.dll", "ksdlkext.dll")}


def reg_file_data(value):
    """The data part of one value line of a .reg file: text, a number (REG_DWORD) or a (kind,
    data) pair: ("binary", bytes), ("dword", int), ("multi_sz", [texts])."""
    if isinstance(value, str):
        return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
    kind, data = value if isinstance(value, tuple) else ("dword", value)
    if kind == "dword":
        return "dword:%08x" % (data & 0xFFFFFFFF)
    if kind == "multi_sz":
        kind, data = "hex(7)", ("".join(t + "\0" for t in data) + "\0").encode("utf-16-le")
    return {"binary": "hex", "hex(7)": "hex(7)"}[kind] + ":" + ",".join("%02x" % b for b in data)


class Machine:
    """One Wine prefix with the program installed; runs are made one after the other in it."""

    def __init__(self, build, prefix):
        self.build = build
        self.prefix = os.path.abspath(prefix)
        self.drive = os.path.join(self.prefix, "drive_c")

    def wine(self, *args, timeout=600, check=True):
        result = subprocess.run([WINE_RUN, "--prefix", self.prefix] + list(args), env=dict(os.environ),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError("wine %s failed (%d): %s" % (args, result.returncode, result.stdout[-2000:]))
        return result

    def boot(self):
        # The first command boots the prefix.
        self.wine("cmd", "/c", "exit", timeout=300)

    def install(self):
        """A fresh copy of the program, the stand-ins and nothing else in C:\\Orvik."""
        shutil.rmtree(os.path.join(self.drive, "Orvik"), ignore_errors=True)
        for target_dir, files in ((PROGRAM_DIR, self.build.program_files()), (LIBRARY_DIR, self.build.library_files())):
            os.makedirs(os.path.join(self.drive, target_dir), exist_ok=True)
            for name, source in files.items():
                shutil.copyfile(source, os.path.join(self.drive, target_dir, name))

    def program_path(self, name):
        return os.path.join(self.drive, PROGRAM_DIR, name)

    def library_path(self, name):
        return os.path.join(self.drive, LIBRARY_DIR, name)

    def installed(self, *parts):
        """The bytes of a file under C:\\Orvik, None when absent."""
        return self.read(os.path.join(self.drive, "Orvik", *parts))

    def import_settings(self, values, folder):
        """Replaces the product's settings in one step, through a .reg file (reg_file_data)."""
        lines = ["Windows Registry Editor Version 5.00", "", r"[-HKEY_LOCAL_MACHINE\SOFTWARE\Orvik]", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\Orvik\Config\MV\General]"]
        lines += ['"%s"=%s' % (name, reg_file_data(value)) for name, value in values.items()]
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "settings.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.wine("regedit", "/S", "Z:" + path.replace("/", "\\"))

    def setting(self, name):
        """A text value of the product's settings, or None when absent."""
        out = self.wine("reg", "query", GENERAL_KEY, "/v", name, check=False).stdout.decode("utf-8", "replace")
        for line in out.splitlines():
            m = re.match(r"\s+(\S+)\s+REG_\w+\s*(.*)$", line)
            if m and m.group(1).lower() == name.lower():
                return m.group(2).rstrip("\r")
        return None

    def temp_dirs(self):
        """The temporary directories of the machine's users."""
        return [os.path.join(root, d) for root, dirs, _files in os.walk(os.path.join(self.drive, "users"))
                for d in dirs if d.lower() == "temp"]

    def private_folders(self):
        """The run folders (mvu-*) the program left in the temporary directories."""
        return [os.path.join(t, d) for t in self.temp_dirs() for d in os.listdir(t) if d.startswith("mvu-")]

    def run_updater(self, args=(), while_running=None, output_path=None, cwd=None, timeout=300):
        """Runs mvupdate.exe to its exit, or ends it after timeout seconds; while_running(process)
        is called as it runs. Console output (crash reports among it) goes to output_path; cwd is
        the working directory it inherits. Returns (exit code, seconds, whether it ended by itself)."""
        output = open(output_path, "wb") if output_path else subprocess.DEVNULL
        started = time.monotonic()
        try:
            process = subprocess.Popen([WINE_RUN, "--prefix", self.prefix, WINDOWS_PROGRAM] + list(args),
                                       env=dict(os.environ), stdout=output, stderr=subprocess.STDOUT, cwd=cwd)
        finally:
            if output_path:
                output.close()
        if while_running is not None:
            while_running(process)
        try:
            code = process.wait(timeout=max(0.1, started + timeout - time.monotonic()))
            return code, time.monotonic() - started, True
        except subprocess.TimeoutExpired:
            seconds = time.monotonic() - started
            self.end_all()
            return process.wait(timeout=60), seconds, False

    def start_program(self, path, args=(), output_path=None):
        """Starts another Windows program (a host path) in the machine and returns at once."""
        with open(output_path, "wb") as output:
            return subprocess.Popen([WINE_RUN, "--prefix", self.prefix, path] + list(args), env=dict(os.environ),
                                    stdout=output, stderr=subprocess.STDOUT)

    def wait_quiet(self, timeout=120):
        """Waits until no program runs in the machine any more (its wineserver has ended), so that
        whatever a run started has finished and written its records. False on time-out."""
        try:
            subprocess.run([WINESERVER, "-w"], env=dict(os.environ, WINEPREFIX=self.prefix), timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def end_all(self):
        """Ends every program of this machine at once."""
        subprocess.run([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=self.prefix), check=False)

    @staticmethod
    def read(path):
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def records(self, path, prefix=r"\S+ \S+ pid=\d+ tid=\d+ "):
        """The lines of a record file without their time and process prefix."""
        lines = (self.read(path) or b"").decode("utf-8", "replace").splitlines()
        return [m.group(1) for m in (re.match(prefix + "(.*)$", line) for line in lines) if m]

    def trace_texts(self):
        """The records of the leveled trace channel, in order."""
        return self.records(self.program_path("ovktrace.log"), r"\S+ \S+ pid=\d+ tid=\d+ (?:cat=\d+ )?")

    def status_path(self):
        data = self.read(self.program_path("ovktrace.log")) or b""
        return [int(n) for n in re.findall(rb"Change AgtApp status to (-?\d+)\.", data)]

    def launches(self):
        """(program, args) of every program the run started, in order."""
        found = (re.search(r' (\S+) args="((?:[^"]|"")*)"', line) for line in self.records(self.program_path("launches.log"), ""))
        return [(m.group(1), m.group(2).replace('""', '"')) for m in found if m]

    def library_calls(self):
        return self.records(self.library_path("ieksdlk.record"))

    def library_log(self):
        """What the download library stand-in did (ieksdlk.log)."""
        return self.records(self.library_path("ieksdlk.log"))

    def module_records(self):
        return self.records(self.program_path("kstrac32.log"), "")

    def set_library_fault(self, keyword):
        """Switches the download library stand-in's fault injection (ieksdlk.faults beside it)
        on with keyword, or off with None."""
        path = self.library_path("ieksdlk.faults")
        if os.path.exists(path):
            os.remove(path)
        if keyword is not None:
            with open(path, "w") as f:
                f.write(keyword + "\n")


class Release:
    """A small sample release: a newer agent and a data file, and the INI describing them."""

    def __init__(self, build, folder):
        with open(build.program_files()["mvagtx.exe"], "rb") as f:
            self.old_agent = f.read()
        # Still a working program: data appended after a program's image is left alone.
        self.agent = self.old_agent + b"\0Mirrorvale agent " + RELEASE.encode() + b"\0"
        self.data = bytes((i * 7 + 3) % 256 for i in range(300 * 1024))
        # The server sends the files from disk.
        os.makedirs(folder, exist_ok=True)
        self.agent_file = os.path.join(folder, "mvagtx.exe")
        self.data_file = os.path.join(folder, "data.bin")
        for path, data in ((self.agent_file, self.agent), (self.data_file, self.data)):
            with open(path, "wb") as f:
                f.write(data)

    def ini(self, files=("agent", "data"), agent=None):
        agent = self.agent if agent is None else agent
        lines = ["; Mirrorvale agent " + RELEASE, "[ZEInstall]"]
        if "agent" in files:
            lines.append("file=mvagtx.exe|agent/%s/mvagtx.exe|%d|%s|MV\\bin" % (RELEASE, len(agent), sha256(agent)))
        if "data" in files:
            lines.append("file=data.bin|data/data.bin|%d|%s|MV\\bin\\data" % (len(self.data), sha256(self.data)))
        return "\r\n".join(lines) + "\r\n"

    def version_answer(self, host, status="SUCCESS", lid="9"):
        return ("<?xml version=\"1.0\"?>\n<MVHostVersion>\n  <Status>%s</Status>\n"
                "  <DlkProductVersion>%s</DlkProductVersion>\n"
                "  <DlkProductDescription>Mirrorvale agent</DlkProductDescription>\n"
                "  <DlkIniName>dlk.php</DlkIniName>\n  <DlkUrlRoot>https://%s/rel</DlkUrlRoot>\n"
                "  <DlkUnpackVersion>%s</DlkUnpackVersion>\n  <DlkExtVersion>%s</DlkExtVersion>\n"
                "  <SupportDelta>0</SupportDelta>\n  <LID>%s</LID>\n</MVHostVersion>\n"
                % (status, RELEASE, host, RELEASE, RELEASE, lid))

    def serve(self, rig, host):
        """The whole release: version answer, INI and both files."""
        rig.answer(self.version_answer(host), prefix="/%s/" % host.split(".")[0])
        rig.answer(self.ini(), path="/rel/dlk.php")
        rig.answer(path="/rel/agent/%s/mvagtx.exe" % RELEASE, body_file=self.agent_file)
        rig.answer(path="/rel/data/data.bin", body_file=self.data_file)


class Outcome:
    """What one run left behind, and the checks made on it."""

    def __init__(self, name):
        self.name = name
        self.checks = []
        self.facts = {}

    def check(self, what, ok, detail=""):
        self.checks.append((what, bool(ok), detail))

    def expect_equal(self, what, expected, actual):
        self.check(what, expected == actual, "expected %r, got %r" % (expected, actual))

    @property
    def passed(self):
        return all(ok for _what, ok, _detail in self.checks)


class Rig:
    """A loopback update server (tests/rig/mvrig.py) on an address of its own."""

    def __init__(self, address, hosts, state_dir, wrong_name_address=None, expired_address=None):
        self.address = address
        self.hosts = hosts
        self.state = state_dir
        self.pidfile = os.path.join(state_dir, "rig.pid")
        self.extra = [("--wrong-name-address", wrong_name_address), ("--expired-address", expired_address)]

    def start(self):
        os.makedirs(self.state, exist_ok=True)
        args = ["python3", RIG, "start", "--pidfile", self.pidfile, "--log", os.path.join(self.state, "rig.log"),
                "--address", self.address]
        for host in self.hosts:
            args += ["--host", host]
        args += [a for option, value in self.extra if value for a in (option, value)]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(["python3", RIG, "stop", "--pidfile", self.pidfile], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def control(self, path, body=None):
        data = body if body is None or isinstance(body, bytes) else body.encode("utf-8")
        request = urllib.request.Request("http://%s:8079%s" % (self.address, path), data=data,
                                         method="POST" if data is not None else "GET")
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return answer.read().decode("utf-8")
        except urllib.error.HTTPError as e:
            raise RuntimeError("rig %s refused %s: %s" % (self.address, path, e.read().decode("utf-8")))

    def reset(self):
        self.control("/reset", "")

    def answer(self, body=b"", **lines):
        """Scripts an answer: keyword lines as the rig takes them (path=, prefix=, status=, ...)."""
        text = "".join("%s: %s\n" % (k.replace("_", "-"), v) for k, v in lines.items())
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        return self.control("/answer", text.encode("utf-8") + b"\n" + data)

    def release(self):
        self.control("/release", "")

    def requests(self):
        """Recorded requests as dicts (header lines left out)."""
        blocks = [dict(line.split(": ", 1) for line in block.splitlines() if ": " in line and not line.startswith("header:"))
                  for block in self.control("/requests").split("\n\n")]
        return [b for b in blocks if "id" in b]

    def tls_fault(self, mode, skip=0):
        """Breaks the TLS handshakes of the HTTPS listeners (mode plain, garbage or close), after
        letting skip of them through."""
        return self.control("/tls-fault", "mode: %s\nskip: %d\n" % (mode, skip))
