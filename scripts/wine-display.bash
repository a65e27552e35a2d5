# Sourced by the scripts that run the Windows program under Wine on an X
# display: the one place that starts Xvfb, and the scratch Wine prefix with
# the sample installs that run-windows and screenshot both use.

# new_display: starts Xvfb on a free display, sets `display` to its name and
# remembers it for stop_display.
new_display() {
  local fd number
  exec {fd}<> <(:)
  Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  display_pids+=("$!")
  if ! read -r -t 60 -u "$fd" number; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  exec {fd}<&-
  display=":$number"
}
# Starts Xvfb on a free display and exports DISPLAY; stop_display ends it.
start_display() {
  new_display
  export DISPLAY=$display
}
stop_display() {
  local pid
  for pid in "${display_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  display_pids=()
}
display_pids=()

# The Windows tests that need a prefix to themselves (they set its App Paths
# values and drive windows on its display) run in lanes that CTest hands out
# (tests/e2e/wine-lanes.json): lane 0 is PREFIX itself on DISPLAY, lane N is
# PREFIX-laneN on a display of its own. scripts/wine-test picks the lane.
# start_wine_lanes PREFIX starts Wine for each; stop_wine_lanes PREFIX stops them.
wine_lanes=2
start_wine_lanes() {
  local prefix=$1 lane pids=() pid
  [ -n "${DISPLAY:-}" ] || start_display
  for ((lane = 1; lane < wine_lanes; lane++)); do
    new_display
    export "DSU_WINE_LANE${lane}_DISPLAY=$display"
  done
  # Side by side: making a prefix takes Wine a while.
  scripts/wine-session start "$prefix" &
  pids+=("$!")
  for ((lane = 1; lane < wine_lanes; lane++)); do
    scripts/wine-session start "$prefix-lane$lane" &
    pids+=("$!")
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
}
stop_wine_lanes() {
  local prefix=$1 lane
  scripts/wine-session stop "$prefix" || true
  for ((lane = 1; lane < wine_lanes; lane++)); do
    scripts/wine-session stop "$prefix-lane$lane" || true
  done
}

# sample_session SCRATCH: builds the Windows program, copies
# samples/sample-install to SCRATCH/installs and starts Wine for the prefix
# SCRATCH/wineprefix (exported as WINEPREFIX) with both App Paths values
# leading there; stop_sample_session stops it. Run from the repository root.
sample_session() {
  local scratch=$1
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target dsu_win
  rm -rf "$scratch/installs"
  mkdir -p "$scratch"
  cp -a samples/sample-install "$scratch/installs"

  export WINEPREFIX=$scratch/wineprefix
  scripts/wine-session start "$WINEPREFIX"
  # Wine's own fonts, which this Wine does not find by itself: Marlett draws
  # the caption's buttons when Wine draws the frame.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null ||
    echo "Wine's fonts are not in /usr/share/wine/fonts: the caption may lack its buttons." >&2

  local app_paths='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths'
  scripts/wine-run reg.exe add "$app_paths\\korvash.exe" /v Path /t REG_SZ \
    /d "$(windows_path "$scratch/installs/Korvash")" /f /reg:32 >/dev/null
  scripts/wine-run reg.exe add "$app_paths\\Korvash Dyvenhall.exe" /v Path /t REG_SZ \
    /d "$(windows_path "$scratch/installs/Dyvenhall")" /f /reg:32 >/dev/null
}
stop_sample_session() {
  [ -z "${WINEPREFIX:-}" ] || scripts/wine-session stop "$WINEPREFIX"
}

# The program built by the windows preset.
windows_program=build/windows/app/DyvenhallSkinUpdater.exe

# Wine maps the host's root to Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
