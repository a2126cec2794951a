#!/bin/sh
# Runs each reader's fuzz target for a while from its committed seed corpus.
#
#   scripts/fuzz.sh [SECONDS]      (default 30 per target)
#
# Builds the targets with the fuzz preset (clang, ASan + UBSan) into build-fuzz/ first. New inputs
# go to a scratch corpus, so the committed seeds stay small; a crash leaves its input in
# build-fuzz/fuzz-artifacts/ and makes the script fail.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build="$root/build-fuzz"

[ -f "$build/CMakeCache.txt" ] || cmake --preset fuzz -S "$root" >/dev/null
nice ninja -C "$build" fuzz_hex fuzz_pack fuzz_project >/dev/null

mkdir -p "$build/fuzz-artifacts"
status=0
for target in hex pack project; do
  work="$build/fuzz-corpus/$target"
  mkdir -p "$work"
  echo "fuzz_$target: ${seconds}s"
  if ! "$build/bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 \
      -artifact_prefix="$build/fuzz-artifacts/$target-" -print_final_stats=1 \
      "$work" "$root/tests/fuzz/corpus/$target" > "$build/fuzz-$target.log" 2>&1; then
    echo "fuzz_$target FAILED, see $build/fuzz-$target.log" >&2
    tail -n 30 "$build/fuzz-$target.log" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/fuzz-$target.log" | sed 's/^/  /'
  fi
done
exit $status
