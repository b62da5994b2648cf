#!/usr/bin/env bash
# End-to-end check of undo in a real X server, driven as a user would: on a
# copy of the demo song type two notes, transpose the whole track by +7
# (Block > Advanced transpose), drag order entry 2 onto entry 1 with the
# mouse and turn operator 1's AR knob of instrument 1 down with five arrow
# keys (F2). The caption marks the unsaved changes. Then Ctrl+Z four times
# and save under a new name: module_dump of every pattern and instrument must
# show no difference to the demo, and the mark is gone.
# Screenshots are left in the output folder.
#
#   e2e_undo.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb, xdotool or ImageMagick.
set -euo pipefail
source "$(dirname "$0")/e2e_order_drag.sh"
source "$(dirname "$0")/e2e_lib.sh"
[ -x /usr/bin/convert ] || { echo "skipped: ImageMagick missing"; exit 77; }
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_undo "$3"
unset QT_QPA_PLATFORMTHEME
export QT_QPA_PLATFORM=xcb
e2e_start "$qorvette" "$out/demo.qze"

keys() {
    for k in "$@"; do
        xdotool key "$k"
        sleep 0.25
    done
}
# Without a window manager a click on the menu bar's empty end makes the main
# window the active one again after a dialog.
activate() {
    xdotool mousemove --window "$main" 700 8 click 1
    sleep 0.3
}
everything() { "$dump" "$1" $(seq 0 255) $(seq -f 'i%g' 1 255); }

# 1. Two notes typed into the first pattern (one burst of typing: one step).
activate
keys F1 Home z c
snap 1_typed

# 2. Block > Advanced transpose: +7 semitones, whole track.
keys alt+b t
waitFor '[ -n "$(windowNamed "Advanced transpose")" ]'
keys shift+Tab shift+Tab shift+Tab ctrl+a 7 Tab Tab Tab Tab Tab Down
snap 2_transpose_dialog
keys Return
waitFor '[ -z "$(windowNamed "Advanced transpose")" ]'
activate

# 3. Entry 2 dragged onto entry 1 (patterns 1 and 0 of the demo). The grid's
# selected cell (entry 1) is the only thing drawn in the selection colour.
snap 3_before_drag
drag_order_entry_left "$out/3_before_drag.png"
snap 4_dragged

# 4. The Instruments page: operator 1's AR knob of instrument 1, five notches
# down (one step).
# F2 puts the focus on the piano; a right click gives it to the AR knob
# without its pop-up track bar.
keys F2
xdotool mousemove --window "$main" 51 130 click 3
sleep 0.3
keys Down Down Down Down Down
snap 5_knob
# The Edit menu names the step Ctrl+Z would take back.
keys alt+e
snap 5_edit_menu
# The first Esc closes the menu, the second leaves the menu bar.
keys Escape Escape

# The caption marks the unsaved changes.
caption() { xdotool getwindowname "$main"; }
[[ $(caption) == *"]*" ]] || fail "no unsaved-changes mark in the caption: $(caption)"

# The edits must all have reached the song: a save here differs from the demo.
e2e_save_as "$out/edited.qze"
[[ $(caption) != *"]*" ]] || fail "the mark stayed after saving: $(caption)"
everything "$out/demo.qze" >"$out/demo.txt"
everything "$out/edited.qze" >"$out/edited.txt"
diff -q "$out/demo.txt" "$out/edited.txt" >/dev/null && fail "the edits did not change the song"
grep -q "^order 8 loop 1: 1 0 2 3 4 2 3 1" "$out/edited.txt" || fail "the drag did not swap entries 1 and 2"
grep -q "^op1 AR 26 " "$out/edited.txt" || fail "the knob did not turn"

# 5. Ctrl+Z four times: knob, drag, transpose, typing.
xdotool windowfocus --sync "$main"
activate
keys ctrl+z ctrl+z ctrl+z ctrl+z
snap 6_undone
[[ $(caption) == *"]*" ]] || fail "undoing past the save left no mark: $(caption)"
e2e_save_as "$out/undone.qze"
[[ $(caption) != *"]*" ]] || fail "the mark stayed after saving: $(caption)"
everything "$out/undone.qze" >"$out/undone.txt"
diff "$out/demo.txt" "$out/undone.txt" || fail "after four undos the song differs from the demo"

# 6. Ctrl+Y four times gives the edited song back.
activate
keys ctrl+y ctrl+y ctrl+y ctrl+y
e2e_save_as "$out/redone.qze"
everything "$out/redone.qze" >"$out/redone.txt"
diff "$out/edited.txt" "$out/redone.txt" || fail "after four redos the song differs from the edited one"
e2e_quit
echo "ok: screenshots in $out"
