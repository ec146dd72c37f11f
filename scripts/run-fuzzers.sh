#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time.
#
#   bash scripts/run-fuzzers.sh BUILD_DIR [SECONDS]
#
# Each target fuzzes a copy of its seed corpus (fuzz/corpus/<target>/) in a temporary folder, so
# the repository's corpus stays small and clean. Findings (crash-*, timeout-*, oom-*, leak-*) are
# kept in BUILD_DIR/fuzz-findings/<target>/ and the log of each run in BUILD_DIR/fuzz-logs/. The
# script exits non-zero when any target found something, after printing the reproducer paths.
# FUZZ_TARGETS="fuzz_settings fuzz_edr_loader" limits the run to some targets.
# (A shell script: not for clang-format.)
set -u

if [[ $# -lt 1 ]]; then
  echo "usage: bash scripts/run-fuzzers.sh BUILD_DIR [SECONDS]" >&2
  exit 2
fi
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$1"
[[ "$build" = /* ]] || build="$PWD/$build"
seconds="${2:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -lt 1 ]]; then
  echo "run-fuzzers: SECONDS must be a whole number of seconds, not \"$seconds\"" >&2
  exit 2
fi

bin="$build/bin"
targets=()
if [[ -n "${FUZZ_TARGETS:-}" ]]; then
  for name in $FUZZ_TARGETS; do targets+=("$bin/$name"); done
else
  for exe in "$bin"/fuzz_*; do [[ -x "$exe" ]] && targets+=("$exe"); done
fi
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "run-fuzzers: no fuzz targets in $bin (configure with CC=clang CXX=clang++ -DQUELMAR_FUZZ=ON)" >&2
  exit 2
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quelmar-fuzz-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
findings_root="$build/fuzz-findings"
logs="$build/fuzz-logs"
mkdir -p "$findings_root" "$logs"

# The core library is built with recoverable undefined-behaviour checks: make them stop the run.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"

failed=()
printf '%-22s %12s %8s  %s\n' "target" "executions" "seconds" "result"
for exe in "${targets[@]}"; do
  name="$(basename "$exe")"
  if [[ ! -x "$exe" ]]; then
    echo "run-fuzzers: $exe is not built" >&2
    failed+=("$name (not built)")
    continue
  fi
  corpus="$work/$name/corpus"
  findings="$findings_root/$name"
  mkdir -p "$corpus" "$findings"
  if [[ -d "$repo/fuzz/corpus/$name" ]]; then
    cp -R "$repo/fuzz/corpus/$name/." "$corpus/"
  fi
  options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
           -artifact_prefix="$findings/")
  [[ -f "$repo/fuzz/$name.dict" ]] && options+=(-dict="$repo/fuzz/$name.dict")
  log="$logs/$name.log"
  before="$(find "$findings" -maxdepth 1 -type f ! -name 'slow-unit-*' | wc -l)"
  # The run itself is bounded by -max_total_time; the outer limit only guards against a stall.
  timeout --kill-after=30 $((seconds + 120)) "$exe" "${options[@]}" "$corpus" >"$log" 2>&1
  status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  after="$(find "$findings" -maxdepth 1 -type f ! -name 'slow-unit-*' | wc -l)"
  if [[ $status -eq 0 && "$after" -eq "$before" ]]; then
    printf '%-22s %12s %8s  %s\n' "$name" "${runs:-?}" "$seconds" "ok"
  else
    printf '%-22s %12s %8s  %s\n' "$name" "${runs:-?}" "$seconds" "FOUND A PROBLEM (exit $status)"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|terminate called|  what\(\)|.*runtime error)' "$log" | head -5 |
      sed 's/^/    /'
    newest="$(ls -t "$findings" 2>/dev/null | grep -v '^slow-unit-' | head -1)"
    if [[ -n "$newest" ]]; then
      echo "    reproducer: $findings/$newest"
      echo "    replay:     $exe $findings/$newest"
    fi
    echo "    log:        $log"
    failed+=("$name")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "run-fuzzers: problems found by: ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzzers: no findings"
