#!/usr/bin/env bash
# The test command: installs what is missing, builds both targets, runs every test.
# Extra arguments go to ctest (for example -R util to run some of the tests).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MVU_IN_XVFB:-}" ]; then
  tools/install-deps.sh
  tools/build.sh
  # Windows, timers and message loops need an X display: give the test run a virtual one.
  exec env MVU_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

status=0
tools/with-test-network --prefix "$PWD/build/x64/wineprefix" ctest --preset x64 -j2 "$@" || status=$?
# The prefix's wineserver and desktop hold the virtual display: end them before it goes.
WINEPREFIX="$PWD/build/x64/wineprefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit "$status"
