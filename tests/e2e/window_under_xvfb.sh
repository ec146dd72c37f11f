#!/usr/bin/env bash
# Starts the real window on a virtual display, finds it by its caption, takes a screenshot and
# checks the window's size. Usage: window_under_xvfb.sh <path to quelmar> [screenshot.png]
set -u

program="${1:-}"
shot="${2:-${TMPDIR:-/tmp}/quelmar_window_under_xvfb.png}"

if [ -z "$program" ] || [ ! -x "$program" ]; then
  echo "FAILED: no runnable program given (got '${program}')"
  exit 1
fi
for tool in xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed"
    exit 0
  fi
done

# The part that runs on the virtual display.
inner=$(mktemp "${TMPDIR:-/tmp}/quelmar_e2e_XXXXXX.sh")
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
set -u
program="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; shot="$2"
unset QT_QPA_PLATFORM
"$program" >/dev/null 2>&1 &
pid=$!
finish() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; exit "$1"; }

window=$(timeout 15 xdotool search --sync --onlyvisible --name 'Quelmar' 2>/dev/null | head -n 1)
if [ -z "$window" ]; then
  echo "FAILED: no visible window with 'Quelmar' in its caption appeared within 15 s"
  finish 1
fi
title=$(xdotool getwindowname "$window")
if [ "$title" != "Quelmar (v1.6.1)" ]; then
  echo "FAILED: the window's caption is '$title', expected 'Quelmar (v1.6.1)'"
  finish 1
fi
sleep 1  # let the first paint finish before the screenshot
if command -v import >/dev/null 2>&1; then
  import -window root "$shot" 2>/dev/null || echo "note: screenshot failed"
fi

# Without a window manager there is no frame, so the window's own area is the whole designed
# outer size; with one, it is that size less the frame (a few pixels, a title bar).
eval "$(xdotool getwindowgeometry --shell "$window")"
if [ "$WIDTH" -gt 878 ] || [ "$WIDTH" -lt 858 ] || [ "$HEIGHT" -gt 607 ] || [ "$HEIGHT" -lt 567 ]; then
  echo "FAILED: window area is ${WIDTH} x ${HEIGHT}, expected 878 x 607 less its frame"
  finish 1
fi
echo "ok: window '$title' ${WIDTH} x ${HEIGHT} at ${X},${Y}; screenshot $shot"
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null

# The viewer, with real events: a product named on the command line, zoom, travel steps that
# stack again, and a PNG saved through Ctrl+S and the save dialog.
wacsim="$(dirname "$program")/wacsim"
if [ ! -x "$wacsim" ] || ! command -v import >/dev/null 2>&1 || ! command -v compare >/dev/null 2>&1; then
  echo "skipped the viewer part: wacsim or ImageMagick is missing"
  exit 0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quelmar_e2e_viewer_XXXXXX")
