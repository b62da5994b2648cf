#!/usr/bin/env bash
# Manual end-to-end check of the editor window under Xvfb (not run by CTest):
# opens the demo song, starts playback with F5 and takes two screenshots.
#   xvfb-run -a -s "-screen 0 1024x768x24" bash tests/editor/e2e_main_window.sh [build dir]
set -euo pipefail
build=${1:-build}
out=${OUT:-/tmp}
export XDG_CONFIG_HOME=$(mktemp -d) SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
"$build/qorvette" examples/demo.qze &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name 'Qorvette v1.22' | head -1 || true)
    [ -n "$id" ] && break
    sleep 0.2
done
[ -n "${id:-}" ] || { echo "no window"; exit 1; }
xdotool getwindowname "$id" | grep -q 'demo.qze' || { echo "caption lacks the module name"; exit 1; }
import -window "$id" "$out/qorvette_idle.png"
xdotool mousemove --window "$id" 300 450 click 1
sleep 0.3
xdotool key F5
sleep 2
import -window "$id" "$out/qorvette_playing.png"
kill -0 $pid || { echo "editor died"; exit 1; }
echo "ok: $out/qorvette_idle.png $out/qorvette_playing.png"
