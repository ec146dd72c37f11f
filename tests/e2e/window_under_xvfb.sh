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
finish 0
INNER

timeout 30 xvfb-run -a -s '-screen 0 1280x800x24' bash "$inner" "$program" "$shot"
status=$?
if [ "$status" -eq 124 ]; then
  echo "FAILED: the run on the virtual display took longer than 30 s"
  exit 1
fi
exit "$status"
