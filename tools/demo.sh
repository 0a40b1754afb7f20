#!/usr/bin/env bash
# The demo: builds what is needed, then runs mvupdate.exe against a local update server with a
# small sample release, staged: once offered to 50 % of the machines, once to all of them, and
# prints what happened.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MVU_IN_XVFB:-}" ]; then
  tools/install-deps.sh
  tools/build.sh
  exec env MVU_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# The product is the 32-bit build: it runs wherever the machine executes 32-bit code under
# Wine, in a WoW64 prefix as on 64-bit Windows; the x86_64 build runs otherwise.
if [ "$(tools/test-arch)" = x86 ]; then
  arch=i686
  build=build/x86
  program=build/release/app/mvupdate.exe
  echo "demo: running the i686 release program (what ships) under 32-bit Wine"
else
  arch=x86_64
  build=build/x64
  program=build/release-x64/app/mvupdate.exe
  export MVU_WINE_BITS=64
  echo "demo: running the x86_64 release program: this machine cannot execute 32-bit code (the i686 one is built, not run)"
fi
tools/with-test-network --prefix "$PWD/$build/demo/prefix" python3 tools/demo.py "$build" "$arch" "$program"
