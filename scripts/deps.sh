#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing, so that a machine that
# already has them (or has no network) is left alone.
#   scripts/deps.sh          what the build, the tests and the demo need
#   scripts/deps.sh --fuzz   also clang with libFuzzer, for scripts/fuzz.sh
set -euo pipefail

PACKAGES=(build-essential cmake g++ pkg-config libpoco-dev libcurl4-openssl-dev
          libgtest-dev libgmock-dev libbenchmark-dev curl)
if [ "${1:-}" = "--fuzz" ]; then
  # clang's sanitizer runtimes come with libclang-rt, which clang only recommends.
  PACKAGES+=(clang libclang-rt-14-dev libfuzzer-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
