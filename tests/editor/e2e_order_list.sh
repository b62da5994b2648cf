#!/usr/bin/env bash
# End-to-end check of the order list editor in a real X server, driven the
# way a user drives it: the keyboard and the mouse through xdotool.
#
#   1. a fresh editor (new settings folder, SDL's dummy audio driver);
#   2. notes C-4 and E-4 typed into pattern 0;
#   3. in the order grid: entries 1 and 0 appended by typing, the loop set on
#      entry 1 ("l"), a note A-4 typed into pattern 1;
#   4. entry 2 dragged onto entry 1 with the mouse: the order reads 0 0L 1;
#   5. Block > Advanced transpose: +7 semitones, "Whole track", OK - pattern
#      0, listed twice, moves once;
#   6. Ctrl+S, a path typed into the save dialog; File > Close (no question);
#   7. the saved module printed by module_dump and compared.
#
# Usage: e2e_order_list.sh [qorvette program] [module_dump program]
# (defaults build/qorvette and build/module_dump). Screenshots and the saved
# module are left in the working directory. Exits 77 (skipped) when
# xvfb-run, xdotool or ImageMagick is missing.
set -euo pipefail
source "$(dirname "$0")/e2e_order_drag.sh"

prog=$(realpath "${1:-build/qorvette}")
dump=$(realpath "${2:-build/module_dump}")

if [ -z "${QV_E2E_IN_XVFB:-}" ]; then
    for tool in xvfb-run xdotool; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    for tool in /usr/bin/import /usr/bin/convert; do
        [ -x "$tool" ] || { echo "SKIP: $tool (ImageMagick) is not installed"; exit 77; }
    done
    exec xvfb-run -a -s "-screen 0 1280x1024x24" \
        env QV_E2E_IN_XVFB=1 bash "$0" "$prog" "$dump"
fi

out=$PWD
saved=$out/order_list.qze
rm -f "$out"/e2e_*.png "$saved"
config=$(mktemp -d)
export XDG_CONFIG_HOME=$config SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME

"$prog" >"$out/e2e_program.log" 2>&1 &
pid=$!
cleanup() {
    kill "$pid" 2>/dev/null || true
    rm -rf "$config"
}
trap cleanup EXIT

shot() { /usr/bin/import -window root "$out/e2e_$1.png"; }
fail() {
    shot failure || true
    echo "FAIL: $*"
    exit 1
}
# Waits for a visible window whose name matches; prints its id.
wait_window() {
    local id=""
    for _ in $(seq 50); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}
wait_gone() {
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.2
    done
    return 1
}
# One key at a time, as typed.
keys() {
    for k in "$@"; do
        xdotool key "$k"
        sleep 0.25
    done
}

main=$(wait_window 'Qorvette v1.22') || fail "the main window did not appear"
xdotool getwindowname "$main" | grep -q 'untitled.qze' || fail "caption lacks untitled.qze"
# There is no window manager: a click on the menu bar's empty end makes the
# main window the active one again after a dialog.
activate() {
    xdotool mousemove --window "$main" 700 8 click 1
    sleep 0.3
}
activate
shot 1_start

# Pattern 0: C-4 and E-4 in channel A, rows 0 and 1 (octave 4, step 1).
keys F1 Home z c
# The order grid: append 1 and 0, set the loop on entry 1, then pattern 1.
keys ctrl+Up Right 1 Right 0 Left l
shot 2_order_typed
keys Return Home n
shot 3_pattern_1

# The grid's selected cell (entry 1) is the only thing drawn in the
# selection colour (the Fusion style's highlight); entry 2 is one column to
# its right.
shot 4_before_drag
drag_order_entry_left "$out/e2e_4_before_drag.png"
shot 5_dragged

# Block > Advanced transpose. The dialog opens with OK focused: back to the
# amount, 7, then forward to the range buttons and down to "Whole track".
keys alt+b t
wait_window 'Advanced transpose' >/dev/null || fail "the transpose dialog did not open"
keys shift+Tab shift+Tab shift+Tab ctrl+a 7 Tab Tab Tab Tab Tab Down
shot 6_transpose_dialog
keys Return
wait_gone 'Advanced transpose' || fail "the transpose dialog did not close"
activate
shot 7_transposed

# Ctrl+S: the save dialog, a typed path.
keys ctrl+s
wait_window 'Save module' >/dev/null || fail "the save dialog did not open"
shot 8_save_dialog
keys ctrl+a
xdotool type --delay 20 "$saved"
keys Return
wait_gone 'Save module' || fail "the save dialog did not close"
for _ in $(seq 25); do
    xdotool getwindowname "$main" | grep -qF "[$saved]" && break
    sleep 0.2
done
xdotool getwindowname "$main" | grep -qF "[$saved]" || fail "caption lacks the saved name"
[ -s "$saved" ] || fail "nothing saved"

# File > Close: the song is saved, so nothing is asked.
activate
keys alt+f c
for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "the editor did not quit"
wait "$pid" || fail "the editor exited with status $?"

expected="order 3 loop 1: 0 0 1
pattern 0 length 64
00 1 G-4 01 00 0 00
01 1 B-4 01 00 0 00
pattern 1 length 64
00 1 E-5 01 00 0 00"
actual=$("$dump" "$saved" 0 1)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: the saved module differs"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "ok: $saved; screenshots in $out"
