#!/usr/bin/env python3
"""The demo: a staged release of mvupdate.exe under Wine against a local update server.

Started by tools/demo.sh inside tools/with-test-network. Publishes a small sample release (a newer
agent and a data file) with the operator's kit (tools/mvpublish: a signing key, the INI that
describes the files, the signed version answer) to 50 % of the machines and serves what it wrote,
configures a fresh Wine prefix as an operator would (a .reg file with the server, the language,
the scrambled access token and the update key; the machine's rollout bucket preset outside the
first half), runs the program, which leaves the release alone, then widens the rollout to every
machine with the kit and runs the program again, which installs it. It shows the progress of each
run while it waits and ends with a short report of each.
"""

import os
import shutil
import subprocess
import sys
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KIT = os.path.join(SOURCE, "tools", "mvpublish")

from mvmachine import RECORDS, RELEASE, Build, Machine, Release, Rig, sha256
from mvrun import CONTROLLER, SUCCESS, V_FAILS, status_name

HOST = "update.demo.mvtest.invalid"
ADDRESS = "127.83.90.1"
TOKEN = "demo-token-42"
# The machine's place in the fleet, set here so that the run at 50 % is always one outside the
# rollout (a machine draws its own bucket at the first answer that carries a share).
BUCKET = "7500"


def say(text):
    print(text, flush=True)


