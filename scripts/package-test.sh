#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, validates the desktop entry, the
# AppStream metainfo and the service unit, checks the documentation, builds
# the Debian package and runs lintian on it.
#   scripts/package-test.sh BUILD_DIR      (exit 77: a tool is missing, skipped)
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
for tool in desktop-file-validate appstreamcli lintian dpkg-shlibdeps cpack systemd-analyze man; do
  command -v "$tool" >/dev/null || { echo "package-test: $tool is missing"; exit 77; }
done
fail() { echo "package-test: $*"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

# The documentation a user of the package has.
doc="$root/usr/share/doc/quellmark"
for f in README.md copyright changelog.Debian.gz examples/mqtt.conf; do
  [ -s "$doc/$f" ] || fail "no $f in /usr/share/doc/quellmark"
done
for f in quellmark quellmark-sim; do
  [ -s "$root/usr/share/man/man1/$f.1.gz" ] || fail "no manual page for $f"
done
sections="$(MANPATH="$root/usr/share/man" MANWIDTH=100 man quellmark 2>/dev/null)"
for s in OPTIONS FILES ENVIRONMENT "EXIT STATUS" DIAGNOSTICS EXAMPLES; do
  grep -q "^$s" <<<"$sections" || fail "quellmark(1) has no $s"
done
grep -q -- "--instance" <<<"$sections" || fail "quellmark(1) does not name --instance"
MANPATH="$root/usr/share/man" man quellmark-sim 2>/dev/null | grep -q -- "--replug-after" ||
  fail "quellmark-sim(1) does not list its options"

# The unit as systemd reads it, for an instance, with the program where the
# package puts it (here: under DESTDIR).
unit="$root/lib/systemd/system/quellmark@.service"
[ -s "$unit" ] || fail "no quellmark@.service"
mkdir "$work/units"
sed "s#/usr/bin/quellmark#$root/usr/bin/quellmark#" "$unit" >"$work/units/quellmark@board1.service"
MANPATH="$root/usr/share/man" systemd-analyze verify "$work/units/quellmark@board1.service"

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null
deb="$(ls "$work"/pkg/*.deb)"
dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || fail "dependencies not computed"
dpkg-deb -f "$deb" Description | grep -q '^  ' && fail "a description line would show preformatted"
dpkg-deb -c "$deb" >"$work/contents"
for f in lib/systemd/system/quellmark@.service usr/share/doc/quellmark/examples/mqtt.conf \
  usr/share/doc/quellmark/README.md; do
  grep -q " \./$f\$" "$work/contents" || fail "$f is not in the package"
done
tags="$(lintian -I --fail-on warning "$deb")" || { echo "$tags"; fail "lintian warns"; }
grep -q 'hardening-' <<<"$tags" && { echo "$tags"; fail "built without hardening"; }
echo "package-test: $(basename "$deb") installs, validates and passes lintian"
