#!/usr/bin/env bash
# Configures (once) and builds the x86_64 build with its tests and the i686 product build.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in x64 x86; do
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset"
done
