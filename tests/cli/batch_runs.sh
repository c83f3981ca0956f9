#!/bin/sh
# The real program's batch runner: usage batch_runs.sh REFLECTOR CASE [EXPECTED_SUMMARY]
#   same-bytes     2 scenes x 2 seeds in a batch give the bytes of single runs,
#                  and the summary (less its timings) is the stored one
#   missing-scene  a missing scene fails alone, naming its file once
#   parallel       GNU parallel running the same runs gives the same bytes
#   interrupt      SIGINT stops the running runs and starts no more; the summary
#                  marks them, and the status is 130
#   orphans        the runs of a batch killed with SIGKILL end by themselves
#   resume         the same batch again keeps the results already there (the
#                  same scene, seed, generations and numerics) and runs only the
#                  missing ones; --force, another scene or another generation
#                  count runs them again
# Each case works in a fresh temporary folder. Exit 77: skipped.
set -u
reflector=$1
case $reflector in /*) ;; *) reflector=$PWD/$reflector ;; esac
case_name=$2
expected_summary=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/batch_runs.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

fail() {
  echo "batch_runs $case_name: $*" >&2
  exit 1
}

# The default scene, and a concave mirror with an off-axis target.
cat > "$work/a.json" <<'EOF'
{"reflector": [[494, 52], [494, 105], [493, 148], [494, 189], [493, 244], [489, 304]],
 "source": [150, 200], "aim": [500, 200], "target": [250, 200]}
EOF
cat > "$work/b.json" <<'EOF'
{"reflector": [[520, 60], [560, 140], [575, 220], [560, 300], [520, 380]],
 "source": [120, 220], "aim": [560, 220], "target": [300, 300]}
EOF

batch() {
  "$reflector" batch --jobs 2 --seeds 1-2 --generations 200 --out "$work/batch" "$@" \
    2> "$work/batch.err"
}

case $case_name in
same-bytes)
  batch "$work/a.json" "$work/b.json" || fail "batch failed ($?): $(cat "$work/batch.err")"
  mkdir "$work/single"
  for scene in a b; do
    for seed in 1 2; do
      "$reflector" --headless --scene "$work/$scene.json" --seed $seed --generations 200 \
        --json "$work/single/$scene-$seed.json" 2> /dev/null || fail "single run $scene $seed failed"
      cmp "$work/batch/$scene-$seed.json" "$work/single/$scene-$seed.json" ||
        fail "$scene seed $seed: the batch wrote other bytes than a single run"
    done
  done
  [ "$(ls "$work/batch" | sort | tr '\n' ' ')" = "a-1.json a-2.json b-1.json b-2.json summary.csv " ] ||
    fail "unexpected files: $(ls "$work/batch")"
  # Every row has seconds; the rest is exact, so it is compared with the stored summary.
  awk -F, 'NR > 1 && $6 !~ /^[0-9]+\.[0-9][0-9][0-9]$/ { exit 1 }' "$work/batch/summary.csv" ||
    fail "bad seconds column: $(cat "$work/batch/summary.csv")"
  cut -d, -f1-5 "$work/batch/summary.csv" > "$work/summary-untimed.csv"
  if [ -n "$expected_summary" ]; then
    diff "$expected_summary" "$work/summary-untimed.csv" || fail "summary differs from the stored one"
  fi
  grep -q "^reflector: batch: 4 runs (0 failed) in [0-9.]* s; summary in $work/batch/summary.csv\$" \
    "$work/batch.err" || fail "unexpected messages: $(cat "$work/batch.err")"
  ;;
missing-scene)
  batch "$work/a.json" "$work/missing.json" "$work/b.json"
  status=$?
  [ $status -eq 1 ] || fail "status $status, expected 1: $(cat "$work/batch.err")"
  # Said once, not once a seed.
  grep -qx "reflector: batch: $work/missing.json: cannot open: No such file or directory; its 2 runs fail" \
    "$work/batch.err" || fail "no message naming the missing file: $(cat "$work/batch.err")"
  [ "$(grep -c missing.json "$work/batch.err")" -eq 1 ] ||
    fail "the missing file is reported more than once: $(cat "$work/batch.err")"
  for file in a-1 a-2 b-1 b-2; do
    [ -s "$work/batch/$file.json" ] || fail "$file.json not written beside the failed runs"
  done
  grep -qx 'missing,1,,failed,,' "$work/batch/summary.csv" ||
    fail "no failed row: $(cat "$work/batch/summary.csv")"
  [ "$(wc -l < "$work/batch/summary.csv")" -eq 7 ] || fail "expected a header and 6 rows"
  ;;
parallel)
  if ! command -v parallel > /dev/null 2>&1; then
    echo "batch_runs parallel: GNU parallel is not installed; skipped"
    exit 77
  fi
  batch "$work/a.json" "$work/b.json" || fail "batch failed ($?): $(cat "$work/batch.err")"
  mkdir "$work/parallel"
  (cd "$work" && parallel --will-cite -j2 "$reflector" --headless --scene {1} --seed {2} \
     --generations 200 --json parallel/{1/.}-{2}.json ::: a.json b.json ::: 1 2 2> parallel.err) ||
    fail "parallel failed: $(cat "$work/parallel.err")"
  for file in a-1 a-2 b-1 b-2; do
    cmp "$work/batch/$file.json" "$work/parallel/$file.json" ||
      fail "$file.json: GNU parallel's run wrote other bytes than the batch"
  done
  ;;
interrupt)
  # Long runs: the signal comes while the first two are running.
  "$reflector" batch --jobs 2 --seeds 1-4 --generations 1000000 --out "$work/batch" \
    "$work/a.json" 2> "$work/batch.err" &
  pid=$!
  sleep 1
  kill -INT $pid
  status=0
  wait $pid || status=$?
  [ $status -eq 130 ] || fail "status $status, expected 130: $(cat "$work/batch.err")"
  grep -q "^reflector: batch: interrupted after [0-9.]* s; 0 of 4 runs finished; summary in $work/batch/summary.csv\$" \
    "$work/batch.err" || fail "unexpected messages: $(cat "$work/batch.err")"
  printf 'scene,seed,generations,best,best_ever,seconds\na,1,,interrupted,,\na,2,,interrupted,,\na,3,,not run,,\na,4,,not run,,\n' \
    > "$work/expected.csv"
  diff "$work/expected.csv" "$work/batch/summary.csv" || fail "summary does not mark the runs"
  [ "$(ls -A "$work/batch")" = "summary.csv" ] || fail "unexpected files: $(ls -A "$work/batch")"
  ;;
orphans)
  # A batch killed with SIGKILL cannot stop its runs: they end by themselves.
  "$reflector" batch --jobs 2 --seeds 1-4 --generations 100000000 --out "$work/batch" \
    "$work/a.json" 2> "$work/batch.err" &
  pid=$!
  children=""
  for _ in $(seq 100); do
    # The processes whose parent is the batch (no pgrep on a minimal system).
    children=$(for stat in /proc/[0-9]*/stat; do
                 read -r child _ _ parent _ < "$stat" 2>/dev/null && [ "$parent" = "$pid" ] && echo "$child"
               done | tr '\n' ' ')
    [ "$(echo $children | wc -w)" -eq 2 ] && break
    sleep 0.05
  done
  [ "$(echo $children | wc -w)" -eq 2 ] || fail "the batch did not start two runs: '$children'"
  kill -KILL $pid
  wait $pid 2>/dev/null
  # Ended: gone, or a zombie left for whoever adopted it to reap (a
  # container's first process may take a second or more to get to it).
  running() { [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
  for _ in $(seq 100); do
    alive=""
    for child in $children; do running "$child" && alive="$alive $child"; done
    [ -z "$alive" ] && break
    sleep 0.05
  done
  if [ -n "$alive" ]; then
    kill -KILL $alive 2>/dev/null
    fail "runs still going 5 s after their batch was killed:$alive"
  fi
  ;;
resume)
  batch "$work/a.json" "$work/b.json" || fail "first batch failed ($?): $(cat "$work/batch.err")"
  inode() { stat -c %i "$work/batch/$1.json"; }
  a1=$(inode a-1)
  cp "$work/batch/b-2.json" "$work/b-2.first"
  rm "$work/batch/b-2.json"
  batch "$work/a.json" "$work/b.json" || fail "second batch failed ($?): $(cat "$work/batch.err")"
  grep -q "^reflector: batch: 3 of 4 runs have their results in $work/batch already; kept" \
    "$work/batch.err" || fail "no message about kept runs: $(cat "$work/batch.err")"
  [ "$(inode a-1)" = "$a1" ] || fail "a kept result was written again"
  cmp "$work/b-2.first" "$work/batch/b-2.json" || fail "the missing run gave other bytes"
  # Kept runs have their scores and no time in the summary.
  grep -qxE 'a,1,200,[0-9.e+-]+,[0-9.e+-]+,' "$work/batch/summary.csv" ||
    fail "kept run's row: $(cat "$work/batch/summary.csv")"
  grep -qxE 'b,2,200,[0-9.e+-]+,[0-9.e+-]+,[0-9]+\.[0-9]{3}' "$work/batch/summary.csv" ||
    fail "new run's row: $(cat "$work/batch/summary.csv")"
  # --force runs everything again.
  batch --force "$work/a.json" "$work/b.json" || fail "forced batch failed: $(cat "$work/batch.err")"
  [ "$(inode a-1)" != "$a1" ] || fail "--force kept a result"
  grep -q "kept" "$work/batch.err" && fail "--force kept runs: $(cat "$work/batch.err")"
  # A scene that changed since is run again, and so is another generation count.
  a1=$(inode a-1)
  b1=$(inode b-1)
  sed -i 's/"target": \[250, 200\]/"target": [250, 210]/' "$work/a.json"
  batch "$work/a.json" "$work/b.json" || fail "batch after the edit failed: $(cat "$work/batch.err")"
  [ "$(inode a-1)" != "$a1" ] || fail "a result of the scene before its edit was kept"
  [ "$(inode b-1)" = "$b1" ] || fail "the unchanged scene's result was not kept"
  "$reflector" batch --jobs 2 --seeds 1-2 --generations 201 --out "$work/batch" "$work/b.json" \
    2> "$work/batch.err" || fail "batch of 201 generations failed"
  [ "$(inode b-1)" != "$b1" ] || fail "a result of 200 generations was kept for 201"
  ;;
*)
  fail "unknown case"
  ;;
esac
