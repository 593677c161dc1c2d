#!/usr/bin/env bash
# Plays the show: live in a window when there is a display, otherwise recorded headless as a video.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Playing Tarnovel (F11 or Alt+Enter: fullscreen; closing the window or Ctrl+C ends it)."
  cd "$build/assets"
  exec ../tarnovel
fi

builddir=$(cd "$build" && pwd)
if command -v ffmpeg > /dev/null; then
  video="$builddir/tarnovel.mp4"
  echo "No display here: recording the show headless as a video, faster than it plays..."
  status=0
  # The show's own console output (its closing banner) still comes out here; the recorder
  # draws its progress line on standard error.
  "$build/tarnovel-record" --assets "$build/assets" --out "$video" || status=$?
  if [ -f "$video" ]; then
    echo "The show is in $video (60 frames a second, with its music)."
    echo "Watch it with any video player, e.g.: ffplay \"$video\""
  else
    echo "No video was written (exit status $status); see the messages above."
  fi
  exit "$status"
fi

# Without ffmpeg: pictures, sound and statistics as separate files.
out="$build/headless"
rm -rf "$out"
mkdir -p "$out"
echo "No display and no ffmpeg here (make deps installs it, for a video of the show)."
echo "Recording the show headless into $out/ instead (this takes a while)..."
status=0
"$build/tarnovel-record" --assets "$build/assets" --stats "$out/stats.json" \
  --frames "$out/frames" --every 60 --wav "$out/tarnovel.wav" > "$out/console.txt" || status=$?
echo "Done (exit status $status). Look at:"
echo "  $out/frames/      one PNG picture of the screen per second of the show"
echo "  $out/tarnovel.wav the music as it played"
echo "  $out/stats.json   cues, entries and drawing times"
echo "  $out/console.txt  what the show printed (the closing banner)"
exit "$status"
