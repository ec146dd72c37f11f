#!/usr/bin/env bash
# Takes the README's screenshot: the window under Xvfb, a sample colour product loaded, band 3
# stacked with distortion correction, the mouse over the picture. Usage: scripts/screenshot.sh BIN_DIR OUT.png
set -euo pipefail
if [ "${1:-}" = "--inside" ]; then
  bin="$2"; out="$3"; product="$4"
else
  bin="$(cd "$1" && pwd)"
  out="$(realpath -m "$2")"
  [ -f "$bin/CUMINDEX.TAB" ] || "$bin/wacsim" --sample-set --output-dir "$bin" >/dev/null
  product="$(ls "$bin"/*CE.IMG | head -n 1)"
  xvfb-run -a -s '-screen 0 1280x800x24' bash "$0" --inside "$bin" "$out" "$product"
  echo "wrote $out"
  exit 0
fi

cd "$bin"
./quelmar &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
wid=$(timeout 20 xdotool search --sync --name '^Quelmar' | head -n 1)
sleep 1
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep 0.7; }
click 44 20                                   # Load
xdotool type --delay 20 "$product"; sleep 0.3
xdotool key Return; sleep 2
click 760 24                                  # Correct distortion
click 756 148                                 # Stack
sleep 1.5
xdotool mousemove --window "$wid" 430 420     # the place under the mouse, in the strip
sleep 0.5
import -window root "$out.full.png"
convert "$out.full.png" -crop 900x640+40+90 +repage -colors 128 "$out"
rm -f "$out.full.png"
