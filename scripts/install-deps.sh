#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Orvane need.
# Only what is missing is installed, so running it again is cheap and safe.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format
  # window toolkit
  qt6-base-dev libgl-dev
  # the program's pictures, drawn as SVG and rendered at build time
  qt6-svg-dev
  # installation: the desktop entry's check and the Debian package
  desktop-file-utils dpkg-dev
  # rendering library on MuPDF (static libmupdf.a and what it links against)
  libmupdf-dev libharfbuzz-dev libfreetype-dev libjbig2dec0-dev libopenjp2-7-dev
  libjpeg-dev libgumbo-dev libmujs-dev zlib1g-dev libbrotli-dev libpng-dev
  # picture decoders of the page image
  libtiff-dev libgif-dev libmng-dev libwebp-dev libraw-dev
  # PDF writing for the crop tool and the test fixtures
  libqpdf-dev qpdf
  # cutting JPEG pictures without decoding them
  libturbojpeg0-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev mupdf-tools
  # looking at the program without a screen
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q || true
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
