#!/usr/bin/env python3
"""Protocol checks of the loopback test server (mvrig.py) from the host side: framing of HTTP/1.0
and 1.1 answers, request bodies, the control commands and the proxy's tunnel. Runs against the rig
that ctest started for it (MVU_RIG_* variables) inside tools/with-test-network."""

import os
import socket
import ssl
import unittest
import urllib.error
import urllib.request

ADDRESS = os.environ.get("MVU_RIG_ADDRESS", "")
HOST = os.environ.get("MVU_RIG_HOST", "") or ADDRESS
CONTROL = int(os.environ.get("MVU_RIG_CONTROL_PORT", "8079"))
PROXY = int(os.environ.get("MVU_RIG_PROXY_PORT", "8080"))
PERIOD = 251


def control(path, body=None):
    """A control command; (status, text)."""
    data = body.encode("utf-8") if isinstance(body, str) else body
    request = urllib.request.Request("http://%s:%d%s" % (ADDRESS, CONTROL, path), data=data,
                                     method="POST" if data is not None else "GET")
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, answer.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        return e.code, e.read().decode("utf-8")


def script(text, body=b""):
    status, answer = control("/answer", text.encode("utf-8") + b"\n\n" + body)
    assert status == 200, answer
    return int(answer.split(":")[1])


def records():
    """The recorded requests as lists of (key, value) pairs."""
    out = []
    for block in control("/requests")[1].split("\n\n"):
        pairs = [tuple(line.split(": ", 1)) for line in block.splitlines() if line]
        if pairs:
            out.append(pairs)
    return out


def field(record, key):
    values = [v for k, v in record if k == key]
    return values[0] if values else None


def exchange(raw, port=80, secure=False, read_all=True):
    """Sends raw bytes, answers everything read until the server closes (or one read)."""
    sock = socket.create_connection((ADDRESS, port), timeout=30)
    if secure:
        context = ssl.create_default_context(cafile=os.environ["MVU_TEST_CA_CERT"])
        sock = context.wrap_socket(sock, server_hostname=HOST)
    with sock:
        sock.sendall(raw)
        chunks = []
        while True:
            data = sock.recv(1 << 16)
            if not data:
                break
            chunks.append(data)
            if not read_all:
                break
        return b"".join(chunks)


