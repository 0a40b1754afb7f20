#!/usr/bin/env python3
"""mvrig: the update server's stand-in, a scriptable HTTP, HTTPS and proxy server on loopback that
serves the version answer, the INI and the files; for the demo, the bench and the tests, whose
requests and faults (held, cut or silent answers, broken handshakes, certificates that must be
refused) it is told through its control port.

A rig serves a loopback address of its own: http :80, https :443 (certificate for the address and
its --host names), proxy :8080 (Basic credentials when told to; answers absolute-URI requests from
the script; tunnels CONNECT to loopback) and control :8079; also https :443 on --wrong-name-address
(certificate for another name), --expired-address and --untrusted-address (certificate from a CA
that nothing trusts); with --second-https-port, https on that port of the address too; with
--tinyproxy-address, a real CONNECT proxy (tinyproxy, in the foreground, its outgoing connections
from that address too, CONNECT to port 443 only) on that address's port 8888, ended with the rig.
It runs only inside tools/with-test-network,
whose MVU_TEST_NETWORK_DIR holds the CA and the hosts file it uses. Commands: start (in the
background, returns once the rig answers), stop --pidfile F, serve (in the foreground).

Control: one request per connection, closed after its answer. Bodies both ways are "key: value" lines
(a key may repeat); 200 carries the result, 400 "error: <text>".
GET  /ping        -> "ok", "pid: <n>"
POST /answer      -> "id: <n>". The lines, an empty line, the literal body. The newest matching answer
                  wins, none: 404. Matching: path (path and query, exactly, also for the proxy) or
                  prefix.
                  Answer: status (200), header "Name: value" (repeatable; a Content-Length or
                  Connection given replaces the rig's), body-size N (byte i is i % 251), body-file
                  (else the literal body), hold (until released), silent (close without a byte),
                  cut-after N (head, N body bytes, close), no-length (the body ends with the
                  connection), close, auth user:password (else 401, Basic, realm "mvrig").
POST /release     the holds of every answer end for good -> "released: <n>"
POST /proxy-auth  "user", "password": the proxy demands them (407), CONNECT too; empty: no more
POST /wait        until a record has the given "path", at most 30 s -> "count: <matching records>"
POST /tls-fault   HTTPS handshakes break: "mode" plain (a plain HTTP answer), garbage (one byte),
                  close (nothing), none (ends it); after "skip" handshakes. Recorded with listener
                  "https", no method, "error: TLS fault: <mode>".
POST /reset       forget answers and records, release holds, end the proxy demand and TLS fault,
                  forget tinyproxy's log so far
GET  /tinyproxy-log  what tinyproxy logged since the last reset (level Connect: one "Request" line
                  per request it was sent, e.g. "CONNECT host:443 HTTP/1.1")
GET  /requests    the records, oldest first, separated by empty lines: id, listener (http, https,
                  proxy; connect: through a tunnel; plain-on-tls: plain HTTP sent to an HTTPS
                  listener, recorded and answered as such), local and peer (address:port), method (empty: failed handshake), target (as sent), path (empty
                  for CONNECT), version, "header: Name: value" for each, body-length, body (hex of
                  the first MiB, if any), status (0: none sent), answer (id, 0: none), error (if any).
"""

import argparse
import base64
import contextlib
import ctypes
import datetime
import http.server
import ipaddress
import os
import re
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

HTTP_PORT, HTTPS_PORT, PROXY_PORT, CONTROL_PORT, TINYPROXY_PORT = 80, 443, 8080, 8079, 8888
# Whole periods of 251, so consecutive blocks continue the pattern without a seam.
PATTERN = memoryview(bytes(range(251)) * 4096)
KEPT_BODY = 1 << 20
TEXTS = ("path", "prefix", "body-file", "auth")
NUMBERS = ("status", "body-size", "cut-after")
FLAGS = ("hold", "silent", "no-length", "close")
BLANK_RECORD = dict(
    method="",
    target="",
    path="",
    version="",
    headers=(),
    body=b"",
    length=0,
    status=0,
    answer=0,
    error="",
)
PLAIN_ANSWER = (
    b"HTTP/1.0 200 OK\r\nContent-Length: 26\r\nConnection: close\r\n\r\nmvrig: plain HTTP, no TLS\n"
)
# Bound to its own address both ways, so the rig's records tell a tunnelled request by its peer.
TINYPROXY_CONF = """Port {port}
Listen {address}
Bind {address}
Timeout 60
LogLevel Connect
MaxClients 32
Allow 127.0.0.0/8
ConnectPort 443
DisableViaHeader Yes
"""


