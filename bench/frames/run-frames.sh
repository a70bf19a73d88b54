#!/usr/bin/env bash
# Frame benchmark of one effect: the show script in the player and the plain
# C++ program draw the same frames, alternately, three times each; the best
# rate of each side is compared, by wall clock and per CPU second (the CPU
# figure is the steadier one on a shared machine). Runs under its own virtual
# X server when there is no display.
# Usage: run-frames.sh <Effect> <showplayer> <frame_plain> <script.pl> <music.mp3>
# BENCH_OBJECTS and BENCH_FRAMES change the workload (200 objects, 100 frames).
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec "$(dirname "$0")/../../scripts/with-xvfb" "$0" "$@"
fi
effect=$1 player=$2 plain=$3 script=$4 music=$5
objects=${BENCH_OBJECTS:-200}
frames=${BENCH_FRAMES:-100}
export BENCH_OBJECTS=$objects BENCH_FRAMES=$frames SDL_AUDIODRIVER=dummy

show=$(mktemp -d)
trap 'rm -rf "$show"' EXIT
cp "$script" "$show/main.pl"
cp "$(dirname "$script")/FrameBench.pm" "$show/"
cp "$music" "$show/derure.mp3"

# Runs one side and sets wall and cpu from its result line. A loaded virtual
# X server now and then refuses a connection, so a run that gives no result
# is shown and tried again, twice at most, before it counts as 0.
measure() {
  local output attempt
  for attempt in 1 2 3; do
    output=$("$@" 2>&1) || true
    if read -r wall cpu < <(sed -n 's/.*: \([0-9.]*\) fps, \([0-9.]*\) frames per CPU second.*/\1 \2/p' <<<"$output"); then
      return
    fi
    echo "no result from $1 (attempt $attempt): $output" >&2
  done
  wall=0 cpu=0
}
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }
playerWall=0 playerCpu=0 plainWall=0 plainCpu=0
for round in 1 2 3; do
  measure "$plain" "$effect" "$objects" "$frames"
  plainWall=$(max "$plainWall" "$wall") plainCpu=$(max "$plainCpu" "$cpu")
  echo "round $round: plain  $wall fps, $cpu frames per CPU second"
  measure env -C "$show" "$player" -w
  playerWall=$(max "$playerWall" "$wall") playerCpu=$(max "$playerCpu" "$cpu")
  echo "round $round: player $wall fps, $cpu frames per CPU second"
done
awk -v e="$effect" -v o="$objects" -v f="$frames" -v pw="$playerWall" -v pc="$playerCpu" \
    -v qw="$plainWall" -v qc="$plainCpu" 'BEGIN {
  printf "%s frames (%d objects, %d frames): player %.1f fps / %.1f per CPU s, plain %.1f fps / %.1f per CPU s, " \
         "player/plain %.3f wall, %.3f CPU (goal >= 0.9)\n", e, o, f, pw, pc, qw, qc,
         (qw > 0 ? pw / qw : 0), (qc > 0 ? pc / qc : 0) }'
