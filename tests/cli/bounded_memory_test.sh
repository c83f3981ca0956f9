#!/usr/bin/env bash
# A headless run's memory does not grow with its generations: the peak
# resident size of a 300,000-generation run is within 4 MiB of a
# 20,000-generation one, for a scene without a mirror and for the default
# scene with --history written.
# Usage: bounded_memory_test.sh REFLECTOR
set -euo pipefail

reflector=$1
command -v /usr/bin/time >/dev/null || { echo "skipped: GNU time is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo '{"reflector": []}' >"$work/empty.json"

peak_kib() {  # GENERATIONS [options...]
  local generations=$1
  shift
  /usr/bin/time -f %M -o "$work/peak" "$reflector" --headless --generations "$generations" "$@" \
    >/dev/null 2>"$work/messages" || fail "the run failed: $(cat "$work/messages")"
  cat "$work/peak"
}

check() {  # NAME [options...]
  local name=$1
  shift
  local short long
  short=$(peak_kib 20000 "$@")
  long=$(peak_kib 300000 "$@")
  echo "$name: peak $short KiB after 20,000 generations, $long KiB after 300,000"
  [ $((long - short)) -le 4096 ] || fail "$name: the longer run took $((long - short)) KiB more"
}

check "no mirror" --scene "$work/empty.json"
# The history streams out: kept, it alone would take 9 MB more.
check "default scene with --history" --history "$work/history.csv"
