#!/usr/bin/env bash
# scripts/check-arrows on small trees, each with one planted include: it must
# fail on (and name) every include across a forbidden arrow, and pass the
# allowed ones, headers from outside the project and a folder's own headers.
#
#   planted.sh CHECK_ARROWS
set -uo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# file in the tree | its include line | verdict
cases=(
  'render/Texture.h|#include "effects/Image.h"|fail'
  'render/Picture.cpp|#include "audio/Music.h"|fail'
  'audio/Music.cpp|#include "host/Stages.h"|fail'
  'audio/Clock.h|  #  include <render/Texture.h>|fail'
  'effects/model/Scene.cpp|#include "bindings/Perl.h"|fail'
  'effects/Model.cpp|#include "audio/Music.h"|fail'
  'bindings/Glue.h|#include "host/ScriptHost.h"|fail'
  'render/Texture.cpp|#include "tests/support/GlWindow.h"|fail'
  'host/Video.cpp|#include "record/Offscreen.h"|fail'
  'watch/Watch.cpp|#include "record/Recording.h"|fail'
  'record/Recording.cpp|#include "app/Main.h"|fail'
  'sync/Track.cpp|#include "audio/Clock.h"|fail'
  'host/Sound.cpp|#include <libavcodec/avcodec.h>|fail'
  'render/Picture.cpp|#include <EGL/egl.h>|fail'
  'host/Options.cpp|#include <sys/inotify.h>|fail'
  'app/main.cpp|#include "watch/Watch.h"|pass'
  'record/Recorder.cpp|#include <libavformat/avformat.h>|pass'
  'watch/Watcher.cpp|#include <sys/inotify.h>|pass'
  'bindings/SyncGlue.cpp|#include "sync/Tracks.h"|pass'
  'host/main.cpp|#include "audio/Music.h"|pass'
  'host/Video.cpp|#include "render/Renderer.h"|pass'
  'bindings/OpenGLGlue.cpp|#include "audio/Music.h"|pass'
  'bindings/ImageGlue.cpp|#include "effects/Image.h"|pass'
  'effects/model/Cache.h|#include "render/Texture.h"|pass'
  'render/Texture.cpp|#include "render/Picture.h"|pass'
  'render/Texture.cpp|#include <GL/gl.h>|pass'
  'audio/Decoder.cpp|#include "mpg123.h"|pass'
)

for row in "${cases[@]}"; do
  IFS='|' read -r file include verdict <<<"$row"
  tree=$work/tree
  rm -rf "$tree"
  mkdir -p "$tree"/{app,host,record,watch,sync,bindings,effects,render,audio,tests,tools}
  mkdir -p "$tree/$(dirname "$file")"
  printf '// planted\n%s\n' "$include" >"$tree/$file"
  output=$("$check" "$tree" 2>&1)
  status=$?
  if [ "$verdict" = fail ]; then
    if [ $status -eq 0 ]; then
      echo "FAIL: $file with '$include' passed"; failures=$((failures + 1))
    elif ! grep -q "^$file:2: " <<<"$output"; then
      echo "FAIL: $file with '$include' failed without naming the line: $output"; failures=$((failures + 1))
    fi
  elif [ $status -ne 0 ]; then
    echo "FAIL: $file with '$include' was refused: $output"; failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo "PASS (${#cases[@]} planted includes)" || exit 1
