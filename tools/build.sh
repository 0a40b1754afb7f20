#!/usr/bin/env bash
# Configures and builds both targets: the i686 build (the shipped program) and the x86_64
# build (a portability check). The build the tests run (tools/test-arch) is configured with
# its tests; the other one builds the program and the stand-ins only.
set -euo pipefail
cd "$(dirname "$0")/.."

tested="$(tools/test-arch)"
for preset in x86 x64; do
  testing=OFF
  [ "$preset" = "$tested" ] && testing=ON
  # Configure again only when the choice of the tested build changed.
  if [ ! -f "build/$preset/build.ninja" ] || \
     ! grep -qx "BUILD_TESTING:BOOL=$testing" "build/$preset/CMakeCache.txt"; then
    cmake --preset "$preset" -DBUILD_TESTING=$testing >/dev/null
  fi
  cmake --build --preset "$preset"
done

# The release program, which the end-to-end runs install: the shipped i686 one, and where the
# tests run the x86_64 build, the same configuration for x86_64 too.
releases=(release)
[ "$tested" = x64 ] && releases+=(release-x64)
for release in "${releases[@]}"; do
  if [ ! -f "build/$release/build.ninja" ]; then
    cmake --preset "$release" >/dev/null
  fi
  cmake --build --preset "$release" --target mvupdate
done
