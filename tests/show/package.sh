#!/usr/bin/env bash
# The Debian package that cpack makes from the build (package/CMakeLists.txt):
# unpacked with dpkg-deb into a scratch folder, it holds the player, its
# recording module, the bundled show, the manual page and the documents and
# nothing else; its control fields name the version the player reports and
# the runtime packages; its manual page renders without a warning; and the
# unpacked player plays the unpacked show, finding the show and its recording
# module along their installed relative paths.
#
#   package.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# dpkg-shlibdeps must see the system's libraries, not a library the suite
# put first on the search path (sdl12-compat) or preloads.
(cd "$build" && env -u LD_LIBRARY_PATH -u LD_PRELOAD cpack -G DEB) >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
version=$("$build/showplayer" --version) || fail "showplayer --version failed"
version=${version#showplayer }
arch=$(dpkg --print-architecture)
deb=$build/showplayer_${version}_${arch}.deb
[ -f "$deb" ] || fail "cpack made no $deb"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
show=usr/share/showplayer/show
expected=$(printf '%s\n' usr/bin/showplayer usr/lib/showplayer/showplayer-record.so \
    usr/share/doc/showplayer/{README.md.gz,changelog.gz,copyright} usr/share/man/man1/showplayer.1.gz \
    $show/{derure.mp3,main.pl,models/room.3ds,sync_room-3A{flash,xoff,yoff}.track} $show/images/{ball,card,credits,panel,tiles,title}.png | sort)
packed=$(cd "$root" && find . -type f | sed 's#^\./##' | sort)
[ "$packed" = "$expected" ] || { diff <(echo "$expected") <(echo "$packed"); fail "the package's files differ from the layout"; }
readelf -d "$root/usr/bin/showplayer" "$root/usr/lib/showplayer/showplayer-record.so" | grep -E 'RPATH|RUNPATH' &&
    fail "a packaged binary keeps a search path"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = showplayer ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), the player says $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g')
for wanted in libsdl1.2debian libsdl-image1.2 'libperl5\.[0-9]+' libmpg123-0 libpulse0 lib3ds-1-3 \
    fonts-dejavu-core libgl1-mesa-dri libegl-mesa0; do
    grep -qxE "$wanted" <<<"$depends" || fail "Depends names no $wanted: $(field Depends)"
done
grep -E -- '-dev$|^(gcc|g\+\+|cmake|build-essential)' <<<"$depends" && fail "Depends names a build tool or headers"
zcat "$root/usr/share/doc/showplayer/changelog.gz" | head -n 1 | grep -qF "showplayer ($version) " ||
    fail "the changelog's last entry is not $version"

page=$root/usr/share/man/man1/showplayer.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l --warnings "$page" 2>&1 >"$work/page.txt")
[ -z "$warnings" ] || fail "man -l warns: $warnings"
grep -q '^SHOWPLAYER(1)' "$work/page.txt" && grep -q "showplayer $version" "$work/page.txt" &&
    grep -q -- '--record FILE' "$work/page.txt" || fail "the manual page lacks its title, version or options"

player=$root/usr/bin/showplayer
"$player" --help | grep -qxF "The bundled show is in $root/$show; run showplayer there." ||
    fail "--help from the package does not point to the unpacked show"

# A recording: the module comes from usr/lib/showplayer, nowhere else.
(cd "$root/$show" && env -u DISPLAY "$player" -x 160 --record "$work/moment.mkv" --fps 10 --duration 0.5) \
    >/dev/null 2>"$work/record.err" || { cat "$work/record.err"; fail "the packaged player cannot record"; }
frames=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/moment.mkv")
[ "$frames" = 5 ] || fail "the packaged player recorded $frames frames instead of 5"

# Played on the suite's display: its first line comes, and it still plays a
# second later, with nothing on standard error.
(cd "$root/$show" && exec "$player" -w -x 320) >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 200); do
    grep -q '^derure:' "$work/out" || ! kill -0 "$pid" 2>/dev/null && break
    sleep 0.05
done
grep -q '^derure:' "$work/out" || { cat "$work/out" "$work/err"; fail "the packaged show did not start"; }
sleep 1
kill -0 "$pid" 2>/dev/null || { cat "$work/out" "$work/err"; fail "the packaged show ended early"; }
kill "$pid"
wait "$pid" 2>/dev/null
pid=
[ ! -s "$work/err" ] || { cat "$work/err"; fail "the packaged show wrote to standard error"; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
