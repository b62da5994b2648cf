#!/usr/bin/env bash
# Plays a song in the editor through a real sound server and compares what the
# server received with the off-line render: a PulseAudio null sink of its own,
# parec recording the sink's monitor, the editor under Xvfb playing with SDL's
# pulseaudio driver at the default buffers while page switches and window
# resizes keep it busy (run a parallel build beside it for machine load).
#
#   bash tools/live_record.sh QORVETTE_BINARY SONG [SECONDS]
#
# Reports the underruns the editor logged, the silent gaps inside the
# recording, and for how long the recording equals the off-line render sample
# for sample from the first sound on (the whole song, up to where the live
# playback loops). Exits 77 when pulseaudio, parec, xvfb-run or xdotool is
# missing; 1 when the recording has gaps.
set -euo pipefail
source "$(dirname "$(realpath "$0")")/editor_window.sh"

if [ -z "${QV_LIVE_INNER:-}" ]; then
    for tool in pulseaudio parec xvfb-run xauth xdotool python3; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
    done
    QV_LIVE_INNER=1 exec xvfb-run -a -s "-screen 0 1920x1200x24" bash "$0" "$@"
fi

binary=$(realpath "$1")
seconds=${3:-60}
work=$(mktemp -d)
cp "$2" "$work/song.qze"
pids=()
cleanup() {
    # QV_KEEP=folder keeps the recording, the render and the logs.
    [ -n "${QV_KEEP:-}" ] && cp -r "$work" "$QV_KEEP" || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# The off-line render (one pass of the song).
QT_QPA_PLATFORM=offscreen "$binary" -wav "$work/song.qze" >/dev/null

# A sound server of our own with one null sink at the stream's format, so
# nothing is resampled or mixed on the way.
mkdir -p "$work/pulse"
cat >"$work/pulse/default.pa" <<EOF
load-module module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1
load-module module-null-sink sink_name=rec rate=44100 channels=1 format=s16le
set-default-sink rec
EOF
export PULSE_SERVER=unix:$work/pulse/native PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/pulse
pulseaudio -n -F "$work/pulse/default.pa" --exit-idle-time=-1 --daemonize=no --disallow-exit \
    --use-pid-file=no --log-target=file:"$work/pulse/log" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/pulse/native" ] && break; sleep 0.1; done
[ -S "$work/pulse/native" ] || { echo "the sound server did not start"; exit 1; }

mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config SDL_AUDIODRIVER=pulseaudio QT_QPA_PLATFORM=xcb
"$binary" "$work/song.qze" >"$work/editor.log" 2>&1 &
editor=$!
pids+=($editor)
wait_for_editor "$work/editor.log"
xdotool windowfocus --sync "$main"
sleep 1

parec -d rec.monitor --format=s16le --rate=44100 --channels=1 --raw "$work/live.raw" &
pids+=($!)
sleep 0.5
xdotool key F5
end=$((SECONDS + seconds))
sizes=("1600 1000" "1200 800" "1900 1150" "1000 700")
n=0
while [ $SECONDS -lt $end ]; do
    # Page switches and resizes while the song plays.
    for key in F2 F3 F4 F1; do xdotool key "$key"; sleep 0.4; done
    xdotool windowsize "$main" ${sizes[$((n % 4))]} || true
    n=$((n + 1))
    sleep 0.4
done
xdotool windowsize --sync "$main" 1600 1000 || true
xdotool key Escape
sleep 0.5
kill "${pids[2]}"   # parec
wait "${pids[2]}" 2>/dev/null || true

grep -i "fell behind" "$work/editor.log" || echo "editor log: no underrun reported"
python3 - "$work/live.raw" "$work/song.wav" <<'PY'
import struct, sys
live = open(sys.argv[1], 'rb').read()
live = struct.unpack('<%dh' % (len(live) // 2), live[:len(live) // 2 * 2])
wav = open(sys.argv[2], 'rb').read()
data = wav.index(b'data') + 8
ref = struct.unpack('<%dh' % ((len(wav) - data) // 2), wav[data:data + (len(wav) - data) // 2 * 2])
first = lambda s: next(i for i, v in enumerate(s) if v != 0)
a, b = first(live), first(ref)
n = min(len(live) - a, len(ref) - b)
diff = next((i for i in range(n) if live[a + i] != ref[b + i]), None)
# Runs of 32 or more zero samples inside the recording where the render has sound.
gaps = 0
run = 0
for i in range(n):
    if live[a + i] == 0 and ref[b + i] != 0:
        run += 1
    else:
        if run >= 32: gaps += 1
        run = 0
print("recorded %.1f s, compared %.1f s from the first sound" % (len(live) / 44100, n / 44100))
print("silent gaps: %d" % gaps)
# The live song loops at its end, the render has the release tail there.
same = n if diff is None else diff
print("live recording equals the off-line render for %.3f s from the first sound" % (same / 44100))
sys.exit(1 if gaps else 0)
PY
