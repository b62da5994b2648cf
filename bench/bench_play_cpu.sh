#!/usr/bin/env bash
# Process CPU of the editor while the demo song plays: a 1600x1000 window in
# Xvfb, SDL's dummy audio driver, F5 (play the song), then the process's and
# each thread's user + system time from /proc over a measuring window.
#
#   bash bench/bench_play_cpu.sh QORVETTE_BINARY SONG [SECONDS]
#
# Prints one line per thread that used time and a closing line
#   play_cpu: N.N % of one core over S s
# in the form of a benchmark result. Exits 77 (skipped) without xvfb-run or
# xdotool.
set -euo pipefail
source "$(dirname "$(realpath "$0")")/../tools/editor_window.sh"

if [ -z "${QV_BENCH_INNER:-}" ]; then
    for tool in xvfb-run xauth xdotool; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
    done
    QV_BENCH_INNER=1 exec xvfb-run -a -s "-screen 0 1920x1200x24" bash "$0" "$@"
fi

binary=$(realpath "$1")
song=$(realpath "$2")
seconds=${3:-10}
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb

"$binary" "$song" >"$work/log" 2>&1 &
pid=$!
wait_for_editor "$work/log"
xdotool windowmove "$main" 0 0 || true
xdotool windowfocus --sync "$main"
sleep 1
xdotool key F5
sleep 2

ticks=$(getconf CLK_TCK)
# user + system ticks of a /proc stat file (the name may hold spaces).
cpu() { sed 's/^.*) //' "$1" | awk '{print $12 + $13}'; }
declare -A before names
for t in /proc/$pid/task/*; do
    id=${t##*/}
    before[$id]=$(cpu "$t/stat")
    names[$id]=$(cat "$t/comm")
done
total0=$(cpu /proc/$pid/stat)
start=$(date +%s.%N)
sleep "$seconds"
total1=$(cpu /proc/$pid/stat)
end=$(date +%s.%N)
for t in /proc/$pid/task/*; do
    id=${t##*/}
    [ -n "${before[$id]:-}" ] || continue
    used=$(( $(cpu "$t/stat") - before[$id] ))
    [ "$used" -gt 0 ] && awk -v n="${names[$id]}" -v u="$used" -v hz="$ticks" -v s="$(echo "$end - $start" | bc)" \
        'BEGIN { printf "thread %-16s %6.2f %%\n", n, 100 * u / hz / s }'
done
kill -0 "$pid" 2>/dev/null || { echo "the editor ended early"; cat "$work/log"; exit 1; }
awk -v u="$((total1 - total0))" -v hz="$ticks" -v s="$(echo "$end - $start" | bc)" \
    'BEGIN { printf "play_cpu: %.1f %% of one core over %.1f s\n", 100 * u / hz / s, s }'
kill "$pid"
