#!/usr/bin/env bash
# Makes the README's pictures: a still of each page type and effect scene, and a contact sheet.
# The show is played twice in virtual time: once for its statistics (when each entry and cue
# comes), once to take each still at the moment picked from them.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=docs/stills
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "stills: playing the show once to find its moments..."
"$build/tarnovel-record" --assets "$build/assets" --stats "$tmp/stats.json" > /dev/null
echo "stills: playing it again to take the pictures..."
mkdir -p "$out"
rm -f "$out"/*.png
"$build/tarnovel-record" --assets "$build/assets" --stills "$out" --from "$tmp/stats.json" \
  > /dev/null

# The same pixels in fewer bytes: ffmpeg's deflate packs them tighter than the recorder's.
if command -v ffmpeg > /dev/null; then
  for f in "$out"/*.png; do
    if ffmpeg -v error -i "$f" -compression_level 9 -pred mixed -y "$tmp/packed.png" &&
      [ "$(stat -c %s "$tmp/packed.png")" -lt "$(stat -c %s "$f")" ]; then
      mv "$tmp/packed.png" "$f"
    fi
  done
fi
echo "stills: written into $out/:"
ls -l "$out"
