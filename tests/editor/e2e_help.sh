#!/usr/bin/env bash
# End-to-end run of the built-in help and the shipped data in a real X
# server: the editor starts with the AZERTY layout set, each page of the main
# window is photographed, instruments are loaded from a module through the
# Instrument menu and its file dialog, and the manual opens from the keyboard
# (Shift+F1, as this layout gives F1 to the Patterns page) and from the Help
# menu, on its Keys page with the layout's own keys.
#
#   e2e_help.sh QORVETTE MODULE_DUMP DEMO.qze [DOCS_IMAGES_FOLDER]
# With a fourth argument the page screenshots are also written there, scaled
# down, for the manual and the README. Exits 77 when Xvfb or xdotool is missing.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2 docs=${4:-}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
e2e_prepare e2e_help "$3"
cp "$3" "$out/bank.qze"
mkdir -p "$out/config/Nostrel"
printf '[General]\nKeyboardLayout=%s\n' "$source_dir/layouts/azerty.kbd" >"$out/config/Nostrel/Qorvette.conf"
e2e_start "$qorvette" "$out/demo.qze"

shot() { /usr/bin/import -window "$1" "$out/$2.png"; }

# The four pages, by their keys in this layout (F1-F4).
for page in "F2 instruments" "F3 information" "F4 editor" "F1 patterns"; do
    set -- $page
    xdotool key "$1"
    sleep 0.5
    shot "$main" "$2"
done

# Instrument > Load instruments from module...: the demo's six instruments
# go into the free slots 7-12 of the song.
xdotool key F2
sleep 0.3
xdotool key alt+i
sleep 0.3
xdotool key m
waitFor '[ -n "$(windowNamed "Load instruments from module")" ]'
sleep 0.3
xdotool type --delay 30 "$out/bank.qze"
xdotool key Return
sleep 0.8
xdotool windowfocus --sync "$main"
shot "$main" instruments_loaded

# The manual from the keyboard: Shift+F1 in this layout.
xdotool key F1
sleep 0.3
xdotool key shift+F1
waitFor '[ -n "$(windowNamed "Qorvette manual")" ]'
help=$(windowNamed "Qorvette manual")
sleep 0.5
shot "$help" manual_contents
# To the Keys page through the contents (the sixth link).
xdotool windowfocus --sync "$help"
for _ in $(seq 6); do xdotool key Tab; done
xdotool key Return
waitFor '[ -n "$(windowNamed "Qorvette manual - Keys")" ]'
sleep 0.5
shot "$help" manual_keys

# Esc closes the manual; the Help menu opens it again, on the page it showed.
xdotool key Escape
waitFor '[ -z "$(windowNamed "Qorvette manual")" ]'
xdotool windowfocus --sync "$main"
sleep 0.3
xdotool key alt+h
sleep 0.4
snap help_menu
xdotool key s
waitFor '[ -n "$(windowNamed "Qorvette manual - Keys")" ]'
sleep 0.3
shot "$(windowNamed "Qorvette manual")" manual_from_menu
xdotool windowfocus --sync "$main"
sleep 0.2

e2e_save_as "$out/loaded.qze"
e2e_quit

# The loaded instruments: 7-12 are the demo's 1-6.
"$dump" "$out/demo.qze" i1 i2 i3 i4 i5 i6 | sed 's/^instrument [0-9]*/instrument/' >"$out/source.txt"
"$dump" "$out/loaded.qze" i7 i8 i9 i10 i11 i12 | sed 's/^instrument [0-9]*/instrument/' >"$out/taken.txt"
diff "$out/source.txt" "$out/taken.txt" || fail "instruments 7-12 are not the module's 1-6"
grep -q '^instrument' "$out/taken.txt" || fail "no instruments dumped"

if [ -n "$docs" ]; then
    mkdir -p "$docs"
    for name in patterns instruments information editor manual_keys; do
        convert "$out/$name.png" -resize '760x>' -colors 96 "PNG8:$docs/$name.png"
    done
    echo "docs pictures written to $docs"
fi
echo "ok: screenshots in $out"
