#!/bin/sh
# Does a batch use the cores? Times the same two runs of the default scene
# (seeds 1 and 2) with --jobs 1 and with --jobs 2, and one run alone:
#   bench/batch_scaling.sh [REFLECTOR] [GENERATIONS]
# (default build/default/src/reflector, 20000 generations). Two runs on two
# cores should take at most 60 % of the time they take one at a time. A timed
# run that prints its figures; run it on an otherwise idle machine.
set -eu
reflector=${1:-build/default/src/reflector}
generations=${2:-20000}
[ -x "$reflector" ] || { echo "batch_scaling: $reflector: not an executable" >&2; exit 2; }
cores=$(nproc)
[ "$cores" -ge 2 ] || echo "batch_scaling: only $cores core: the figure means little" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/batch_scaling.XXXXXX")
trap 'rm -rf "$work"' EXIT
scene=$(dirname "$0")/../examples/default.json

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }

start=$(now)
"$reflector" --headless --scene "$scene" --seed 1 --generations "$generations" --json "$work/alone.json" 2> /dev/null
alone=$(elapsed "$start" "$(now)")

for jobs in 1 2; do
  start=$(now)
  "$reflector" batch --jobs $jobs --seeds 1-2 --generations "$generations" --out "$work/jobs$jobs" \
    "$scene" 2> /dev/null
  eval "jobs$jobs=\$(elapsed \"\$start\" \"\$(now)\")"
done
cmp -s "$work/jobs1/default-1.json" "$work/jobs2/default-1.json" ||
  { echo "batch_scaling: --jobs 1 and --jobs 2 wrote different results" >&2; exit 1; }

percent=$(awk -v a="$jobs1" -v b="$jobs2" 'BEGIN { print 100 * b / a }')
printf 'batch: 1 job at a time %.2f s, 2 jobs on 2 cores %.2f s (%.0f %% of one at a time; wanted at most 60 %%)\n' \
  "$jobs1" "$jobs2" "$percent"
printf 'batch: (%u generations per run; one run alone %.2f s; %s cores)\n' "$generations" "$alone" "$cores"
