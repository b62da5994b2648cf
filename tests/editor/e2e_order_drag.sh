# Sourced by the end-to-end scripts: drags order entry 2 onto entry 1 with the
# mouse, in steps, as a hand does. $1 is a screenshot of the whole screen in
# which the grid's selected cell (entry 1) is the only thing drawn in the
# selection colour (the Fusion style's highlight); entry 2 is one column to
# its right. Calls fail when no selected cell is found.
drag_order_entry_left() {
    local highlight cell_w cy to_x from_x dx
    highlight=$(/usr/bin/convert "$1" -fill black +opaque 'srgb(48,140,198)' -format '%@' info:)
    [[ $highlight =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "no selected order cell found ($highlight)"
    cell_w=$((BASH_REMATCH[1] + 1))
    cy=$((BASH_REMATCH[4] + BASH_REMATCH[2] / 2))
    to_x=$((BASH_REMATCH[3] + BASH_REMATCH[1] / 2))
    from_x=$((to_x + cell_w))
    xdotool mousemove "$from_x" "$cy"
    sleep 0.3
    xdotool mousedown 1
    sleep 0.3
    for dx in 3 6 10 14 18 22 26 30; do
        xdotool mousemove $((from_x - dx)) "$cy"
        sleep 0.15
    done
    xdotool mousemove "$to_x" "$cy"
    sleep 0.4
    xdotool mouseup 1
    sleep 0.5
}