"$wacsim" --sample-set --output-dir "$work" >/dev/null || { echo "FAILED: wacsim"; exit 1; }
mkdir "$work/saved"
product=$(ls "$work"/*CE.IMG | head -n 1)
(cd "$work" && exec "$program" "$product") >/dev/null 2>&1 &
pid=$!
finish() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"; exit "$1"; }
window=$(timeout 15 xdotool search --sync --onlyvisible --name 'Quelmar' 2>/dev/null | head -n 1)
[ -n "$window" ] || { echo "FAILED: no window for the command-line product"; finish 1; }
sleep 1.5
title=$(xdotool getwindowname "$window")
if [ "$title" != "Quelmar (v1.6.1) :    $(basename "$product")" ]; then
  echo "FAILED: after 'quelmar FILE.IMG' the caption is '$title'"
  finish 1
fi
xdotool windowfocus --sync "$window" 2>/dev/null; sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$window")"
# The picture frame's inside, in screen coordinates.
frame="820x380+$((X + 12))+$((Y + 172))"
look() { import -window root "$work/$1.png" 2>/dev/null; convert "$work/$1.png" -crop "$frame" +repage "$work/$1.frame.png"; }
differs() { [ "$(compare -metric AE "$work/$1.frame.png" "$work/$2.frame.png" null: 2>&1)" != "0" ]; }
look one
xdotool mousemove --window "$window" 300 350 keydown ctrl click 4 click 4 click 4 keyup ctrl; sleep 0.7
look zoomed
differs one zoomed || { echo "FAILED: Ctrl+wheel did not zoom the picture"; finish 1; }
xdotool key ctrl+2; sleep 0.7
look whole
differs zoomed whole || { echo "FAILED: Ctrl+2 did not fit the whole picture"; finish 1; }
# In the whole picture the frame's right part is empty: the raw strip is tall and narrow.
right=$(convert "$work/whole.frame.png" -crop 200x300+600+40 +repage -format '%[fx:standard_deviation]' info:)
awk -v v="$right" 'BEGIN { exit !(v < 0.01) }' || { echo "FAILED: the whole picture does not fit the frame ($right)"; finish 1; }
xdotool key ctrl+0; sleep 0.3
xdotool mousemove --window "$window" 756 148 click 1; sleep 1   # Stack
look stacked
xdotool mousemove --window "$window" 296 146 click 1; sleep 0.2  # the vertical travel field
xdotool key Page_Up Page_Up Page_Up; sleep 1
look stepped
differs stacked stepped || { echo "FAILED: stepping the travel did not stack again"; finish 1; }
xdotool key ctrl+s; sleep 1.5
xdotool key ctrl+a; xdotool type --delay 10 "$work/saved/band.png"; xdotool key Return; sleep 1.5
if [ ! -s "$work/saved/band.png" ] || [ "$(head -c 4 "$work/saved/band.png" | tail -c 3)" != "PNG" ]; then
  echo "FAILED: Ctrl+S did not save a PNG"
  finish 1
fi
kind=$(identify -format '%w x %h %[channels]' "$work/saved/band.png" 2>/dev/null)
case "$kind" in
  "704 x "*) ;;
  *) echo "FAILED: the saved PNG is '$kind', not the 704-pixel-wide stack"; finish 1 ;;
esac
echo "ok: command-line product, zoom, fit, travel steps and a PNG save ($kind)"

# Find travel: a simulated product loaded through the Load dialog, then Ctrl+T measures its
# travel and stacks (answering the question about a varying travel when it comes).
twork=$(mktemp -d "${TMPDIR:-/tmp}/quelmar_e2e_travel_XXXXXX")
"$wacsim" --kind VE --framelets 24 --seed 101 --product-id M1E2ETRAVELVE \
  --output-dir "$twork" >/dev/null || { echo "FAILED: wacsim"; rm -rf "$twork"; finish 1; }
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool mousemove --window "$window" 40 20 click 1   # Load
sleep 1.5
xdotool type --delay 10 "$twork/M1E2ETRAVELVE.IMG"
xdotool key Return
sleep 2
title=$(xdotool getwindowname "$window")
case "$title" in
  *M1E2ETRAVELVE.IMG) ;;
  *) echo "FAILED: after Load the caption is '$title'"; rm -rf "$twork"; finish 1 ;;
esac
before="$twork/before.png"
import -window "$window" "$before" 2>/dev/null
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key ctrl+t
sleep 2
# Other visible windows with a caption: message boxes (the main window has no frame here).
boxes() {
  for w in $(xdotool search --onlyvisible --name '.+' 2>/dev/null); do
    [ "$w" != "$window" ] && echo "$w"
  done
}
if [ -n "$(xdotool search --onlyvisible --name '^Confirm$' 2>/dev/null)" ]; then
  xdotool key Return   # "Stack each framelet by the travel measured beside it?": Yes
  sleep 1.5
fi
open_boxes=$(boxes | wc -l)
travelShot="${shot%.png}_travel.png"
if command -v import >/dev/null 2>&1; then
  import -window root "$travelShot" 2>/dev/null || echo "note: screenshot failed"
fi
# The stack replaces the raw framelets: the window must look different.
changed=$(import -window "$window" "$twork/after.png" 2>/dev/null &&
  compare -metric AE "$before" "$twork/after.png" null: 2>&1 | cut -d' ' -f1)
rm -rf "$twork"
if [ "${changed:-0}" = "0" ]; then
  echo "FAILED: the window did not change after Ctrl+T (Find travel)"
  finish 1
fi
if [ "$open_boxes" -ne 0 ]; then
  echo "FAILED: after Find travel a box is still open: $(for w in $(boxes); do xdotool getwindowname "$w"; done)"
  finish 1
fi
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAILED: the window ended during Find travel"
  exit 1
fi
echo "ok: Find travel (Ctrl+T) after loading a simulated product; screenshot $travelShot"

# Colour: Ctrl+L stacks the product's bands into a colour picture, Ctrl+E stretches it (enhanced
# colour); each shows another picture, and no box is left open.
cwork=$(mktemp -d "${TMPDIR:-/tmp}/quelmar_e2e_colour_XXXXXX")
step() {
  import -window "$window" "$cwork/before.png" 2>/dev/null
  xdotool windowactivate --sync "$window" 2>/dev/null
  xdotool windowfocus --sync "$window" 2>/dev/null
  xdotool key "$1"
  sleep 2
  local changed
  changed=$(import -window "$window" "$cwork/after.png" 2>/dev/null &&
    compare -metric AE "$cwork/before.png" "$cwork/after.png" null: 2>&1 | cut -d' ' -f1)
  if [ "${changed:-0}" = "0" ]; then
    echo "FAILED: the window did not change after $2"
    rm -rf "$cwork"
    finish 1
  fi
  if [ "$(boxes | wc -l)" -ne 0 ]; then
    echo "FAILED: after $2 a box is open: $(for w in $(boxes); do xdotool getwindowname "$w"; done)"
    rm -rf "$cwork"
    finish 1
  fi
}
step ctrl+l "Ctrl+L (Colour)"
step ctrl+e "Ctrl+E (Stretch)"
colourShot="${shot%.png}_colour.png"
if command -v import >/dev/null 2>&1; then
  import -window root "$colourShot" 2>/dev/null || echo "note: screenshot failed"
fi
rm -rf "$cwork"
echo "ok: a colour picture (Ctrl+L), enhanced (Ctrl+E); screenshot $colourShot"
finish 0
INNER

timeout 90 xvfb-run -a -s '-screen 0 1280x800x24' bash "$inner" "$program" "$shot"
status=$?
if [ "$status" -eq 124 ]; then
  echo "FAILED: the run on the virtual display took longer than 90 s"
  exit 1
fi
exit "$status"
