#!/usr/bin/env bash
# Screenshots of the installer window under a virtual X server (Debian's xvfb), for the
# README, the user guide and for checking the layout: English and German, the file list
# shown and hidden, a transfer under way against the virtual handheld, the dialogs the
# window opens (the about box, the default-installer question), reached with the mouse and
# the keyboard (xdotool), the read-me and licence windows of an archive, and the
# installation history and the desktop users dialog over sample folders, the port box
# telling where each port goes, and the connection check.
#
# With the Windows build there (WINDOWS_BUILD, build/windows by default), also the Windows
# window, ccourier.exe, under Wine in a Wine desktop of its own (which draws the caption), in
# English and German: win-window-en, win-window-de.
#
#   scripts/screenshot.sh [BUILD_DIR] [OUT_DIR] [NAME...]
#   (defaults: build/release, docs/images, every shot; NAME picks shots, e.g. about-de)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build/release}"
OUT="${2:-$ROOT/docs/images}"
WINDOW="$BUILD/app/ccourier"
HANDHELD="$BUILD/tools/handheld/cc-handheld"
PACKER="$BUILD/tools/ccapack/cc-ccapack"
for p in "$WINDOW" "$HANDHELD" "$PACKER"; do
  [ -x "$p" ] || { echo "screenshot: $p is missing; build ccourier, cc-handheld and cc-ccapack first" >&2; exit 1; }
