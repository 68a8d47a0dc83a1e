#!/usr/bin/env bash
# Takes docs/screenshot-windows.png: the Windows window under Wine and Xvfb,
# after Enter on "Search" over a small tree with long paths. Builds with
# ./dev windows when kestrafin.exe is missing. DPI=192 takes it at twice the
# size into the file named by OUT instead (to check the layout scales).
set -euo pipefail
cd "$(dirname "$0")/.."
for package in xvfb xauth xdotool imagemagick; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package"; }
done
[ -f build/windows-release/win32/kestrafin.exe ] || ./dev windows
dpi=${DPI:-96}
out=${OUT:-docs/screenshot-windows.png}

# A fixed folder, so that the paths shown do not carry a random name.
work=/tmp/kestrafin-screenshot
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
folder="$work/Shared Projects"
for name in "Engineering Department Archive" "Customer Deliverables 2019-2024" \
    "Project Nightingale - Phase Two Redesign" "Structural Calculations and Drawings" \
    "Revision History (superseded)"; do
    folder="$folder/$name"
done
mkdir -p "$folder/Appendix B - Photographs from site visits"
for name in "Load case summary - north elevation.pdf" "Connection details rev C.dwg" \
    "Meeting minutes 2021-03-14.docx" "Zusammenfassung Prüfbericht.txt" "設計図面一覧.xlsx"; do
    touch "$folder/$name"
done
for month in 1 2 3 4 5 6 7 8; do
    touch "$folder/Appendix B - Photographs from site visits/IMG_20230${month}14_facade.jpg"
done
cp build/windows-release/win32/kestrafin.exe "$work/"
printf '[PATH]\r\nFULLPATH=Z:%s\r\n' "$(printf '%s' "$work/Shared Projects" | tr / '\\')" \
    >"$work/kestrafin.ini"

export WINEPREFIX="$PWD/build/windows-release/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wineserver -w
# Without a window manager Wine draws no frame: the X window is the client area.
screen_width=$((1100 * dpi / 96))
screen_height=$((720 * dpi / 96))
xvfb-run -a -s "-screen 0 ${screen_width}x${screen_height}x24" bash -c "
    wine '$work/kestrafin.exe' & sleep 5
    xdotool key Return; sleep 3
    xdotool search --name '^Kestrafin v1.0\$' getwindowgeometry --shell >'$work/geometry'
    import -window root '$work/screen.png'
    wineserver -k"
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
wineserver -w
. "$work/geometry"
convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
echo "$out written"
