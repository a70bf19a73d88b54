#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` lays out the player and the bundled show
# (P/bin/showplayer, P/share/showplayer/show with its music, pictures, 3DS
# scene and sync tracks, P/lib/showplayer with the recording module, the manual
# page and the documents under P/share/man and P/share/doc, and nothing of the
# build's own files), and the installed show plays from its folder: it records
# a moment of itself, and keys.sh drives it there.
#
#   install.sh BUILD_DIR KEYS_SCRIPT
set -uo pipefail
build=$1
keys=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install failed"; exit 1; }
show=$prefix/share/showplayer/show
expected=$(printf '%s\n' bin/showplayer lib/showplayer/showplayer-record.so share/showplayer/show/derure.mp3 share/showplayer/show/main.pl \
    share/man/man1/showplayer.1.gz share/doc/showplayer/{README.md.gz,changelog.gz,copyright} \
    share/showplayer/show/models/room.3ds share/showplayer/show/sync_room-3A{flash,xoff,yoff}.track \
    share/showplayer/show/images/{ball,card,credits,panel,tiles,title}.png | sort)
installed=$(cd "$prefix" && find . -type f | sed 's#^\./##' | sort)
if [ "$installed" != "$expected" ]; then
    echo "FAIL: installed files differ from the layout:"
    diff <(echo "$expected") <(echo "$installed")
    exit 1
fi
[ -x "$prefix/bin/showplayer" ] || { echo "FAIL: bin/showplayer is not executable"; exit 1; }
(cd "$show" && env -u DISPLAY "$prefix/bin/showplayer" -x 160 --record "$prefix/moment.mkv" --fps 10 --duration 0.5) \
    >/dev/null 2>"$prefix/record.err" || { echo "FAIL: the installed player cannot record:"; cat "$prefix/record.err"; exit 1; }
frames=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$prefix/moment.mkv")
[ "$frames" = 5 ] || { echo "FAIL: the installed player recorded $frames frames instead of 5"; exit 1; }
bash "$keys" "$prefix/bin/showplayer" "$show"
