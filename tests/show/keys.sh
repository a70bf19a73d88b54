#!/usr/bin/env bash
# The bundled show in the real player, driven by real key presses on the
# suite's X display:
#   1. it runs (main.pl compiled and its frame loop is going), a held Right key
#      seeks once rather than on every frame, Right presses jump forward 5 s
#      each until the music is over, and the show then ends by itself with
#      status 0; standard error stays empty: no Perl warning, no die;
#   2. with a music clock that stands still (SDL's disk driver sleeping 3 s
#      per buffer) the show says so and goes on by the wall clock: the frame,
#      all black at show time 0, lights up as the plasma fades in; Escape
#      ends it with status 0.
#
#   keys.sh PLAYER SHOWDIR
set -uo pipefail
player=$1
showdir=$2
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The player's visible window, once the show has printed its first line
# (after its window is up). The log is watched first because an X server
# started without -noreset (plain xvfb-run) resets whenever its last client
# leaves, and a query that came and went while the player was connecting
# could make the player's connection fail. Then the window is polled, as
# xdotool's --sync wait gives up when it meets a window that SDL has just
# destroyed.
find_window() {
    local wid= tries=300
    while ! grep -q '^derure:' "$work/out" 2>/dev/null && [ $tries -gt 0 ] && kill -0 "$1" 2>/dev/null; do
        sleep 0.05
        tries=$((tries - 1))
    done
    tries=100
    while [ -z "$wid" ] && [ $tries -gt 0 ] && kill -0 "$1" 2>/dev/null; do
        wid=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1)
        [ -n "$wid" ] || sleep 0.1
        tries=$((tries - 1))
    done
    echo "$wid"
}

# Starts the show windowed, waits for its window and gives it the focus.
# Such a server can also refuse the player while it resets after the last
# run ("SDL is GORT!" before any window); that start is tried once more.
start_show() {
    local attempt
    for attempt in 1 2; do
        (cd "$showdir" && SDL_AUDIODRIVER=dummy exec env "$@" "$player" -w >"$work/out" 2>"$work/err") &
        pid=$!
        wid=$(find_window "$pid")
        [ -n "$wid" ] && break
        wait "$pid"
        local code=$?
        pid=
        if [ $attempt = 1 ] && [ $code = 1 ] && grep -q '^SDL is GORT!' "$work/out"; then
            echo "note: the X server refused the player's connection; starting it again"
            continue
        fi
        echo "FAIL: no window (player status $code); stdout:"; cat "$work/out"; echo "stderr:"; cat "$work/err"
        exit 1
    done
    xdotool windowfocus --sync "$wid"
}

# A key press held long enough for a frame to see it.
press() { xdotool keydown "$1"; sleep "${2:-0.25}"; xdotool keyup "$1"; }

running() { kill -0 "$pid" 2>/dev/null; }

# Waits up to $1 seconds for the player to end; sets $status.
wait_end() {
    local deadline=$((SECONDS + $1))
    while running && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if running; then
        status=timeout
        kill "$pid"
    fi
    wait "$pid" 2>/dev/null
    local code=$?
    pid=
    [ "$status" = timeout ] || status=$code
}

check_output() {
    grep -q '^derure: 74 s at 120 BPM in a 800x600 window' "$work/out" || fail "$1: no start line from main.pl: $(cat "$work/out")"
    [ ! -s "$work/err" ] || fail "$1: standard error is not empty: $(cat "$work/err")"
}

# --- 1. runs, one seek per press, Right all the way to the end of the music
status=
start_show
sleep 0.5
running || fail "the show ended on its own within 0.5 s"
# Held for a second: one jump of 5 s. A seek on every frame would run past the
# end of the music and end the show.
press Right 1
sleep 0.5
running || fail "holding Right ended the show (a seek on every frame?)"
# Then 65 s forward: Right until the show ends, thirteen presses when none is
# lost (on a busy machine a frame can outlast a press, which is then lost).
# Forty take 16 s at most, far less than the music would take.
for i in $(seq 40); do running || break; press Right 0.2; sleep 0.15; done
wait_end 8
[ "$status" = 0 ] || fail "end of music: status $status, expected 0 (did Right seek, did the show end?)"
check_output "end of music"

# --- 2. a frozen music clock: the wall clock takes over; Escape ends the show
status=
start_show SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null SDL_DISKAUDIODELAY=3000
sleep 2.5
timeout 10 import-im6.q16 -window "$wid" "$work/frame.png"
brightness=$(convert-im6.q16 "$work/frame.png" -colorspace Gray -format '%[fx:mean]' info:)
echo "frame brightness after 2.5 s on a frozen music clock: $brightness"
awk -v b="$brightness" 'BEGIN { exit !(b > 0.03) }' || fail "frozen clock: the frame is still dark: the show did not move on"
press Escape
wait_end 10
[ "$status" = 0 ] || fail "frozen clock: status $status, expected 0"
# (The player hands a device that stopped calling over to the wall clock
# itself, and says so; the show's own fallback covers a clock frozen otherwise.)
grep -qE 'main.pl: the music clock stands still at .* ms; following the wall clock|music: sound lost' "$work/err" ||
    fail "frozen clock: no word of it on standard error: $(cat "$work/err")"

[ $failures -eq 0 ] && echo "PASS" || exit 1
