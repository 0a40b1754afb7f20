#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: does nothing (and touches no network) when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build python3 openssl ca-certificates
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 wine32:i386 xvfb xauth googletest util-linux
  iproute2
  # the end-to-end rows of signed answers serve a published release with a real web server
  nginx-light
  # the proxy rows send TLS requests through a real CONNECT proxy
  tinyproxy-bin
  # the formatters (tools/format --check is part of the test command)
  clang-format black
  # the native sanitizer and fuzzing build (tools/fuzz.sh)
  clang libclang-rt-dev llvm
  # the performance figures (tools/bench.sh)
  curl
  # the package's Authenticode signature (tools/package.sh) and its test
  osslsigncode
  # the rebuild of the release program under another clock (tools/rebuild-check.sh)
  faketime
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The shipped program is 32-bit: its Wine loader comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
