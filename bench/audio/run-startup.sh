#!/usr/bin/env bash
# Start-up benchmark: a show with a 5-minute MP3 whose main prints at once,
# against the bare SDL window, alternately in one run. Makes the MP3 once (into
# the build's fixtures) and runs under its own virtual X server when there is
# no display.
# Usage: run-startup.sh <showplayer> <bare_window> <startup_bench> <fixture dir> [rounds]
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec "$(dirname "$0")/../../scripts/with-xvfb" "$0" "$@"
fi
player=$1 bare=$2 bench=$3 fixtures=$4 rounds=${5:-10}
music=$fixtures/long300.mp3
if [ ! -s "$music" ]; then
  mkdir -p "$fixtures"
  sox -n -r 44100 -b 16 -c 2 "$fixtures/long300.wav" synth 300 sine 200-2000 sine 440 gain -6
  lame --quiet -b 128 "$fixtures/long300.wav" "$music.part" && mv "$music.part" "$music"
  rm -f "$fixtures/long300.wav"
fi
show=$(mktemp -d)
trap 'rm -rf "$show"' EXIT
cp "$music" "$show/derure.mp3"
printf 'sub main { syswrite(STDOUT, "main\\n"); return 0; }\n1;\n' > "$show/main.pl"
"$bench" "$player" "$bare" "$show" "$rounds"
