#!/usr/bin/env bash
# Tests the Windows build under Wine:
#   1. core_tests.exe, once;
#   2. the simulator and the batch tool on both systems: wacsim.exe must write the same product
#      bytes as the native wacsim, and quelmar-cli.exe the same bitmaps, calibration files and
#      report lines as the native quelmar-cli for the same inputs (the bitmap path inside a
#      calibration record is the only item allowed to differ: it is an absolute path of the
#      system that wrote it).
# Usage: scripts/test-windows.sh WIN_BUILD NATIVE_BUILD   (default: build-windows build)
# Needs wine64 (Debian's package puts it in /usr/lib/wine). No display is needed; the Wine
# prefix lives in WIN_BUILD/wine-prefix and is made on the first run.
set -u -o pipefail

die() {
  echo "test-windows: $*" >&2
  exit 2
}

absolute() { (cd "$1" 2>/dev/null && pwd) || die "no folder \"$1\""; }

WIN_BUILD=$(absolute "${1:-build-windows}")
NATIVE_BUILD=$(absolute "${2:-build}")
WIN_BIN=$WIN_BUILD/bin
NATIVE_BIN=$NATIVE_BUILD/bin
for f in "$WIN_BIN/core_tests.exe" "$WIN_BIN/quelmar-cli.exe" "$WIN_BIN/wacsim.exe"; do
  [[ -f $f ]] || die "$f is missing (run \"make windows\" first)"
done
for f in "$NATIVE_BIN/quelmar-cli" "$NATIVE_BIN/wacsim"; do
  [[ -x $f ]] || die "$f is missing (build the native programs first, e.g. \"make build\")"
done

# ---- Wine ---------------------------------------------------------------------------------------
WINE=
for candidate in wine64 wine /usr/lib/wine/wine64 /usr/lib64/wine/wine64 /opt/wine-stable/bin/wine64; do
  if command -v "$candidate" >/dev/null 2>&1; then
    WINE=$(command -v "$candidate")
    break
  fi
done
[[ -n $WINE ]] || die "Wine is not installed (Debian: apt-get install wine64)"
WINESERVER=
for candidate in "$(dirname "$WINE")/wineserver" wineserver /usr/lib/wine/wineserver; do
  if command -v "$candidate" >/dev/null 2>&1; then
    WINESERVER=$(command -v "$candidate")
    break
  fi
done

export WINEPREFIX=$WIN_BUILD/wine-prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export HOME=${HOME:-$WIN_BUILD}
# Unix file names and arguments are UTF-8: Wine must read them so to get non-ASCII names right.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY  # console programs only; never open a window

stop_wineserver() {
  if [[ -n $WINESERVER ]]; then "$WINESERVER" -k >/dev/null 2>&1 || true; fi
}
trap stop_wineserver EXIT

LOG=$WIN_BUILD/test-windows-logs
rm -rf "$LOG"
mkdir -p "$LOG"

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "Initialising the Wine prefix $WINEPREFIX (once)..."
  mkdir -p "$WINEPREFIX"
  if ! timeout 300 "$WINE" wineboot -i >"$LOG/wineboot.log" 2>&1; then
    # Some Wine builds insist on a display even for this: give them a virtual one.
    if command -v xvfb-run >/dev/null 2>&1 &&
      timeout 300 xvfb-run -a "$WINE" wineboot -i >>"$LOG/wineboot.log" 2>&1; then
      :
    else
      cat "$LOG/wineboot.log" >&2
      die "cannot initialise the Wine prefix"
    fi
  fi
  "$WINESERVER" -w >/dev/null 2>&1 || true
fi

# Runs a Windows program under Wine with a time limit.
wine_run() { timeout 300 "$WINE" "$@"; }

FAILURES=0
fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}

# ---- 1. core tests ------------------------------------------------------------------------------
echo "== core_tests.exe under Wine"
(cd "$WIN_BUILD" && wine_run "$WIN_BIN/core_tests.exe" --gtest_brief=1) >"$LOG/core_tests.log" 2>&1
status=$?
tr -d '\r' <"$LOG/core_tests.log" | grep -E '^\[  (PASSED|FAILED|SKIPPED) |^\[==========\]' || true
if [[ $status -ne 0 ]]; then
  tr -d '\r' <"$LOG/core_tests.log" | grep -B1 -A20 '^\[ RUN\|Failure' | head -200
  fail "core_tests.exe exited with status $status (log: $LOG/core_tests.log)"
elif ! tr -d '\r' <"$LOG/core_tests.log" | grep -qE '^\[  PASSED  \] [0-9]+ tests?\.' ||
  tr -d '\r' <"$LOG/core_tests.log" | grep -qE '^\[  FAILED  \]|Unhandled (page fault|exception)'; then
  # A program that crashes under Wine may still end with status 0: the run counts only when
  # the tests' own summary says they passed.
  tr -d '\r' <"$LOG/core_tests.log" | grep -B2 -A12 'Unhandled\|Failure' | head -120
  fail "core_tests.exe ended without its tests' summary saying they passed (log: $LOG/core_tests.log)"
