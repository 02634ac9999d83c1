#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing, so that a machine that
# already has them (or has no network) is left alone.
#   scripts/deps.sh              what the build, the tests and the demo need
#   scripts/deps.sh --packaging  that, and what building and checking the Debian package needs
#   scripts/deps.sh --fuzz       that, and clang with libFuzzer, for scripts/fuzz.sh
set -euo pipefail

# nginx: the front's differential test (tests/web/nginxDifferential_test.cpp) runs its own nginx
# on a loopback port as a second reader of the same requests; the system's nginx is not used.
PACKAGES=(build-essential cmake g++ pkg-config libpoco-dev libcurl4-openssl-dev
          libgtest-dev libgmock-dev libbenchmark-dev curl libsqlite3-dev nginx)

# Only scripts/package.sh and scripts/package-check.sh ask for these:
#   dpkg-dev  dpkg-shlibdeps (the package's Depends from the libraries the programs link) and
#             dpkg-buildflags (Debian's hardening flags)
#   file      CPack's shlibdeps step finds the programs' ELF files with it
#   lintian   the package check
#   logrotate the package check runs the installed logrotate file
#   debootstrap  the package check installs the package on a clean, minimal Debian made with it
#   systemd-container  systemd-nspawn: the package check boots systemd in a container to run the
#             installed units for real
PACKAGING=(dpkg-dev file lintian logrotate debootstrap systemd-container)

# Only scripts/fuzz.sh asks for these; clang's sanitizer runtimes come with libclang-rt, which
# clang only recommends.
FUZZING=(clang libclang-rt-14-dev libfuzzer-14-dev)

if [ "${1:-}" = "--packaging" ]; then
  PACKAGES+=("${PACKAGING[@]}")
elif [ "${1:-}" = "--fuzz" ]; then
  PACKAGES+=("${FUZZING[@]}")
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
