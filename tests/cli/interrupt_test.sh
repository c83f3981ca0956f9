#!/usr/bin/env bash
# SIGINT, SIGTERM and SIGHUP stop a headless run between two generations: the
# status is 130, 143 or 129, one line says where it stopped, the checkpoint resumes to the
# bytes of a straight run, an existing --json is left as it was, and no
# temporary file remains.
# Usage: interrupt_test.sh REFLECTOR
set -euo pipefail

reflector=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Long enough that the run is still going when the signal comes, on a fast machine too;
# sanitizer builds are five to twenty times slower: fewer there.
total=20000
[ -n "${REFLECTOR_SANITIZED:-}" ] && total=6000
"$reflector" --headless --generations $total --seed 9 --json "$work/straight.json" \
  --checkpoint "$work/straight.checkpoint" --history "$work/straight.csv" 2>/dev/null

# Waits until the run has really started generations, then signals it.
interrupt() {  # SIGNAL STATUS [extra options...]
  local signal=$1 expected=$2
  shift 2
  echo 'old result' > "$work/out.json"
  "$reflector" --headless --generations $total --seed 9 --json "$work/out.json" "$@" \
    2> "$work/messages" &
  local pid=$!
  # Until its handlers are in place a background job ignores SIGINT (the
  # shell's doing), and a slow start (a sanitizer's) can take longer than
  # any fixed wait: look for the handler, then let generations begin.
  local waited=0
  until (( 0x$(awk '/^SigCgt/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0) & 2 )); do
    (( waited++ < 100 )) || break
    sleep 0.05
  done
  sleep 0.3
  kill "-$signal" "$pid"
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq "$expected" ] || fail "$signal: status $status, expected $expected: $(cat "$work/messages")"
  [ "$(cat "$work/out.json")" = "old result" ] || fail "$signal: the existing --json was replaced"
  if ls -A "$work" | grep -vqE '^(straight\.(json|checkpoint|csv)|out\.json|messages|run\.checkpoint|resumed\.(json|checkpoint)|run\.csv)$'; then
    fail "$signal: a temporary file remains: $(ls -A "$work")"
  fi
}

for pair in INT:130 TERM:143 HUP:129; do
  signal=${pair%%:*}
  status=${pair##*:}

  rm -f "$work/run.checkpoint"
  interrupt "$signal" "$status"
  grep -qxE 'reflector: interrupted at generation [0-9]+; nothing written' "$work/messages" ||
    fail "$signal without --checkpoint: $(cat "$work/messages")"

  rm -f "$work/run.csv"
  interrupt "$signal" "$status" --checkpoint "$work/run.checkpoint" --history "$work/run.csv"
  line=$(grep 'interrupted' "$work/messages")
  [[ "$line" =~ ^reflector:\ interrupted\ at\ generation\ ([0-9]+)\;\ checkpoint\ written\ to\ $work/run\.checkpoint\;\ history\ so\ far\ in\ $work/run\.csv$ ]] ||
    fail "$signal with --checkpoint: $(cat "$work/messages")"
  generation=${BASH_REMATCH[1]}
  [ "$generation" -lt "$total" ] || fail "$signal: the run ended before the signal; make it longer"
  grep -q "\"generations\": $generation," "$work/run.checkpoint" || fail "$signal: checkpoint does not say generation $generation"

  [ "$(wc -l <"$work/run.csv")" -eq $((generation + 1)) ] || fail "$signal: the history so far does not end at generation $generation"
  "$reflector" --headless --resume "$work/run.checkpoint" --json "$work/resumed.json" \
    --checkpoint "$work/resumed.checkpoint" --history "$work/run.csv" 2>/dev/null
  cmp -s "$work/run.csv" "$work/straight.csv" || fail "$signal: the resumed history differs from a straight run's"
  cmp -s "$work/resumed.json" "$work/straight.json" || fail "$signal: resumed result differs from a straight run"
  cmp -s "$work/resumed.checkpoint" "$work/straight.checkpoint" || fail "$signal: resumed checkpoint differs"
  echo "$signal at generation $generation: status $status, resumed to the straight run's bytes"
done
