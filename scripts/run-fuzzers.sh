#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# on a seed corpus written by the project's own fixture code.
# usage: scripts/run-fuzzers.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: fuzzers skipped"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # name, seed files...
  local name=$1; shift
  local corpus="$work/$name"
  mkdir -p "$corpus"
  cp "$@" "$corpus/"
  echo "== $name: ${seconds}s"
  (cd "$work" && "$OLDPWD/build-fuzz/bin/$name" -max_total_time="$seconds" -max_len=65536 \
      -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12)
}

# Seeds come from the ordinary build (qpdf's headers need gcc).
if [ ! -f build/sample.pdf ] || [ ! -x build/bin/make-image-corpus ] || [ ! -x build/bin/orvane-sample ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target sample-pdf make-image-corpus orvane-sample
fi
mkdir -p "$work/images" "$work/pdfs"
build/bin/make-image-corpus "$work/images"
cp build/sample.pdf "$work/pdfs/"
build/bin/orvane-sample --seeds "$work/pdfs"

printf 'Page 1, [36.00,756.00,576.00,36.00]\r\nPage 3, [72.50,700.00,540.00,100.25]\n' > "$work/list.txt"
printf '[AutoShrink]\nflag=0\n[PAGE]\npage1=36.00,756.00,576.00,36.00\npage3=72.50,700.00,540.00,100.25\n' > "$work/croprect.ini"

run fuzz-ravel "$work"/pdfs/*
run fuzz-crop-list "$work/list.txt"
run fuzz-crop-file "$work/croprect.ini"
run fuzz-crop-tool "$work"/pdfs/*
run fuzz-page-image "$work"/images/*
