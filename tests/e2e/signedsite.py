"""A release published by tools/mvpublish and served by a real nginx over TLS, on an address of a lane's
own (127.83.N.5, signed.<label>.mvtest.invalid, ports 443 and 8443) with a certificate from the run's
CA."""

import atexit
import base64
import os
import re
import shutil
import socket
import subprocess
import time

from mvmachine import RELEASE, SOURCE

MVPUBLISH = os.path.join(SOURCE, "tools", "mvpublish")
RUNNING = []  # nginx processes still up, ended when the runner ends whatever happened


@atexit.register
def _end_all():
    for process in RUNNING:
        process.kill()


def tool(*args):
    result = subprocess.run(list(args), capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (args[:2], result.stderr or result.stdout))
    return result.stdout


class SignedSite:
    def __init__(self, lane):
        self.lane = lane
        label = lane.host.split(".")[1]
        self.host = "signed.%s.mvtest.invalid" % label
        self.alias = "alias.%s.mvtest.invalid" % label
        self.address = lane.rig.address.rsplit(".", 1)[0] + ".5"
        self.dir = os.path.join(os.path.dirname(lane.case_dir), "signed")
        self.site = os.path.join(self.dir, "site")
        self.process = None
        os.makedirs(self.dir, exist_ok=True)
        self.keys = {name: self._key(name) for name in ("a", "b")}
        self._certificate()
        net = os.environ["MVU_TEST_NETWORK_DIR"]
        with open(os.path.join(net, "hosts"), "a") as f:
            f.write("%s %s\n%s %s\n" % (self.address, self.host, self.address, self.alias))
        lane.names["signed"] = self.host
        lane.names["signed_alias"] = self.alias

    def _key(self, name):
        folder = os.path.join(self.dir, "key-" + name)
        if not os.path.exists(os.path.join(folder, "update-key.pem")):
            shutil.rmtree(folder, ignore_errors=True)
            tool(MVPUBLISH, "keygen", folder)
        text = tool(MVPUBLISH, "pubkey", os.path.join(folder, "update-key.pem"))
        return os.path.join(folder, "update-key.pem"), text.strip().split("=", 1)[1]

    def _certificate(self):
        net = os.environ["MVU_TEST_NETWORK_DIR"]
        self.cert, self.cert_key = (os.path.join(self.dir, n) for n in ("cert.pem", "cert-key.pem"))
        extensions = os.path.join(self.dir, "server.ext")
        with open(extensions, "w") as f:
            f.write(
                "basicConstraints = critical, CA:FALSE\n"
                "keyUsage = critical, digitalSignature, keyEncipherment\n"
                "extendedKeyUsage = serverAuth\n"
                "subjectAltName = DNS:%s, IP:%s\n" % (self.host, self.address)
            )
        request = os.path.join(self.dir, "request.csr")
        tool(
            "openssl",
            "req",
            "-new",
            "-newkey",
            "rsa:2048",
            "-nodes",
            "-subj",
            "/CN=" + self.host,
            "-keyout",
            self.cert_key,
            "-out",
            request,
        )
        tool(
            "openssl",
            "x509",
            "-req",
            "-in",
            request,
            "-CA",
            os.path.join(net, "ca.pem"),
            "-CAkey",
            os.path.join(net, "ca.key"),
            "-set_serial",
            str(int.from_bytes(os.urandom(8), "big")),
            "-days",
            "2",
            "-sha256",
            "-extfile",
            extensions,
            "-out",
            self.cert,
        )

    def publish(self, key="a", *extra, port=None, alias=None):
        """Publishes the lane's release for the site's name (or alias.<label>..., a name its
        certificate does not cover), with port when given."""
        release = self.lane.release
        host = self.host if alias is None else self.alias
        server = host if port is None else "%s:%d" % (host, port)
        tool(
            MVPUBLISH,
            "build",
            "--out",
            self.site,
            "--server",
            server,
            "--url-root",
            "https://%s/rel" % server,
            "--version",
            RELEASE,
            "--lid",
            "9",
            "--key",
            self.keys[key][0],
            *extra,
            "--files",
            "MV\\bin",
            "%s=agent/%s/mvagtx.exe" % (release.agent_file, RELEASE),
            "--files",
            "MV\\bin\\data",
            "%s=data/data.bin" % release.data_file,
        )

    def resign(self, edit, key="a"):
        """The published answer with its envelope changed by edit and signed again, as mvpublish signs."""
        path = self.answer_path()
        with open(path, "rb") as f:
            answer = f.read()
        start = answer.index(b"<MVHostVersion>")
        end = answer.index(b"</MVHostVersion>", start) + len(b"</MVHostVersion>")
        envelope = edit(answer[start:end])
        der = subprocess.run(
            ["openssl", "dgst", "-sha256", "-sign", self.keys[key][0]],
            input=envelope,
            capture_output=True,
            check=True,
        ).stdout
        signature = re.sub(
            rb"<MVSignature>.*?</MVSignature>",
            b"<MVSignature>" + base64.b64encode(der) + b"</MVSignature>",
            answer[end:],
        )
        with open(path, "wb") as f:
            f.write(answer[:start] + envelope + signature)

    def answer_path(self):
        """The answer as published for the site's own name."""
        return self.path("/%s/smt.php" % self.host.split(".")[0])

    def serial(self):
        """The serial of the answer the site serves."""
        with open(self.answer_path(), "rb") as f:
            return int(re.search(rb"<MVSerial>\s*(\d+)\s*</MVSerial>", f.read()).group(1))

    def path(self, relative):
        return os.path.join(self.site, *relative.strip("/").split("/"))

    def start(self):
        self.stop()
        logs = os.path.join(self.dir, "logs")
        shutil.rmtree(logs, ignore_errors=True)
        os.makedirs(os.path.join(logs, "tmp"))
        self.access_log = os.path.join(logs, "access.log")
        config = os.path.join(self.dir, "nginx.conf")
        with open(config, "w") as f:
            f.write(
                """daemon off;
master_process off;
pid {logs}/nginx.pid;
error_log {logs}/error.log info;
events {{ worker_connections 64; }}
http {{
  log_format row '$request_method $uri $status $body_bytes_sent';
  access_log {logs}/access.log row;
  client_body_temp_path {logs}/tmp/body;
  proxy_temp_path {logs}/tmp/proxy;
  fastcgi_temp_path {logs}/tmp/fastcgi;
  uwsgi_temp_path {logs}/tmp/uwsgi;
  scgi_temp_path {logs}/tmp/scgi;
  default_type application/octet-stream;
  server {{
    listen {address}:443 ssl;
    listen {address}:8443 ssl;
    server_name {host};
    ssl_certificate {cert};
    ssl_certificate_key {key};
    root {site};
    location / {{ try_files $uri =404; }}
  }}
}}
""".format(
                    logs=logs,
                    address=self.address,
                    host=self.host,
                    cert=self.cert,
                    key=self.cert_key,
                    site=self.site,
                )
            )
        self.process = subprocess.Popen(
            ["nginx", "-p", self.dir, "-e", os.path.join(logs, "error.log"), "-c", config],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.STDOUT,
        )
        RUNNING.append(self.process)
        ends = time.monotonic() + 30
        while time.monotonic() < ends and self.process.poll() is None:
            try:
                socket.create_connection((self.address, 443), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not start: %s" % open(os.path.join(logs, "error.log")).read())

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait(timeout=30)
            RUNNING.remove(self.process)
            self.process = None

    def asked(self):
        """The paths nginx served (or refused), in order."""
        with open(self.access_log) as f:
            return [line.split()[1] for line in f if line.strip()]
