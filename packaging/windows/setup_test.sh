#!/usr/bin/env bash
# setup_test.sh SETUP ZIP VERSION WINE_RUN PREFIX
# The Windows setup program under Wine, in its own prefix: it installs silently for the user
# without administrator rights, the installed console answers --version, the Start menu and
# Apps & features have their entries; then, after the program's own traces (file types,
# settings, files written beside it) are added, the silent uninstall leaves no file and no
# registry value of ours, and gives a Palm type back to the Palm Desktop. The portable .zip
# holds the same files in one folder.
set -euo pipefail
setup="$1" zip="$2" version="$3" wine_run="$4" prefix="$5"
# Wine would mirror the Start-menu entries into the Linux desktop's menus, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
run() { bash "$wine_run" "$prefix" "$@"; }
reg_add() { run reg add "$@" /f >/dev/null 2>&1 || fail "reg add $*"; }
# The default value of a key, or nothing when there is none.
reg_default() {
  run reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p'
}
# Every key and value of ours, in the files and in the registry (both roots), one per line.
ours() {
  find "$prefix/drive_c" \( -iname '*cradlecourier*' -o -iname 'ccourier*' \) -print
  local root
  for root in HKEY_CURRENT_USER HKEY_LOCAL_MACHINE; do
    rm -f "$prefix/export.reg"
    run regedit /E 'Z:'"${prefix//\//\\}"'\export.reg' "$root" >/dev/null 2>&1 || true
    [ -f "$prefix/export.reg" ] || fail "regedit could not export $root"
    python3 - "$prefix/export.reg" <<'EOF'
import re, sys
raw = open(sys.argv[1], "rb").read()
text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("latin-1")
key = ""
for line in text.splitlines():
    if line.startswith("["):
        key = line
    if re.search("cradlecourier|ccourier", line, re.I):
        print(key if line == key else key + " " + line)
EOF
  done
}

# The portable zip: one folder with the programs, the texts and the guide.
python3 - "$zip" "$version" <<'EOF' || fail "the zip"
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
root = "Cradlecourier-%s/" % sys.argv[2]
for need in ("ccourier-cli.exe", "README.txt", "LICENSE.txt", "guide/guide.css",
             "guide/en/index.html", "guide/de/index.html", "guide/images/cradlecourier.svg"):
    if root + need not in names:
        sys.exit("missing in the zip: " + root + need)
stray = [n for n in names if not n.startswith(root)]
if stray:
    sys.exit("outside the zip's folder: %s" % stray)
EOF

run cmd /c exit >/dev/null 2>&1 || true  # makes the prefix on first use
left="$(ours)"
[ -z "$left" ] || fail "the prefix holds ours before the setup ran:"$'\n'"$left"

# Install for this user, silently.
run "$setup" /S || fail "the setup ended with status $?"
instdir="$(find "$prefix/drive_c/users" -maxdepth 5 -ipath '*/AppData/Local/Programs/Cradlecourier' -type d | head -1)"
[ -n "$instdir" ] || fail "nothing under %LOCALAPPDATA%\\Programs\\Cradlecourier"
for f in ccourier-cli.exe uninstall.exe README.txt LICENSE.txt guide/en/index.html guide/de/index.html; do
  [ -f "$instdir/$f" ] || fail "not installed: $f"
done
answer="$(run "$instdir/ccourier-cli.exe" --version | tr -d '\r')"
[ "$answer" = "Cradlecourier $version" ] || fail "the installed console answered: $answer"
find "$prefix/drive_c/users" -ipath '*/Start Menu/Programs/Cradlecourier/*.lnk' | grep -q . ||
  fail "no Start-menu entry"
uninst='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Cradlecourier'
run reg query "$uninst" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
  fail "no Apps & features entry with the version"
run reg query "$uninst" /v UninstallString 2>/dev/null | grep -qi 'uninstall.exe' ||
  fail "the entry names no uninstaller"
if run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Cradlecourier' >/dev/null 2>&1; then
  fail "a per-user install wrote the machine's entry"
fi

# What the program leaves when it runs: its file types, its settings, files beside it. The
# Palm Desktop owns pdbFile; the user gave .pqa to another program.
classes='HKCU\Software\Classes'
reg_add "$classes\\.cca" /ve /d CCOURIER.cca
reg_add "$classes\\.cca" /v "Content Type" /d application/x-cca
reg_add "$classes\\CCOURIER.cca\\Shell\\open\\command" /ve /d '"C:\ccourier.exe" "%1"'
reg_add "$classes\\.prc" /ve /d CCOURIER.prc
reg_add "$classes\\CCOURIER.prc\\Shell\\open\\command" /ve /d '"C:\ccourier.exe" "%1"'
reg_add "$classes\\.pdb" /ve /d CCOURIER.pdb
reg_add "$classes\\CCOURIER.pdb" /ve /d palm-database
reg_add "$classes\\pdbFile" /ve /d "Palm database"
reg_add "$classes\\.pqa" /ve /d Viewer.pqa
reg_add 'HKCU\Software\Cradlecourier\CCourier\main' /v DontAskDefault /t REG_DWORD /d 1
echo viewer >"$instdir/VIEWER.PRC"

# Uninstall, silently. The uninstaller runs on from a copy of itself, so wait for it.
run "$instdir/uninstall.exe" /S || fail "the uninstaller ended with status $?"
for _ in $(seq 1 120); do
  [ -e "$instdir" ] || break
  sleep 0.5
done
[ ! -e "$instdir" ] || fail "the install folder is still there: $(find "$instdir")"
left="$(ours)"
[ -z "$left" ] || fail "left behind:"$'\n'"$left"
[ "$(reg_default "$classes\\.pdb")" = pdbFile ] || fail ".pdb was not given back to pdbFile"
[ "$(reg_default "$classes\\.pqa")" = Viewer.pqa ] || fail ".pqa, not ours, was changed"
if run reg query "$classes\\.prc" >/dev/null 2>&1; then fail ".prc, ours alone, is still there"; fi

# For all users: Wine's user has administrator rights, as an elevated setup has.
run "$setup" /S /ALLUSERS || fail "the all-users setup ended with status $?"
alldir="$prefix/drive_c/Program Files/Cradlecourier"
[ -f "$alldir/ccourier-cli.exe" ] || fail "nothing under Program Files\\Cradlecourier"
machine='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Cradlecourier'
run reg query "$machine" /v DisplayVersion 2>/dev/null | grep -q "$version" ||
  fail "no machine-wide Apps & features entry"
find "$prefix/drive_c" -ipath '*/Start Menu/Programs/Cradlecourier/*.lnk' | grep -qv '/users/root/' ||
  fail "no Start-menu entry for all users"
run "$alldir/uninstall.exe" /S || fail "the all-users uninstaller ended with status $?"
for _ in $(seq 1 120); do
  [ -e "$alldir" ] || break
  sleep 0.5
done
left="$(ours)"
[ -z "$left" ] || fail "left behind by the all-users uninstall:"$'\n'"$left"

# The prefix as it was, for the next run.
for key in .pdb .pqa pdbFile; do run reg delete "$classes\\$key" /f >/dev/null 2>&1 || true; done
echo "setup program: installed, answered, uninstalled without a trace"