def parse_fields(data):
    """The "key: value" lines of a control body, and the bytes behind its first empty line."""
    text, *rest = re.split(rb"\r?\n\r?\n", data, maxsplit=1)
    lines = [
        line.partition(":") for line in text.decode("utf-8", "replace").splitlines() if line.strip()
    ]
    if not all(sep for _, sep, _ in lines):
        raise ValueError("a line without a colon in %r" % text)
    return [(key.strip().lower(), value.strip()) for key, _, value in lines], b"".join(rest)


def first(fields, key, default=None):
    return next((v for k, v in fields if k == key), default)


def number(fields, key, default=None):
    value = first(fields, key)
    return default if value is None else int(value)


def one_line(text):
    return str(text).replace("\r", " ").replace("\n", " ")


def phrase(status):
    return http.server.BaseHTTPRequestHandler.responses.get(status, ("Status",))[0]


def credentials_match(offered, user, password):
    token = base64.b64encode(("%s:%s" % (user, password)).encode("utf-8")).decode("ascii")
    scheme, _, given = (offered or "").strip().partition(" ")
    return scheme.lower() == "basic" and given.strip() == token


def format_record(r):
    keys = ("id", "listener", "local", "peer", "method", "target", "path", "version")
    lines = ["%s: %s" % (key, one_line(r[key])) for key in keys]
    lines += ["header: %s: %s" % (one_line(name), one_line(value)) for name, value in r["headers"]]
    lines += ["body-length: %d" % r["length"]] + (["body: " + r["body"].hex()] if r["body"] else [])
    lines += ["status: %d" % r["status"], "answer: %d" % r["answer"]]
    lines += ["error: " + one_line(r["error"])] if r["error"] else []
    return "\n".join(lines) + "\n"


class Answer:
    """One scripted answer: which requests it matches, and what they get."""

    def __init__(self, answer_id, fields, literal_body):
        unknown = sorted({k for k, _ in fields} - set(TEXTS + NUMBERS + FLAGS + ("header",)))
        if unknown:
            raise ValueError("unknown answer lines: %s" % ", ".join(unknown))
        for key in TEXTS + NUMBERS + FLAGS:
            value = number(fields, key) if key in NUMBERS else first(fields, key)
            flag = key in FLAGS and (value or "0").lower() not in ("0", "", "no", "false")
            setattr(self, key.replace("-", "_"), flag if key in FLAGS else value)
        self.id, self.body, self.released = answer_id, literal_body, threading.Event()
        self.status = 200 if self.status is None else self.status
        self.headers = [
            (n.strip(), v.strip()) for n, v in (h.split(":", 1) for k, h in fields if k == "header")
        ]
        if self.body_file is not None and not os.path.isfile(self.body_file):
            raise ValueError("no such body file: %s" % self.body_file)

    def matches(self, path):
        return self.path in (None, path) and (self.prefix is None or path.startswith(self.prefix))


