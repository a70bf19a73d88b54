#!/usr/bin/env bash
# scripts/demo on a machine without a display: it plays part of the show under
# its own Xvfb, prints the paths of its screenshots, and every screenshot shows
# a drawn frame: many colours, not one flat fill. The scenes differ, so no two
# screenshots are the same picture.
#
#   demo.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1
build_dir=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT

env -u DISPLAY DEMO_SKIP_SETUP=1 SHOWPLAYER_BUILD_DIR="$build_dir" "$source_dir/scripts/demo" >"$out" 2>&1
status=$?
cat "$out"
[ $status -eq 0 ] || { echo "FAIL: scripts/demo ended with status $status"; exit 1; }

mapfile -t shots < <(grep -E '^ +/.*\.png$' "$out" | sed 's/^ *//')
[ ${#shots[@]} -ge 4 ] || { echo "FAIL: expected at least 4 screenshot paths, got ${#shots[@]}"; exit 1; }

failures=0
declare -A seen
for shot in "${shots[@]}"; do
    case "$shot" in "$build_dir"/demo-shots/*) ;; *) echo "FAIL: $shot is not in $build_dir/demo-shots"; failures=$((failures + 1)) ;; esac
    if [ ! -s "$shot" ]; then
        echo "FAIL: $shot is missing"; failures=$((failures + 1)); continue
    fi
    read -r width height colours spread < <(convert-im6.q16 "$shot" -format '%w %h %k %[fx:standard_deviation]\n' info:)
    echo "$shot: ${width}x$height, $colours colours, spread $spread"
    [ "$width" = 800 ] && [ "$height" = 600 ] || { echo "FAIL: $shot is not 800x600"; failures=$((failures + 1)); }
    [ "$colours" -ge 200 ] || { echo "FAIL: $shot has only $colours colours: a blank frame"; failures=$((failures + 1)); }
    awk -v s="$spread" 'BEGIN { exit !(s >= 0.02) }' || { echo "FAIL: $shot is nearly flat (spread $spread)"; failures=$((failures + 1)); }
    sum=$(convert-im6.q16 "$shot" rgba:- | md5sum | cut -d' ' -f1)
    [ -z "${seen[$sum]:-}" ] || { echo "FAIL: $shot is the same picture as ${seen[$sum]}"; failures=$((failures + 1)); }
    seen[$sum]=$shot
done
[ $failures -eq 0 ] && echo "PASS" || exit 1
