#!/bin/sh
# Removes what install.sh put under ~/.local/share (or $XDG_DATA_HOME): the
# desktop entry and the icons, and the folders for them that are left empty.
# This folder itself stays; delete it to remove the program.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
name=dyvenhall-skin-updater
data=${XDG_DATA_HOME:-$HOME/.local/share}

rm -f "$data/applications/$name.desktop"
rmdir "$data/applications" 2>/dev/null || true
for icon in "$here"/share/icons/hicolor/*/apps/"$name".png; do
  size=$(basename "$(dirname "$(dirname "$icon")")")
  rm -f "$data/icons/hicolor/$size/apps/$name.png"
  rmdir "$data/icons/hicolor/$size/apps" "$data/icons/hicolor/$size" 2>/dev/null || true
done
rmdir "$data/icons/hicolor" "$data/icons" 2>/dev/null || true
echo "Dyvenhall Skin Updater is no longer in the menu of your desktop."
