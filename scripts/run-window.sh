#!/usr/bin/env bash
# Starts the window from the folder that holds it (where the sample products are put).
set -euo pipefail
bin="$(cd "$1" && pwd)"

if [ -x "$bin/wacsim" ] && [ ! -f "$bin/CUMINDEX.TAB" ]; then
  echo "Writing the sample products beside the program..."
  "$bin/wacsim" --sample-set --output-dir "$bin"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
No display is available, so the window cannot be shown.
Run it on a desktop session, or with a virtual display:
  xvfb-run -s '-screen 0 1280x800x24' make run
(and look at it with a screenshot tool), or over ssh with 'ssh -X'.
MSG
  exit 1
fi
cd "$bin"
exec ./quelmar
