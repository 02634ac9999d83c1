#!/usr/bin/env bash
# Builds the Debian package fuelgate_VERSION_ARCH.deb in a clean build directory (default
# build-package/, never build/) and prints its path on the last line.
#   scripts/package.sh                 the package in build-package/
#   BUILD_DIR=DIR scripts/package.sh   another build directory (emptied first)
# Installs what building it needs when missing (scripts/deps.sh --package), nothing of the check. Programs are built with Debian's
# hardening flags (dpkg-buildflags) and stripped; ccache is used when it is there.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

./scripts/deps.sh --package

BUILD_DIR=${BUILD_DIR:-build-package}
case "$BUILD_DIR" in
  /*) ;;
  *) BUILD_DIR="$ROOT/$BUILD_DIR" ;;
esac
if [ "$BUILD_DIR" = "$ROOT/build" ] || [ "$BUILD_DIR" = "$ROOT" ]; then
  echo "package.sh: $BUILD_DIR is not a directory to empty" >&2
  exit 1
fi
rm -rf "$BUILD_DIR"
mkdir -p "$BUILD_DIR"

# Stack protector, fortified libc calls, format checks, full RELRO and immediate binding.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DBUILD_SIMULATOR=OFF -DBUILD_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)

shopt -s nullglob
debs=("$BUILD_DIR"/fuelgate_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "package.sh: expected one fuelgate_*.deb in $BUILD_DIR, found ${#debs[@]}" >&2
  exit 1
fi
echo "${debs[0]}"
