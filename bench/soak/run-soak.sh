#!/usr/bin/env bash
# Soak bench: runs the player on a show for a long time under Xvfb and reports
# its resident memory after the first pass and at the end (goal: growth of at
# most 1 MB), then runs a script that makes a new Image every frame for a
# minute and reports the growth per object.
#   run-soak.sh PLAYER MAKE3DS FIXTURE_DIR [SOAK_SECONDS] [NEWIMAGE_SECONDS]
# VALGRIND=1 runs the all-effects show briefly under valgrind memcheck instead.
# SHOW=folder soaks that show (the bundled one: SHOW=build/show) instead of the
# all-effects script, looping it pass after pass through show-loop.pl.
set -euo pipefail
player=$1 make3ds=$2 fixtures=$3
seconds=${4:-600} newimage_seconds=${5:-60}
here=$(cd "$(dirname "$0")" && pwd)
show=$(mktemp -d /tmp/soak.XXXXXX)
trap 'rm -rf "$show"' EXIT
mkdir -p "$show/models" "$show/images"
cp "$fixtures/tone.mp3" "$show/derure.mp3"
convert-im6.q16 -size 64x64 gradient:yellow-blue PNG32:"$show/images/ball.png"
convert-im6.q16 -size 128x96 gradient:white-red PNG32:"$show/images/card.png"
"$make3ds" "$here/room.txt" "$show/models/soak.3ds"
cp "$here/allfx.pl" "$show/main.pl"
if [ -n "${SHOW:-}" ]; then
  cp -r "$SHOW"/. "$show"/
  cp "$SHOW/main.pl" "$show/show.pl"
  cp "$here/show-loop.pl" "$show/main.pl"
fi
cd "$show"
export SDL_AUDIODRIVER=dummy
xvfb=("$here/../../scripts/with-xvfb")

if [ "${VALGRIND:-0}" = 1 ]; then
  SOAK_SECONDS=${seconds} "${xvfb[@]}" valgrind --tool=memcheck --leak-check=full --error-limit=no --num-callers=30 \
    --suppressions="$here/valgrind.supp" --log-file="$show/valgrind.log" "$player" -w -x 640 || true
  cp "$show/valgrind.log" /tmp/soak-valgrind.log
  grep -E "ERROR SUMMARY|Invalid (read|write)|definitely lost|indirectly lost" /tmp/soak-valgrind.log | head -40
  echo "full log: /tmp/soak-valgrind.log"
  exit 0
fi

echo "== ${SHOW:-all effects}, objects made once, ${seconds} s"
SOAK_SECONDS=$seconds "${xvfb[@]}" "$player" -w -x 640 | tee "$show/soak.log"
# Resident memory swings by about a megabyte from pass to pass (allocator
# and driver buffers); the lowest and highest of the last five passes show
# whether it also climbs.
awk '/^pass /{rss[++n] = $(NF-1)}
     END {
       lo = hi = rss[n]
       for (i = n - 4; i <= n; ++i) if (i > 0) { if (rss[i] < lo) lo = rss[i]; if (rss[i] > hi) hi = rss[i] }
       printf "rss after the first pass: %d kB; at the end: %d kB; growth: %d kB (goal <= 1024 kB)\n",
              rss[1], rss[n], rss[n] - rss[1]
       printf "last five passes: %d..%d kB, growth of their lowest over the first pass: %d kB\n",
              lo, hi, lo - rss[1]
     }' "$show/soak.log"

echo "== a new Image every frame, ${newimage_seconds} s"
cp "$here/newimage.pl" main.pl
SOAK_SECONDS=$newimage_seconds "${xvfb[@]}" "$player" -w -x 640
