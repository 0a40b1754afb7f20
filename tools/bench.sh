#!/usr/bin/env bash
# The performance figures in one table: bodies of 100 KB, 10 MB and 100 MB fetched over HTTPS
# from a loopback test server through the URL module and with curl, the module's growth from
# 10 MB to 100 MB, one full update run (wall time, its overhead beyond the fixed waits, CPU of the
# program) and the sizes of both builds of mvupdate.exe. Installs what is missing, builds
# build/bench-x64 and build/bench-x86, then runs bench/bench.py in a private test network. It
# passes or fails no speed figure; it fails when the update run fails its checks. The update run
# installs the release program of the build the tests run (tools/test-arch: the shipped i686 one
# wherever this machine executes 32-bit code), with that build's stand-ins, in the registry view
# that program reads. Arguments go to bench.py (--quick: fewer repetitions; --no-update-run).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MVU_IN_XVFB:-}" ]; then
  tools/install-deps.sh
  for preset in x64 x86; do
    if [ ! -f "build/bench-$preset/build.ninja" ]; then
      cmake --preset "$preset" -B "build/bench-$preset" -DBUILD_TESTING=ON >/dev/null
    fi
  done
  # Only what the figures need: the bench program, and the program with its stand-ins.
  standins=(mvagtx ksagtctl mvcfg ovktrace kstrac32 ieksdlk ksdlkext)
  cmake --build build/bench-x64 --target mvurlbench mvupdate "${standins[@]}"
  cmake --build build/bench-x86 --target mvupdate "${standins[@]}"
  # What ships, and the same configuration for x86_64 (the update run installs it).
  for preset in release release-x64; do
    [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target mvupdate
  done
  # Windows and timers need an X display: give the run a virtual one.
  exec env MVU_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

arch="$(tools/test-arch)"
# Where the x86_64 build runs, every program starts through the 64-bit loader, regedit too: the
# settings land in the 64-bit view, the one that program reads (as in tools/test.sh).
if [ "$arch" = x64 ]; then
  export MVU_WINE_BITS=64
fi
prefix="$PWD/build/bench-x64/bench/prefix"
status=0
tools/with-test-network --prefix "$prefix" \
  python3 bench/bench.py --build-dir build/bench-x64 --x86-dir build/bench-x86 \
  --update-arch "$arch" "$@" || status=$?
# The prefix's wineserver and desktop hold the virtual display: end them before it goes.
WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit "$status"
