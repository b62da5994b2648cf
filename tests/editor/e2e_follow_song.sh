#!/usr/bin/env bash
# End-to-end check of editing while the song plays, in a real X server: the
# demo song plays its first pattern in a loop (F8); with Follow song off
# (Scroll Lock) the cursor goes to the next order position (pattern 1), four
# rows down, and three notes are typed while the loop goes on; then Stop, save
# through the dialog, quit. The saved module must hold the typed notes in
# pattern 1 (not in the playing pattern 0), and nothing else may differ. The
# screenshot typed_while_playing shows the cursor in pattern 1 and no marked
# playing row (that one is in pattern 0); playing_row_marked shows the cursor
# back in pattern 0, the row that plays marked in orange.
#
#   e2e_follow_song.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"
export QT_QPA_PLATFORM=xcb

qorvette=$1 dump=$2
e2e_prepare e2e_follow_song "$3"
e2e_start "$qorvette" "$out/demo.qze"
snap opened

xdotool key Scroll_Lock   # Follow song off
sleep 0.3
xdotool key F8            # pattern 0 in a loop
sleep 1.5
snap playing
# To pattern 1 (order position 1) and four rows down while pattern 0 plays on.
xdotool key ctrl+Next
for _ in 1 2 3 4; do xdotool key Down; done
# C-5, D-5, E-5 (octave 4 plus the upper row of note keys), 300 ms apart.
xdotool key --delay 300 q w e
sleep 1.5
snap typed_while_playing
# Back to pattern 0 while it plays: the playing row is marked there.
xdotool key ctrl+Prior
sleep 0.5
snap playing_row_marked
xdotool key Escape        # Stop
sleep 0.5
snap stopped

e2e_save_as "$out/mine.qze"
e2e_quit

"$dump" "$out/demo.qze" $(seq 0 255) >"$out/before.txt"
"$dump" "$out/mine.qze" $(seq 0 255) >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" | grep '^>' >"$out/changed.txt" || true
cat "$out/changed.txt"
# Pattern 1's rows 4, 5 and 6 of channel 1 (the cursor's channel).
for row in 04 05 06; do
    grep -q "^> $row 1 " "$out/changed.txt" || fail "no note typed in row $row"
done
changed=$(wc -l <"$out/changed.txt")
[ "$changed" -eq 3 ] || fail "$changed lines changed, expected 3"
# The notes went into pattern 1, the one the cursor was on, not into the
# playing pattern 0.
awk '/^pattern /{p=$2} /^[0-9A-F][0-9A-F] 1 [CDE]-5/{print p, $0}' "$out/after.txt" | grep -q '^1 04 1 C-5' ||
    fail "C-5 is not in pattern 1"
# The song played on while the notes went in: the output never ran dry.
if grep -q "Sound output fell behind" "$out/qorvette.log"; then
    fail "underrun while editing: $(grep "fell behind" "$out/qorvette.log" | tail -1)"
fi
echo "ok: screenshots in $out"