class Rig:
    """What the listeners share: answers, records, the proxy's demand, the TLS fault, tunnels."""

    def __init__(self):
        self.cond = threading.Condition()
        self.answers = []
        self.records = []
        self.next_answer = 1
        self.proxy_auth = None
        self.tls_fault = None
        self.tinyproxy = None
        self.tunnel_peers = set()  # the rig's own ends of its tunnels to its HTTPS listeners

    def take_answer(self, path):
        with self.cond:
            return next((a for a in reversed(self.answers) if a.matches(path)), None)

    def add_record(self, record):
        with self.cond:
            self.records.append(dict(record, id=len(self.records) + 1))
            self.cond.notify_all()
        log("%(listener)s %(method)s %(target)s -> %(status)d %(error)s" % record)

    def count(self, path):
        return sum(1 for r in self.records if r["path"] == path)

    def take_tls_fault(self):
        """The fault this handshake gets, or None to let it through."""
        with self.cond:
            fault = self.tls_fault
            if fault is not None:
                fault["skip"] -= 1
                return fault["mode"] if fault["skip"] < 0 else None

    def command(self, method, path, fields, rest):
        if path == "/ping":
            return "ok\npid: %d\n" % os.getpid()
        if method != "POST" and path not in ("/requests", "/tinyproxy-log"):
            raise ValueError("%s %s: use POST" % (method, path))
        with self.cond:
            if path == "/requests":
                return "\n".join(format_record(r) for r in self.records)
            if path == "/tinyproxy-log":
                if self.tinyproxy is None:
                    raise ValueError("this rig runs no tinyproxy")
                return self.tinyproxy.log()
            if path == "/answer":
                self.answers.append(Answer(self.next_answer, fields, rest))
                self.next_answer += 1
                return "id: %d\n" % self.answers[-1].id
            if path == "/wait":
                wanted = first(fields, "path")
                self.cond.wait_for(lambda: self.count(wanted) >= 1, 30.0)
                return "count: %d\n" % self.count(wanted)
            if path in ("/release", "/reset"):  # a reset releases every hold
                for answer in self.answers:
                    answer.released.set()
                if path == "/release":
                    return "released: %d\n" % len(self.answers)
                self.answers, self.records, self.proxy_auth, self.tls_fault = [], [], None, None
                if self.tinyproxy is not None:
                    self.tinyproxy.forget_log()
            elif path == "/proxy-auth":
                user = first(fields, "user")
                self.proxy_auth = None if user is None else (user, first(fields, "password", ""))
            elif path == "/tls-fault":
                mode = first(fields, "mode")
                if mode not in (None, "none", "plain", "garbage", "close"):
                    raise ValueError("unknown TLS fault: %r" % mode)
                if mode in (None, "none"):
                    self.tls_fault = None
                else:
                    self.tls_fault = {"mode": mode, "skip": number(fields, "skip", 0)}
            else:
                raise ValueError("unknown command %s" % path)
        return "ok\n"


RIG = Rig()


