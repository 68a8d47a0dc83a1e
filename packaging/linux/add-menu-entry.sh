#!/bin/sh
# Adds Kestrafin to the current user's application menu, started from the
# folder this script lies in; with --remove, takes the entry away again.
# The program keeps kestrafin.ini and kestrafinlist.dxb next to itself, so
# the folder stays where it is and stays writable.
set -eu

here=$(cd "$(dirname "$0")" && pwd -P)
data=${XDG_DATA_HOME:-${HOME:?HOME is not set}/.local/share}
entry=$data/applications/kestrafin.desktop
sizes="16 24 32 48 64 72 96 128"

refresh_menus() {
    command -v update-desktop-database >/dev/null 2>&1 &&
        update-desktop-database -q "$data/applications" 2>/dev/null || true
    command -v gtk-update-icon-cache >/dev/null 2>&1 &&
        gtk-update-icon-cache -q -t "$data/icons/hicolor" 2>/dev/null || true
}

if [ "${1:-}" = "--remove" ]; then
    rm -f "$entry"
    for size in $sizes; do
        rm -f "$data/icons/hicolor/${size}x$size/apps/kestrafin.png"
    done
    refresh_menus
    echo "Removed the Kestrafin menu entry."
    exit 0
elif [ $# -gt 0 ]; then
    echo "usage: $0 [--remove]" >&2
    exit 2
fi

case $here in
*[[:cntrl:]]*)
    echo "The folder's name holds a control character, which a menu entry cannot name; move the folder." >&2
    exit 1 ;;
esac
[ -x "$here/kestrafin" ] || { echo "$here/kestrafin is missing: unpack the whole archive." >&2; exit 1; }

# An Exec value quotes the program in double quotes, escaping " ` $ and \ with
# a backslash; the desktop file's string rules then double every backslash, and
# a field code starts with %, so a literal % is written %%.
exec_quoted=$(printf '%s/kestrafin' "$here" |
    sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')
# Path is a plain string: only the backslash is escaped.
path_value=$(printf '%s' "$here" | sed -e 's/\\/\\\\/g')

mkdir -p "$data/applications"
temporary=$(mktemp "$data/applications/.kestrafin.desktop.XXXXXX")
trap 'rm -f "$temporary"' EXIT
EXEC_LINE="Exec=\"$exec_quoted\"" PATH_LINE="Path=$path_value" awk '
    /^Exec=/ { print ENVIRON["EXEC_LINE"]; next }
    { print }
    /^StartupNotify=/ { print ENVIRON["PATH_LINE"] }' "$here/kestrafin.desktop" >"$temporary"
chmod 644 "$temporary"
mv -f "$temporary" "$entry"
trap - EXIT

for size in $sizes; do
    icon=$here/icons/hicolor/${size}x$size/apps/kestrafin.png
    [ -f "$icon" ] || continue
    mkdir -p "$data/icons/hicolor/${size}x$size/apps"
    cp -f "$icon" "$data/icons/hicolor/${size}x$size/apps/kestrafin.png"
done
refresh_menus

echo "Added Kestrafin to the application menu, started from $here."
[ -w "$here" ] ||
    echo "Note: $here is not writable; Save path and Save List need to write there." >&2
if command -v ldd >/dev/null 2>&1 && ldd "$here/kestrafin" 2>/dev/null | grep -q 'not found'; then
    echo "Note: some libraries the window needs are missing; on Debian or Ubuntu:" >&2
    echo "    sudo apt-get install libqt6widgets6 libqt6gui6 qt6-qpa-plugins" >&2
fi
