"""The end-to-end scenarios: each sets up the machine and the server, runs mvupdate.exe to its
exit and checks what a user could check afterwards."""

import os
import re

from mvmachine import sha256

RELEASE = "7.2"


class Release:
    """A small sample release: a newer agent and a data file, and the INI describing them."""

    def __init__(self, build, folder):
        with open(build.program_files()["mvagtx.exe"], "rb") as f:
            installed_agent = f.read()
        self.old_agent = installed_agent
        # Still a working program: data appended after a program's image is left alone.
        self.agent = installed_agent + b"\0Mirrorvale agent " + RELEASE.encode() + b"\0"
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

    def serve(self, rig, host, ini=None, data_status=200):
        rig.answer(self.version_answer(host), prefix="/update/smt.php", listener="https")
        rig.answer(ini if ini is not None else self.ini(), path="/rel/dlk.php")
        rig.answer(path="/rel/agent/%s/mvagtx.exe" % RELEASE, body_file=self.agent_file)
        if data_status == 200:
            rig.answer(path="/rel/data/data.bin", body_file=self.data_file)
        else:
            rig.answer("<html>gone</html>", path="/rel/data/data.bin", status=data_status)


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


def run(machine, rig, name, settings, args=(), serve=None, while_running=None, launches=1):
    machine.install()
    machine.clear_temp("dlk.php")
    machine.import_settings(settings, os.path.join(machine.prefix, "..", "settings"))
    rig.reset()
    if serve is not None:
        serve()
    code, seconds = machine.run_updater(args, while_running)
    out = Outcome(name)
    out.facts = {
        "exit": code,
        "seconds": round(seconds, 1),
        "path": [0] + machine.status_path(),
        "requests": rig.requests(),
        "launches": machine.launches(at_least=launches),
        "library": machine.library_calls(),
    }
    out.expect_equal("exit code", 0, code)
    return out


def request_paths(out):
    return [r.get("path", "") for r in out.facts["requests"]]


def expect_launch(out, program, args):
    # Every program the run started, not only the last: the final launch is the only one.
    out.expect_equal("programs started", [(program, args)], out.facts["launches"])


def installed(machine, *parts):
    path = os.path.join(machine.drive, "Orvik", *parts)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def expect_no_side_files(out, machine):
    leftovers = [n for root, _d, files in os.walk(os.path.join(machine.drive, "Orvik"))
                 for n in files if n.endswith((".dlknew", ".dlkold"))]
    out.expect_equal("nothing half-installed", [], leftovers)


def version_path(machine):
    return "/update/smt.php" + machine.build.version_query() + "&TK="


# --- the scenarios -------------------------------------------------------------------------

def normal_success(machine, rig, host, release):
    out = run(machine, rig, "normal mode, full success", {"SURL": host},
              serve=lambda: release.serve(rig, host))
    out.expect_equal("status path", [0, 1, 2, 3, 4, 5, 8, 0], out.facts["path"])
    paths = request_paths(out)
    out.expect_equal("version request", version_path(machine), paths[0] if paths else None)
    out.check("INI and both files fetched", set(paths[1:]) == {"/rel/dlk.php", "/rel/agent/7.2/mvagtx.exe",
                                                             "/rel/data/data.bin"}, paths)
    out.check("every request over TLS", all(r.get("listener") == "https" for r in out.facts["requests"]),
              [r.get("listener") for r in out.facts["requests"]])
    out.expect_equal("new agent installed", sha256(release.agent), sha256(installed(machine, "MV", "bin", "mvagtx.exe") or b""))
    out.expect_equal("data file installed", sha256(release.data), sha256(installed(machine, "MV", "bin", "data", "data.bin") or b""))
    expect_no_side_files(out, machine)
    lib = out.facts["library"]
    out.check("library initialised with the answer's values",
              'DlkInitStdDownload urlRoot="https://%s/rel" unpackVersion="7.2" extVersion="7.2" vendor="Orvik" build="319"' % host in lib, lib)
    out.check("language parameter from the answer's LID", 'DlkSetStdParameter name="DlkLocalSetting" value="OQ=="' in lib, lib)
    out.check("German progress title", 'DlkSetStdParameter name="DlkProgressBarTitle" value="TWlycm9ydmFsZSB3aXJkIGVpbmdlcmljaHRldA=="' in lib, lib)
    out.check("sub-directory mode", 'DlkSetStdParameter name="DlkMovingInSubdir" value="Wanta"' in lib, lib)
    out.expect_equal("LANGUAGEID filled from the answer", "9", machine.setting("LANGUAGEID"))
    out.expect_equal("stored INI: CR CR LF for the server's CR LF, UTF-8", release.ini().replace("\r\n", "\r\r\n").encode(),
                     machine.received_ini())
    out.check("INI stored in a folder of the run's own",
              any(re.search(r"iniPath=\S*\\mvu-[0-9a-f]{16}\\+dlk\.php", c) for c in lib), lib)
    out.expect_equal("the run's folder removed afterwards", [], machine.private_folders())
    expect_launch(out, "ksagtctl.exe", "/start2")
    return out