class Handler(http.server.BaseHTTPRequestHandler):
    """The requests of one connection; the listener's role decides how they are answered."""

    protocol_version = "HTTP/1.1"
    timeout = 300
    disable_nagle_algorithm = True
    listener_name = None  # the listener's role decides

    def parse_request(self):
        # A client may send a line end after a body: blank lines before a request are skipped.
        while self.raw_requestline in (b"\r\n", b"\n"):
            self.raw_requestline = self.rfile.readline(65537)
        return super().parse_request()

    def dispatch(self):
        self.target = self.requestline.split()[1]
        self.body_length = int(self.headers.get("Content-Length") or 0)
        self.body = self.rfile.read(self.body_length)
        if len(self.body) < self.body_length:
            raise ValueError("request body ended early")
        role = self.server.role
        if role == "control":
            return self.control()
        path = "" if self.command == "CONNECT" else origin_path(self.target)
        listener = self.listener_name or (
            "connect" if role == "https" and self.client_address[:2] in RIG.tunnel_peers else role
        )
        demand = RIG.proxy_auth if role == "proxy" else None
        if demand is not None and not credentials_match(
            self.headers.get("Proxy-Authorization"), *demand
        ):
            return self.challenge(listener, path, 407, "Proxy-Authenticate")
        if role == "proxy" and self.command == "CONNECT":
            return self.tunnel()
        answer = RIG.take_answer(path)
        if answer is None:
            self.record(listener, path, 404)
            return self.simple(
                404,
                ("mvrig: no answer scripted for %s %s\n" % (self.command, path)).encode("utf-8"),
            )
        if answer.auth is not None and not credentials_match(
            self.headers.get("Authorization"), *answer.auth.partition(":")[::2]
        ):
            return self.challenge(listener, path, 401, "WWW-Authenticate")
        self.record(listener, path, 0 if answer.silent else answer.status, answer.id)
        self.scripted(answer)

    do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = do_OPTIONS = do_CONNECT = dispatch

    def record(self, listener, path, status, answer=0, error=""):
        RIG.add_record(
            dict(
                listener=listener,
                local=self.server.local,
                peer="%s:%d" % self.client_address[:2],
                method=self.command,
                target=self.target,
                path=path,
                version=self.request_version,
                headers=[(n.strip(), v.strip()) for n, v in self.headers.items()],
                body=self.body[:KEPT_BODY],
                length=self.body_length,
                status=status,
                answer=answer,
                error=error,
            )
        )

    def head(self, status, headers, length, close=False):
        """Writes the head; the connection stays open if the request asks and nothing given closes it."""
        names = {name.lower(): value.lower() for name, value in reversed(headers)}
        proxy_keep = (
            self.server.role == "proxy"
            and "keep-alive" in self.headers.get("Proxy-Connection", "").lower()
        )
        keep = (
            (proxy_keep or not self.close_connection)
            and not close
            and "close" not in names.get("connection", "")
        )
        version = "HTTP/1.1" if self.request_version == "HTTP/1.1" else "HTTP/1.0"
        lines = ["%s %d %s" % (version, status, phrase(status))] + ["%s: %s" % h for h in headers]
        if length is not None and "content-length" not in names:
            lines.append("Content-Length: %d" % length)
        if "connection" not in names:
            lines.append("Connection: " + ("keep-alive" if keep else "close"))
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        self.close_connection = not keep

    def simple(self, status, body, headers=(), close=False):
        self.head(status, list(headers) + [("Content-Type", "text/plain")], len(body), close=close)
        if self.command != "HEAD":
            self.wfile.write(body)

    def challenge(self, listener, path, status, header):
        self.record(listener, path, status)
        self.simple(status, b"mvrig: credentials required\n", [(header, 'Basic realm="mvrig"')])

    def scripted(self, answer):
        if answer.hold:
            answer.released.wait()
        if answer.silent:
            self.close_connection = True
            return
        if answer.body_size is not None:
            length = answer.body_size
        elif answer.body_file is not None:
            length = os.path.getsize(answer.body_file)
        else:
            length = len(answer.body)
        cut = answer.cut_after is not None
        self.head(
            answer.status,
            answer.headers,
            None if answer.no_length else length,
            answer.close or answer.no_length or cut,
        )
        count = 0 if self.command == "HEAD" else min(length, answer.cut_after) if cut else length
        if answer.body_size is not None:
            # An endless body: until the client goes away.
            for sent in range(0, count, len(PATTERN)):
                self.connection.sendall(PATTERN[: min(count - sent, len(PATTERN))])
        elif answer.body_file is not None and count > 0:
            with open(answer.body_file, "rb") as f:
                self.connection.sendfile(f, 0, count)
        else:
            self.wfile.write(answer.body[:count])
        if cut:
            self.connection.shutdown(socket.SHUT_RDWR)

    def tunnel(self):
        host, _, port = self.target.rpartition(":")
        try:
            address = socket.getaddrinfo(
                host.strip("[]"), int(port), socket.AF_INET, socket.SOCK_STREAM
            )[0][4]
            if not ipaddress.ip_address(address[0]).is_loopback:  # no test ever leaves the machine
                raise ValueError("%s is not a loopback address" % address[0])
            upstream = socket.create_connection(address)
        except (OSError, ValueError) as e:
            self.record("proxy", "", 502, error="tunnel: %s" % e)
            return self.simple(502, b"mvrig: no tunnel\n", close=True)
        self.close_connection, peer = True, upstream.getsockname()[:2]
        RIG.tunnel_peers.add(peer)
        self.record("proxy", "", 200)
        version = "HTTP/1.1" if self.request_version == "HTTP/1.1" else "HTTP/1.0"
        self.wfile.write(("%s 200 Connection established\r\n\r\n" % version).encode("latin-1"))
        back = threading.Thread(target=pump, args=(upstream.recv, self.connection), daemon=True)
        back.start()
        pump(self.rfile.read1, upstream)
        back.join()
        RIG.tunnel_peers.discard(peer)
        upstream.close()

    def control(self):
        try:
            fields, rest = parse_fields(self.body)
            status, text = 200, RIG.command(self.command, self.target.split("?")[0], fields, rest)
        except ValueError as e:
            status, text = 400, "error: %s\n" % one_line(e)
        data = text.encode("utf-8")
        self.head(status, [("Content-Type", "text/plain; charset=utf-8")], len(data), True)
        self.wfile.write(data)


class PlainOnTlsHandler(Handler):
    """A connection to an HTTPS listener that opened with plain HTTP instead of a handshake."""

    listener_name = "plain-on-tls"


def opens_plain(sock):
    """Whether a connection opens with a letter (a request line) where a TLS handshake belongs."""
    with contextlib.suppress(OSError):
        return sock.recv(1, socket.MSG_PEEK).isalpha()
    return False


