#!/usr/bin/env bash
# End-to-end check that showing the Instruments page puts no sound parameter
# at risk: open the demo song, show the page (F2) and play the note keys of
# both rows, the digit-row sharps (2 3 5 6 7 9 0) among them, then save and
# quit. Every instrument must be saved unchanged.
#
#   e2e_instrument_digits.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_instrument_digits "$3"
e2e_start "$qorvette" "$out/demo.qze"

xdotool key F2
sleep 0.5
snap 1_page_shown
xdotool key --delay 120 q 2 w 3 e r 5 t 6 y 7 u i 9 o 0 p
sleep 0.3
snap 2_keys_played

e2e_save_as "$out/mine.qze"
e2e_quit

ins=$(seq -f 'i%g' 1 16)
"$dump" "$out/demo.qze" $ins >"$out/before.txt"
"$dump" "$out/mine.qze" $ins >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" || fail "an instrument changed while notes were played"
echo "ok: screenshots in $out"
