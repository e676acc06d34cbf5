#!/usr/bin/env bash
# Builds the Debian package with dpkg-buildpackage from a clean copy of the
# tree (the files git knows, as they are in the working tree).
#   scripts/build-package.sh OUT_DIR [ARCH]
# The packages land in OUT_DIR. With ARCH (arm64) the package is cross-built
# with Debian's multiarch: the architecture is added to dpkg, and the cross
# compiler, qemu-user (it runs the core tests) and ARCH's libraries are
# installed. Missing build dependencies are installed with apt-get (through
# sudo when not root); nothing is asked of apt when all are there.
# DEB_BUILD_OPTIONS=nocheck skips the tests.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"
arch="${2:-}"
version="$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$src/debian/changelog")"
tree="$out/quellmark-${version%-*}"

rm -rf "$tree"
mkdir -p "$tree"
if command -v git >/dev/null && git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
    tar --null --files-from=- --ignore-failed-read -cf -) | tar -xf - -C "$tree"
else
  tar -C "$src" --exclude=./build --exclude='./build-*' -cf - . | tar -xf - -C "$tree"
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
updated=""
apt() {
  [ -n "$updated" ] || { $SUDO apt-get update -qq; updated=1; }
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends "$@"
}
command -v dpkg-checkbuilddeps >/dev/null || apt install dpkg-dev
flags=(-us -uc -b "-j${JOBS:-$(nproc)}")
check=()
if [ -n "$arch" ]; then
  profiles=cross
  [[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] && profiles+=,nocheck
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $SUDO dpkg --add-architecture "$arch"
    updated=""
  fi
  command -v "$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-g++" >/dev/null ||
    apt install "crossbuild-essential-$arch"
  check=(-a "$arch" -P "$profiles")
  flags+=(--host-arch "$arch" --build-profiles="$profiles")
fi
if ! (cd "$tree" && dpkg-checkbuilddeps "${check[@]}" 2>/dev/null); then
  build_dep=(build-dep)
  [ -n "$arch" ] && build_dep+=(--host-architecture "$arch" --build-profiles "$profiles")
  (cd "$tree" && apt "${build_dep[@]}" ./)
fi

start=$SECONDS
(cd "$tree" && dpkg-buildpackage "${flags[@]}")
rm -rf "$tree"
echo "build-package: built in $((SECONDS - start)) s:"
ls "$out"/*.deb