class Listener(socketserver.ThreadingTCPServer):
    daemon_threads = True  # a held answer never keeps the rig from ending
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, port, role, tls_context=None):
        self.role, self.tls_context, self.local = role, tls_context, "%s:%d" % (address, port)
        super().__init__((address, port), Handler)

    def finish_request(self, sock, peer):
        """In the connection's own thread: the TLS handshake or the fault that breaks it, then the requests."""
        handler = Handler
        if self.tls_context is not None:
            sock.settimeout(30)
            error = RIG.take_tls_fault()
            if error is None and opens_plain(sock):
                handler = PlainOnTlsHandler
            elif error is not None:  # read the client's hello, answer it as the fault says, close
                with contextlib.suppress(OSError):
                    sock.recv(1 << 16)
                    sock.sendall({"plain": PLAIN_ANSWER, "garbage": b"\xff"}.get(error, b""))
                    sock.shutdown(socket.SHUT_RDWR)
                sock.close()
                error = "TLS fault: " + error
            else:
                try:
                    sock = self.tls_context.wrap_socket(sock, server_side=True)
                except (ssl.SSLError, OSError) as e:  # the failed wrap has closed the socket
                    error = "TLS handshake: " + (str(e) or e.__class__.__name__)
            if error is not None:
                return RIG.add_record(
                    dict(
                        BLANK_RECORD,
                        listener="https",
                        local=self.local,
                        peer="%s:%d" % peer[:2],
                        error=error,
                    )
                )
        try:
            handler(sock, peer, self)
        except (OSError, ValueError) as e:
            log("%s: connection from %s ended: %s" % (self.role, peer[0], e))
        # The TLS socket; the plain one under it is closed again harmlessly.
        self.shutdown_request(sock)


def end_with_parent():
    """In a child before it runs: it gets SIGTERM when the rig ends, even by SIGKILL."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Tinyproxy:
    """tinyproxy in the foreground with a config file of its own, its log kept in a file."""

    def __init__(self, address):
        work = tempfile.mkdtemp(prefix="tinyproxy-%s-" % address, dir=network_dir())
        config, self.log_path = os.path.join(work, "tinyproxy.conf"), os.path.join(work, "log")
        with open(config, "w") as f:
            f.write(TINYPROXY_CONF.format(address=address, port=TINYPROXY_PORT))
        self.seen = 0
        with open(self.log_path, "ab") as log_file:
            self.process = subprocess.Popen(
                ["tinyproxy", "-d", "-c", config],
                stdin=subprocess.DEVNULL,
                stdout=log_file,
                stderr=subprocess.STDOUT,
                preexec_fn=end_with_parent,
            )
        deadline = time.monotonic() + 20
        while self.process.poll() is None and time.monotonic() < deadline:
            with contextlib.suppress(OSError):
                socket.create_connection((address, TINYPROXY_PORT), timeout=1).close()
                log("tinyproxy on %s:%d (pid %d)" % (address, TINYPROXY_PORT, self.process.pid))
                return
            time.sleep(0.1)
        self.stop()
        raise ValueError("tinyproxy did not start; it logged:\n" + self.log())

    def log(self):
        with open(self.log_path, "rb") as f:
            f.seek(self.seen)
            return f.read().decode("utf-8", "replace")

    def forget_log(self):
        self.seen = os.path.getsize(self.log_path)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def pump(read, sink):
    """Copies what read gives to the socket sink until either side ends, then ends sink's sending."""
    with contextlib.suppress(OSError):
        for data in iter(lambda: read(1 << 16), b""):
            sink.sendall(data)
    with contextlib.suppress(OSError):
        sink.shutdown(socket.SHUT_WR)


def origin_path(target):
    """Path and query of a request target, absolute URIs included."""
    parts = urllib.parse.urlsplit(target)
    if target.startswith("/") or not (parts.scheme and parts.netloc):
        return target
    return urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, ""))


def log(text):
    print("%s mvrig: %s" % (time.strftime("%H:%M:%S"), text), file=sys.stderr, flush=True)


def network_dir():
    path = os.environ.get("MVU_TEST_NETWORK_DIR")
    if not path or not os.path.isfile(os.path.join(path, "ca.key")):
        raise ValueError("no test network: run the tests through tools/with-test-network")
    return path


