#!/usr/bin/env bash
# Runs every fuzz target of the fuzz preset for SECONDS each (default 30), starting from the
# committed seeds (fuzz/corpus/TARGET) and dictionary, after replaying the inputs of earlier
# findings (fuzz/regressions/TARGET). Fails on the first finding; the input that found it is
# kept in build/fuzz/findings/. New inputs the run discovers go to a scratch directory, not to
# the committed seeds.
#   scripts/run-fuzz.sh [SECONDS]       (after: cmake --preset fuzz && cmake --build --preset fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
findings=build/fuzz/findings
mkdir -p "$findings"
declare -A dictionary=([link_replies]=link [files]=files [stick_requests]=stick [registry_view]=files)
for target in link_replies files stick_requests registry_view; do
  program=build/fuzz/fuzz/orbek_fuzz_$target
  if compgen -G "fuzz/regressions/$target/*" >/dev/null; then
    echo "== $target: earlier findings"
    "$program" fuzz/regressions/$target/*
  fi
  scratch=$(mktemp -d /tmp/orbek-fuzz-XXXXXX)
  echo "== $target: ${seconds} s"
  status=0
  "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -dict="fuzz/dict/${dictionary[$target]}.dict" -artifact_prefix="$findings/$target-" \
    "$scratch" "fuzz/corpus/$target" 2>"$findings/$target.log" || status=$?
  rm -rf "$scratch"
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$findings/$target.log" || true
  if [[ $status -ne 0 ]]; then
    tail -n 40 "$findings/$target.log"
    echo "fuzz target $target found a fault: its input is in $findings/" >&2
    exit 1
  fi
done
echo "no findings"
