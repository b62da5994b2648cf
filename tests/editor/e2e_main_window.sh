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

if [ -z "${QV_E2E_INNER:-}" ]; then
    for tool in xvfb-run xauth xdotool; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
    done
    QV_E2E_INNER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

qorvette=$1 dump=$2 demo=$3
out=$PWD/e2e_main_window
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
xdotool getwindowname "$main" | grep -qx 'Qorvette v1.22 \[.*demo.qze\]' ||
    fail "caption: $(xdotool getwindowname "$main")"
xdotool windowfocus --sync "$main"
sleep 0.3
snap opened

# The pattern editor has the focus: Tab to channel 2, ten rows down, then
# C-5, D-5, E-5 (octave 4 plus the upper row of note keys) and a key-off. Each
# note sounds one row through the player; keys wait for it.
xdotool key Tab
for _ in $(seq 10); do xdotool key Down; done
xdotool key --delay 400 q w e a
sleep 0.5
snap typed

xdotool key ctrl+s
waitFor '[ -n "$(windowNamed "Save module")" ]'
sleep 0.3
snap save_dialog
xdotool type --delay 30 "$out/mine.qze"
xdotool key Return
waitFor '[ -s "$out/mine.qze" ]'
waitFor 'xdotool getwindowname "$main" | grep -q "mine.qze"'

# Close through the menu and confirm. Without a window manager the focus does
# not return to the main window by itself after the dialog.
xdotool windowfocus --sync "$main"
sleep 0.2
xdotool key alt+f
sleep 0.3
xdotool key c
waitFor '[ -n "$(windowNamed "Exit confirm")" ]'
snap exit_confirm
xdotool key Return
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "the editor did not quit"
wait $pid || fail "the editor quit with status $?"
trap - EXIT

"$dump" "$out/demo.qze" $(seq 0 255) >"$out/before.txt"
"$dump" "$out/mine.qze" $(seq 0 255) >"$out/after.txt"
diff "$out/before.txt" "$out/after.txt" | grep '^>' >"$out/changed.txt" || true
cat >"$out/expected.txt" <<'EOF'
> 0A 2 C-5 02 18 0 00
> 0B 2 D-5 02 00 0 00
> 0C 2 E-5 02 18 0 00
> 0D 2 OFF 00 00 0 00
EOF
diff "$out/expected.txt" "$out/changed.txt" || fail "the saved module differs from what was typed"
# Nothing else changed: every line that went away was replaced by a typed one.
removed=$(diff "$out/before.txt" "$out/after.txt" | grep -c '^<' || true)
[ "$removed" -eq 2 ] || fail "$removed lines of the demo changed or vanished"
[ -s "$out/config/Nostrel/Qorvette.conf" ] || fail "settings were not written at shutdown"
echo "ok: screenshots in $out"