def openssl(*args):
    result = subprocess.run(("openssl",) + args, stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise ValueError(
            "openssl %s failed: %s" % (args[0], result.stderr.decode("utf-8", "replace"))
        )


def untrusted_ca(work):
    """A throwaway CA of this rig's own, in no trust store: (certificate, key) paths."""
    cert, key = os.path.join(work, "untrusted-ca.pem"), os.path.join(work, "untrusted-ca.key")
    openssl(
        "req",
        "-x509",
        "-newkey",
        "rsa:2048",
        "-nodes",
        "-subj",
        "/CN=mvrig untrusted CA",
        "-days",
        "7",
        "-addext",
        "basicConstraints=critical,CA:TRUE",
        "-addext",
        "subjectKeyIdentifier=hash",
        "-keyout",
        key,
        "-out",
        cert,
    )
    return cert, key


def issue_certificates(args, hosts):
    """A certificate from the run's CA for each HTTPS address: (address, TLS context) pairs."""
    net = network_dir()
    work = tempfile.mkdtemp(prefix="rig-%s-" % args.address, dir=net)
    key, config, request = (
        os.path.join(work, name) for name in ("key.pem", "ca.cnf", "request.csr")
    )
    openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key)
    with open(config, "w") as f:
        f.write(
            "[req]\ndistinguished_name = dn\n[dn]\n[ca]\ndefault_ca = rigca\n[rigca]\ndatabase = {w}/index\n"
            "new_certs_dir = {w}\nserial = {w}/serial\ndefault_md = sha256\npolicy = anything\n"
            "unique_subject = no\ncopy_extensions = none\n[anything]\ncommonName = supplied\n[server]\n"
            "basicConstraints = critical, CA:FALSE\nkeyUsage = critical, digitalSignature, keyEncipherment\n"
            "extendedKeyUsage = serverAuth\nsubjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid\n"
            "subjectAltName = $ENV::MVRIG_NAMES\n".format(w=work)
        )
    open(os.path.join(work, "index"), "w").close()
    with open(os.path.join(work, "serial"), "w") as f:
        f.write("%016X\n" % int.from_bytes(os.urandom(8), "big"))
    os.environ["MVRIG_NAMES"] = "DNS:rig"  # the names of the certificate being issued
    openssl("req", "-new", "-config", config, "-key", key, "-subj", "/CN=rig", "-out", request)
    now, day = datetime.datetime.now(datetime.timezone.utc), datetime.timedelta(days=1)
    run_ca = (os.path.join(net, "ca.pem"), os.path.join(net, "ca.key"))
    wanted = [
        (args.address, -1, 7, run_ca),
        (args.wrong_name_address, -1, 7, run_ca),
        (args.expired_address, -30, -1, run_ca),
        (args.untrusted_address, -1, 7, args.untrusted_address and untrusted_ca(work)),
    ]
    for address, start, end, (ca_cert, ca_key) in (w for w in wanted if w[0]):
        dns = [n for n, a in hosts if a == address] + [address]
        os.environ["MVRIG_NAMES"] = "DNS:%s, IP:%s" % (", DNS:".join(dns), address)
        if address == args.wrong_name_address:
            dns, os.environ["MVRIG_NAMES"] = [
                "not-this-host.mvtest.invalid"
            ], "DNS:not-this-host.mvtest.invalid"
        openssl(
            "ca",
            "-batch",
            "-notext",
            "-config",
            config,
            "-extensions",
            "server",
            "-in",
            request,
            "-subj",
            "/CN=" + dns[0],
            "-cert",
            ca_cert,
            "-keyfile",
            ca_key,
            "-startdate",
            (now + start * day).strftime("%Y%m%d%H%M%SZ"),
            "-enddate",
            (now + end * day).strftime("%Y%m%d%H%M%SZ"),
            "-out",
            os.path.join(work, address + ".pem"),
        )
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(work, address + ".pem"), key)
        yield address, context


