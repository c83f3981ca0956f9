#!/usr/bin/env bash
# A headless run of 200 generations under valgrind's memcheck: no invalid
# access, no uninitialised value used, no leak. Exits 77 (skipped) without
# valgrind.
# Usage: valgrind_check.sh REFLECTOR
set -euo pipefail
reflector=$1
if ! command -v valgrind >/dev/null; then
  echo "skipped: valgrind is not installed (apt-get install valgrind)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect \
  "$reflector" --headless --generations 200 --json "$work/result.json" \
  --checkpoint "$work/run.checkpoint" --history "$work/history.csv" --svg "$work/frame.svg"
valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  --show-leak-kinds=definite,indirect \
  "$reflector" --headless --resume "$work/run.checkpoint" --generations 20 --json "$work/resumed.json"
echo "memcheck: no errors in 200 generations and a resume"
