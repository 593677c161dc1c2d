#!/usr/bin/env bash
# Plays the show: live in a window when there is a display, otherwise recorded headless.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Playing Tarnovel (F11 or Alt+Enter: fullscreen; closing the window or Ctrl+C ends it)."
  cd "$build/assets"
  exec ../tarnovel
fi
out="$build/headless"
rm -rf "$out"
mkdir -p "$out"
echo "No display here: recording the show headless into $out/ (this takes a while)..."
status=0
"$build/tarnovel-record" --assets "$build/assets" --stats "$out/stats.json" \
  --frames "$out/frames" --every 60 --wav "$out/tarnovel.wav" > "$out/console.txt" || status=$?
echo "Done (exit status $status). Look at:"
echo "  $out/frames/      one PNG picture of the screen per second of the show"
echo "  $out/tarnovel.wav the music as it played"
echo "  $out/stats.json   cues, entries and drawing times"
echo "  $out/console.txt  what the show printed (the closing banner)"
exit "$status"
