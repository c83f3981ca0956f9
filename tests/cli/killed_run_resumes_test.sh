#!/usr/bin/env bash
# A run that writes its checkpoint every 100 ms is killed with SIGKILL at a
# random moment after its first checkpoint; resumed from that checkpoint it
# finishes with the JSON and the history of a straight run, byte for byte,
# and leaves no .partial file. Then the same with a run killed a second time
# after being resumed once.
# Usage: killed_run_resumes_test.sh REFLECTOR
set -euo pipefail

reflector=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Long enough to outlast a checkpoint and a random wait, twice; sanitizer
# builds are five to twenty times slower: a quarter as many there.
total=80000
[ -n "${REFLECTOR_SANITIZED:-}" ] && total=20000
run=(--headless --generations $total --seed 5)
"$reflector" "${run[@]}" --json "$work/straight.json" --history "$work/straight.csv" 2>/dev/null

# Runs the command in the background and kills it at a random moment after
# it has written a checkpoint. Fails when the run ended first.
kill_after_a_checkpoint() {
  rm -f "$work/run.checkpoint"
  "$@" 2>"$work/messages" &
  local pid=$!
  until [ -s "$work/run.checkpoint" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the run ended before its first checkpoint: $(cat "$work/messages")"
    sleep 0.02
  done
  sleep "0.$((RANDOM % 4))$((RANDOM % 10))"
  kill -KILL "$pid" 2>/dev/null || fail "the run ended before the kill; make it longer"
  wait "$pid" || true
  [ ! -e "$work/out.json" ] || fail "the run finished before the kill; make it longer"
  [ -s "$work/out.csv.partial" ] || fail "a killed run left no out.csv.partial"
}

outputs=(--json "$work/out.json" --history "$work/out.csv" --checkpoint "$work/run.checkpoint"
         --checkpoint-every 100ms)
kill_after_a_checkpoint "$reflector" "${run[@]}" "${outputs[@]}"
first=$(grep -o '"generations": [0-9]*' "$work/run.checkpoint")
cp "$work/run.checkpoint" "$work/first.checkpoint"
kill_after_a_checkpoint "$reflector" --headless --resume "$work/first.checkpoint" "${outputs[@]}"
second=$(grep -o '"generations": [0-9]*' "$work/run.checkpoint")

"$reflector" --headless --resume "$work/run.checkpoint" "${outputs[@]}" 2>"$work/messages" ||
  fail "the resumed run failed: $(cat "$work/messages")"
cmp -s "$work/out.json" "$work/straight.json" || fail "the resumed result differs from a straight run"
cmp -s "$work/out.csv" "$work/straight.csv" || fail "the resumed history differs from a straight run's"
[ ! -e "$work/out.csv.partial" ] || fail "out.csv.partial remains after the run ended"
echo "killed after checkpoints at ($first) and ($second): resumed to the straight run's bytes"