fi

# ---- 2. simulator and batch tool on both systems ------------------------------------------------
echo "== wacsim and quelmar-cli, Linux against Windows"
WORK=$WIN_BUILD/cli-comparison
rm -rf "$WORK"
mkdir -p "$WORK/in" "$WORK/win-in" "$WORK/linux" "$WORK/windows"
cd "$WORK" || die "cannot enter $WORK"

# The Windows form of a Unix path (Wine's drive Z: is the Unix root).
windows_path() {
  local p
  p=$(wine_run winepath -w "$1" 2>/dev/null | tr -d '\r')
  [[ -n $p ]] || p="Z:${1//\//\\}"
  printf '%s' "$p"
}

PRODUCTS=("--kind CE --framelets 24 --seed 7" "--kind UE --framelets 40 --seed 8"
  "--kind ME --framelets 30 --seed 9" "--kind VE --framelets 20 --seed 10 --travel 9.7")
for options in "${PRODUCTS[@]}"; do
  # shellcheck disable=SC2086  # the options are words
  "$NATIVE_BIN/wacsim" $options --output-dir in >>"$LOG/wacsim-linux.txt" 2>&1 ||
    die "the native wacsim failed ($options)"
  # shellcheck disable=SC2086
  wine_run "$WIN_BIN/wacsim.exe" $options --output-dir win-in >>"$LOG/wacsim-windows.txt" 2>&1 ||
    fail "wacsim.exe failed ($options)"
done
for f in in/*; do
  name=${f#in/}
  if [[ ! -f win-in/$name ]]; then
    fail "wacsim.exe did not write $name"
  elif ! cmp -s "$f" "win-in/$name"; then
    fail "wacsim.exe wrote other bytes for $name: $(cmp "$f" "win-in/$name" 2>&1)"
  fi
done

id_of() { basename "$(ls in/*"$1".IMG)" .IMG; }
CE=$(id_of CE)
UE=$(id_of UE)
ME=$(id_of ME)
VE=$(id_of VE)
# A non-ASCII file name, as users give them.
NONASCII_IMG="Mondkrater_ä.IMG"
cp "in/$CE.IMG" "in/$NONASCII_IMG"

# The same work on both systems, each in its own folder, the inputs one folder up. Windows gets
# backslash paths and, for the index, a drive-letter path.
WIN_INDEX=$(windows_path "$WORK/in/CUMINDEX.TAB")
CASES=(
  "raw|-o raw_ce.bmp @in/$CE.IMG"
  "raw|--invert -o raw_me_inverted.bmp @in/$ME.IMG"
  "raw|--output-dir raw_ue @in/$UE.IMG"
  "stack|--band 4 --correct --cal-file calibration.txt --index %INDEX -o stack_ce.bmp @in/$CE.IMG"
  "stack|--correct-vertically --shift 1 --cal-file calibration.txt --index %INDEX -o stack_ue.bmp @in/$UE.IMG"
  "stack|--vertical-travel 10,6 --horizontal-travel -0.35 --invert --cal-file calibration.txt --index %INDEX -o stack_me.bmp @in/$ME.IMG"
  "stack|--vertical-travel 9.7 --correct --all-bands --output-dir bands_ve @in/$VE.IMG"
  "stack|--band 2 --cal-file kalibrierung_ä.txt --index %INDEX -o bild_ä.bmp @in/$NONASCII_IMG"
  "stack|--format png --correct --cal-file calibration_png.txt --index %INDEX -o stack_ce.png @in/$CE.IMG"
  "raw|--format png --output-dir raw_png @in/$CE.IMG"
  "support|--index %INDEX @in/$CE.IMG @in/$VE.IMG"
  "report|@in/$UE.IMG @in/$NONASCII_IMG"
  "header|@in/$ME.IMG"
)

# Lines that name an absolute path of the system are compared without it.
normalise_output() {
  tr -d '\r' | sed -e 's/^Loading: .*/Loading: <path>/' \
    -e 's/saved to ".*"/saved to "<path>"/' -e 's/calibration file: .*/calibration file: <path>/'
}