def split_answer(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


class RigCase(unittest.TestCase):
    def setUp(self):
        self.assertTrue(ADDRESS, "MVU_RIG_ADDRESS unset: run through ctest with the rig fixture")
        self.assertEqual(200, control("/reset", "")[0])


class Framing(RigCase):
    def test_http10_answer_closes_and_carries_its_length(self):
        script("path: /a\nstatus: 201", b"abc")
        status_line, headers, body = split_answer(exchange(b"GET /a HTTP/1.0\r\nHost: x\r\n\r\n"))
        self.assertEqual("HTTP/1.0 201 Created", status_line)
        self.assertEqual("3", headers["content-length"])
        self.assertEqual("close", headers["connection"])
        self.assertEqual(b"abc", body)

    def test_http11_keeps_the_connection_for_the_next_request(self):
        script("path: /k", b"kept")
        raw = b"GET /k HTTP/1.1\r\nHost: x\r\n\r\nGET /k HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
        data = exchange(raw)
        self.assertEqual(2, data.count(b"HTTP/1.1 200 OK"))
        self.assertEqual(2, data.count(b"kept"))
        peers = {field(r, "peer") for r in records()}
        self.assertEqual(1, len(peers))

    def test_http10_keep_alive_is_honoured(self):
        script("path: /k10", b"x")
        data = exchange(b"GET /k10 HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", read_all=False)
        self.assertIn(b"Connection: keep-alive", data)

    def test_scripted_length_and_headers_replace_the_rigs_own(self):
        script("path: /h\nheader: Content-Length: 10\nheader: X-Extra: yes", b"short")
        _, headers, body = split_answer(exchange(b"GET /h HTTP/1.0\r\n\r\n"))
        self.assertEqual("10", headers["content-length"])
        self.assertEqual("yes", headers["x-extra"])
        self.assertEqual(b"short", body)

    def test_head_gets_no_body(self):
        script("path: /head", b"body")
        _, headers, body = split_answer(exchange(b"HEAD /head HTTP/1.0\r\n\r\n"))
        self.assertEqual("4", headers["content-length"])
        self.assertEqual(b"", body)

    def test_no_length_body_ends_with_the_connection(self):
        script("path: /nl\nno-length: 1", b"to the end")
        _, headers, body = split_answer(exchange(b"GET /nl HTTP/1.1\r\n\r\n"))
        self.assertNotIn("content-length", headers)
        self.assertEqual(b"to the end", body)

    def test_generated_body_follows_the_pattern_across_blocks(self):
        size = 3 * 1028096 + 7
        script("path: /gen\nbody-size: %d" % size)
        _, headers, body = split_answer(exchange(b"GET /gen HTTP/1.0\r\n\r\n", secure=True, port=443))
        self.assertEqual(str(size), headers["content-length"])
        self.assertEqual(size, len(body))
        expected = bytes(range(PERIOD)) * (size // PERIOD + 1)
        self.assertEqual(expected[:size], body)

    def test_file_body_is_cut_after_the_bytes_asked(self):
        path = os.path.join(os.environ["MVU_TEST_NETWORK_DIR"], "body.bin")
        with open(path, "wb") as f:
            f.write(b"0123456789" * 100)
        script("path: /file\nbody-file: %s\ncut-after: 25" % path)
        _, headers, body = split_answer(exchange(b"GET /file HTTP/1.1\r\n\r\n"))
        self.assertEqual("1000", headers["content-length"])
        self.assertEqual(b"0123456789" * 2 + b"01234", body)

    def test_silent_answer_closes_without_a_byte(self):
        script("path: /quiet\nsilent: 1")
        self.assertEqual(b"", exchange(b"GET /quiet HTTP/1.1\r\n\r\n"))
        self.assertEqual("0", field(records()[0], "status"))


class RequestBodies(RigCase):
    def test_length_delimited_body_is_recorded(self):
        script("path: /up\nmethod: POST", b"ok")
        exchange(b"POST /up HTTP/1.0\r\nContent-Length: 5\r\n\r\nhe\x00lo")
        record = records()[0]
        self.assertEqual("5", field(record, "body-length"))
        self.assertEqual(b"he\x00lo".hex(), field(record, "body"))

    def test_chunked_body_is_recorded_whole(self):
        script("path: /chunks\nmethod: POST", b"ok")
        exchange(b"POST /chunks HTTP/1.1\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                 b"3\r\nabc\r\n2;x=y\r\nde\r\n0\r\n\r\n")
        record = records()[0]
        self.assertEqual("5", field(record, "body-length"))
        self.assertEqual(b"abcde".hex(), field(record, "body"))

    def test_large_body_is_counted_but_recorded_only_in_part(self):
        script("path: /large\nmethod: POST", b"ok")
        size = (1 << 20) + 4096
        exchange(b"POST /large HTTP/1.0\r\nContent-Length: %d\r\n\r\n" % size + b"z" * size)
        record = records()[0]
        self.assertEqual(str(size), field(record, "body-length"))
        self.assertEqual(1 << 20, len(bytes.fromhex(field(record, "body"))))


class Matching(RigCase):
    def test_newest_answer_wins_and_times_runs_out(self):
        script("path: /m", b"old")
        script("path: /m\ntimes: 1", b"new")
        first = split_answer(exchange(b"GET /m HTTP/1.0\r\n\r\n"))[2]
        second = split_answer(exchange(b"GET /m HTTP/1.0\r\n\r\n"))[2]
        self.assertEqual((b"new", b"old"), (first, second))

    def test_prefix_and_listener_narrow_the_match(self):
        script("prefix: /dir/\nlistener: https", b"tls only")
        plain = split_answer(exchange(b"GET /dir/x?y HTTP/1.0\r\n\r\n"))[0]
        secure = split_answer(exchange(b"GET /dir/x?y HTTP/1.0\r\n\r\n", port=443, secure=True))[2]
        self.assertIn("404", plain)
        self.assertEqual(b"tls only", secure)

    def test_basic_challenge_names_its_realm(self):
        script("path: /auth\nauth: u:p\nrealm: inner", b"in")
        status_line, headers, _ = split_answer(exchange(b"GET /auth HTTP/1.0\r\n\r\n"))
        self.assertIn("401", status_line)
        self.assertEqual('Basic realm="inner"', headers["www-authenticate"])
        granted = exchange(b"GET /auth HTTP/1.0\r\nAuthorization: Basic dTpw\r\n\r\n")
        self.assertEqual(b"in", split_answer(granted)[2])


class Control(RigCase):
    def test_unknown_command_and_bad_lines_are_refused(self):
        self.assertEqual(400, control("/nothing", "")[0])
        self.assertEqual(400, control("/answer", "no colon here\n")[0])
        self.assertEqual(400, control("/answer", "status: abc\n")[0])
        self.assertEqual(400, control("/answer", "body-file: /no/such/file\n")[0])
        self.assertEqual(400, control("/answer", "path: /x\nholds: 1\n")[0])

    def test_wait_answers_the_count_when_time_runs_out(self):
        status, text = control("/wait", "path: /never\ncount: 1\ntimeout-ms: 50\n")
        self.assertEqual((200, "count: 0\n"), (status, text))

    def test_release_by_path_frees_only_that_answer(self):
        script("path: /one\nhold: 1", b"1")
        script("path: /two\nhold: 1", b"2")
        self.assertEqual("released: 1\n", control("/release", "path: /one\n")[1])
        self.assertEqual(b"1", split_answer(exchange(b"GET /one HTTP/1.0\r\n\r\n"))[2])
        self.assertEqual("released: 2\n", control("/release", "")[1])

    def test_failed_handshake_is_recorded(self):
        with socket.create_connection((ADDRESS, 443), timeout=30) as sock:
            sock.sendall(b"GET / HTTP/1.0\r\n\r\n")
            try:
                sock.recv(100)
            except ConnectionResetError:
                pass
        self.assertEqual(1, int(control("/wait", "count: 1\n")[1].split(":")[1]))
        record = records()[0]
        self.assertEqual("", field(record, "method"))
        self.assertIn("TLS handshake", field(record, "error"))


class Proxy(RigCase):
    def proxy_exchange(self, raw):
        with socket.create_connection((ADDRESS, PROXY), timeout=30) as sock:
            sock.sendall(raw)
            return sock.recv(1 << 16)

    def test_absolute_uri_is_answered_for_the_origin(self):
        script("path: /o?q=1\nlistener: proxy", b"from proxy")
        data = exchange(b"GET http://elsewhere.invalid/o?q=1 HTTP/1.0\r\n\r\n", port=PROXY)
        self.assertEqual(b"from proxy", split_answer(data)[2])
        record = records()[0]
        self.assertEqual("proxy", field(record, "listener"))
        self.assertEqual("/o?q=1", field(record, "path"))

    def test_demand_covers_connect_and_ends_with_an_empty_body(self):
        control("/proxy-auth", "user: a\npassword: b\n")
        status_line, headers, _ = split_answer(self.proxy_exchange(b"CONNECT %s:443 HTTP/1.1\r\n\r\n" % HOST.encode()))
        self.assertIn("407", status_line)
        self.assertEqual('Basic realm="mvrig"', headers["proxy-authenticate"])
        control("/proxy-auth", "")
        script("path: /p", b"open")
        data = exchange(b"GET http://x/p HTTP/1.0\r\n\r\n", port=PROXY)
        self.assertEqual(b"open", split_answer(data)[2])

    def test_tunnel_reaches_the_tls_listener(self):
        script("path: /t", b"tunnelled")
        sock = socket.create_connection((ADDRESS, PROXY), timeout=30)
        sock.sendall(b"CONNECT %s:443 HTTP/1.0\r\n\r\n" % HOST.encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += sock.recv(1)
        self.assertTrue(head.startswith(b"HTTP/1.0 200"))
        context = ssl.create_default_context(cafile=os.environ["MVU_TEST_CA_CERT"])
        with context.wrap_socket(sock, server_hostname=HOST) as tls:
            tls.sendall(b"GET /t HTTP/1.0\r\n\r\n")
            data = b""
            while True:
                piece = tls.recv(1 << 16)
                if not piece:
                    break
                data += piece
        self.assertEqual(b"tunnelled", split_answer(data)[2])
        listeners = [field(r, "listener") for r in records()]
        self.assertEqual(["proxy", "connect"], listeners)

    def test_tunnel_off_the_machine_is_refused(self):
        status_line = split_answer(self.proxy_exchange(b"CONNECT 192.0.2.1:443 HTTP/1.0\r\n\r\n"))[0]
        self.assertIn("502", status_line)


if __name__ == "__main__":
    unittest.main(verbosity=2)
