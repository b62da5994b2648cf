# Shared steps of the end-to-end scripts that drive the editor in a real X
# server with xdotool. Source it, then call e2e_enter_xvfb "$0" "$@" first.

# Re-runs the calling script inside a fresh Xvfb; exits 77 (skipped) when the
# tools for it are missing.
e2e_enter_xvfb() {
    [ -n "${QV_E2E_INNER:-}" ] && return 0
    local tool
    for tool in xvfb-run xauth xdotool; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
    done
    QV_E2E_INNER=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$@"
}

# A clean output folder $out (screenshots, logs, saved files) with its own
# settings folder; the demo copied into it as demo.qze; the editor runs on xcb.
e2e_prepare() {
    out=$PWD/$1
    rm -rf "$out"
    mkdir -p "$out/config"
    cp "$2" "$out/demo.qze"
    export XDG_CONFIG_HOME=$out/config SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb
}

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

# Starts the editor on a module and waits for its window: $pid, $main.
e2e_start() {
    "$1" "$2" >"$out/qorvette.log" 2>&1 &
    pid=$!
    trap 'kill $pid 2>/dev/null || true' EXIT
    waitFor '[ -n "$(windowNamed "Qorvette v1.22")" ]'
    main=$(windowNamed "Qorvette v1.22")
    xdotool windowfocus --sync "$main"
    sleep 0.3
}

# Ctrl+S, the path typed into the save dialog; waits for the file and for the
# caption to name it.
e2e_save_as() {
    xdotool key ctrl+s
    waitFor '[ -n "$(windowNamed "Save module")" ]'
    sleep 0.3
    snap save_dialog
    xdotool type --delay 30 "$1"
    xdotool key Return
    waitFor "[ -s '$1' ]"
    waitFor "xdotool getwindowname \"\$main\" | grep -q '$(basename "$1")'"
}

# File > Close. A song without unsaved changes closes without a question;
# with $1 = "discard" the "Save changes to ...?" question is answered Discard.
# The editor must end with status 0.
e2e_quit() {
    # Without a window manager the focus does not return to the main window
    # by itself after a dialog.
    xdotool windowfocus --sync "$main"
    sleep 0.2
    xdotool key alt+f
    sleep 0.3
    xdotool key c
    if [ "${1:-}" = discard ]; then
        waitFor '[ -n "$(windowNamed "Exit confirm")" ]'
        snap exit_confirm
        xdotool key alt+d
    fi
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        [ -n "$(windowNamed "Exit confirm")" ] && fail "asked about unsaved changes on close"
        fail "the editor did not quit"
    fi
    wait "$pid" || fail "the editor quit with status $?"
    trap - EXIT
}
