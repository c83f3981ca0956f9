#!/usr/bin/env bash
# Every output is flushed to disk before it takes its name, and its folder
# after, so that a crash of the machine leaves the old file or the whole new
# one: traced with strace, an fsync of the new file comes before the rename
# and one of the folder after it. Skipped (77) where strace is missing or
# cannot trace.
# Usage: outputs_reach_the_disk_test.sh REFLECTOR
set -uo pipefail
reflector=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v strace > /dev/null || { echo "strace is not installed"; exit 77; }
strace -o /dev/null true 2> /dev/null || { echo "strace cannot trace here"; exit 77; }
# The leak checker of a sanitizer build refuses to run under a tracer.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

for output in --json --checkpoint --history; do
  strace -f -e trace=fsync,rename,renameat,renameat2 -o "$work/trace" \
    "$reflector" --headless --generations 2 "$output" "$work/out" 2> "$work/messages" ||
    fail "$output: the run failed: $(cat "$work/messages")"
  calls=$(grep -oE '(fsync|rename[a-z0-9]*)\(' "$work/trace" | tr -d '(' | tr '\n' ' ')
  [[ "$calls" =~ fsync\ rename[a-z0-9]*\ fsync ]] ||
    fail "$output: expected fsync, rename, fsync; traced: $calls"
done
echo "outputs are flushed to disk before their rename, and their folder after"
