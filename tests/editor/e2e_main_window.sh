#!/usr/bin/env bash
# End-to-end check of the editor in a real X server, driven as a user would:
# open the demo song, type three notes and a key-off into channel 2, save it
# under a new name through the save dialog (Ctrl+S), close the window through
# the File menu and confirm. The saved module must differ from the demo in
# exactly those four cells. Screenshots are left in the working folder.
#
#   e2e_main_window.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_main_window "$3"
e2e_start "$qorvette" "$out/demo.qze"
xdotool getwindowname "$main" | grep -qx 'Qorvette v1.22 \[.*demo.qze\]' ||
    fail "caption: $(xdotool getwindowname "$main")"
snap opened

# The pattern editor has the focus: Tab to channel 2, ten rows down, then
# C-5, D-5, E-5 (octave 4 plus the upper row of note keys) and a key-off. Each
# note sounds one row through the player; keys wait for it.
xdotool key Tab
for _ in $(seq 10); do xdotool key Down; done
xdotool key --delay 400 q w e a
sleep 0.5
snap typed

e2e_save_as "$out/mine.qze"
e2e_quit

"$dump" "$out/demo.qze" $(seq 0 255) >"$out/before.txt"
"$dump" "$out/mine.qze" $(seq 0 255) >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" | grep '^>' >"$out/changed.txt" || true
printf '%s\n' '> 0A 2 C-5 02 18 0 00' '> 0B 2 D-5 02 00 0 00' '> 0C 2 E-5 02 18 0 00' \
    '> 0D 2 OFF 00 00 0 00' >"$out/expected.txt"
diff "$out/expected.txt" "$out/changed.txt" || fail "the saved module differs from what was typed"
# Nothing else changed: every line that went away was replaced by a typed one.
removed=$(diff "$out/before.txt" "$out/after.txt" | grep -c '^<' || true)
[ "$removed" -eq 2 ] || fail "$removed lines of the demo changed or vanished"
[ -s "$out/config/Nostrel/Qorvette.conf" ] || fail "settings were not written at shutdown"
echo "ok: screenshots in $out"
