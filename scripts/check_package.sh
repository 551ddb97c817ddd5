#!/usr/bin/env bash
# Checks the Debian package the release build makes:
#   1. builds it (cmake --build --preset release --target package);
#   2. shows its control data and files, and checks that the programs, the desktop entry
#      (desktop-file-validate), the MIME package, the icons and the man pages are in it;
#   3. asks apt whether every dependency is found in Debian 12 for a machine that has
#      nothing installed (a simulation against an empty package status);
#   4. with --chroot DIR (as root): installs it into a fresh Debian 12 made there with
#      debootstrap (or one made before), the way a user would (apt install ./FILE.deb), and
#      checks that it starts, that the application menu lists it and that the desktop opens
#      .cca archives with it.
#
#   scripts/check_package.sh [--chroot DIR]
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CHROOT=""
if [ "${1:-}" = "--chroot" ]; then CHROOT="${2:?--chroot needs a folder}"; fi

say() { echo "check_package: $*"; }
fail() { echo "check_package: FAILED: $*" >&2; exit 1; }

cd "$ROOT"
cmake --preset release >/dev/null
cmake --build --preset release --target package
DEB="$(ls -t build/release/cradlecourier_*.deb | head -n 1)"
[ -f "$DEB" ] || fail "no package was made"
DEB="$(readlink -f "$DEB")"
say "$DEB"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/cradlecourier-deb.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# 2. What it says and holds.
dpkg-deb --info "$DEB"
dpkg-deb --contents "$DEB" | awk '{print $6}' | sort >"$WORK/files"
for f in ./usr/bin/ccourier ./usr/bin/ccourier-cli ./usr/bin/cc-ccapack \
         ./usr/share/applications/cradlecourier.desktop \
         ./usr/share/mime/packages/cradlecourier.xml \
         ./usr/share/icons/hicolor/scalable/apps/cradlecourier.svg \
         ./usr/share/icons/hicolor/scalable/mimetypes/application-x-cca.svg \
         ./usr/share/icons/hicolor/scalable/mimetypes/application-vnd.palm.svg \
         ./usr/share/man/man1/ccourier.1.gz ./usr/share/man/man1/ccourier-cli.1.gz \
         ./usr/share/doc/cradlecourier/copyright ./usr/share/doc/cradlecourier/guide/en/index.html; do
  grep -qx "$f" "$WORK/files" || fail "$f is not in the package"
done
if [ -f packaging/60-cradlecourier.rules ]; then
  grep -qx ./usr/lib/udev/rules.d/60-cradlecourier.rules "$WORK/files" ||
    fail "the udev rule is not in the package"
fi
dpkg-deb --extract "$DEB" "$WORK/root"
desktop-file-validate "$WORK/root/usr/share/applications/cradlecourier.desktop" ||
  fail "the desktop entry is not valid"
say "control data, files and desktop entry are right"

# 3. Every dependency resolvable on a machine with nothing installed.
: >"$WORK/status"
apt-get -s -o Dir::State::status="$WORK/status" install "$DEB" >"$WORK/simulation" ||
  { cat "$WORK/simulation"; fail "apt cannot resolve the dependencies"; }
grep -q '^Inst cradlecourier ' "$WORK/simulation" || fail "apt would not install the package"
say "apt resolves every dependency from nothing: $(grep -c '^Inst ' "$WORK/simulation") packages"

[ -n "$CHROOT" ] || exit 0

# 4. A fresh Debian 12.
[ "$(id -u)" -eq 0 ] || fail "--chroot needs root"
if [ ! -x "$CHROOT/usr/bin/apt-get" ]; then
  say "making a Debian 12 in $CHROOT"
  debootstrap --variant=minbase bookworm "$CHROOT" http://deb.debian.org/debian >/dev/null
fi
mount -t proc proc "$CHROOT/proc"
trap 'umount "$CHROOT/proc" 2>/dev/null || true; rm -rf "$WORK"' EXIT
cp "$DEB" "$CHROOT/tmp/cradlecourier.deb"
in_root() { chroot "$CHROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update -q >/dev/null
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -q /tmp/cradlecourier.deb >"$WORK/install" ||
  { tail -n 30 "$WORK/install"; fail "apt install failed"; }
say "installed into a fresh Debian 12"

in_root sh -c 'ldd /usr/bin/ccourier /usr/bin/ccourier-cli | grep "not found"' &&
  fail "a library is missing"
in_root ccourier-cli --help >/dev/null || fail "ccourier-cli does not start"
# The window starts (offscreen, no display here) and keeps running until it is stopped.
set +e
in_root sh -c 'mkdir -p /tmp/home && HOME=/tmp/home QT_QPA_PLATFORM=offscreen \
  timeout 5 ccourier /COM1 >/tmp/ccourier.out 2>&1'
status=$?
set -e
[ "$status" -eq 124 ] || { in_root cat /tmp/ccourier.out; fail "ccourier ended with $status"; }
say "the programs start"

# The application menu and the desktop's choice for .cca files, read by the desktop's tools.
in_root grep -q '^Exec=ccourier %F' /usr/share/applications/cradlecourier.desktop ||
  fail "the menu entry does not start ccourier"
in_root grep -q 'application/x-cca=.*cradlecourier.desktop' \
  /usr/share/applications/mimeinfo.cache || fail "the desktop's cache does not list us for .cca"
opener="$(in_root env HOME=/tmp/home xdg-mime query default application/x-cca)"
[ "$opener" = "cradlecourier.desktop" ] || fail "xdg-mime names \"$opener\" for .cca files"
in_root grep -q ':application/x-cca:\*\.cca' /usr/share/mime/globs2 ||
  fail "the MIME database does not know .cca files"
say "the menu lists ccourier and .cca files open with it: all right"
