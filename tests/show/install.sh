#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` lays out the player and the bundled show
# (P/bin/showplayer, P/share/showplayer/show with its music, pictures and 3DS
# scene, and nothing of the build's own files), and the installed show plays
# from its folder: keys.sh drives it there.
#
#   install.sh BUILD_DIR KEYS_SCRIPT
set -uo pipefail
build=$1
keys=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install failed"; exit 1; }
show=$prefix/share/showplayer/show
expected=$(printf '%s\n' bin/showplayer share/showplayer/show/derure.mp3 share/showplayer/show/main.pl \
    share/showplayer/show/models/room.3ds \
    share/showplayer/show/images/{ball,card,credits,panel,tiles,title}.png | sort)
installed=$(cd "$prefix" && find . -type f | sed 's#^\./##' | sort)
if [ "$installed" != "$expected" ]; then
    echo "FAIL: installed files differ from the layout:"
    diff <(echo "$expected") <(echo "$installed")
    exit 1
fi
[ -x "$prefix/bin/showplayer" ] || { echo "FAIL: bin/showplayer is not executable"; exit 1; }
bash "$keys" "$prefix/bin/showplayer" "$show"
