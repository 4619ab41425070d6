#!/usr/bin/env bash
# Runs every benchmark against the build in build/ and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin

echo "== page rendering: libravel.so against mutool draw"
"$bin/bench-render-pages" "$@"

echo "== page image: painting and decoding against Qt"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-page-image"

echo "== crop tool: the update against cp, the whole rewrite against a plain qpdf rewrite, a split against the plain update"
"$bin/bench-crop-tool"

echo "== showing pages: ShowPage against the bare render"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-show-page"

echo "== shrink: ShrinkToContent against one pass over the rectangle"
"$bin/bench-shrink"

echo "== the event loop during a crop run against an idle one"
"$bin/bench-crop-run"

echo "== thumbnails: the first screen against mutool draw, and the event loop while the strip fills"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-thumbnails"

echo "== page turns of a scanned book: pages rendered ahead against rendered when asked for"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-page-turn"

echo "== whole-document crop: orvane --auto-crop against single-threaded mutool draw -F pgm of the same pages"
"$bin/bench-auto-crop"
"$bin/bench-auto-crop" --plain
"$bin/bench-auto-crop" --pages 200 --scanned --rounds 2

echo "== scanned books: --deskew against mutool draw, pictures cut against the plain crop and mutool clean"
"$bin/bench-scans"

echo "== page trees: orvane --auto-crop of flat trees of 1,000, 5,000 and 20,000 pages"
"$bin/bench-page-tree"

echo "== Shrink All Pages in the open document against the same mutool draw"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-shrink-all"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/bench-shrink-all" --pages 100 --scanned --rounds 2
