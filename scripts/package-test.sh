#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, validates the desktop entry and
# the AppStream metainfo, builds the Debian package and runs lintian on it.
#   scripts/package-test.sh BUILD_DIR      (exit 77: a tool is missing, skipped)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
for tool in desktop-file-validate appstreamcli lintian dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || { echo "package-test: $tool is missing"; exit 77; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$work"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml
for f in quellmark quellmark-sim; do
  [ -s "$work/root/usr/share/man/man1/$f.1.gz" ] || { echo "package-test: no manual page for $f"; exit 1; }
done
cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null
deb="$(ls "$work"/pkg/*.deb)"
dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || { echo "package-test: dependencies not computed"; exit 1; }
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb"
echo "package-test: $(basename "$deb") installs, validates and passes lintian"
