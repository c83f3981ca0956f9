#!/usr/bin/env bash
# One size rule: every file the program writes from an accepted scene, it
# reads back. A mirror of the most vertices accepted (400,000), run one
# generation, gives a result that reads back as a scene and a checkpoint that
# resumes; one vertex more is refused up front, saying why.
# Usage: largest_scene_test.sh REFLECTOR
set -euo pipefail

reflector=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

scene() {  # VERTICES: a mirror along x = 494 whose coordinates take many digits
  awk -v n="$1" 'BEGIN { printf "{\"reflector\": [";
    for (i = 0; i < n; i++) printf "%s[%.13f, %.13f]", (i ? ", " : ""), 494 - 0.0123456789 * (i % 97), 52 + 252 * i / (n - 1);
    print "], \"seed\": 3}" }'
}

scene 400001 >"$work/over.json"
status=0
"$reflector" --headless --scene "$work/over.json" --generations 0 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "400,001 vertices: status $status: $(cat "$work/err")"
grep -q "\"reflector\" has 400001 vertices; at most 400000 can be run" "$work/err" ||
  fail "400,001 vertices: $(cat "$work/err")"

scene 400000 >"$work/largest.json"
"$reflector" --headless --scene "$work/largest.json" --generations 1 --json "$work/result.json" \
  --checkpoint "$work/run.checkpoint" 2>"$work/err" || fail "the largest scene does not run: $(cat "$work/err")"
echo "result $(stat -c %s "$work/result.json") bytes, checkpoint $(stat -c %s "$work/run.checkpoint") bytes"
"$reflector" --headless --resume "$work/run.checkpoint" --generations 1 --json "$work/resumed.json" \
  2>"$work/err" || fail "its checkpoint does not resume: $(cat "$work/err")"
"$reflector" --headless --scene "$work/result.json" --generations 0 --json "$work/again.json" \
  2>"$work/err" || fail "its result does not read as a scene: $(cat "$work/err")"
echo "400,000 vertices: the result reads back as a scene and the checkpoint resumes"
