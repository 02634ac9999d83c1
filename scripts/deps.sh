#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing, so that a machine that
# already has them (or has no network) is left alone.
set -euo pipefail

PACKAGES=(build-essential cmake g++ pkg-config libpoco-dev libcurl4-openssl-dev
          libgtest-dev libgmock-dev libbenchmark-dev curl libsqlite3-dev)

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
