#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing, so that a machine that
# already has them (or has no network) is left alone.
#   scripts/deps.sh                 what the build, the tests and the demo need
#   scripts/deps.sh --package       what building the Debian package needs (scripts/package.sh)
#   scripts/deps.sh --package-check that, and what checking the package needs (package-check.sh)
#   scripts/deps.sh --fuzz          what the tests need, and clang with libFuzzer, for scripts/fuzz.sh
#   scripts/deps.sh --browser       what the tests need, and a browser, for scripts/browser-test.sh
set -euo pipefail

# What building the programs needs. libsystemd-dev: sd_notify, with which both programs tell
# systemd that they are ready, stopping or reloading, and ping its watchdog (common/systemdNotify).
BUILD=(build-essential cmake g++ pkg-config libpoco-dev libcurl4-openssl-dev libsqlite3-dev libsystemd-dev)

# What the tests, the benchmarks and the demo need besides. nginx: the front's differential test
# (tests/web/nginxDifferential_test.cpp) runs an nginx of its own on a loopback port as a second
# reader of the same requests; the system's nginx is not used (on a machine that starts services
# on installation, Debian starts it on port 80).
# prometheus: its promtool checks the text of /metrics (promtool check metrics) and the sample
# alert rules in deploy/prometheus/ (promtool check rules); the server it also brings is not used.
TESTS=(libgtest-dev libgmock-dev libbenchmark-dev curl nginx prometheus)

# scripts/package.sh asks for these:
#   dpkg-dev  dpkg-shlibdeps (the package's Depends from the libraries the programs link) and
#             dpkg-buildflags (Debian's hardening flags)
#   file      CPack's shlibdeps step finds the programs' ELF files with it
PACKAGE=(dpkg-dev file)
# and scripts/package-check.sh for these besides:
#   lintian   the package check
#   logrotate the package check runs the installed logrotate file
#   debootstrap  the package check installs the package on a clean, minimal Debian made with it
#   systemd-container  systemd-nspawn: the package check boots systemd in a container to run the
#             installed units for real
PACKAGE_CHECK=(lintian logrotate debootstrap systemd-container)

# Only scripts/fuzz.sh asks for these; clang's sanitizer runtimes come with libclang-rt, which
# clang only recommends.
FUZZING=(clang libclang-rt-14-dev libfuzzer-14-dev)

# Only scripts/browser-test.sh asks for these: the operator page is checked in a real browser, the
# Debian chromium run headless (driven by playwright-core from npm, which never downloads a browser
# of its own). Node.js and npm only when no npm is there at all: a Node.js from elsewhere that brings
# its own npm is used as it is (Debian's npm would conflict with it).
BROWSER=(chromium)
command -v npm >/dev/null 2>&1 || BROWSER+=(nodejs npm)

case "${1:-}" in
  --package) PACKAGES=("${BUILD[@]}" "${PACKAGE[@]}") ;;
  --package-check) PACKAGES=("${BUILD[@]}" "${PACKAGE[@]}" "${PACKAGE_CHECK[@]}") ;;
  --fuzz) PACKAGES=("${BUILD[@]}" "${TESTS[@]}" "${FUZZING[@]}") ;;
  --browser) PACKAGES=("${BUILD[@]}" "${TESTS[@]}" "${BROWSER[@]}") ;;
  "") PACKAGES=("${BUILD[@]}" "${TESTS[@]}") ;;
  *) echo "deps.sh: unknown option $1" >&2; exit 2 ;;
esac

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
