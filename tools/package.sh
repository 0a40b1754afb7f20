#!/usr/bin/env bash
# The release package: builds the shipped i686 mvupdate.exe (release preset: size-optimised,
# stripped, debug information beside it), rebuilds it from a copy of the source at another path,
# time and time zone (tools/rebuild-check.sh) and fails unless both builds are the same bytes,
# and makes <out>/mvupdate-<version>-win32.zip (out: dist unless --out says) with the program,
# its debug file, the sample settings, the operator's README, the publishing kit (mvpublish:
# Python 3 and the openssl command, on the machine that publishes) and SHA256SUMS. The version
# is the one in app/Version.h.
#
# Signing: when MVU_SIGN_CERT and MVU_SIGN_KEY name PEM files (a certificate with the code-signing
# usage, possibly followed by its chain, and its unencrypted key), the packaged mvupdate.exe is an
# Authenticode-signed copy (SHA-256; time-stamped by the RFC 3161 server MVU_SIGN_TIMESTAMP names,
# if set). The build's own files are never changed: reproducibility is a property of the unsigned
# program. Without them the package is unsigned, and says so (here and in the zip's comment).
#
# Usage: tools/package.sh [--out DIR] [--no-rebuild-check]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir="$PWD"

out_dir=dist
rebuild_check=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out_dir="$2"; shift 2 ;;
    --no-rebuild-check) rebuild_check=0; shift ;;
    *) echo "usage: tools/package.sh [--out DIR] [--no-rebuild-check]" >&2; exit 2 ;;
  esac
done
if [ -n "${MVU_SIGN_CERT:-}${MVU_SIGN_KEY:-}" ]; then
  for file in "${MVU_SIGN_CERT:-}" "${MVU_SIGN_KEY:-}"; do
    [ -f "$file" ] || { echo "package: MVU_SIGN_CERT and MVU_SIGN_KEY must both name PEM files" >&2; exit 2; }
  done
elif [ -n "${MVU_SIGN_TIMESTAMP:-}" ]; then
  echo "package: MVU_SIGN_TIMESTAMP is left unused: without MVU_SIGN_CERT and MVU_SIGN_KEY nothing is signed" >&2
fi

tools/install-deps.sh
if [ ! -f build/release/build.ninja ]; then
  cmake --preset release >/dev/null
fi
cmake --build --preset release --target mvupdate
built=(build/release/app/mvupdate.exe build/release/app/mvupdate.exe.debug)

scratch="$(mktemp -d "${TMPDIR:-/tmp}/mvu-package.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

if [ "$rebuild_check" = 1 ]; then
  # The same source at another path, time and zone: the same bytes, or no package.
  tools/rebuild-check.sh || { echo "package: no package of a build that is not reproducible" >&2; exit 1; }
fi

version="$(sed -n 's/^#define MVU_VERSION_TEXT "\(.*\)"$/\1/p' app/Version.h)"
[ -n "$version" ] || { echo "package: no version in app/Version.h" >&2; exit 1; }

# The package's files, staged in the scratch folder: the program is a copy, signed there.
stage="$scratch/stage"
mkdir "$stage"
cp build/release/app/mvupdate.exe.debug "$stage/"
cp tools/sample-settings.reg "$stage/sample-settings.reg"
cp tools/package/README.txt "$stage/README.txt"
cp tools/mvpublish "$stage/mvpublish"
if [ -n "${MVU_SIGN_CERT:-}" ]; then
  sign=(osslsigncode sign -certs "$MVU_SIGN_CERT" -key "$MVU_SIGN_KEY" -h sha256
        -n "mvupdate $version")
  [ -n "${MVU_SIGN_TIMESTAMP:-}" ] && sign+=(-ts "$MVU_SIGN_TIMESTAMP")
  "${sign[@]}" -in build/release/app/mvupdate.exe -out "$stage/mvupdate.exe" >/dev/null
  signed="signed by $(openssl x509 -in "$MVU_SIGN_CERT" -noout -subject -nameopt oneline |
    sed 's/^subject= *//')"
  [ -n "${MVU_SIGN_TIMESTAMP:-}" ] && signed+=", time-stamped"
else
  cp build/release/app/mvupdate.exe "$stage/"
  signed="unsigned (MVU_SIGN_CERT and MVU_SIGN_KEY not set)"
fi
names=(mvupdate.exe mvupdate.exe.debug sample-settings.reg README.txt mvpublish)
(cd "$stage" && sha256sum "${names[@]}" >SHA256SUMS)

# Entries carry the time of the last commit (or SOURCE_DATE_EPOCH), not the time of packaging.
epoch="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}"
mkdir -p "$out_dir"
out="$out_dir/mvupdate-$version-win32.zip"
python3 - "$stage" "$out" "$epoch" "mvupdate $version, $signed" "${names[@]}" SHA256SUMS <<'PY'
import os, sys, time, zipfile
stage, out, epoch, comment, names = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5:]
stamp = time.gmtime(max(epoch, 315532800))[:6]
with zipfile.ZipFile(out + ".partial", "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = comment.encode()
    for name in names:
        entry = zipfile.ZipInfo(name, stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        # The kit keeps its executable mode.
        mode = 0o755 if os.access(os.path.join(stage, name), os.X_OK) else 0o644
        entry.external_attr = mode << 16
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(entry, f.read())
os.replace(out + ".partial", out)
PY
echo "package: $out ($(stat -c %s build/release/app/mvupdate.exe) bytes mvupdate.exe), $signed"
