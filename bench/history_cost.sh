#!/usr/bin/env bash
# What --history costs: the same run with and without it, in processor time
# (user + system, less sensitive to other load than wall time), best of three.
# Usage: bench/history_cost.sh [REFLECTOR] [GENERATIONS]
set -euo pipefail
reflector=${1:-build/default/src/reflector}
generations=${2:-20000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpu() {  # best processor seconds of three runs
  local best=""
  for _ in 1 2 3; do
    local t
    t=$( { /usr/bin/time -f '%U %S' "$reflector" --headless --generations "$generations" "$@" 2>&1 >/dev/null; } |
         tail -n 1 | awk '{print $1 + $2}')
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}
plain=$(cpu --json "$work/plain.json")
with=$(cpu --json "$work/with.json" --history "$work/history.csv")
awk -v p="$plain" -v w="$with" -v n="$generations" 'BEGIN {
  printf "history: %d generations in %.2f s without --history, %.2f s with (%+.1f %%)\n", n, p, w, (w - p) / p * 100 }'
