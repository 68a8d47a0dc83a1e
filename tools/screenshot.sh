#!/usr/bin/env bash
# Takes docs/screenshot.png: the real window under Xvfb, after a click on
# "Search" over a generated tree. Needs a release build (./dev run makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
for package in xvfb xauth xdotool imagemagick; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package"; }
done
cmake --build build/release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/release/tools/kestrafin-make-tree "$work/Shared Projects" small >/dev/null
cp build/release/qt/kestrafin "$work/"
printf '[PATH]\r\nFULLPATH=%s\r\n' "$work/Shared Projects" >"$work/kestrafin.ini"

# The window is centred on a 1100 by 720 screen, so "Search" lies at a known place.
xvfb-run -s "-screen 0 1100x720x24" bash -c "
    '$work/kestrafin' & sleep 2
    xdotool mousemove 561 596 click 1; sleep 2
    import -window root '$work/screen.png'
    kill %1"
convert "$work/screen.png" -crop 1018x656+41+32 +repage docs/screenshot.png
echo "docs/screenshot.png written"