def publish(release, folder):
    """The operator's kit: a signing key, then the release signed with it, offered to half of the
    machines. The site, the key and the MVUpdateKey text."""
    keys, site = os.path.join(folder, "keys"), os.path.join(folder, "site")
    key_line = subprocess.run(
        [KIT, "keygen", keys], check=True, capture_output=True, text=True
    ).stdout.strip()
    key = os.path.join(keys, "update-key.pem")
    published = subprocess.run(
        [KIT, "build", "--out", site, "--server", HOST, "--url-root", "https://%s/rel" % HOST]
        + ["--version", RELEASE, "--lid", "9", "--key", key, "--rollout", "50"]
        + ["--files", "MV\\bin", "%s=agent/%s/mvagtx.exe" % (release.agent_file, RELEASE)]
        + ["--files", "MV\\bin\\data", "%s=data/data.bin" % release.data_file],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    say("  mvpublish keygen: %s" % key_line[:60] + "...")
    say("  mvpublish build ... --rollout 50:")
    for line in published.splitlines():
        say("    " + line)
    return site, key, key_line.split("=", 1)[1]


def widen(site, key):
    """The operator offers the release to every machine: the answer signed anew, files kept."""
    widened = subprocess.run(
        [KIT, "rollout", "--out", site, "--percent", "100", "--key", key],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    say("  mvpublish rollout --out site --percent 100:")
    for line in widened.splitlines():
        say("    " + line)


def serve_site(rig, site):
    """Every file mvpublish wrote, at its path; the version answer whatever the query."""
    label = HOST.split(".")[0]
    for root, _dirs, files in os.walk(site):
        for name in files:
            path = "/" + os.path.relpath(os.path.join(root, name), site).replace(os.sep, "/")
            if path == "/%s/smt.php" % label:
                with open(os.path.join(root, name), "rb") as f:
                    rig.answer(f.read(), prefix="/%s/" % label)
            else:
                rig.answer(path=path, body_file=os.path.join(root, name))


def operator_settings(machine, build, folder, update_key):
    """Writes and imports the .reg file an operator would use."""
    scrambled = machine.wine(
        os.path.join(build.dir, "standins", "scrambler", "mvscramble.exe"), "-s", "17", TOKEN
    )
    token = scrambled.stdout.decode("ascii").strip().splitlines()[-1].strip()
    reg = (
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvik\\Config\\MV\\General]\r\n"
        '"SURL"="https://%s"\r\n"InstallSectionName"="ZEInstall"\r\n"RTN"="%s"\r\n'
        '"MVUpdateKey"="%s"\r\n"MVRolloutBucket"="%s"\r\n' % (HOST, token, update_key, BUCKET)
    )
    path = os.path.join(folder, "settings.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write(reg)
    machine.wine("reg", "delete", "HKLM\\SOFTWARE\\Orvik", "/f", check=False)
    machine.wine("regedit", "/S", "Z:" + path.replace("/", "\\"))
    say("  settings imported from %s:" % path)
    for line in reg.splitlines()[2:]:
        say("    " + line)
    say(
        "  (MVRolloutBucket %s is preset for the demo, so that this machine is outside the 50 %% "
        "rollout; a machine draws its own 0 to 9999 otherwise)" % BUCKET
    )


def watch(machine, process, started):
    """Prints the start delay and every status change while the program runs."""
    seen = 0
    last_wait = -1
    while process.poll() is None:
        elapsed = time.monotonic() - started
        path = machine.status_path()
        if not path and int(elapsed) // 5 != last_wait and elapsed < 31:
            last_wait = int(elapsed) // 5
            say(
                "  [%5.1f s] waiting: the program sleeps 30 s before it starts (%d s so far)"
                % (elapsed, int(elapsed))
            )
        for status in path[seen:]:
            say("  [%5.1f s] status %d: %s" % (elapsed, status, status_name(status)))
        seen = len(path)
        time.sleep(0.25)
    for status in machine.status_path()[seen:]:
        say("  [%5.1f s] status %d: %s" % (time.monotonic() - started, status, status_name(status)))


def run_once(machine, rig, site, title):
    """One run of mvupdate.exe against what the site serves now: what it did."""
    for name in RECORDS.values():  # each run's records alone
        path = machine.orvik(name)
        if os.path.exists(path):
            os.remove(path)
    rig.reset()
    serve_site(rig, site)
    say("* running mvupdate.exe: " + title)
    started = time.monotonic()
    code, seconds, _ended = machine.run_updater((), lambda p: watch(machine, p, started))
    # The shell starts the agent controller without waiting: its record comes once it has run.
    machine.wait_quiet(60)
    trace = machine.records("trace")
    return dict(
        code=code,
        seconds=seconds,
        path=[0] + machine.status_path(),
        requests=rig.requests(),
        launches=machine.launches(),
        decision=[t for t in trace if "offered to this machine" in t],
        verified=[t for t in trace if "Update answer signature verified" in t],
    )


def installed(machine, release):
    """Whether the agent and the data file are the release's, each reported."""
    fresh = []
    for name, expected in (
        ("MV/bin/mvagtx.exe", release.agent),
        ("MV/bin/data/data.bin", release.data),
    ):
        path = os.path.join(machine.drive, "Orvik", name)
        data = open(path, "rb").read() if os.path.exists(path) else b""
        fresh.append(sha256(data) == sha256(expected))
        say(
            "  C:\\Orvik\\%-22s %8d bytes  %s"
            % (name.replace("/", "\\"), len(data), "new version" if fresh[-1] else "not updated")
        )
    return all(fresh)


def report(run, title):
    say("\n== %s ==" % title)
    say(
        "exit code        %d after %.1f s (30 s of it the start delay)"
        % (run["code"], run["seconds"])
    )
    say("status path      " + " -> ".join(str(s) for s in run["path"]))
    say(
        "answer signature %s"
        % (
            "verified (%s)" % run["verified"][0].split(" with ")[-1].rstrip(".")
            if run["verified"]
            else "NOT VERIFIED"
        )
    )
    say("rollout decision %s" % (run["decision"][0] if run["decision"] else "NONE TRACED"))
    say("requests to the server:")
    for r in run["requests"]:
        say(
            "  %-5s %s %s  -> %s"
            % (r.get("listener"), r.get("method"), r.get("path"), r.get("status"))
        )
    say("launched:")
    for program, args in run["launches"]:
        say("  %s %s" % (program, args))


def main():
    build_dir = sys.argv[1]
    arch = sys.argv[2] if len(sys.argv) > 2 else "x86_64"
    # The release program, with the stand-ins of the build around it: what ships is what runs.
    build = Build(build_dir, sys.argv[3] if len(sys.argv) > 3 else None)
    folder = os.path.join(build.dir, "demo")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    machine = Machine(build, os.path.join(folder, "prefix"))
    rig = Rig(ADDRESS, [HOST], os.path.join(folder, "rig"))
    release = Release(build, os.path.join(folder, "release"))

    say("== mvupdate demo (%s build) ==" % arch)
    say("* a fresh Windows machine under Wine (first start takes a little while)")
    machine.boot()
    machine.install()
    say(
        "  installed C:\\Orvik\\MV\\bin\\mvupdate.exe, the agent and its tools; C:\\Orvik\\ieksdlk.dll"
    )
    say(
        "* the update server https://%s (on %s) offers agent %s and a data file"
        % (HOST, ADDRESS, RELEASE)
    )
    say("* the operator publishes it with tools/mvpublish, to 50 % of the machines first")
    site, key, update_key = publish(release, folder)
    rig.start()
    try:
        say("* the operator's settings")
        operator_settings(machine, build, folder, update_key)
        staged = run_once(machine, rig, site, "the release is offered to 50 % of the machines")
        report(staged, "first run: release at 50 %")
        say("installed:")
        staged["installed"] = installed(machine, release)
        say(
            "MVRolloutBucket  %s (this machine's place: in when below 50 x 100)"
            % machine.setting("MVRolloutBucket")
        )
        say("\n* the first machines are fine: the operator widens the rollout to every machine")
        widen(site, key)
        full = run_once(machine, rig, site, "the release is offered to 100 % of the machines")
    finally:
        rig.stop()
        subprocess.run(
            ["/usr/lib/wine/wineserver64", "-k"],
            env=dict(os.environ, WINEPREFIX=machine.prefix),
            check=False,
        )

    report(full, "second run: release at 100 %")
    say("installed:")
    full["installed"] = installed(machine, release)
    say("SURL afterwards  %s" % machine.setting("SURL"))
    say("LANGUAGEID       %s (from the server's answer)" % machine.setting("LANGUAGEID"))
    out_record = "Update not offered to this machine yet: rollout 50 %%, bucket %s." % BUCKET
    in_record = "Update offered to this machine: rollout 100 %%, bucket %s." % BUCKET
    staged_ok = (
        staged["code"] == 0
        and staged["verified"]
        and staged["decision"] == [out_record]
        and staged["path"][:3] == V_FAILS[:3]
        and not staged["installed"]
        and len(staged["requests"]) == 1
        and staged["launches"][-1:] == CONTROLLER
    )
    full_ok = (
        full["code"] == 0
        and full["verified"]
        and full["decision"] == [in_record]
        and full["path"][:7] == SUCCESS[:7]
        and full["installed"]
        and full["launches"][-1:] == CONTROLLER
    )
    say(
        "\nresult: %s"
        % (
            "at 50 % this machine (bucket " + BUCKET + ") was not offered the release and kept its "
            "agent; at 100 % the update was installed and the agent controller started"
            if staged_ok and full_ok
            else "SOMETHING WENT WRONG (%s)"
            % ", ".join(
                n for n, ok in (("run at 50 %", staged_ok), ("run at 100 %", full_ok)) if not ok
            )
        )
    )
    return 0 if staged_ok and full_ok else 1


if __name__ == "__main__":
    sys.exit(main())
