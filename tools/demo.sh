#!/usr/bin/env bash
# The demo: builds what is needed, then runs mvupdate.exe once against a local update server
# with a small sample release and prints what happened.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MVU_IN_XVFB:-}" ]; then
  tools/install-deps.sh
  tools/build.sh
  exec env MVU_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# The product is the 32-bit build: it runs where the machine can execute 32-bit Windows code
# (32-bit Wine installed, and the kernel able to run it); the x86_64 build runs otherwise.
arch=x86_64
build=build/x64
if [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wineserver32 ] && \
   MVU_WINE_BITS=32 timeout 120 tools/wine-run --prefix "$PWD/build/x86/demo/probe" \
     build/x86/standins/scrambler/mvscramble.exe probe >/dev/null 2>&1; then
  arch=i686
  build=build/x86
  export MVU_WINE_BITS=32
  echo "demo: running the i686 build (the product itself): this machine executes 32-bit code"
else
  echo "demo: running the x86_64 build: this machine cannot execute 32-bit code (the i686 build is built, not run)"
fi
tools/with-test-network --prefix "$PWD/$build/demo/prefix" python3 tools/demo.py "$build" "$arch"
