#!/usr/bin/env python3
"""The release the allocation sweep installs, published by tools/mvpublish for the sweep's server,
and the secrets of the machine that runs it, drawn afresh for each run of the tests.

  sweep_site.py OUT SERVER FILES_HOST

publishes for the version server SERVER a release whose INI and files FILES_HOST serves, and writes
OUT/site (the published release: the signed version answer in OUT/site/<folder>/smt.php,
the INI and the agent below OUT/site/rel) and OUT/sweep.txt, "key: value" lines the sweep reads:
update-key (the machines' MVUpdateKey), token, proxy-password, server-password, site. The release
notes carry the three secrets, so that the traced answer and INI bring them back to the trace."""

import os
import secrets
import shutil
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MVPUBLISH = os.path.join(SOURCE, "tools", "mvpublish")
AGENT = b"sweep agent\n"


def tool(*args):
    result = subprocess.run(
        [sys.executable, MVPUBLISH] + list(args), capture_output=True, text=True
    )
    if result.returncode != 0:
        raise SystemExit("mvpublish %s failed: %s" % (args[0], result.stderr or result.stdout))
    return result.stdout


def main(out, server, files_host):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "files"))
    key = os.path.join(out, "key")
    tool("keygen", key)
    agent = os.path.join(out, "files", "mvagtx.exe")
    with open(agent, "wb") as f:
        f.write(AGENT)
    # Letters and digits only: a secret reads the same in a URL, in XML and in a record.
    values = {
        "token": "tk" + secrets.token_hex(8),
        "proxy-password": "pp" + secrets.token_hex(8),
        "server-password": "sp" + secrets.token_hex(8),
    }
    tool(
        "build",
        "--out",
        os.path.join(out, "site"),
        "--server",
        server,
        "--url-root",
        "https://%s/rel" % files_host,
        "--version",
        "7.2",
        "--lid",
        "9",
        "--key",
        os.path.join(key, "update-key.pem"),
        "--description",
        "notes for %(token)s %(proxy-password)s %(server-password)s" % values,
        "--files",
        "MV\\bin",
        "%s=agent/mvagtx.exe" % agent,
    )
    update_key = tool("pubkey", os.path.join(key, "update-key.pem")).strip().split("=", 1)[1]
    with open(os.path.join(out, "sweep.txt"), "w") as f:
        f.write("update-key: %s\n" % update_key)
        f.writelines("%s: %s\n" % item for item in values.items())
        f.write("site: %s\n" % os.path.join(out, "site"))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    sys.exit(main(os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]))
