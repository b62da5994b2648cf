# Sourced by the scripts that drive the editor in Xvfb.
# wait_for_editor LOG: waits up to 15 s for the editor's main window and sets
# main to its id; prints LOG and exits 1 when it does not appear.
wait_for_editor() {
    main=
    for _ in $(seq 150); do
        main=$(xdotool search --onlyvisible --name "Qorvette v1.22" 2>/dev/null | head -1 || true)
        [ -n "$main" ] && break
        sleep 0.1
    done
    [ -n "$main" ] || { echo "the editor window did not appear"; cat "$1"; exit 1; }
    xdotool windowsize --sync "$main" 1600 1000 || true
}
