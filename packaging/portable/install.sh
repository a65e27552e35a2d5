#!/bin/sh
# Puts Dyvenhall Skin Updater into the desktop's menu: a desktop entry that
# starts the program in this folder, and its icon, under ~/.local/share (or
# $XDG_DATA_HOME). Nothing else is written, and uninstall.sh removes exactly
# these files. Run it again after moving this folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
name=dyvenhall-skin-updater
data=${XDG_DATA_HOME:-$HOME/.local/share}

for icon in "$here"/share/icons/hicolor/*/apps/"$name".png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  mkdir -p "$data/icons/hicolor/$size/apps"
  cp "$icon" "$data/icons/hicolor/$size/apps/$name.png"
done

# Exec takes the program's path in double quotes, with \ " ` $ escaped by a
# backslash, then every backslash doubled as in any desktop entry string,
# and % as %%.
exec_path=$(printf '%s' "$here/$name" | sed 's/[\\"`$]/\\&/g; s/\\/\\\\/g; s/%/%%/g')
mkdir -p "$data/applications"
EXEC="\"$exec_path\"" awk '/^Exec=/ { print "Exec=" ENVIRON["EXEC"]; next } { print }' \
  "$here/share/applications/$name.desktop" >"$data/applications/$name.desktop.tmp"
mv -f "$data/applications/$name.desktop.tmp" "$data/applications/$name.desktop"
echo "Dyvenhall Skin Updater is now in the menu of your desktop."
