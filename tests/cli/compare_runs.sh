#!/bin/sh
# The real program's comparison: usage compare_runs.sh REFLECTOR CASE
#   resume     a comparison killed half way and run again runs only the missing
#              runs and writes the summary, plots and report of an
#              uninterrupted one, byte for byte
#   summarise  runs gathered into another folder summarise to the same bytes;
#              a run of another budget is refused, a file that is not a run is
#              left alone
#   interrupt  SIGINT stops the comparison with status 130 and no summary; a
#              seed range too large is refused at once
# Each case works in a fresh temporary folder. Exit 77: skipped.
set -u
reflector=$1
case $reflector in /*) ;; *) reflector=$PWD/$reflector ;; esac
case_name=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_runs.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

fail() {
  echo "compare_runs $case_name: $*" >&2
  exit 1
}

if "$reflector" --list-algorithms | grep -q '^cmaes'; then
  algorithms=reflector,cmaes,de
else
  echo "compare_runs: this build has no other optimisers; skipped"
  exit 77
fi

cat > "$work/arc.json" <<'JSON'
{"reflector": [[520, 60], [560, 140], [575, 220], [560, 300], [520, 380]],
 "source": [120, 220], "aim": [560, 220], "target": [300, 300]}
JSON

compare() {
  out=$1
  shift
  "$reflector" compare --scene "$work/arc.json" --algorithms $algorithms --seeds 1-3 \
    --evaluations 30000 --out "$out" "$@"
}

summary_files="summary.csv report.md convergence.svg convergence.png final-scores.svg final-scores.png"

same_summary() {
  for file in $summary_files; do
    cmp "$1/$file" "$2/$file" || fail "$file differs between $1 and $2"
  done
}

results() {
  ls "$1" 2>/dev/null | grep -cE '^(reflector|cmaes|de)-[0-9]+\.json$'
}

case $case_name in
resume)
  compare "$work/straight" --jobs 2 2> "$work/straight.err" ||
    fail "comparison failed ($?): $(cat "$work/straight.err")"
  [ "$(ls "$work/straight" | wc -l)" -eq 24 ] || fail "unexpected files: $(ls "$work/straight")"
  grep -q '^reflector,3,' "$work/straight/summary.csv" || fail "no row for the built-in scheme"
  grep -q '!\[Convergence\](convergence.svg)' "$work/straight/report.md" || fail "the report shows no plot"

  # One run at a time, killed once three have finished. The program itself
  # in the background, not the function: $! would be the subshell running
  # it, and killing that would leave the comparison running on.
  "$reflector" compare --scene "$work/arc.json" --algorithms $algorithms --seeds 1-3 \
    --evaluations 30000 --out "$work/killed" --jobs 1 2> "$work/killed.err" &
  pid=$!
  for _ in $(seq 1200); do
    [ "$(results "$work/killed")" -ge 3 ] && break
    sleep 0.05
  done
  kill -KILL $pid
  wait $pid 2>/dev/null
  finished=$(results "$work/killed")
  [ "$finished" -ge 3 ] && [ "$finished" -lt 9 ] || fail "$finished runs had finished at the kill"
  [ ! -e "$work/killed/summary.csv" ] || fail "a summary before the runs were done"
  # The runs it started end with it; give them a moment.
  sleep 1

  compare "$work/killed" --jobs 2 2> "$work/again.err" || fail "the comparison run again failed: $(cat "$work/again.err")"
  kept=$(sed -n 's/^reflector: compare: \([0-9]*\) of 9 runs have their results in .* already; kept.*/\1/p' "$work/again.err")
  [ -n "$kept" ] && [ "$kept" -ge 3 ] && [ "$kept" -lt 9 ] ||
    fail "expected the finished runs kept: $(cat "$work/again.err")"
  same_summary "$work/straight" "$work/killed"
  for run in reflector-1 cmaes-2 de-3; do
    cmp "$work/straight/$run.json" "$work/killed/$run.json" || fail "$run.json differs"
    cmp "$work/straight/$run.csv" "$work/killed/$run.csv" || fail "$run.csv differs"
  done

  # --force runs them all again, to the same bytes.
  compare "$work/killed" --jobs 2 --force 2> "$work/force.err" || fail "--force failed"
  grep -q "already; kept" "$work/force.err" && fail "--force kept runs: $(cat "$work/force.err")"
  same_summary "$work/straight" "$work/killed"
  ;;
summarise)
  compare "$work/straight" --jobs 2 2> "$work/straight.err" || fail "comparison failed: $(cat "$work/straight.err")"
  # Gathered as from other machines: the runs only, and a scene beside them.
  mkdir "$work/gathered"
  cp "$work"/straight/*-[0-9]*.json "$work"/straight/*-[0-9]*.csv "$work/arc.json" "$work/gathered/"
  "$reflector" compare --summarise "$work/gathered" 2> "$work/summarise.err" ||
    fail "summarise failed ($?): $(cat "$work/summarise.err")"
  same_summary "$work/straight" "$work/gathered"

  # A run of another budget does not belong to the comparison.
  "$reflector" --headless --scene "$work/arc.json" --algorithm de --seed 9 --evaluations 20000 \
    --json "$work/gathered/de-9.json" --history "$work/gathered/de-9.csv" 2> /dev/null || fail "extra run failed"
  "$reflector" compare --summarise "$work/gathered" 2> "$work/mixed.err"
  status=$?
  [ $status -eq 2 ] || fail "status $status for mixed budgets, expected 2"
  grep -q "have a different budget of evaluations" "$work/mixed.err" || fail "unexpected message: $(cat "$work/mixed.err")"

  "$reflector" compare --summarise "$work/nowhere" 2> "$work/nowhere.err"
  [ $? -eq 2 ] || fail "a missing folder did not fail with status 2"
  grep -q "nowhere: cannot read: No such file or directory" "$work/nowhere.err" ||
    fail "unexpected message: $(cat "$work/nowhere.err")"
  ;;
interrupt)
  "$reflector" compare --scene "$work/arc.json" --algorithms reflector,cmaes --seeds 1-4 \
    --evaluations 100000000 --jobs 2 --out "$work/long" 2> "$work/long.err" &
  pid=$!
  sleep 1
  kill -INT $pid
  status=0
  wait $pid || status=$?
  [ $status -eq 130 ] || fail "status $status, expected 130: $(cat "$work/long.err")"
  grep -q "^reflector: compare: interrupted after [0-9.]* s; 0 of 8 runs finished; the same command goes on with the rest\$" \
    "$work/long.err" || fail "unexpected messages: $(cat "$work/long.err")"
  [ ! -e "$work/long/summary.csv" ] || fail "a summary of unfinished runs"

  # A seed range no comparison could hold is refused at once.
  "$reflector" compare --algorithms reflector,de --seeds 0-4294967295 --out "$work/huge" 2> "$work/huge.err"
  status=$?
  [ $status -eq 2 ] || fail "status $status for 8589934592 runs, expected 2"
  grep -q "8589934592 runs is more than one comparison takes (at most 1000000)" "$work/huge.err" ||
    fail "unexpected message: $(cat "$work/huge.err")"
  ;;
*)
  fail "no case $case_name"
  ;;
esac
exit 0
