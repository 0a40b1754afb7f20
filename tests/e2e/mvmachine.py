"""A Windows machine under Wine with mvupdate.exe installed, and the update server it talks to.

Used by the end-to-end suite (run_e2e.py) and the demo (tools/demo.sh). Everything runs the
real programs: mvupdate.exe as built, unmodified, and the stand-ins for the pieces outside it.

Layout installed in the machine (the download library lies two levels above the program):
    C:\\Orvik\\ieksdlk.dll, ksdlkext.dll
    C:\\Orvik\\MV\\bin\\mvupdate.exe, mvagtx.exe, ksagtctl.exe, mvcfg.exe, ovktrace.dll, KSTRAC32.DLL
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
PROGRAM_DIR = "Orvik/MV/bin"
LIBRARY_DIR = "Orvik"
WINDOWS_PROGRAM = "C:\\Orvik\\MV\\bin\\mvupdate.exe"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Build:
    """Where the x86_64 build left the program and the stand-ins."""

    def __init__(self, build_dir):
        self.dir = os.path.abspath(build_dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def program_files(self):
        return {
            "mvupdate.exe": self.path("app", "mvupdate.exe"),
            "mvagtx.exe": self.path("standins", "programs", "mvagtx.exe"),
            "ksagtctl.exe": self.path("standins", "programs", "ksagtctl.exe"),
            "mvcfg.exe": self.path("standins", "programs", "mvcfg.exe"),
            "ovktrace.dll": self.path("standins", "ovktrace", "ovktrace.dll"),
            "KSTRAC32.DLL": self.path("standins", "kstrac32", "KSTRAC32.DLL"),
        }

    def library_files(self):
        return {
            "ieksdlk.dll": self.path("standins", "ieksdlk", "ieksdlk.dll"),
            "ksdlkext.dll": self.path("standins", "ksdlkext", "ksdlkext.dll"),
        }


class Machine:
    """One Wine prefix with the program installed; runs are made one after the other in it."""

    def __init__(self, build, prefix):
        self.build = build
        self.prefix = os.path.abspath(prefix)
        self.drive = os.path.join(self.prefix, "drive_c")

    def wine(self, *args, timeout=600, check=True):
        env = dict(os.environ)
        result = subprocess.run([WINE_RUN, "--prefix", self.prefix] + list(args), env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError("wine %s failed (%d): %s" % (args, result.returncode, result.stdout[-2000:]))
        return result

    def boot(self):
        # The first command boots the prefix.
        self.wine("cmd", "/c", "exit", timeout=300)

    def host_path(self, windows_path):
        """The Linux path of a C: path of the machine."""
        rest = windows_path[3:] if windows_path[:3].upper() == "C:\\" else windows_path
        return os.path.join(self.drive, rest.replace("\\", "/"))

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

    def set_settings(self, values):
        """Replaces the product's settings: values maps names to text (str) or numbers (int)."""
        self.wine("reg", "delete", r"HKLM\SOFTWARE\Orvik", "/f", check=False)
        self.wine("reg", "add", GENERAL_KEY, "/f")
        for name, value in values.items():
            kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
            self.wine("reg", "add", GENERAL_KEY, "/v", name, "/t", kind, "/d", data, "/f")

    def setting(self, name):
        """A text value of the product's settings, or None when absent."""
        out = self.wine("reg", "query", GENERAL_KEY, "/v", name, check=False).stdout.decode("utf-8", "replace")
        for line in out.splitlines():
            m = re.match(r"\s+(\S+)\s+REG_\w+\s*(.*)$", line)
            if m and m.group(1).lower() == name.lower():
                return m.group(2).rstrip("\r")
        return None

    def temp_files(self, name):
        found = []
        for root, _dirs, files in os.walk(os.path.join(self.drive, "users")):
            if name in files and "temp" in root.lower():
                found.append(os.path.join(root, name))
        return found

    def clear_temp(self, name):
        for path in self.temp_files(name):
            os.remove(path)

    def run_updater(self, args=(), while_running=None, timeout=300):
        """Runs mvupdate.exe to its exit; while_running(process) is called as it runs."""
        env = dict(os.environ)
        started = time.monotonic()
        process = subprocess.Popen([WINE_RUN, "--prefix", self.prefix, WINDOWS_PROGRAM] + list(args), env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if while_running is not None:
            while_running(process)
        code = process.wait(timeout=timeout)
        return code, time.monotonic() - started

    def read_lines(self, path):
        if not os.path.exists(path):
            return []
        with open(path, "rb") as f:
            return [line.decode("utf-8", "replace") for line in f.read().splitlines()]

    def trace_texts(self):
        """The records of the leveled trace channel, in order."""
        texts = []
        for line in self.read_lines(self.program_path("ovktrace.log")):
            m = re.match(r"\S+ \S+ pid=\d+ tid=\d+ (?:cat=\d+ )?(.*)$", line)
            if m:
                texts.append(m.group(1))
        return texts

    def status_path(self):
        return [int(m.group(1)) for t in self.trace_texts() for m in [re.match(r"Change AgtApp status to (-?\d+)\.", t)] if m]

    def launches(self, at_least=0, wait_seconds=15):
        """(program, args) of every program the run started, in order. The shell starts them
        without waiting, so their records may come after the run has ended: wait for at_least."""
        deadline = time.monotonic() + wait_seconds
        found = self._launches()
        while len(found) < at_least and time.monotonic() < deadline:
            time.sleep(0.2)
            found = self._launches()
        return found

    def _launches(self):
        out = []
        for line in self.read_lines(self.program_path("launches.log")):
            m = re.search(r' (\S+) args="((?:[^"]|"")*)"', line)
            if m:
                out.append((m.group(1), m.group(2).replace('""', '"')))
        return out

    def library_calls(self):
        calls = []
        for line in self.read_lines(self.library_path("ieksdlk.record")):
            m = re.match(r"\S+ \S+ pid=\d+ tid=\d+ (.*)$", line)
            if m:
                calls.append(m.group(1))
        return calls

    def module_records(self):
        return self.read_lines(self.program_path("kstrac32.log"))


class Rig:
    """A loopback update server (tests/rig/mvrig.py) on an address of its own."""

    def __init__(self, address, hosts, state_dir):
        self.address = address
        self.hosts = hosts
        self.state = state_dir

    def start(self):
        os.makedirs(self.state, exist_ok=True)
        args = ["python3", RIG, "start", "--pidfile", self.pidfile(), "--log", os.path.join(self.state, "rig.log"),
                "--address", self.address]
        for host in self.hosts:
            args += ["--host", host]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)

    def stop(self):
        subprocess.run(["python3", RIG, "stop", "--pidfile", self.pidfile()], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pidfile(self):
        return os.path.join(self.state, "rig.pid")

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
        """Recorded requests as dicts (header lines under 'headers')."""
        out = []
        for block in self.control("/requests").split("\n\n"):
            record = {"headers": []}
            for line in block.splitlines():
                if ": " not in line:
                    continue
                key, value = line.split(": ", 1)
                if key == "header":
                    record["headers"].append(value)
                else:
                    record[key] = value
            if "id" in record:
                out.append(record)
        return out
