#!/usr/bin/env bash
# Makes the README's colour example: a simulated colour product, its colour picture as the
# samples are (left) and stretched between the 1st and 99th percentiles of each channel (right).
# Usage: scripts/colour-example.sh BIN_DIR OUT.png
set -euo pipefail
bin="$(cd "$1" && pwd)"
out="$(realpath -m "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$bin/wacsim" --kind CE --framelets 64 --seed 104 --product-id M1000000104CE \
  --output-dir "$work" >/dev/null
common=(--correct-vertically --vertical-travel auto --horizontal-travel auto --overwrite)
"$bin/quelmar-cli" colour "${common[@]}" -o "$work/natural.bmp" "$work/M1000000104CE.IMG" \
  | grep -E "^(Travel used|red|green|blue)"
"$bin/quelmar-cli" colour "${common[@]}" --stretch 1,99 -o "$work/enhanced.bmp" \
  "$work/M1000000104CE.IMG" >/dev/null
# Only the rows where all three bands have data, side by side with a white gap.
convert "$work/natural.bmp" -fuzz 1% -trim +repage -shave 0x3 +repage "$work/a.png"
convert "$work/enhanced.bmp" -fuzz 1% -trim +repage -shave 0x3 +repage "$work/b.png"
convert "$work/a.png" -gravity north -background white -splice 0x0 \
  \( -size 12x1 xc:white \) "$work/b.png" +append +repage -resize 860x -depth 8 -colors 256 "PNG8:$out"
echo "wrote $out"
