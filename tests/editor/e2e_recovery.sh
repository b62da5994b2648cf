#!/usr/bin/env bash
# End-to-end check of crash recovery in a real X server: open a copy of the
# demo, type three notes and a key-off, wait until the recovery copy holds
# them (a one-second interval instead of a minute), kill the editor with
# SIGKILL, start it again, accept "Recover unsaved work from ...": the song
# is the edited one, still named after the demo and marked as changed. Saved
# under a new name it equals the typed song, and the copy is gone.
#
#   e2e_recovery.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_recovery "$3"
export QT_QPA_PLATFORM=xcb XDG_DATA_HOME=$out/data QORVETTE_RECOVERY_SECONDS=1
recovery=$out/data/Nostrel/Qorvette/recovery
e2e_start "$qorvette" "$out/demo.qze"

# Channel 2, rows 0A-0D: C-5, D-5, E-5 and a key-off.
xdotool key Tab
for _ in $(seq 10); do xdotool key Down; done
xdotool key --delay 400 q w e a
waitFor "xdotool getwindowname \"\$main\" | grep -qx 'Qorvette v1.22 \[.*demo.qze\]\*'"
snap edited

"$dump" "$out/demo.qze" $(seq 0 255) >"$out/before.txt"
printf '%s\n' '> 0A 2 C-5 02 18 0 00' '> 0B 2 D-5 02 00 0 00' '> 0C 2 E-5 02 18 0 00' \
    '> 0D 2 OFF 00 00 0 00' >"$out/expected.txt"
# The differences of a module from the demo, as "> row channel cell" lines.
changes() {
    "$dump" "$1" $(seq 0 255) >"$out/dump.txt" 2>/dev/null || return 1
    diff "$out/before.txt" "$out/dump.txt" | grep '^>' || true
}
copyHoldsEdit() {
    local f
    for f in "$recovery"/*.qze; do
        [ -f "$f" ] && [ "$(changes "$f")" = "$(cat "$out/expected.txt")" ] && return 0
    done
    return 1
}
waitFor copyHoldsEdit
ls -l --time-style=full-iso "$recovery" >"$out/recovery_before_kill.txt"

kill -9 "$pid"
wait "$pid" 2>/dev/null || true
trap - EXIT
[ -z "$(windowNamed "Qorvette v1.22")" ] || fail "the editor window outlived SIGKILL"

# The second start offers the copy; Return accepts.
"$qorvette" "$out/demo.qze" >"$out/qorvette2.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
waitFor '[ -n "$(windowNamed "^Recovery$")" ]'
box=$(windowNamed "^Recovery$")
sleep 0.3
snap offer
xdotool windowfocus --sync "$box"
xdotool key Return
waitFor '[ -z "$(windowNamed "^Recovery$")" ]'
main=$(windowNamed "Qorvette v1.22")
[ -n "$main" ] || fail "no main window after the recovery"
xdotool windowfocus --sync "$main"
sleep 0.5
snap recovered
xdotool getwindowname "$main" | grep -qx 'Qorvette v1.22 \[.*demo.qze\]\*' ||
    fail "caption after recovery: $(xdotool getwindowname "$main")"

e2e_save_as "$out/mine.qze"
waitFor "xdotool getwindowname \"\$main\" | grep -qx 'Qorvette v1.22 \[.*mine.qze\]'"
changes "$out/mine.qze" >"$out/changed.txt"
diff "$out/expected.txt" "$out/changed.txt" || fail "the recovered song differs from the edited one"
[ -z "$(ls -A "$recovery")" ] || fail "the recovery copy outlived the save"
e2e_quit
echo "ok: screenshots in $out"