def serve(args):
    hosts = [
        (name, address or args.address)
        for name, _, address in (h.partition("=") for h in args.host or [])
    ]
    with open(os.path.join(network_dir(), "hosts"), "a") as f:  # the run's private hosts file
        f.writelines("%s %s\n" % (address, name) for name, address in hosts)
    contexts = list(issue_certificates(args, hosts))
    listeners = [Listener(a, HTTPS_PORT, "https", context) for a, context in contexts]
    if args.second_https_port:
        port, context = int(args.second_https_port), dict(contexts)[args.address]
        listeners.append(Listener(args.address, port, "https", context))
    listeners += [
        Listener(args.address, port, role)
        for port, role in (
            (HTTP_PORT, "http"),
            (PROXY_PORT, "proxy"),
            (CONTROL_PORT, "control"),
        )
    ]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))  # every thread but this one is a daemon
    # Before any listener serves: the rig answers its first ping only once the proxy does too.
    if args.tinyproxy_address:
        RIG.tinyproxy = Tinyproxy(args.tinyproxy_address)
    try:
        for listener in listeners:
            threading.Thread(target=listener.serve_forever, daemon=True).start()
        log("serving %s (pid %d)" % (args.address, os.getpid()))
        net, owner = network_dir(), int(os.environ.get("MVU_TEST_NETWORK_PID", "0") or 0)
        # A rig outlives nothing: it ends with the run that made its network, even a killed one.
        while os.path.isdir(net) and (not owner or os.path.exists("/proc/%d" % owner)):
            time.sleep(1.0)
        log("test network gone, ending")
    finally:
        if RIG.tinyproxy is not None:
            RIG.tinyproxy.stop()
    return 0


def rig_pid(pidfile):
    try:
        with open(pidfile) as f:
            pid = int(f.read().strip() or 0)
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return pid if b"mvrig" in f.read() else 0
    except (OSError, ValueError):
        return 0


def end_rig(pidfile):
    pid = rig_pid(pidfile)
    if pid:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 5
        while rig_pid(pidfile) and time.monotonic() < deadline:
            time.sleep(0.1)
        if rig_pid(pidfile):
            os.kill(pid, signal.SIGKILL)
    return pid


def start(args, argv):
    net = network_dir()
    end_rig(args.pidfile)
    os.makedirs(os.path.dirname(os.path.abspath(args.log)), exist_ok=True)
    with open(args.log, "ab") as log_file:
        child = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "serve"] + argv[1:],
            stdin=subprocess.DEVNULL,
            stdout=log_file,
            stderr=log_file,
            start_new_session=True,
        )
    for pidfile in (args.pidfile, os.path.join(net, "pids", "%d.pid" % child.pid)):
        os.makedirs(os.path.dirname(os.path.abspath(pidfile)), exist_ok=True)
        with open(pidfile, "w") as f:
            f.write("%d\n" % child.pid)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and child.poll() is None:
        try:
            with urllib.request.urlopen(
                "http://%s:%d/ping" % (args.address, CONTROL_PORT), timeout=2
            ) as answer:
                if answer.read().startswith(b"ok"):
                    print("mvrig: %s ready (pid %d)" % (args.address, child.pid))
                    return 0
        except OSError:
            time.sleep(0.1)
    end_rig(args.pidfile)
    with open(args.log, "rb") as f:
        sys.stderr.write(
            "mvrig: %s did not start; its log %s says:\n%s"
            % (args.address, args.log, f.read()[-4000:].decode("utf-8", "replace"))
        )
    return 1


def stop(args):
    pid, net = end_rig(args.pidfile), os.environ.get("MVU_TEST_NETWORK_DIR")
    for path in [args.pidfile] + (
        [os.path.join(net, "pids", "%d.pid" % pid)] if pid and net else []
    ):
        if os.path.exists(path):
            os.remove(path)
    print("mvrig: stopped %s" % (pid or "nothing"))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(
        description="The update server's stand-in: scriptable HTTP, HTTPS and proxy on loopback."
    )
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("stop").add_argument("--pidfile", required=True)
    for name in ("serve", "start"):
        p = sub.add_parser(name)
        p.add_argument("--address", required=True)
        p.add_argument(
            "--host", action="append", help="NAME or NAME=ADDRESS for the private hosts file"
        )
        for option in (
            "--wrong-name-address",
            "--expired-address",
            "--untrusted-address",
            "--second-https-port",
            "--tinyproxy-address",
            "--pidfile",
            "--log",
        ):
            # serve takes --pidfile and --log too: start runs it with its own arguments.
            p.add_argument(option, required=name == "start" and option in ("--pidfile", "--log"))
    args = parser.parse_args(argv)
    try:
        return (
            start(args, argv)
            if args.command == "start"
            else (serve if args.command == "serve" else stop)(args)
        )
    except ValueError as e:
        sys.stderr.write("mvrig: %s\n" % e)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
