#!/usr/bin/env bash
# Writes a manual page made from a program's --help text, so the two never disagree:
#   help-to-man.sh PROGRAM NAME "SUMMARY" VERSION OUT.1.gz [COMMAND...]
# Each COMMAND's own help ("PROGRAM COMMAND --help") follows as a section of its own, without
# the closing part it shares with the general help (from its "Output" heading on). Lines of
# the help that start in the first column and end without a full stop are headings; indented
# lines keep their layout; the rest is running text.
set -euo pipefail
program=$1 name=$2 summary=$3 version=$4 out=$5
shift 5

to_roff() {
  awk '
    function esc(s) { gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s); sub(/^[.'\'']/, "\\\\\\&&", s); return s }
    # An indented block is a table (kept as laid out) when a line holds a column gap or a
    # deeper indent, else a paragraph (filled).
    function end_block(   i, table) {
      if (n == 0) return
      table = 0
      for (i = 1; i <= n; i++) if (block[i] ~ /^ / || block[i] ~ /[^ ]  +[^ ]/) table = 1
      print ".RS 2"
      if (table) print ".nf"
      for (i = 1; i <= n; i++) print esc(block[i])
      if (table) print ".fi"
      print ".RE"
      n = 0
    }
    /^Usage: / { end_block(); print ".SS \"" esc(substr($0, 8)) "\""; next }
    /^$/ { end_block(); print ".PP"; next }
    /^[ \t]/ { line = $0; sub(/^  /, "", line); block[++n] = line; next }
    /^[A-Z][A-Za-z ]*[a-z]:?$/ && length($0) < 30 {
      end_block(); h = $0; sub(/:$/, "", h); print ".SS \"" toupper(h) "\""; next
    }
    { end_block(); print esc($0) }
    END { end_block() }
  '
}

{
  echo ".TH \"$(echo "$name" | tr a-z A-Z)\" 1 \"\" \"Quelmar $version\" \"User Commands\""
  echo ".SH NAME"
  echo "$name \\- $summary"
  echo ".SH DESCRIPTION"
  general=$("$program" --help)
  printf '%s\n' "$general" | to_roff
  shared=$(printf '%s\n' "$general" | sed -n '/^Output$/,$p')
  for command in "$@"; do
    echo ".SH \"$(echo "$command" | tr a-z A-Z) COMMAND\""
    help=$("$program" "$command" --help)
    if [[ -n $shared && $help == *"$shared" ]]; then help=${help%"$shared"}; fi
    printf '%s\n' "$help" | to_roff
  done
  echo ".SH VERSION"
  echo "This page belongs to Quelmar $version (\\fB$name \\-\\-version\\fR)."
  echo ".SH LICENSE"
  echo "Quelmar is free software under the MIT license: see share/doc/quelmar/copyright where it is"
  echo "installed."
} | gzip -9n > "$out"
