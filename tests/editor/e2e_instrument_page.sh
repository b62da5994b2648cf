#!/usr/bin/env bash
# End-to-end check of the Instruments page in a real X server, driven as a
# user would: open the demo song, go to the page (F2), click operator 1's AR
# knob and turn it down by five with the arrow keys, type 12 into its DR knob,
# pick algorithm 7 with the mouse, rename the instrument, sound a note on the
# piano with the mouse, save under a new name (Ctrl+S) and quit. The saved instrument 1 must
# hold exactly those changes. Screenshots are left in the working folder.
#
#   e2e_instrument_page.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_instrument_page "$3"
e2e_start "$qorvette" "$out/demo.qze"

# F2 shows the page with the focus on the piano; a right click gives it to
# operator 1's AR knob (31 in the demo) without its pop-up track bar.
xdotool key F2
sleep 0.4
xdotool mousemove --window "$main" 51 130 click 3
sleep 0.3
for _ in $(seq 5); do xdotool key Down; done
# Right: on to the DR knob (8); "1" cannot grow 8 into range, so it starts anew.
xdotool key Right 1 2
sleep 0.2
# Positions within the window follow the page's layout at the window's
# first size (its smallest, where the page is drawn at its designed scale).
xdotool mousemove --window "$main" 668 194 click 1  # algorithm button "7"
sleep 0.2
xdotool mousemove --window "$main" 720 252 click 1  # the name edit
sleep 0.2
xdotool key ctrl+a
xdotool type --delay 30 "Keys"
sleep 0.2
xdotool mousemove --window "$main" 125 470 mousedown 1  # a white key of the piano
sleep 0.4
snap playing
xdotool mouseup 1
sleep 0.2

e2e_save_as "$out/mine.qze"
e2e_quit

"$dump" "$out/demo.qze" i1 i2 >"$out/before.txt"
"$dump" "$out/mine.qze" i1 i2 >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" >"$out/changed.txt" || true
printf '%s\n' '2,3c2,3' \
    '< instrument 1 "E.Piano" algorithm 4 feedback 5' \
    '< op1 AR 31 DR 8 SR 2 RR 6 TL 30 SL 4 MULT 1 DT 1 RS 0 SSG-EG 0' \
    '---' \
    '> instrument 1 "Keys" algorithm 7 feedback 5' \
    '> op1 AR 26 DR 12 SR 2 RR 6 TL 30 SL 4 MULT 1 DT 1 RS 0 SSG-EG 0' >"$out/expected.txt"
diff "$out/expected.txt" "$out/changed.txt" || fail "the saved instrument differs from what was edited"
echo "ok: screenshots in $out"
