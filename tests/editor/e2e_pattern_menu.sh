#!/usr/bin/env bash
# End-to-end check that an open pop-up menu keeps the keys from the pattern
# behind it: open the demo song, right-click a row of the pattern view, press
# Down, Down and "x" (a note key) in the menu, then Esc, which must close the
# menu. Then "z" writes C-4 at the cursor, which must still be on row 0 of
# channel A: after saving, that cell is the only change.
#
#   e2e_pattern_menu.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_pattern_menu "$3"
e2e_start "$qorvette" "$out/demo.qze"

xdotool key F1
sleep 0.3
# A row of channel B some lines below the cursor row, in the pattern view.
xdotool mousemove --window "$main" 260 420 click 3
sleep 0.5
snap 1_menu_open
xdotool key Down
sleep 0.2
xdotool key Down
sleep 0.2
xdotool key x
sleep 0.3
snap 2_keys_in_menu
xdotool key Escape
sleep 0.4
snap 3_menu_closed
# A menu still open would take the "z" below: no note would be written.
xdotool key z
sleep 0.4
snap 4_note_typed

e2e_save_as "$out/mine.qze"
e2e_quit

"$dump" "$out/demo.qze" $(seq 0 255) >"$out/before.txt"
"$dump" "$out/mine.qze" $(seq 0 255) >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" >"$out/changed.txt" || true
printf '%s\n' '2a3' '> 00 1 C-4 01 00 0 00' >"$out/expected.txt"
diff "$out/expected.txt" "$out/changed.txt" || fail "the saved module differs from the one typed note"
echo "ok: screenshots in $out"
