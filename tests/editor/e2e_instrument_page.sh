#!/usr/bin/env bash
# End-to-end check of the Instruments page in a real X server, driven as a
# user would: open the demo song, go to the page (F2), turn operator 1's AR
# down by five with the arrow keys, type 12 into its DR knob, pick algorithm 7
# with the mouse, rename the instrument, sound a note on the piano with the
# mouse, save under a new name (Ctrl+S) and quit. The saved instrument 1 must
# hold exactly those changes. Screenshots are left in the working folder.
#
#   e2e_instrument_page.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail

if [ -z "${QV_E2E_INNER:-}" ]; then
    for tool in xvfb-run xauth xdotool; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
    done
    QV_E2E_INNER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

qorvette=$1 dump=$2 demo=$3
out=$PWD/e2e_instrument_page
rm -rf "$out"
mkdir -p "$out/config"
cp "$demo" "$out/demo.qze"
export XDG_CONFIG_HOME=$out/config SDL_AUDIODRIVER=dummy
snap() { [ -x /usr/bin/import ] && /usr/bin/import -window root "$out/$1.png" || true; }
fail() {
    echo "FAILED: $*"
    snap failure
    exit 1
}
# Polls a condition for up to 15 seconds.
waitFor() {
    for _ in $(seq 150); do
        if eval "$1"; then return 0; fi
        sleep 0.1
    done
    fail "timed out waiting for: $1"
}
windowNamed() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }

"$qorvette" "$out/demo.qze" >"$out/qorvette.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

waitFor '[ -n "$(windowNamed "Qorvette v1.22")" ]'
main=$(windowNamed "Qorvette v1.22")
xdotool windowfocus --sync "$main"
sleep 0.3

# F2 shows the page with the focus on operator 1's AR knob (31 in the demo).
xdotool key F2
sleep 0.4
for _ in $(seq 5); do xdotool key Down; done
# Right: on to the DR knob (8); "1" cannot grow 8 into range, so it starts anew.
xdotool key Right 1 2
sleep 0.2
# Positions within the window follow the page's fixed layout.
xdotool mousemove --window "$main" 769 91 click 1   # algorithm button "7"
sleep 0.2
xdotool mousemove --window "$main" 720 217 click 1  # the name edit
sleep 0.2
xdotool key ctrl+a
xdotool type --delay 30 "Keys"
sleep 0.2
xdotool mousemove --window "$main" 120 380 mousedown 1  # a white key of the piano
sleep 0.4
snap playing
xdotool mouseup 1
sleep 0.2

xdotool key ctrl+s
waitFor '[ -n "$(windowNamed "Save module")" ]'
sleep 0.3
xdotool type --delay 30 "$out/mine.qze"
xdotool key Return
waitFor '[ -s "$out/mine.qze" ]'

xdotool windowfocus --sync "$main"
sleep 0.2
xdotool key alt+f
sleep 0.3
xdotool key c
waitFor '[ -n "$(windowNamed "Exit confirm")" ]'
xdotool key Return
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "the editor did not quit"
wait $pid || fail "the editor quit with status $?"
trap - EXIT

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
