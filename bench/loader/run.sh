#!/usr/bin/env bash
# The loader's speed on an emulated ATmega328P at 16 MHz with strict line timing: 30,000 random
# bytes at 1,000,000 baud with --verify, over another 30,000-byte program already in the flash
# (so every page is erased and written). The flash operations alone take 235 x (4.5 + 4.5) ms =
# 2.12 s; the line 0.36 s, which the loader overlaps with them. Then the same image again (the
# chip holds it: nothing is written) and the image with one page changed (that page only).
#
#   bench/loader/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
loader=$build/loaders/brindlemark-loader-atmega328p-16mhz-1000000.hex
[ -f "$loader" ] || { echo "no $loader: build the default preset first" >&2; exit 1; }
work=$(mktemp -d)
trap 'pkill -P $$ avr-chip 2>/dev/null || true; rm -rf "$work"' EXIT

for run in $(seq "$runs"); do
  srec_cat -generate 0 30000 -random -o "$work/old.hex" -Intel
  srec_cat -generate 0 30000 -random -o "$work/new.hex" -Intel
  rm -f "$work/pty"
  "$build/bin/avr-chip" --mcu atmega328p --loader "$loader" --app "$work/old.hex" --baud 1000000 \
    --strict-line 1 --follow-host 0 --pty-path-file "$work/pty" --flash-out "$work/flash.bin" --report "$work/report" \
    --timeout 60 2>"$work/chip.log" >/dev/null &
  chip=$!
  for _ in $(seq 50); do [ -s "$work/pty" ] && break; sleep 0.1; done
  download() {
    local from=$(date +%s.%N)
    "$build/bin/brindlemark-cli" download "$1" --port "$(cat "$work/pty")" --baud 1000000 \
      --verify --json >"$work/out.jsonl" 2>/dev/null
    echo "$(date +%s.%N) - $from" | bc
  }
  full=$(download "$work/new.hex")
  again=$(download "$work/new.hex")
  again_written=$(grep -o '"pagesWritten":[0-9]*' "$work/out.jsonl" | cut -d: -f2)
  srec_cat "$work/new.hex" -Intel -exclude 0x3000 0x3001 -generate 0x3000 0x3001 -constant 0x5A -o "$work/one.hex" -Intel
  one=$(download "$work/one.hex")
  one_written=$(grep -o '"pagesWritten":[0-9]*' "$work/out.jsonl" | cut -d: -f2)
  kill "$chip"; wait "$chip" || true
  grep -q '"verified":true' "$work/out.jsonl" || { echo "run $run: not verified" >&2; tail -3 "$work/out.jsonl" >&2; exit 1; }
  srec_cat "$work/one.hex" -Intel -o "$work/want.bin" -binary
  cmp -n 30000 "$work/want.bin" "$work/flash.bin" >/dev/null || { echo "run $run: flash differs" >&2; exit 1; }
  printf 'run %d: full %.2f s, again %.2f s (%s pages written), one page changed %.2f s (%s written); page erases %s, page writes %s, faults %s\n' \
    "$run" "$full" "$again" "$again_written" "$one" "$one_written" \
    "$(grep '^page_erases=' "$work/report" | cut -d= -f2)" "$(grep '^page_writes=' "$work/report" | cut -d= -f2)" \
    "$(grep '^faults=' "$work/report" | cut -d= -f2)"
done
