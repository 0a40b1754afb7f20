#!/usr/bin/env bash
# Packages the release twice in the given work folder: unsigned without a second build, then
# signed with a CA, a code-signing certificate and a time-stamp server made for this run only,
# the rebuild at another path, clock and time zone compared. First the rebuild check is shown to
# fail on a program with one byte changed. Checks that each zip's SHA256SUMS holds for every file
# in it, that the signed program verifies against that CA (signature and time stamp) and is the
# build's program with that signature attached, that the unsigned one is the build's own bytes,
# and that signing left the build's files as they were.
set -euo pipefail
work="$(realpath -m "$1")"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
rm -rf "$work"
mkdir -p "$work/pki"
cd "$work/pki"

fail() {
  echo "package_signed: $*" >&2
  exit 1
}

# The throwaway PKI: a CA, and from it a code-signing certificate and a time-stamping one.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=mvupdate throwaway CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
issue() { # name, extended key usage
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" \
    -subj "/CN=mvupdate throwaway $1" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$2" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}
issue signer codeSigning
issue tsa critical,timeStamping

cat >tsa.cnf <<CNF
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = $work/pki/tsa.serial
crypto_device = builtin
signer_cert = $work/pki/tsa.pem
certs = $work/pki/ca.pem
signer_key = $work/pki/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
CNF
echo 01 >tsa.serial

# The time-stamp server: answers each query with openssl ts -reply. It prints its port once it
# listens, and ends with this script.
coproc TSA {
  exec python3 -u - "$work/pki/tsa.cnf" <<'PY'
import http.server, subprocess, sys, tempfile
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile() as q:
            q.write(query)
            q.flush()
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile",
                                    q.name, "-out", "/dev/stdout"], capture_output=True, check=True)
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_port)
server.serve_forever()
PY
}
trap 'kill "$TSA_PID" 2>/dev/null || true' EXIT
read -r port <&"${TSA[0]}"

program="$source_dir/build/release/app/mvupdate.exe"
unzipped() { # zip, folder: the zip unpacked there, its SHA256SUMS checked
  mkdir -p "$2"
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"
  (cd "$2" && sha256sum --quiet -c SHA256SUMS) || fail "$1: SHA256SUMS does not hold"
  listed="$(cut -c67- "$2/SHA256SUMS" | sort)"
  present="$(cd "$2" && ls | grep -vx SHA256SUMS | sort)"
  [ "$listed" = "$present" ] || fail "$1: SHA256SUMS lists [$listed], the zip holds [$present]"
}
zip_comment() {
  python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).comment.decode())' "$1"
}

# The rebuild check is no formality: against the build's files with one byte of the program's
# changed, it fails and shows that byte. The offset lies in the middle of the file, inside a
# section, so no header field that a careless check might skip hides it.
mkdir -p "$work/tampered"
cp "$program" "$program.debug" "$work/tampered/"
size="$(stat -c %s "$program")"
offset=$((size / 2))
python3 - "$work/tampered/mvupdate.exe" "$offset" <<'PY'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)[0]
    f.seek(offset)
    f.write(bytes([byte ^ 0x01]))
PY
if "$source_dir/tools/rebuild-check.sh" --against "$work/tampered" >"$work/tampered.log" 2>&1; then
  cat "$work/tampered.log"
  fail "the rebuild check passed a program with a changed byte"
fi
# cmp -l counts from 1.
grep -Eq "^ *$((offset + 1)) " "$work/tampered.log" ||
  { cat "$work/tampered.log"; fail "the rebuild check did not show the changed byte"; }
grep -q "rebuilt mvupdate.exe.debug is the same" "$work/tampered.log" ||
  { cat "$work/tampered.log"; fail "the rebuild check found more than the changed byte"; }
echo "package_signed: the rebuild check fails on one changed byte, at offset $offset"

env -u MVU_SIGN_CERT -u MVU_SIGN_KEY -u MVU_SIGN_TIMESTAMP \
  "$source_dir/tools/package.sh" --out "$work/unsigned" --no-rebuild-check
zip=("$work"/unsigned/mvupdate-*-win32.zip)
unzipped "${zip[0]}" "$work/unsigned/files"
cmp "$program" "$work/unsigned/files/mvupdate.exe" || fail "the unsigned package's program is not the build's"
zip_comment "${zip[0]}" | grep -q unsigned || fail "the unsigned package does not say so"

built_before="$(sha256sum "$program" "$program.debug")"
MVU_SIGN_CERT="$work/pki/signer.pem" MVU_SIGN_KEY="$work/pki/signer.key" \
  MVU_SIGN_TIMESTAMP="http://127.0.0.1:$port/" \
  "$source_dir/tools/package.sh" --out "$work/signed"
zip=("$work"/signed/mvupdate-*-win32.zip)
unzipped "${zip[0]}" "$work/signed/files"
[ "$(sha256sum "$program" "$program.debug")" = "$built_before" ] || fail "signing changed the build"
osslsigncode verify -CAfile "$work/pki/ca.pem" -TSA-CAfile "$work/pki/ca.pem" \
  -in "$work/signed/files/mvupdate.exe" >"$work/signed/verify.txt" 2>&1 ||
  { cat "$work/signed/verify.txt"; fail "the signed program does not verify"; }
grep -q "Timestamp Server Signature verification: ok" "$work/signed/verify.txt" ||
  { cat "$work/signed/verify.txt"; fail "the signed program carries no valid time stamp"; }
zip_comment "${zip[0]}" | grep -q "signed by .*mvupdate throwaway signer" ||
  fail "the signed package does not name its signer"
# What an auditor does: the package's signature, attached to the rebuilt program, gives the
# package's program byte for byte.
osslsigncode extract-signature -in "$work/signed/files/mvupdate.exe" -out "$work/signed/sig.der" \
  >/dev/null
osslsigncode attach-signature -sigin "$work/signed/sig.der" -in "$program" \
  -out "$work/signed/reattached.exe" -CAfile "$work/pki/ca.pem" -TSA-CAfile "$work/pki/ca.pem" \
  >/dev/null
cmp "$work/signed/reattached.exe" "$work/signed/files/mvupdate.exe" ||
  fail "the signed program is not the build's with a signature added"
echo "package_signed: both packages hold, the signed program verifies:"
grep -i "signature verification\|Signing time\|Hash of file" "$work/signed/verify.txt"
