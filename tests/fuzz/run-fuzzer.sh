#!/bin/sh
# Runs one libFuzzer target for a bounded time over its committed corpus.
# New inputs go to a scratch corpus in the build tree; a crash, a sanitizer
# report, a leak or a time-out writes the input under artifacts/ and fails.
#   run-fuzzer.sh BUILD_DIR TARGET CORPUS_DIR SECONDS [DICT]
set -eu
dir=$(cd "$1" && pwd)
target=$2
corpus=$(cd "$3" && pwd)
secs=$4
dict=${5:-}
[ -n "$dict" ] && dict=$(cd "$(dirname "$dict")" && pwd)/$(basename "$dict")
bin="$dir/tests/$target"
[ -x "$bin" ] || { echo "$bin was not built" >&2; exit 1; }
work="$dir/fuzz-work/$target"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
set -- -max_total_time="$secs" -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/"
[ -n "$dict" ] && set -- "$@" -dict="$dict"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$work"
if "$bin" "$@" corpus "$corpus" >fuzz.log 2>&1; then
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' fuzz.log || true
  echo "$target: no failure in $secs s"
else
  tail -n 80 fuzz.log
  echo "$target FAILED; the input is in $work/artifacts:" >&2
  ls -l "$work/artifacts" >&2
  exit 1
fi
