#!/bin/sh
# Pictures of the program for the README: the question, both confirmations and
# the download offer, as a German Windows shows them, saved to docs/. Runs on a
# virtual screen in a Wine desktop window (which draws the boxes' frames), in
# the prefix build/shots-prefix, with a stand-in for the viewer.
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kompakto-shots.XXXXXX") || exit 1
. "$root/tools/wine-session.sh"
export WINEPREFIX="$root/build/shots-prefix"
require_build
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# German button labels need the German locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || exit 1
fi
export LANG=de_DE.UTF-8
start_virtual_screen || exit 1
make_prefix || exit 1
viewer="$WINEPREFIX/drive_c/Program Files/IrfanView/I_view64.exe"
mkdir -p "$(dirname "$viewer")"
cp "$build/e2e-standin_viewer.exe" "$viewer"

app=$(windows_path "$program")
go=$(windows_path "$work/go")
start_driver explorer /desktop=Kompakto,640x480 <<SCRIPT
case${tab}shots
reg_delete_tree${tab}SOFTWARE\\Classes\\AllFilesystemObjects\\shell\\Shrink &JPG (IrfanView)
start${tab}${app}${tab}"${app}"${tab}
box${tab}Kompakto 1.1.0.0${tab}60000${tab}hold
wait_file${tab}${go}1${tab}60000
box${tab}Kompakto 1.1.0.0${tab}5000${tab}yes
box${tab}Kompakto${tab}30000${tab}hold
wait_file${tab}${go}2${tab}60000
box${tab}Kompakto${tab}5000${tab}ok
finish${tab}15000
start${tab}${app}${tab}"${app}"${tab}
box${tab}Kompakto 1.1.0.0${tab}60000${tab}no
box${tab}Kompakto${tab}30000${tab}hold
wait_file${tab}${go}3${tab}60000
box${tab}Kompakto${tab}5000${tab}ok
finish${tab}15000
delete_file${tab}C:\\Program Files\\IrfanView\\I_view64.exe
start${tab}${app}${tab}"${app}"${tab}
box${tab}Kompakto 1.1.0.0${tab}60000${tab}yes
box${tab}Kompakto: IrfanView nicht gefunden${tab}30000${tab}hold
wait_file${tab}${go}4${tab}60000
box${tab}Kompakto: IrfanView nicht gefunden${tab}5000${tab}cancel
finish${tab}15000
SCRIPT

# Each picture is the desktop window cut down to the box on it.
number=0
for name in question activated deactivated download; do
    number=$((number + 1))
    wait_transcript '"action":"hold"' "$number" || exit 1
    sleep 0.5
    timeout 30 import -window root "$work/screen.png" || exit 1
    convert "$work/screen.png" -crop 640x480+0+0 +repage -trim +repage "docs/screenshot-$name.png" || exit 1
    echo "docs/screenshot-$name.png"
    touch "$work/go$number"
done
wait_driver || exit 1
