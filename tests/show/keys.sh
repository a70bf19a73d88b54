#!/usr/bin/env bash
# The bundled show in the real player, driven by real key presses on the
# suite's X display:
#   1. it runs (main.pl compiled and its frame loop is going), a held Right key
#      seeks once rather than on every frame, and Escape ends it with status 0;
#   2. Right presses jump forward 5 s each until the music is over, and the
#      show then ends by itself with status 0.
# Either way standard error stays empty: no Perl warning, no die.
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

# The player's visible window, polled for up to 15 s. (xdotool's own --sync
# wait gives up with an X error when it meets a window that SDL has just
# destroyed, which happens while the player looks for a usable video mode.)
find_window() {
    local wid= tries=150
    while [ -z "$wid" ] && [ $tries -gt 0 ] && kill -0 "$1" 2>/dev/null; do
        wid=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1)
        [ -n "$wid" ] || sleep 0.1
        tries=$((tries - 1))
    done
    echo "$wid"
}

# Starts the show windowed, waits for its window and gives it the focus.
start_show() {
    (cd "$showdir" && SDL_AUDIODRIVER=dummy exec "$player" -w >"$work/out" 2>"$work/err") &
    pid=$!
    wid=$(find_window "$pid")
    if [ -z "$wid" ]; then
        wait "$pid"
        echo "FAIL: no window (player status $?); stdout:"; cat "$work/out"; echo "stderr:"; cat "$work/err"
        exit 1
    fi
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

# --- 1. runs, one seek per press, Escape ends it
status=
start_show
sleep 1.5
running || fail "escape: the show ended on its own within 1.5 s"
# Held for a second: one jump of 5 s. A seek on every frame would run past the
# end of the music and end the show.
press Right 1
sleep 1
running || fail "escape: holding Right ended the show (a seek on every frame?)"
press Escape
wait_end 10
[ "$status" = 0 ] || fail "escape: status $status, expected 0"
check_output escape

# --- 2. Right all the way to the end of the music
status=
start_show
sleep 1
# 70 s forward in one xdotool run: fourteen presses of 0.15 s each.
xdotool $(for i in $(seq 14); do echo keydown Right sleep 0.15 keyup Right sleep 0.05; done)
wait_end 8
[ "$status" = 0 ] || fail "end of music: status $status, expected 0 (did Right seek, did the show end?)"
check_output "end of music"

[ $failures -eq 0 ] && echo "PASS" || exit 1