def normal_package_missing(machine, rig, host, release):
    out = run(machine, rig, "normal mode, package missing four times", {"SURL": host},
              serve=lambda: release.serve(rig, host, data_status=404))
    out.expect_equal("status path", [0, 1, 2, 3, 4, 6, 3, 4, 6, 3, 4, 6, 3, 4, 6, 0, 8, 0], out.facts["path"])
    out.expect_equal("four download attempts", 4, request_paths(out).count("/rel/data/data.bin"))
    out.expect_equal("old agent left as it was", sha256(release.old_agent), sha256(installed(machine, "MV", "bin", "mvagtx.exe") or b""))
    out.expect_equal("no data file", None, installed(machine, "MV", "bin", "data", "data.bin"))
    expect_no_side_files(out, machine)
    expect_launch(out, "ksagtctl.exe", "/start2")
    return out


def check_mode_intact(machine, rig, host, release):
    ini = release.ini(files=("agent",), agent=release.old_agent)
    out = run(machine, rig, "check mode, agent intact", {"SURL": host}, args=("/check",),
              serve=lambda: release.serve(rig, host, ini=ini))
    out.expect_equal("status path", [0, 1, 2, 3, 4, 5, 8, 0], out.facts["path"])
    out.expect_equal("no file fetched", ["/rel/dlk.php"], request_paths(out)[1:])
    out.check("integrity asked for the agent", any(c.startswith("DlkStdGetSectionIntegrity2") and 'fileName="mvagtx.exe"' in c
                                                    for c in out.facts["library"]), out.facts["library"])
    expect_launch(out, "mvagtx.exe", "")
    return out


def check_mode_outdated(machine, rig, host, release):
    out = run(machine, rig, "check mode, agent outdated", {"SURL": host}, args=("/CHECK",),
              serve=lambda: release.serve(rig, host))
    out.expect_equal("status path", [0, 1, 2, 3, 4, 5, 8, 0], out.facts["path"])
    out.expect_equal("only the agent fetched", ["/rel/dlk.php", "/rel/agent/7.2/mvagtx.exe"], request_paths(out)[1:])
    out.expect_equal("new agent installed", sha256(release.agent), sha256(installed(machine, "MV", "bin", "mvagtx.exe") or b""))
    out.expect_equal("data file not fetched", None, installed(machine, "MV", "bin", "data", "data.bin"))
    expect_launch(out, "mvagtx.exe", "")
    return out


def failed_answer(kind):
    def scenario(machine, rig, host, release):
        def serve():
            if kind == "status FAILED":
                rig.answer(release.version_answer(host, status="FAILED"), prefix="/update/")
            elif kind == "empty body":
                rig.answer("", prefix="/update/")

        out = run(machine, rig, "server answers: " + kind, {"SURL": host}, serve=serve)
        expected = [0, 1, 0, 8, 0]
        out.expect_equal("status path", expected, out.facts["path"])
        out.expect_equal("no INI asked", [version_path(machine)], request_paths(out))
        expect_launch(out, "ksagtctl.exe", "/start2")
        return out
    return scenario


def normalised_server(machine, rig, host, release, scrambled_token, token):
    settings = {"SURL": "https://%s/Orvik" % host, "RTN": scrambled_token}
    out = run(machine, rig, "SURL with scheme and /Orvik, scrambled token", settings,
              serve=lambda: release.serve(rig, host))
    out.expect_equal("SURL written back without its scheme", "%s/Orvik" % host, machine.setting("SURL"))
    paths = request_paths(out)
    out.expect_equal("version request with the token verbatim", version_path(machine) + token, paths[0] if paths else None)
    out.expect_equal("LANGUAGEID filled from the answer", "9", machine.setting("LANGUAGEID"))
    token_in_traces = [r for r in machine.module_records() + machine.trace_texts() if token in r]
    out.expect_equal("token in no trace record", [], token_in_traces)
    out.expect_equal("status path", [0, 1, 2, 3, 4, 5, 8, 0], out.facts["path"])
    return out


def language_present(machine, rig, host, release):
    out = run(machine, rig, "LANGUAGEID present: sent, not overwritten", {"SURL": host, "LANGUAGEID": "13"},
              serve=lambda: release.serve(rig, host))
    paths = request_paths(out)
    out.expect_equal("version request with LID", "/update/smt.php" + machine.build.version_query() + "&LID=13&TK=", paths[0] if paths else None)
    out.expect_equal("LANGUAGEID kept", "13", machine.setting("LANGUAGEID"))
    out.check("Spanish progress title", 'DlkSetStdParameter name="DlkProgressBarTitle" value="SW5zdGFsYWNpw7NuIGRlIE1pcnJvcnZhbGU="'
              in out.facts["library"], out.facts["library"])
    return out