n=0
for case in "${CASES[@]}"; do
  n=$((n + 1))
  command=${case%%|*}
  args=${case#*|}
  linux_args=()
  windows_args=()
  for word in $args; do
    case $word in
      @*)
        linux_args+=("../${word#@}")
        windows_args+=("..\\$(tr / '\\' <<<"${word#@}")")
        ;;
      %INDEX)
        linux_args+=("../in/CUMINDEX.TAB")
        windows_args+=("$WIN_INDEX")
        ;;
      *)
        linux_args+=("$word")
        windows_args+=("$word")
        ;;
    esac
  done
  (cd linux && "$NATIVE_BIN/quelmar-cli" "$command" "${linux_args[@]}") \
    >"$LOG/case$n-linux.out" 2>"$LOG/case$n-linux.err"
  linux_status=$?
  (cd windows && wine_run "$WIN_BIN/quelmar-cli.exe" "$command" "${windows_args[@]}") \
    >"$LOG/case$n-windows.out" 2>"$LOG/case$n-windows.err"
  windows_status=$?
  label="case $n (quelmar-cli $command $args)"
  if [[ $linux_status -ne 0 ]]; then
    fail "$label: the native tool exited with $linux_status: $(head -c 600 "$LOG/case$n-linux.err")"
  fi
  if [[ $windows_status -ne $linux_status ]]; then
    fail "$label: exit status $windows_status on Windows, $linux_status on Linux:" \
      "$(tr -d '\r' <"$LOG/case$n-windows.err" | head -c 600)"
  fi
  if grep -q $'\r\r' "$LOG/case$n-windows.out"; then
    fail "$label: doubled carriage returns in the Windows output"
  fi
  if ! diff <(normalise_output <"$LOG/case$n-linux.out") \
    <(normalise_output <"$LOG/case$n-windows.out") >"$LOG/case$n.diff"; then
    fail "$label: the output lines differ:"
    head -20 "$LOG/case$n.diff"
  fi
done

# Every bitmap byte for byte; the calibration files with CR LF line ends, compared with the
# bitmap path item of each record set aside.
check_calibration_file() {  # linux-file windows-file
  local f
  for f in "$1" "$2"; do
    if grep -q $'\r\r' "$f"; then fail "$f: doubled carriage returns"; fi
    if [[ $(grep -c $'\r$' "$f") -ne $(wc -l <"$f") ]] || [[ -n $(tail -c 2 "$f" | tr -d '\r\n') ]]; then
      fail "$f: a line does not end in CR LF"
    fi
  done
  # Item 22 of a U1 record is the bitmap's absolute path.
  local strip='BEGIN { FS = OFS = ", " } /^U1, / { print $22 > "/dev/stderr"; $22 = "<bitmap>" } { print }'
  if ! cmp -s <(awk "$strip" "$1" 2>/dev/null) <(awk "$strip" "$2" 2>/dev/null); then
    fail "$2 differs from $1 (beyond the bitmap paths):"
    diff <(awk "$strip" "$1" 2>/dev/null | tr -d '\r') <(awk "$strip" "$2" 2>/dev/null | tr -d '\r') |
      head -20
  fi
  # The paths themselves: absolute, each in its system's form, naming the bitmap written.
  local linux_paths windows_paths
  linux_paths=$(awk "$strip" "$1" 2>&1 >/dev/null)
  windows_paths=$(awk "$strip" "$2" 2>&1 >/dev/null)
  while IFS= read -r p; do
    [[ -z $p || ( $p == /* && -f $p ) ]] || fail "$1: the record's bitmap \"$p\" does not exist"
  done <<<"$linux_paths"
  while IFS= read -r p; do
    [[ -z $p || $p =~ ^[A-Za-z]:\\ ]] || fail "$2: the record's bitmap \"$p\" is no absolute Windows path"
  done <<<"$windows_paths"
  if [[ $(wc -l <<<"$linux_paths") -ne $(wc -l <<<"$windows_paths") ]]; then
    fail "$2: another number of records than $1"
  fi
}

compared=0
while IFS= read -r -d '' f; do
  rel=${f#linux/}
  other=windows/$rel
  if [[ ! -f $other ]]; then
    fail "quelmar-cli.exe did not write $rel"
    continue
  fi
  compared=$((compared + 1))
  case $rel in
    *.bmp | *.png) cmp -s "$f" "$other" || fail "$rel differs: $(cmp "$f" "$other" 2>&1)" ;;
    *.txt) check_calibration_file "$f" "$other" ;;
    *) cmp -s "$f" "$other" || fail "$rel differs" ;;
  esac
done < <(find linux -type f -print0 | sort -z)
while IFS= read -r -d '' f; do
  [[ -f linux/${f#windows/} ]] || fail "quelmar-cli.exe wrote ${f#windows/}, the native tool did not"
done < <(find windows -type f -print0)
[[ $compared -ge 12 ]] || fail "only $compared files were written to compare"
echo "compared $compared files and the output of ${#CASES[@]} runs"

if [[ $FAILURES -ne 0 ]]; then
  echo "test-windows: $FAILURES check(s) failed; logs and files in $LOG and $WORK"
  exit 1
fi
echo "test-windows: all passed"
