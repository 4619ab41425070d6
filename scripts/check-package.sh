#!/usr/bin/env bash
# Builds the Debian package and checks it: its contents and dependencies,
# the desktop entry, and the program unpacked from it opening a PDF (the
# file it opened is in its recent-file list afterwards).
set -euo pipefail
cd "$(dirname "$0")/.."

make package WERROR="${WERROR:-OFF}"
deb=$(ls -t build/orvane_*.deb | head -1)
fail() { echo "check-package: $*" >&2; exit 1; }

dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
for f in ./usr/lib/orvane/orvane ./usr/lib/orvane/libravel.so ./usr/lib/orvane/quorrel ./usr/bin/orvane \
         ./usr/share/applications/orvane.desktop ./usr/share/icons/hicolor/48x48/apps/orvane.png \
         ./usr/share/icons/hicolor/scalable/apps/orvane.svg; do
  grep -q " ${f}\( \|$\)" <<<"$contents" || fail "$f is not in the package"
done
depends=$(dpkg-deb --field "$deb" Depends)
for d in libqt6widgets6 libqpdf libc6; do
  grep -q "$d" <<<"$depends" || fail "the package does not depend on $d"
done
desktop-file-validate res/desktop/orvane.desktop

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg -x "$deb" "$tmp/root"
cp build/sample.pdf "$tmp/sample.pdf"
# The crop tool from the package writes a copy.
printf 'Page 1, [36.00,756.00,576.00,36.00]\n' >"$tmp/list.txt"
"$tmp/root/usr/lib/orvane/quorrel" -s "setcropfile=$tmp/list.txt" -i "$tmp/sample.pdf" -o "$tmp/cropped.pdf" ||
  fail "the packaged crop tool failed"
[ -s "$tmp/cropped.pdf" ] || fail "the packaged crop tool wrote nothing"
# The program from the package, through its link in bin/, opens the PDF.
XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" QT_QPA_PLATFORM=offscreen \
  "$tmp/root/usr/bin/orvane" "$tmp/sample.pdf" &
pid=$!
sleep 5
kill -TERM "$pid" 2>/dev/null || fail "the packaged program ended early"
wait "$pid" || true
grep -rq "sample.pdf" "$tmp/config" || fail "the packaged program did not open the PDF"
echo "check-package: $deb is complete and its program opens a PDF"
