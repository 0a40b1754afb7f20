#!/usr/bin/env bash
# The test command: installs what is missing, builds both targets, runs every test against
# the i686 build (the shipped program) in a WoW64 Wine prefix, or against the x86_64 build
# where this machine cannot execute 32-bit code (tools/test-arch says which).
# Extra arguments go to ctest (for example -R util to run some of the tests).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MVU_IN_XVFB:-}" ]; then
  tools/install-deps.sh
  tools/format --check
  tools/build.sh
  # Windows, timers and message loops need an X display: give the test run a virtual one.
  exec env MVU_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

arch="$(tools/test-arch)"
if [ "$arch" = x86 ]; then
  echo "test: testing the i686 build (the shipped program) under 32-bit Wine in a WoW64 prefix"
else
  echo "test: this machine cannot execute 32-bit code: testing the x86_64 build instead of the i686 one"
  export MVU_WINE_BITS=64
fi
status=0
tools/with-test-network --prefix "$PWD/build/$arch/wineprefix" ctest --preset "$arch" -j2 "$@" || status=$?
# The prefix's wineserver and desktop hold the virtual display: end them before it goes.
WINEPREFIX="$PWD/build/$arch/wineprefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit "$status"
