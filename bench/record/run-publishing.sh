#!/usr/bin/env bash
# Recording for publishing: the bundled show recorded through the real player
# at 800x600 and at 1440x1080, 60 fps, for a few seconds of the show, with the
# default settings, --supersample 2, --motion-blur 8, --preset medium --crf 18,
# a .mov master and a PNG sequence. Prints the frames per second and the CPU
# time per frame (the steadier figure on a shared machine) of each, and
# how well the default recording at 1440x1080 spreads over the cores: (user +
# system CPU time of the whole process) / (wall time x cores), for a whole
# run and, the goal >= 0.9, while recording.
# Usage: run-publishing.sh <showplayer> <show folder> <output folder> [seconds]
set -euo pipefail
player=$(realpath "$1") show=$2 out=$(realpath -m "$3") seconds=${4:-3}
fps=60
frames=$((seconds * fps))
cores=$(nproc)
mkdir -p "$out/png"
cd "$show"

TIMEFORMAT='%R %U %S'
for size in 800 1440; do
    height=$((size * 3 / 4))
    while IFS='|' read -r label file options; do
        rm -f "$out"/png/*
        # shellcheck disable=SC2086
        times=$( { time "$player" -x "$size" --fps "$fps" --duration "$seconds" $options --record "$out/$file" \
                   >/dev/null 2>&1; } 2>&1 )
        read -r wall user sys <<<"$times"
        awk -v l="$label" -v s="${size}x$height" -v f="$frames" -v w="$wall" -v u="$user" -v y="$sys" \
            'BEGIN { printf "recording %s %s: %.1f fps, %.0f ms CPU per frame\n", s, l, f / w, (u + y) * 1000 / f }'
        if [ "$size" = 1440 ] && [ "$label" = default ]; then
            awk -v w="$wall" -v u="$user" -v y="$sys" -v c="$cores" -v s="$seconds" \
                'BEGIN { printf "recording 1440x1080 CPU spread of a whole %d s run, start and end included: %.2f\n", s, (u + y) / (w * c) }'
            # While recording: a run three times as long, less this one, so
            # that the start (Perl, the renderer, the encoders loading) and
            # the end count out.
            times=$( { time "$player" -x "$size" --fps "$fps" --duration $((seconds * 3)) --record "$out/$file" \
                       >/dev/null 2>&1; } 2>&1 )
            read -r wall3 user3 sys3 <<<"$times"
            awk -v w="$wall" -v u="$user" -v y="$sys" -v w3="$wall3" -v u3="$user3" -v y3="$sys3" -v c="$cores" \
                'BEGIN { printf "recording 1440x1080 CPU spread while recording, (user + system) / (wall x %d cores): %.2f (goal >= 0.9)\n", c, (u3 + y3 - u - y) / ((w3 - w) * c) }'
        fi
    done <<'RUNS'
default|show.mp4|
--supersample 2|show.mp4|--supersample 2
--motion-blur 8|show.mp4|--motion-blur 8
--preset medium --crf 18|show.mp4|--preset medium --crf 18
.mov|show.mov|
PNG sequence|png/f-%05d.png|
RUNS
done