done
WANTED=("${@:3}")
for t in xvfb-run import xdotool; do
  command -v "$t" >/dev/null || { echo "screenshot: $t is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
mkdir -p "$OUT"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/cradlecourier-shots.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

python3 "$ROOT/scripts/demo_files.py" "$WORK"
python3 - "$WORK" <<'PY'
import struct, sys
out = sys.argv[1]
# A database large enough to watch it go over a slow line.
EPOCH = 2082844800
records = [bytes([i]) * 4000 for i in range(40)]  # 160 KB
head = struct.pack(">32sHHIIIIII4s4sIIH", b"Field Guide", 0, 1, EPOCH, EPOCH, 0, 0, 0, 0,
                   b"DATA", b"CcFg", 0, 0, len(records))
offset = len(head) + 8 * len(records) + 2
entries = b"".join(struct.pack(">IB3s", offset + 4000 * i, 0, (i + 1).to_bytes(3, "big"))
                   for i in range(len(records)))
open(out + "/FieldGuide.pdb", "wb").write(head + entries + b"\0\0" + b"".join(records))
PY
cp "$ROOT/README.md" "$WORK/Notes.txt"

# Archives whose read-me and licence open before the window does.
cat >"$WORK/readme.txt" <<'TXT'
Space Game 1.2 for Palm OS 3.5 and later

Fly through the asteroid belt and collect the crystals before your fuel
runs out. The colour version needs a colour handheld; the grey version
runs on every other one.

Controls: the up and down buttons steer, the date book button fires.
Scores are kept in the database "SpaceGameHigh".
TXT
cat >"$WORK/licence.txt" <<'TXT'
SPACE GAME - LICENCE

You may install Space Game on any number of handhelds that you own, and
give copies of this archive to others, as long as it stays unchanged.

The game comes without any warranty. Installing it means that you accept
these terms.
TXT
printf 'game' >"$WORK/game.prc"
"$PACKER" -o "$WORK/Space.cca" -t "Space Game" --readme "$WORK/readme.txt" "$WORK/game.prc"
"$PACKER" -o "$WORK/Licensed.cca" -t "Space Game" --license "$WORK/licence.txt" "$WORK/game.prc"

# start_handheld HOME [OPTION...]: the virtual handheld on a pseudo-terminal, its process in
# hh and the terminal's path in pty.
start_handheld() {
  local home="$1"
  shift
  "$HANDHELD" --pty --timeout 60 "$@" >"$home/hh.out" 2>"$home/hh.err" &
  hh=$!
  pty=""
  for _ in $(seq 1 50); do
    pty="$(grep -o '/dev/pts/[0-9]*' "$home/hh.out" | head -n 1 || true)"
    [ -n "$pty" ] && break
    sleep 0.1
  done
}

# shot NAME LANGUAGE FILELIST PRESS_MS SHOOT_AFTER_S [FILES...]
# With CLICK ("X Y BUTTON" in the window) and KEYS set, the window is clicked there once it
# is up and the keys are typed (a menu opened by the click takes them), and only the window
# whose title matches DIALOG is shot. Every shot has a fresh home (settings, desktop files).
shot() {
  local name="$1" lang="$2" filelist="$3" press="$4" after="$5"
  shift 5
  if [ "${#WANTED[@]}" -gt 0 ] && [[ ! " ${WANTED[*]} " == *" $name "* ]]; then return 0; fi
  local home="$WORK/$name"
  mkdir -p "$home/config/Cradlecourier" "$home/tmp"
  # A runtime directory of its own: each shot is a first instance.
  mkdir -p -m 700 "$home/run"
  start_handheld "$home" --press-after "$press" --line-rate 57600
  # The default-installer question is asked at a fresh start; only its own shots want it.
  printf '[com]\nDevice1=%s\nSpeed=57600\n[main]\nFileList=%s\nDontAskDefault=1\nDestination=%s\n' \
    "$pty" "$filelist" "${DEST:-0}" >"$home/config/Cradlecourier/CCourier.conf"
  env -u LC_ALL -u LC_MESSAGES LANG="$lang" XDG_CONFIG_HOME="$home/config" \
    XDG_DATA_HOME="$home/data" TMP="$home/tmp" CLICK="${CLICK:-}" KEYS="${KEYS:-}" \
    DIALOG="${DIALOG:-}" XDG_RUNTIME_DIR="$home/run" \
    xvfb-run -a -s "-screen 0 900x700x24" bash -c '
      "$0" /COM1 "${@:2}" &
      pid=$!
      sleep "$1"
      target=root
      trim="-trim"
      if [ -n "$CLICK" ]; then
        main="$(xdotool search --name "^Cradlecourier\$" | head -n 1)"
        read -r x y button <<<"$CLICK"
        xdotool mousemove --window "$main" "$x" "$y" click "$button" sleep 0.8 \
          key --delay 400 $KEYS
        sleep 1.5
        target="$(xdotool search --name "$DIALOG" | tail -n 1)"
        trim=""  # a window alone: its own margins stay
      fi
      import -window "$target" $trim +repage "'"$OUT/$name.png"'"
      kill $pid 2>/dev/null || true
      # A dialog still open keeps the window from closing on the signal.
      for _ in $(seq 1 30); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
      kill -9 $pid 2>/dev/null || true
      wait $pid 2>/dev/null || true' "$WINDOW" "$after" "$@"
  kill "$hh" 2>/dev/null || true
  wait "$hh" 2>/dev/null || true
  echo "screenshot: $OUT/$name.png"
}

FILES=("$WORK/CradleNotes.pdb" "$WORK/CradleHello.prc" "$WORK/Notes.txt" "$WORK/Sunset.bmp")
# The destination "Memory card": the list shows where each file goes.
DEST=1 shot window-en C.UTF-8 1 600000 3 "${FILES[@]}"
DEST=1 shot window-de de_DE.UTF-8 1 600000 3 "${FILES[@]}"
shot window-collapsed-en C.UTF-8 0 600000 3 "${FILES[@]}"
shot window-collapsed-de de_DE.UTF-8 0 600000 3 "${FILES[@]}"
# Small files first, then the large one: well into it after a few seconds.
shot transfer-en C.UTF-8 1 500 9 "${FILES[@]}" "$WORK/FieldGuide.pdb"
shot transfer-de de_DE.UTF-8 1 500 9 "${FILES[@]}" "$WORK/FieldGuide.pdb"
shot readme-en C.UTF-8 1 600000 3 "$WORK/Space.cca"
shot readme-de de_DE.UTF-8 1 600000 3 "$WORK/Space.cca"
shot licence-en C.UTF-8 1 600000 3 "$WORK/Licensed.cca"
shot licence-de de_DE.UTF-8 1 600000 3 "$WORK/Licensed.cca"

# The dialogs, over an empty list. Without a window manager the menu bar's Alt keys do not
# reach the window, but a menu opened with the mouse takes the keyboard: the window menu's
# about entry (right button), and "Register filetypes" in the Options menu next to File. The
# home is fresh, so the question is asked.
CLICK="300 200 3" KEYS="Down Return" DIALOG="^Informationen\$" shot about-en C.UTF-8 1 600000 3
CLICK="300 200 3" KEYS="Down Return" DIALOG="^Informationen\$" shot about-de de_DE.UTF-8 1 600000 3
CLICK="12 9 1" KEYS="Right r" DIALOG="^Confirmation:\$" shot default-types-en C.UTF-8 1 600000 3
CLICK="12 9 1" KEYS="Right r" DIALOG="^Standardverkn" shot default-types-de de_DE.UTF-8 1 600000 3

# The installation history, the desktop users and restore dialogs and the Options menu over
# sample user folders.
PREVIEW="$BUILD/tests/ui/cc-dialog-preview"
# dialog NAME LANGUAGE WHICH
dialog() {
  local name="$1" lang="$2" which="$3"
  if [ "${#WANTED[@]}" -gt 0 ] && [[ ! " ${WANTED[*]} " == *" $name "* ]]; then return 0; fi
  local home="$WORK/$name"
  mkdir -p "$home"
  env -u LC_ALL -u LC_MESSAGES LANG="$lang" \
    xvfb-run -a -s "-screen 0 900x700x24" bash -c '
      "$0" "$1" "$2" &
      pid=$!
      sleep 3
      import -window root -trim +repage "$3"
      kill $pid 2>/dev/null || true
      wait $pid 2>/dev/null || true' "$PREVIEW" "$which" "$home" "$OUT/$name.png"
  echo "screenshot: $OUT/$name.png"
}
if [ -x "$PREVIEW" ]; then
  dialog history-en C.UTF-8 history
  dialog history-de de_DE.UTF-8 history
  dialog users-en C.UTF-8 users
  dialog users-de de_DE.UTF-8 users
  dialog restore-en C.UTF-8 restore
  dialog restore-de de_DE.UTF-8 restore
  dialog options-en C.UTF-8 menu
  dialog options-de de_DE.UTF-8 menu
  dialog ports-en C.UTF-8 ports
  dialog ports-de de_DE.UTF-8 ports
  dialog busy-en C.UTF-8 busy
  dialog busy-de de_DE.UTF-8 busy
  dialog check-en C.UTF-8 check
  dialog check-de de_DE.UTF-8 check
else
  echo "screenshot: $PREVIEW is missing (built with the tests); no dialog pictures" >&2
fi

# The Windows window under Wine: the same files queued, COM1 leading to the virtual handheld.
WINDOWS_BUILD="${WINDOWS_BUILD:-$ROOT/build/windows}"
WINDOWS_WINDOW="$WINDOWS_BUILD/app/win32/ccourier.exe"
WINE_PREFIX="$WINDOWS_BUILD/wine-shots"
# winshot NAME LANGUAGE FILES...; with KEYS set, the keys are typed into the window once it
# is up (the window menu's about entry: "alt+space Up Return"). The default-installer
# question is answered beforehand ("don't ask"), unless ASK is set: then it is what shows.
winshot() {
  local name="$1" lang="$2"
  shift 2
  if [ "${#WANTED[@]}" -gt 0 ] && [[ ! " ${WANTED[*]} " == *" $name "* ]]; then return 0; fi
  local home="$WORK/$name"
  mkdir -p "$home"
  start_handheld "$home" --press-after 600000
  # A fresh start each time: no settings of an earlier shot (made prefixes are kept).
  bash "$ROOT/scripts/wine_run.sh" "$WINE_PREFIX" reg delete 'HKCU\Software\Cradlecourier' /f \
    >/dev/null 2>&1 || true
  if [ -z "${ASK:-}" ]; then
    bash "$ROOT/scripts/wine_run.sh" "$WINE_PREFIX" reg add \
      'HKCU\Software\Cradlecourier\CCourier\main' /v DontAskDefault /t REG_DWORD /d 1 /f \
      >/dev/null 2>&1 || true
  fi
  mkdir -p "$WINE_PREFIX/lines"
  ln -sfn "$pty" "$WINE_PREFIX/lines/com1"
  local args=()
  for f in "$@"; do args+=("Z:${f//\//\\}"); done
  env LANG="$lang" LC_ALL="$lang" WINEPREFIX="$WINE_PREFIX" KEYS="${KEYS:-}" \
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
      bash "$0" "$1" explorer /desktop=shot,760x520 "$2" /COM1 "${@:4}" &
      pid=$!
      sleep 12
      if [ -n "$KEYS" ]; then
        desktop="$(xdotool search --name "^shot" | head -n 1)"
        xdotool mousemove --window "$desktop" 380 200 click 1 sleep 0.5 key --delay 300 $KEYS
        sleep 2
      fi
      import -window root -trim +repage "$3"
      kill $pid 2>/dev/null || true
      /usr/lib/wine/wineserver64 -k 2>/dev/null || true
      wait $pid 2>/dev/null || true' "$ROOT/scripts/wine_run.sh" "$WINE_PREFIX" "$WINDOWS_WINDOW" \
    "$OUT/$name.png" "${args[@]}" 2>/dev/null
  kill "$hh" 2>/dev/null || true
  wait "$hh" 2>/dev/null || true
  echo "screenshot: $OUT/$name.png"
}
if [ -f "$WINDOWS_WINDOW" ]; then
  winshot win-window-en C.UTF-8 "${FILES[@]}"
  winshot win-window-de de_DE.UTF-8 "${FILES[@]}"
  KEYS="alt+space Up Return" winshot win-about-en C.UTF-8
  KEYS="alt+space Up Return" winshot win-about-de de_DE.UTF-8
  ASK=1 winshot win-default-types-en C.UTF-8
  ASK=1 winshot win-default-types-de de_DE.UTF-8
else
  echo "screenshot: $WINDOWS_WINDOW is missing (cmake --preset windows); no Windows pictures" >&2
fi
