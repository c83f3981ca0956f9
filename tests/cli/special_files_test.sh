#!/usr/bin/env bash
# Pipes and devices as inputs and outputs, and how soon a signal acts.
#   - a pipe nobody writes to as --scene, or nobody reads as --json: an error
#     at once (exit 2 or 1), never a process hanging for good;
#   - a device as --scene: refused;
#   - a scene read from a pipe whose writer stalls: SIGINT ends the process
#     at once (130), saying nothing was written;
#   - SIGINT inside a generation of a 400,000-vertex mirror (about 1.5 s a
#     generation here): the run ends within 0.5 s, not at the generation's
#     end. Not timed under sanitizers (REFLECTOR_SANITIZED set).
# Usage: special_files_test.sh REFLECTOR
set -euo pipefail

reflector=$1
work=$(mktemp -d)
writer=""
trap '[ -n "$writer" ] && kill $writer 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkfifo "$work/pipe"
status=0
timeout 10 "$reflector" --headless --scene "$work/pipe" 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "a pipe nobody writes to as --scene: status $status: $(cat "$work/err")"
grep -qx "reflector: $work/pipe: cannot read: nothing was written to this pipe" "$work/err" ||
  fail "a pipe nobody writes to as --scene: $(cat "$work/err")"

status=0
timeout 10 "$reflector" --headless --generations 5 --json "$work/pipe" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "a pipe nobody reads as --json: status $status: $(cat "$work/err")"
grep -qx "reflector: $work/pipe: cannot write: no process is reading this pipe" "$work/err" ||
  fail "a pipe nobody reads as --json: $(cat "$work/err")"

status=0
"$reflector" --headless --scene /dev/zero 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "a device as --scene: status $status"
grep -qx "reflector: /dev/zero: cannot read: not a file (a device or a socket)" "$work/err" ||
  fail "a device as --scene: $(cat "$work/err")"
echo "pipes without a partner and devices: refused at once"

if [ "${REFLECTOR_SANITIZED:-}" = thread ]; then
  # ThreadSanitizer holds a signal back until the thread leaves the blocking
  # read, which here it never does.
  echo "SIGINT while reading a pipe: not tried under ThreadSanitizer"
  exit 0
fi
# A writer that holds the pipe open and writes nothing.
sleep 1000 >"$work/pipe" &
writer=$!
"$reflector" --headless --scene "$work/pipe" 2>"$work/err" &
pid=$!
sleep 0.3
kill -INT $pid
status=0
timeout 5 tail --pid=$pid -f /dev/null || fail "SIGINT while reading a pipe: still running 5 s later"
wait $pid || status=$?
[ "$status" -eq 130 ] || fail "SIGINT while reading a pipe: status $status: $(cat "$work/err")"
grep -qx "reflector: interrupted before the run began; nothing written" "$work/err" ||
  fail "SIGINT while reading a pipe: $(cat "$work/err")"
kill $writer 2>/dev/null || true
writer=""
echo "SIGINT while reading: ends the process at once"

if [ -n "${REFLECTOR_SANITIZED:-}" ]; then
  echo "the generation's stop is not timed under sanitizers"
  exit 0
fi
awk 'BEGIN { n = 400000; printf "{\"reflector\": [";
             for (i = 0; i < n; i++) printf "%s[%.4f, %.6f]", (i ? ", " : ""), 494 + 3 * sin(i), 52 + 252 * i / (n - 1);
             print "]}" }' >"$work/big.json"
"$reflector" --headless --scene "$work/big.json" --generations 1000 --history "$work/h.csv" \
  2>"$work/err" &
pid=$!
# The history's file appears once the scene is read; then the first generation begins.
until [ -e "$work/h.csv.partial" ]; do
  kill -0 $pid 2>/dev/null || fail "the big run ended early: $(cat "$work/err")"
  sleep 0.02
done
sleep 0.8
kill -INT $pid
sent=$(date +%s%N)
while kill -0 $pid 2>/dev/null; do sleep 0.01; done
took=$((($(date +%s%N) - sent) / 1000000))
status=0
wait $pid || status=$?
[ "$status" -eq 130 ] || fail "SIGINT inside a generation: status $status: $(cat "$work/err")"
grep -qE "^reflector: interrupted at generation [0-9]+; nothing written; history so far in" "$work/err" ||
  fail "SIGINT inside a generation: $(cat "$work/err")"
echo "SIGINT inside a generation of 400,000 vertices: ended in $took ms"
[ "$took" -le 500 ] || fail "SIGINT inside a generation took $took ms to act"
