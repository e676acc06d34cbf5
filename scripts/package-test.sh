#!/usr/bin/env bash
# Checks the Debian package made from the build tree that `make build` made,
# without compiling anything again: debian/rules' binary steps run on that
# tree. Then: the installed files (desktop entry, AppStream metadata, manual
# pages, the users' README), the service unit (systemd-analyze verify and its
# exposure), the maintainer scripts (installing, removing and purging in a
# scratch root with dpkg, and what they ask of systemd), stripped executables
# with their debug symbols, and lintian at --pedantic.
#   scripts/package-test.sh BUILD_DIR      (exit 77: a tool is missing, skipped)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build}" && pwd)"
for tool in desktop-file-validate appstreamcli lintian dh dpkg-architecture systemd-analyze man unshare; do
  command -v "$tool" >/dev/null || { echo "package-test: $tool is missing"; exit 77; }
done
unshare --map-root-user --mount true 2>/dev/null || { echo "package-test: no user namespaces here"; exit 77; }
fail() { echo "package-test: $*"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The package, from the existing build: dh skips the build steps it finds
# done, and dh_auto_install installs from the build tree.
mkdir "$work/src"
cp -r "$src/debian" "$work/src/"
ln -s "$build" "$work/src/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)"
echo quellmark >"$work/src/debian/debhelper-build-stamp"
(cd "$work/src" && debian/rules binary) >"$work/dh.log" 2>&1 || { cat "$work/dh.log"; fail "dh binary failed"; }
deb="$(ls "$work"/quellmark_*.deb)"
dbgsym="$(ls "$work"/quellmark-dbgsym_*.deb)"
root="$work/root"
dpkg-deb -x "$deb" "$root"

dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || fail "dependencies not computed"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
debug="$(dpkg-deb -c "$dbgsym")"
for exe in quellmark quellmark-sim; do
  sections="$(readelf -S -W "$root/usr/bin/$exe")"
  grep -q -E ' \.(debug_info|comment|symtab) ' <<<"$sections" && fail "$exe is not stripped"
  id="$(readelf -n "$root/usr/bin/$exe" | sed -n 's/.*Build ID: //p')"
  grep -q "/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug$" <<<"$debug" ||
    fail "no debug symbols for $exe in $(basename "$dbgsym")"
done

# The documentation a user of the package has: the README opens with
# installing, and nothing in it is about building.
doc="$root/usr/share/doc/quellmark"
for f in README.md.gz service-hardening.md.gz copyright changelog.Debian.gz examples/mqtt.conf examples/web.conf; do
  [ -s "$doc/$f" ] || fail "no $f in /usr/share/doc/quellmark"
done
readme="$(zcat "$doc/README.md.gz")"
[ "$(grep -m1 '^## ' <<<"$readme")" = "## Installing" ] || fail "the installed README does not open with installing"
grep -n -E 'make (run|test|package)|For contributors' <<<"$readme" && fail "the installed README speaks of building"
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
# package puts it (here: in the unpacked package), and its exposure.
unit="$(find "$root" -path '*/systemd/system/quellmark@.service')"
[ -n "$unit" ] || fail "no quellmark@.service"
mkdir "$work/units"
sed "s#/usr/bin/quellmark#$root/usr/bin/quellmark#" "$unit" >"$work/units/quellmark@board1.service"
MANPATH="$root/usr/share/man" systemd-analyze verify "$work/units/quellmark@board1.service"
exposure="$(systemd-analyze security --offline=true --threshold=20 "$work/units/quellmark@board1.service" 2>&1)" ||
  { echo "$exposure"; fail "the unit's exposure is above 2.0"; }
echo "package-test: $(grep -o 'Overall exposure level.*' <<<"$exposure")"

# The maintainer scripts in a scratch root, run by dpkg without a chroot: an
# instance's enable link outlives a removal and goes with the purge; the
# instance's files and other units' links stay.
target="$work/target"
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
: >"$target/var/lib/dpkg/status"
pkg() {
  dpkg --root="$target" --force-script-chrootless --force-not-root --force-depends --log=/dev/null "$@" \
    >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg $* failed"; }
}
pkg --install "$deb"
[ -x "$target/usr/bin/quellmark" ] || fail "dpkg did not install the program"
wants="$target/etc/systemd/system/multi-user.target.wants"
mkdir -p "$wants" "$target/var/lib/quellmark/board1/board1Log"
ln -s "/${unit#"$root"/}" "$wants/quellmark@board1.service"
ln -s /lib/systemd/system/other@.service "$wants/other@board1.service"
echo '"08:15:02",23.4,-0.5,0,0,0,0,0,0' >"$target/var/lib/quellmark/board1/board1Log/261207.txt"
pkg --remove quellmark
[ -L "$wants/quellmark@board1.service" ] || fail "removing the package disabled an instance"
pkg --purge quellmark
[ -L "$wants/quellmark@board1.service" ] && fail "purging left the instance's enable link"
[ -L "$wants/other@board1.service" ] || fail "purging removed another unit's enable link"
[ -s "$target/var/lib/quellmark/board1/board1Log/261207.txt" ] || fail "purging removed an instance's log"

# What the scripts ask of systemd when it runs (a /run/systemd/system of
# their own, and systemctl and deb-systemd-invoke that write down their
# arguments).
ctl="$work/control"
dpkg-deb -e "$deb" "$ctl"
mkdir "$work/fake"
for cmd in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$cmd" "$work" >"$work/fake/$cmd"
  chmod +x "$work/fake/$cmd"
done
reload="systemctl --system daemon-reload"
while IFS='|' read -r script args expected; do
  rm -f "$work/calls"
  # shellcheck disable=SC2086 # the arguments are split on purpose
  unshare --map-root-user --mount sh -c 'mount -t tmpfs none /run && mkdir -p /run/systemd/system &&
    PATH="$0:$PATH" sh "$@"' "$work/fake" "$ctl/$script" $args >/dev/null
  calls="$(paste -s -d '|' "$work/calls" 2>/dev/null || true)"
  [ "$calls" = "$expected" ] || fail "$script $args asked systemd for '$calls', expected '$expected'"
done <<EOF
postinst|configure|$reload
postinst|configure 1.1.0-1|$reload|deb-systemd-invoke try-restart quellmark@*.service
postinst|abort-upgrade 1.1.0-3|$reload
prerm|upgrade 1.1.0-3|
prerm|remove|deb-systemd-invoke stop quellmark@*.service
postrm|upgrade 1.1.0-3|
postrm|remove|$reload
postrm|purge|$reload
EOF

# Lintian at its most pedantic: no tag but those overridden with a reason.
tags="$(lintian --pedantic -I --fail-on error,warning,info,pedantic "$deb" "$dbgsym" 2>&1)" ||
  { echo "$tags"; fail "lintian reports tags"; }
echo "package-test: $(basename "$deb") and its debug symbols install, purge and pass lintian --pedantic"
