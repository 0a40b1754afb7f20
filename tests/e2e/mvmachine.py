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
WINESERVER = "/usr/lib/wine/wineserver64"
# What the emulator writes when a program dies of an exception nobody handled.
CRASH_SIGNS = ("Unhandled exception", "Unhandled page fault", "Unhandled stack overflow", "starting debugger",
               "terminate called", "Assertion failed")
PROGRAM_DIR = "Orvik/MV/bin"
LIBRARY_DIR = "Orvik"
WINDOWS_PROGRAM = "C:\\Orvik\\MV\\bin\\mvupdate.exe"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Build:
    """Where a build left the program and the stand-ins."""

    def __init__(self, build_dir, program=None):
        """program: the mvupdate.exe to install (the release build's), else this build's own."""
        self.dir = os.path.abspath(build_dir)
        self.program = os.path.abspath(program) if program else self.path("app", "mvupdate.exe")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def is_32bit(self):
        """Whether the program is the i686 build: under a 64-bit Windows it then runs under
        WOW64, which shows in its version URL and in the registry view it uses."""
        with open(self.program, "rb") as f:
            image = f.read(4096)
        pe = int.from_bytes(image[0x3C:0x40], "little")
        return int.from_bytes(image[pe + 4:pe + 6], "little") == 0x014C

    def version_query(self):
        """The version URL's query up to the token, for this build on a 64-bit Windows."""
        return "?AT=RV&OS=WINVISTA%s&isUTF8=1" % ("&OS_Bit=64" if self.is_32bit() else "")

    def program_files(self):
        return {
            "mvupdate.exe": self.program,
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

    def temp_dirs(self):
        """The temporary directories of the machine's users."""
        found = []
        for root, dirs, _files in os.walk(os.path.join(self.drive, "users")):
            found += [os.path.join(root, d) for d in dirs if d.lower() == "temp"]
        return found

    def private_folders(self):
        """The run folders (mvu-*) the program left in the temporary directories."""
        return [os.path.join(t, d) for t in self.temp_dirs() for d in os.listdir(t) if d.startswith("mvu-")]

    def received_ini(self):
        """The bytes of the INI file the download library was last given (None: never given)."""
        path = self.library_path("ieksdlk.received.ini")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

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

    # --- used by the fault matrix (run_faults.py) ----------------------------------------------

    def wine_env(self):
        return dict(os.environ, WINEPREFIX=self.prefix)

    def import_settings(self, values, folder):
        """Replaces the product's settings in one step, through a .reg file. values maps names to
        text (str), a number (int, REG_DWORD) or a (kind, data) pair: ("binary", bytes),
        ("dword", int), ("multi_sz", [texts]), ("expand_sz", text)."""
        lines = ["Windows Registry Editor Version 5.00", "", r"[-HKEY_LOCAL_MACHINE\SOFTWARE\Orvik]", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\Orvik\Config\MV\General]"]
        for name, value in values.items():
            lines.append('"%s"=%s' % (name, reg_file_data(value)))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "settings.reg")
        with open(path, "w", encoding="utf-16") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.wine("regedit", "/S", "Z:" + path.replace("/", "\\"))

    def start_updater(self, args=(), output_path=None, cwd=None):
        """Starts mvupdate.exe and returns at once; what the emulator and the program write to
        the console goes to output_path (crash reports among it). cwd: the working directory it
        inherits (a host path inside the machine's drive)."""
        output = open(output_path, "wb") if output_path else subprocess.DEVNULL
        try:
            return subprocess.Popen([WINE_RUN, "--prefix", self.prefix, WINDOWS_PROGRAM] + list(args),
                                    env=dict(os.environ), stdout=output, stderr=subprocess.STDOUT, cwd=cwd)
        finally:
            if output_path:
                output.close()

    def start_program(self, path, args=(), output_path=None):
        """Starts another Windows program (a host path) in the machine and returns at once."""
        output = open(output_path, "wb") if output_path else subprocess.DEVNULL
        try:
            return subprocess.Popen([WINE_RUN, "--prefix", self.prefix, path] + list(args), env=dict(os.environ),
                                    stdout=output, stderr=subprocess.STDOUT)
        finally:
            if output_path:
                output.close()

    def wait_quiet(self, timeout=120):
        """Waits until no program runs in the machine any more (its wineserver has ended), so that
        whatever a run started has finished and written its records. False on time-out."""
        try:
            subprocess.run([WINESERVER, "-w"], env=self.wine_env(), timeout=timeout, check=False)
            return True
        except subprocess.TimeoutExpired:
            return False

    def end_all(self):
        """Ends every program of this machine at once."""
        subprocess.run([WINESERVER, "-k"], env=self.wine_env(), check=False)

    def library_log(self):
        """What the download library stand-in did (ieksdlk.log), without the line prefixes."""
        out = []
        for line in self.read_lines(self.library_path("ieksdlk.log")):
            m = re.match(r"\S+ \S+ pid=\d+ tid=\d+ (.*)$", line)
            if m:
                out.append(m.group(1))
        return out

    def set_library_fault(self, keyword):
        """Switches the download library stand-in's fault injection (ieksdlk.faults beside it)
        on with keyword, or off with None."""
        path = self.library_path("ieksdlk.faults")
        if keyword is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "w") as f:
            f.write(keyword + "\n")


def peak_memory_kb(pid):
    """The resident-set high-water mark of a running process (0 once it is gone)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def reg_file_data(value):
    """The data part of one value line of a .reg file."""
    def hex_bytes(data):
        return ",".join("%02x" % b for b in data)
    if isinstance(value, str):
        return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
    if isinstance(value, int):
        return "dword:%08x" % (value & 0xFFFFFFFF)
    kind, data = value
    if kind == "dword":
        return "dword:%08x" % (data & 0xFFFFFFFF)
    if kind == "binary":
        return "hex:" + hex_bytes(data)
    if kind == "expand_sz":
        return "hex(2):" + hex_bytes((data + "\0").encode("utf-16-le"))
    if kind == "multi_sz":
        return "hex(7):" + hex_bytes(("".join(t + "\0" for t in data) + "\0").encode("utf-16-le"))
    raise ValueError("unknown value kind %r" % kind)


def crash_signs(text):
    """The lines of a program's console output that tell of a crash."""
    return [line for line in text.splitlines() if any(sign in line for sign in CRASH_SIGNS)]


class Rig:
    """A loopback update server (tests/rig/mvrig.py) on an address of its own."""

    def __init__(self, address, hosts, state_dir, wrong_name_address=None, expired_address=None):
        self.address = address
        self.hosts = hosts
        self.state = state_dir
        self.wrong_name_address = wrong_name_address
        self.expired_address = expired_address

    def start(self):
        os.makedirs(self.state, exist_ok=True)
        args = ["python3", RIG, "start", "--pidfile", self.pidfile(), "--log", os.path.join(self.state, "rig.log"),
                "--address", self.address]
        for host in self.hosts:
            args += ["--host", host]
        if self.wrong_name_address:
            args += ["--wrong-name-address", self.wrong_name_address]
        if self.expired_address:
            args += ["--expired-address", self.expired_address]
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

    def tls_fault(self, mode, skip=0, address=None):
        """Breaks the TLS handshakes of the HTTPS listeners (mode plain, garbage or close; None
        ends it), after letting skip of them through."""
        lines = {"mode": mode or "none", "skip": skip}
        if address:
            lines["address"] = address
        return self.control("/tls-fault", "".join("%s: %s\n" % kv for kv in lines.items()))
