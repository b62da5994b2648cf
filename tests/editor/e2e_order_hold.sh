#!/usr/bin/env bash
# End-to-end check that the order list's commands act once per key press in a
# real X server, where a held key auto-repeats: open the demo song, focus the
# order list (F1, Ctrl+Up), hold Delete for a second, then hold Insert for a
# second, save and quit. Exactly one entry must have gone and one come back:
# the first entry is deleted and the new first one inserted again.
#
#   e2e_order_hold.sh QORVETTE MODULE_DUMP DEMO.qze
# Exits 77 (skipped) when there is no Xvfb or xdotool.
set -euo pipefail
source "$(dirname "$0")/e2e_lib.sh"
e2e_enter_xvfb "$0" "$@"

qorvette=$1 dump=$2
e2e_prepare e2e_order_hold "$3"
# The server must repeat held keys, or the test proves nothing.
xset r on 2>/dev/null || true
e2e_start "$qorvette" "$out/demo.qze"

xdotool key F1 ctrl+Up
sleep 0.3
snap 1_order_focused
hold() {
    xdotool keydown "$1"
    sleep 1
    xdotool keyup "$1"
    sleep 0.3
}
hold Delete
snap 2_after_delete
hold Insert
snap 3_after_insert

e2e_save_as "$out/mine.qze"
e2e_quit

# "order 8 loop 1: 0 1 2 ..." -> the entries after the colon.
entries() { "$dump" "$1" | head -1 | sed 's/.*: //'; }
read -r -a before <<<"$(entries "$out/demo.qze")"
expected="${before[1]} ${before[*]:1}"
after=$(entries "$out/mine.qze")
[ "$after" = "$expected" ] || fail "order list '$after', expected '$expected' (before: '${before[*]}')"
echo "ok: screenshots in $out"
