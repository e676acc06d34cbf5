#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage from a clean copy of the
# tree (the files git knows, as they are in the working tree).
#   scripts/build-package.sh OUT_DIR [ARCH]
# The packages land in OUT_DIR. With ARCH (arm64) the package is cross-built
# with Debian's multiarch: the architecture is added to dpkg, and the cross
# compiler and ARCH's build dependencies (and qemu-user, which runs the core
# tests) are installed first. DEB_BUILD_OPTIONS=nocheck skips the tests.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
arch="${2:-}"
version="$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)"
tree="$out/quellmark-${version%-*}"

rm -rf "$tree"
mkdir -p "$tree"
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf -) | tar -xf - -C "$tree"
else
  tar -C "$src" --exclude=./build --exclude='./build-*' -cf - . | tar -xf - -C "$tree"
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
apt_install() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get "$@" -y -qq --no-install-recommends; }
flags=(-us -uc -b "-j${JOBS:-$(nproc)}")
if [ -n "$arch" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
  fi
  $SUDO apt-get update -qq
  profiles=cross
  [[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] && profiles+=,nocheck
  apt_install install "crossbuild-essential-$arch"
  (cd "$tree" && apt_install build-dep --host-architecture "$arch" --build-profiles "$profiles" ./)
  flags+=(--host-arch "$arch" --build-profiles="$profiles")
fi

start=$SECONDS
(cd "$tree" && dpkg-buildpackage "${flags[@]}")
rm -rf "$tree"
echo "build-package: built in $((SECONDS - start)) s:"
ls "$out"/*.deb
