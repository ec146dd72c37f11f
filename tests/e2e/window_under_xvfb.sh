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
program="$1"; shot="$2"
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

# Find travel: a simulated product loaded through the Load dialog, then Ctrl+T measures its
# travel and stacks (answering the question about a varying travel when it comes).
wacsim="$(dirname "$program")/wacsim"
if [ ! -x "$wacsim" ]; then
  echo "skipped: no wacsim beside the program for the Find travel run"
  finish 0
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quelmar_e2e_travel_XXXXXX")
"$wacsim" --kind VE --framelets 24 --seed 101 --product-id M1E2ETRAVELVE \
  --output-dir "$work" >/dev/null || { echo "FAILED: wacsim"; rm -rf "$work"; finish 1; }
xdotool windowactivate --sync "$window" 2>/dev/null
xdotool mousemove --window "$window" 40 20 click 1   # Load
sleep 1.5
xdotool type --delay 10 "$work/M1E2ETRAVELVE.IMG"
xdotool key Return
sleep 2
title=$(xdotool getwindowname "$window")
case "$title" in
  *M1E2ETRAVELVE.IMG) ;;
  *) echo "FAILED: after Load the caption is '$title'"; rm -rf "$work"; finish 1 ;;
esac
before="$work/before.png"
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
changed=$(import -window "$window" "$work/after.png" 2>/dev/null &&
  compare -metric AE "$before" "$work/after.png" null: 2>&1 | cut -d' ' -f1)
rm -rf "$work"
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
finish 0
INNER

timeout 30 xvfb-run -a -s '-screen 0 1280x800x24' bash "$inner" "$program" "$shot"
status=$?
if [ "$status" -eq 124 ]; then
  echo "FAILED: the run on the virtual display took longer than 30 s"
  exit 1
fi
exit "$status"
