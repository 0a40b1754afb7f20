#!/usr/bin/env python3
"""The demo: one full update run of mvupdate.exe under Wine against a local update server.

Started by tools/demo.sh inside tools/with-test-network. Publishes a small sample release (a newer
agent and a data file) with the operator's kit (tools/mvpublish: a signing key, the INI that
describes the files, the signed version answer) and serves what it wrote, configures a fresh Wine
prefix as an operator would (a .reg file with the server, the language, the scrambled access token
and the update key), runs the program, shows its progress while it waits, and ends with a short
report.
"""

import os
import shutil
import subprocess
import sys
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from mvmachine import RELEASE, Build, Machine, Release, Rig, sha256

HOST = "update.demo.mvtest.invalid"
ADDRESS = "127.83.90.1"
TOKEN = "demo-token-42"


def say(text):
    print(text, flush=True)


def publish(release, folder):
    """The operator's kit: a signing key, then the release signed with it. The MVUpdateKey text."""
    kit = os.path.join(SOURCE, "tools", "mvpublish")
    keys, site = os.path.join(folder, "keys"), os.path.join(folder, "site")
    key_line = subprocess.run(
        [kit, "keygen", keys], check=True, capture_output=True, text=True
    ).stdout.strip()
    published = subprocess.run(
        [kit, "build", "--out", site, "--server", HOST, "--url-root", "https://%s/rel" % HOST]
        + ["--version", RELEASE, "--lid", "9", "--key", os.path.join(keys, "update-key.pem")]
        + ["--files", "MV\\bin", "%s=agent/%s/mvagtx.exe" % (release.agent_file, RELEASE)]
        + ["--files", "MV\\bin\\data", "%s=data/data.bin" % release.data_file],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    say("  mvpublish keygen: %s" % key_line[:60] + "...")
    for line in published.splitlines():
        say("  " + line)
    return site, key_line.split("=", 1)[1]


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
        '"MVUpdateKey"="%s"\r\n' % (HOST, token, update_key)
    )
    path = os.path.join(folder, "settings.reg")
    with open(path, "w", encoding="utf-16") as f:
        f.write(reg)
    machine.wine("reg", "delete", "HKLM\\SOFTWARE\\Orvik", "/f", check=False)
    machine.wine("regedit", "/S", "Z:" + path.replace("/", "\\"))
    say("  settings imported from %s:" % path)
    for line in reg.splitlines()[2:]:
        say("    " + line)


def watch(machine, process, started):
    """Prints the start delay and every status change while the program runs."""
    seen = 0
    last_wait = -1
    names = {
        0: "idle",
        1: "checking version",
        2: "downloading INI",
        3: "ready to download",
        4: "downloading",
        5: "done",
        6: "download failed",
        8: "quitting",
    }
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
            say("  [%5.1f s] status %d: %s" % (elapsed, status, names.get(status, "?")))
        seen = len(path)
        time.sleep(0.25)
    for status in machine.status_path()[seen:]:
        say(
            "  [%5.1f s] status %d: %s"
            % (time.monotonic() - started, status, names.get(status, "?"))
        )


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
    say("* the operator publishes it with tools/mvpublish")
    site, update_key = publish(release, folder)
    rig.start()
    try:
        rig.reset()
        serve_site(rig, site)
        say("* the operator's settings")
        operator_settings(machine, build, folder, update_key)
        say("* running mvupdate.exe")
        started = time.monotonic()
        code, seconds, _ended = machine.run_updater((), lambda p: watch(machine, p, started))
        # The shell starts the agent controller without waiting: its record comes once it has run.
        machine.wait_quiet(60)
        launches = machine.launches()
        requests = rig.requests()
    finally:
        rig.stop()
        subprocess.run(
            ["/usr/lib/wine/wineserver64", "-k"],
            env=dict(os.environ, WINEPREFIX=machine.prefix),
            check=False,
        )

    say("\n== report ==")
    say("exit code        %d after %.1f s (30 s of it the start delay)" % (code, seconds))
    say("status path      " + " -> ".join(str(s) for s in [0] + machine.status_path()))
    say("requests to the server:")
    for r in requests:
        say(
            "  %-5s %s %s  -> %s"
            % (r.get("listener"), r.get("method"), r.get("path"), r.get("status"))
        )
    say("installed:")
    for name, expected in (
        ("MV/bin/mvagtx.exe", release.agent),
        ("MV/bin/data/data.bin", release.data),
    ):
        path = os.path.join(machine.drive, "Orvik", name)
        data = open(path, "rb").read() if os.path.exists(path) else b""
        say(
            "  C:\\Orvik\\%-22s %8d bytes  %s"
            % (
                name.replace("/", "\\"),
                len(data),
                "new version" if sha256(data) == sha256(expected) else "NOT UPDATED",
            )
        )
    verified = [t for t in machine.records("trace") if "Update answer signature verified" in t]
    say(
        "answer signature %s"
        % (
            "verified (%s)" % verified[0].split(" with ")[-1].rstrip(".")
            if verified
            else "NOT VERIFIED"
        )
    )
    say("SURL afterwards  %s" % machine.setting("SURL"))
    say("LANGUAGEID       %s (from the server's answer)" % machine.setting("LANGUAGEID"))
    say("launched:")
    for program, args in launches:
        say("  %s %s" % (program, args))
    ok = (
        code == 0
        and verified
        and machine.status_path()[:6] == [1, 2, 3, 4, 5, 8]
        and launches[-1:] == [("ksagtctl.exe", "/start2")]
    )
    say(
        "\nresult: %s"
        % (
            "answer signature verified, the update was installed and the agent controller started"
            if ok
            else "SOMETHING WENT WRONG"
        )
    )
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
