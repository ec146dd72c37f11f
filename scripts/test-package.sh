#!/usr/bin/env bash
# Checks the packages as a user would meet them:
#   1. the .deb: dpkg-deb --info and --contents (every file an installed program needs), lintian
#      without errors;
#   2. the .deb unpacked into a temporary root: the installed quelmar-cli writes a report and a
#      stack of a sample product and its calibration file goes to the user's data folder, not
#      beside the program; the installed window starts under Xvfb and stays up; the manual pages
#      read; the menu entry and the metainfo validate;
#   3. the .tar.gz holds the same programs;
#   4. the Windows zip: unpacked, its quelmar-cli.exe runs under Wine.
# Usage: scripts/test-package.sh BUILD WIN_BUILD   (after "make package" and "make windows-zip")
set -u -o pipefail

BUILD=$(cd "${1:-build}" && pwd) || exit 2
WIN_BUILD=$(cd "${2:-build-windows}" && pwd) || exit 2
failures=0
pass() { echo "  ok    $*"; }
fail() {
  echo "  FAIL  $*" >&2
  failures=$((failures + 1))
}
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>"$WORK/stderr"; then pass "$what"; else
    fail "$what"
    sed 's/^/        /' "$WORK/stderr" >&2
  fi
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

shopt -s nullglob
debs=("$BUILD"/packages/quelmar_*.deb)
tgzs=("$BUILD"/packages/quelmar-*.tar.gz)
zips=("$WIN_BUILD"/packages/quelmar-*.zip)
shopt -u nullglob
[[ ${#debs[@]} -eq 1 ]] || { echo "test-package: expected one .deb in $BUILD/packages" >&2; exit 2; }
DEB=${debs[0]}
echo "test-package: $(basename "$DEB")"

# ---- 1. the .deb --------------------------------------------------------------------------------
dpkg-deb --info "$DEB" >"$WORK/info" || fail "dpkg-deb --info"
for field in "Package: quelmar" "Version: " "Depends: .*libqt6widgets6" "Section: science" \
  "MIT"; do
  if grep -q "$field" "$WORK/info"; then pass "control has \"$field\""; else fail "control lacks \"$field\""; fi
done
dpkg-deb --contents "$DEB" | awk '{print $NF}' | sed 's|^\./|/|' >"$WORK/contents"
for f in /usr/bin/quelmar /usr/bin/quelmar-cli /usr/bin/wacsim \
  /usr/share/applications/quelmar.desktop /usr/share/metainfo/org.quelmar.Quelmar.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/quelmar.svg /usr/share/icons/hicolor/48x48/apps/quelmar.png \
  /usr/share/icons/hicolor/256x256/apps/quelmar.png /usr/share/mime/packages/quelmar.xml \
  /usr/share/man/man1/quelmar.1.gz /usr/share/man/man1/quelmar-cli.1.gz \
  /usr/share/quelmar/Quelmar.ini /usr/share/doc/quelmar/copyright; do
  if grep -qx "$f" "$WORK/contents"; then pass "holds $f"; else fail "does not hold $f"; fi
done
if command -v lintian >/dev/null; then
  lintian --fail-on error "$DEB" >"$WORK/lintian" 2>&1
  rc=$?
  grep -v 'running with root privileges' "$WORK/lintian" | sed 's/^/        /'
  if [[ $rc -eq 0 ]]; then pass "lintian: no errors"; else fail "lintian found errors"; fi
else
  fail "lintian is not installed (make deps)"
fi

# ---- 2. the installed programs, from an unpacked root ------------------------------------------
ROOT=$WORK/root
dpkg-deb -x "$DEB" "$ROOT"
find "$ROOT" | sort >"$WORK/tree-before"
BIN=$ROOT/usr/bin
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/config XDG_DATA_HOME=$WORK/home/data
mkdir -p "$HOME"
check "quelmar-cli --version" "$BIN/quelmar-cli" --version
"$BIN/quelmar-cli" --version | grep -q "Quelmar v$(dpkg-deb -f "$DEB" Version)" &&
  pass "--version matches the package version" || fail "--version differs from the package's"
SAMPLES=$WORK/samples
check "wacsim writes the sample set" "$BIN/wacsim" --sample-set --output-dir "$SAMPLES"
product=$(ls "$SAMPLES"/*CE.IMG | head -1)
"$BIN/quelmar-cli" report "$product" >"$WORK/report" 2>&1 &&
  grep -q "^Loading: " "$WORK/report" && pass "installed quelmar-cli report" ||
  fail "installed quelmar-cli report: $(head -3 "$WORK/report")"
# The index beside the products is handed over; the calibration file is left to the program.
mkdir -p "$XDG_DATA_HOME/quelmar"
cp "$SAMPLES/CUMINDEX.TAB" "$XDG_DATA_HOME/quelmar/CUMINDEX.TAB"
(cd "$WORK" && "$BIN/quelmar-cli" stack --band 3 --correct --output-dir "$WORK/out" \
  --cal-file "$XDG_DATA_HOME/quelmar/cal.txt" "$product") >"$WORK/stack" 2>&1 &&
  ls "$WORK/out"/*.bmp >/dev/null 2>&1 && pass "installed quelmar-cli stack writes a bitmap" ||
  fail "installed quelmar-cli stack: $(tail -3 "$WORK/stack")"
grep -q "Calibration data has been saved to" "$WORK/stack" &&
  pass "the index in the user's data folder is found" || fail "no calibration record: index not found"
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
  cat >"$WORK/window.sh" <<WINDOW
"$BIN/quelmar" "$product" &
pid=\$!
for i in \$(seq 1 50); do
  xdotool search --name "Quelmar \\(v" >/dev/null 2>&1 && break
  sleep 0.2
done
title=\$(xdotool search --name "Quelmar \\(v" getwindowname 2>/dev/null | head -1)
sleep 1
alive=no; kill -0 \$pid 2>/dev/null && alive=yes
kill \$pid 2>/dev/null; wait \$pid 2>/dev/null
echo "\$alive|\$title"
WINDOW
  result=$(xvfb-run -a -s '-screen 0 1280x800x24' bash "$WORK/window.sh" 2>/dev/null)
  if [[ $result == "yes|Quelmar (v"*"$(basename "$product")" ]]; then
    pass "installed window starts with the product given ($result)"
  else
    fail "installed window: \"$result\""
  fi
else
  fail "xvfb-run or xdotool missing"
fi
for page in quelmar quelmar-cli wacsim; do
  MANWIDTH=80 man -l "$ROOT/usr/share/man/man1/$page.1.gz" 2>"$WORK/man" | grep -q "$page" &&
    [[ ! -s $WORK/man ]] && pass "man $page reads" || fail "man $page: $(cat "$WORK/man")"
done
find "$ROOT" | sort >"$WORK/tree-after"
if cmp -s "$WORK/tree-before" "$WORK/tree-after"; then
  pass "nothing written into the installed tree"
else
  fail "files were written into the installed tree: $(comm -13 "$WORK/tree-before" "$WORK/tree-after")"
fi
check "desktop-file-validate" desktop-file-validate "$ROOT/usr/share/applications/quelmar.desktop"
check "appstreamcli validate --no-net" appstreamcli validate --no-net \
  "$ROOT/usr/share/metainfo/org.quelmar.Quelmar.metainfo.xml"
grep -q "<release version=\"$(dpkg-deb -f "$DEB" Version)\"" \
  "$ROOT/usr/share/metainfo/org.quelmar.Quelmar.metainfo.xml" &&
  pass "metainfo release is the package version" || fail "metainfo release differs"

# ---- 3. the .tar.gz -----------------------------------------------------------------------------
if [[ ${#tgzs[@]} -eq 1 ]]; then
  tar tzf "${tgzs[0]}" >"$WORK/tgz"
  for f in bin/quelmar bin/quelmar-cli bin/wacsim share/quelmar/Quelmar.ini; do
    grep -q "/$f\$" "$WORK/tgz" && pass "tar.gz holds $f" || fail "tar.gz lacks $f"
  done
else
  fail "expected one .tar.gz in $BUILD/packages"
fi

# ---- 4. the Windows zip -------------------------------------------------------------------------
WINE=
for candidate in wine64 wine /usr/lib/wine/wine64; do
  command -v "$candidate" >/dev/null 2>&1 && { WINE=$(command -v "$candidate"); break; }
done
if [[ ${#zips[@]} -ne 1 ]]; then
  fail "expected one zip in $WIN_BUILD/packages (make windows-zip)"
elif [[ -z $WINE ]]; then
  fail "Wine is not installed (make windows)"
else
  unzip -q "${zips[0]}" -d "$WORK/win"
  WINDIR=$(dirname "$(find "$WORK/win" -name quelmar-cli.exe | head -1)")
  for f in quelmar-cli.exe wacsim.exe Quelmar.ini README-Windows.txt LICENSE.txt; do
    [[ -f $WINDIR/$f ]] && pass "zip holds $f" || fail "zip lacks $f"
  done
  export WINEPREFIX=$WIN_BUILD/wine-prefix WINEDEBUG=-all
  cp "$product" "$WORK/win/sample.IMG"
  (cd "$WORK/win" && "$WINE" "$WINDIR/quelmar-cli.exe" report sample.IMG) >"$WORK/winreport" 2>&1
  grep -q "^Loading: " "$WORK/winreport" && pass "the zip's quelmar-cli.exe runs under Wine" ||
    fail "quelmar-cli.exe under Wine: $(head -3 "$WORK/winreport")"
fi

if [[ $failures -ne 0 ]]; then
  echo "test-package: $failures check(s) failed" >&2
  exit 1
fi
echo "test-package: all checks passed"
