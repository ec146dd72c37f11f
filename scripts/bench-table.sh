#!/usr/bin/env bash
# Runs the benchmarks of a bench build and prints one short table: each case, its time, the bytes
# its floor moves, the floor's time and the case's ratio to it, against the case's goal.
#
#   bash scripts/bench-table.sh BUILD_DIR [benchmark options...]
#   bash scripts/bench-table.sh --table RESULTS.json     (only the table of an earlier run)
#
# First the pictures of the fast paths are checked against the plain rules (bench_checks) and
# the peak memory is measured (quelmar_peak_memory); a failed check stops the run, since timing
# wrong pictures says nothing. The full results stay in BUILD_DIR/bench-results.json and the
# benchmark's own console output in BUILD_DIR/bench-console.txt. BENCH_FILTER=REGEX runs only
# the matching cases. Exit status: 1 when a check, a case or a program failed; a missed goal is
# marked MISSED in the table and gives status 3 only with BENCH_STRICT=1 (goals are benchmarks,
# not tests: a loaded machine can miss one); otherwise 0.
set -u

# The table of a Google Benchmark JSON file (one field per line, as the library writes it).
print_table() {
  awk '
    function field(line) {
      sub(/^[^:]*: */, "", line); sub(/,$/, "", line); gsub(/"/, "", line); return line
    }
    BEGIN {
      missed = 0
      printf "%-40s %10s %10s %10s %7s %6s  %s\n", "case", "time(ms)", "bytes(MB)", "floor(ms)",
             "ratio", "goal", "verdict"
    }
    /"benchmarks": *\[/ { inside = 1; next }
    !inside { next }
    /^ *\{/ { name = ""; time = ""; unit = ""; ratio = ""; goal = ""; bytes = ""; floorms = "";
              err = ""; kind = "iteration"; next }
    /"name":/          { name = field($0); next }
    /"run_type":/      { kind = field($0); next }
    /"real_time":/     { time = field($0); next }
    /"time_unit":/     { unit = field($0); next }
    /"floor_ratio":/   { ratio = field($0); next }
    /"goal":/          { goal = field($0); next }
    /"bytes":/         { bytes = field($0); next }
    /"floor_ms":/      { floorms = field($0); next }
    /"error_message":/ { err = field($0); next }
    /^ *\}/ {
      if (name == "" || kind != "iteration") next
      shown = name; name = ""
      sub(/\/real_time$/, "", shown)
      if (err != "") { printf "%-40s %s\n", shown, "FAILED: " err; failed = 1; next }
      scale = (unit == "ns") ? 1e-6 : (unit == "us") ? 1e-3 : (unit == "s") ? 1e3 : 1
      verdict = "-"
      if (goal + 0 > 0) {
        if (ratio + 0 <= goal + 0) verdict = "ok"; else { verdict = "MISSED"; missed = 1 }
      }
      goalText = (goal + 0 > 0) ? sprintf("%.0fx", goal) : "-"
      printf "%-40s %10.3f %10.4g %10.3f %7.2f %6s  %s\n", shown, time * scale, bytes / 1e6,
             floorms, ratio, goalText, verdict
    }
    END { exit failed ? 1 : (missed ? 3 : 0) }
  ' "$1"
}

if [[ $# -ge 2 && "$1" == "--table" ]]; then
  print_table "$2"
  exit $?
fi
if [[ $# -lt 1 ]]; then
  echo "usage: bash scripts/bench-table.sh BUILD_DIR [benchmark options...]" >&2
  echo "       bash scripts/bench-table.sh --table RESULTS.json" >&2
  exit 2
fi

build="$1"
shift
bin="$build/bin"
if [[ ! -x "$bin/quelmar_bench" ]]; then
  echo "bench-table: $bin/quelmar_bench not found; configure with -DQUELMAR_BENCH=ON and build" >&2
  exit 1
fi

if [[ -x "$bin/bench_checks" ]]; then
  echo "== Fast pictures against the plain rules"
  if ! "$bin/bench_checks" --gtest_brief=1; then
    echo "bench-table: the checks failed; not timing wrong results" >&2
    exit 1
  fi
fi

status=0
if [[ -x "$bin/quelmar_peak_memory" ]]; then
  echo
  echo "== Peak memory"
  "$bin/quelmar_peak_memory"
  peak=$?
  if [[ $peak -eq 3 ]]; then
    status=3
  elif [[ $peak -ne 0 ]]; then
    status=1
  fi
fi

echo
echo "== Speed (ratio = median of case time / floor time, measured in pairs)"
results="$build/bench-results.json"
args=(--benchmark_out="$results" --benchmark_out_format=json)
if [[ -n "${BENCH_FILTER:-}" ]]; then
  args+=(--benchmark_filter="$BENCH_FILTER")
fi
if ! "$bin/quelmar_bench" "${args[@]}" "$@" >"$build/bench-console.txt" 2>&1; then
  echo "bench-table: the benchmark program failed; see $build/bench-console.txt" >&2
  tail -n 20 "$build/bench-console.txt" >&2
  exit 1
fi
print_table "$results"
table=$?
if [[ -x "$bin/quelmar_view_bench" ]]; then
  echo
  echo "== The picture view, offscreen (floor = the time budget: ratio = time / budget)"
  view_results="$build/bench-view-results.json"
  view_args=(--benchmark_out="$view_results" --benchmark_out_format=json)
  if [[ -n "${BENCH_FILTER:-}" ]]; then
    view_args+=(--benchmark_filter="$BENCH_FILTER")
  fi
  if ! QT_QPA_PLATFORM=offscreen "$bin/quelmar_view_bench" "${view_args[@]}" "$@" \
      >"$build/bench-view-console.txt" 2>&1; then
    echo "bench-table: the view benchmark failed; see $build/bench-view-console.txt" >&2
    tail -n 20 "$build/bench-view-console.txt" >&2
    exit 1
  fi
  print_table "$view_results"
  view_table=$?
  [[ $view_table -gt $table ]] && table=$view_table
fi
# Cases that watch their resident memory (the index search) say how much it grew.
awk '
  function field(line) { sub(/^[^:]*: */, "", line); sub(/,$/, "", line); gsub(/"/, "", line); return line }
  /"name":/ { name = field($0); sub(/\/real_time$/, "", name) }
  /"peak_rss_mb":/ { peak = field($0) }
  /"rss_growth_mb":/ { printf "%-40s resident peak %.1f MB, %.1f MB above its start\n", name, peak, field($0) }
' "$results"
echo
echo "Floors: memcpy of the bytes column between mapped buffers (load: the product; raw and"
echo "stacks: the picture; BMP: the file), copies of up to 4 MB at places not touched lately, so"
echo "that they are not timed from the core's own cache; Support and Find: one read of the index file;"
echo "calibration: one open-append-close of the record."
if [[ $table -eq 1 || $status -eq 1 ]]; then
  exit 1
fi
if [[ $table -eq 3 || $status -eq 3 ]]; then
  echo "Some goals were missed (marked MISSED above)."
  [[ "${BENCH_STRICT:-0}" == 1 ]] && exit 3
fi
exit 0
