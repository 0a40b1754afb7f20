#!/usr/bin/env bash
# The release package: builds the shipped i686 mvupdate.exe (release preset: size-optimised,
# stripped, debug information beside it) and makes dist/mvupdate-<version>-win32.zip with the
# program, its debug file, the sample settings and the operator's README. The version is the
# one in app/Version.h.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
if [ ! -f build/release/build.ninja ]; then
  cmake --preset release >/dev/null
fi
cmake --build --preset release --target mvupdate

version="$(sed -n 's/^#define MVU_VERSION_TEXT "\(.*\)"$/\1/p' app/Version.h)"
[ -n "$version" ] || { echo "package: no version in app/Version.h" >&2; exit 1; }
mkdir -p dist
out="dist/mvupdate-$version-win32.zip"
python3 - "$out" <<'PY'
import sys, zipfile
files = [("build/release/app/mvupdate.exe", "mvupdate.exe"),
         ("build/release/app/mvupdate.exe.debug", "mvupdate.exe.debug"),
         ("tools/sample-settings.reg", "sample-settings.reg"),
         ("tools/package/README.txt", "README.txt")]
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for source, name in files:
        z.write(source, name)
PY
echo "package: $out ($(stat -c %s build/release/app/mvupdate.exe) bytes mvupdate.exe)"
