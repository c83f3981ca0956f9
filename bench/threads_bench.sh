#!/bin/sh
# Does one run use the cores? For mirrors of N vertices along the default
# mirror's line (x = 494 +- 3, y from 52 to 304; N = 6 is the default mirror's
# size), times the same headless run with --threads 1 and --threads 2 and
# prints generations per second side by side, their ratio, and whether the
# two results are the same bytes (they must be):
#   bench/threads_bench.sh [REFLECTOR] [SECONDS]
# (default build/default/src/reflector; about 2 s of work per run). A timed
# run that prints its figures; run it on an otherwise idle machine.
set -eu
reflector=${1:-build/default/src/reflector}
seconds=${2:-2}
[ -x "$reflector" ] || { echo "threads_bench: $reflector: not an executable" >&2; exit 2; }
[ "$(nproc)" -ge 2 ] || echo "threads_bench: only $(nproc) core: the figure means little" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/threads_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The rate the summary line prints, "(12345 generations/s)".
rate() { sed -n 's/.*(\([0-9.]*\) generations\/s).*/\1/p'; }

printf '%8s %12s %12s %8s %s\n' N "1 thread" "2 threads" ratio bytes
for n in ${THREADS_BENCH_SIZES:-6 16 24 32 48 64 100 1000 10000}; do
  awk -v n="$n" 'BEGIN {
    printf "{\"reflector\": ["
    for (i = 0; i < n; i++) printf "%s[%d, %.6f]", (i ? ", " : ""), 494 + 3 * ((i * 7) % 3 - 1), 52 + 252 * i / (n - 1)
    print "], \"source\": [150, 200], \"aim\": [500, 200], \"target\": [250, 200]}"
  }' > "$work/n$n.json"
  # A first short run sizes the timed ones.
  probe=$("$reflector" --headless --scene "$work/n$n.json" --generations 20 --threads 1 2>&1 | rate)
  generations=$(awk -v r="$probe" -v s="$seconds" 'BEGIN { g = int(r * s); print (g < 20 ? 20 : g) }')
  one=$("$reflector" --headless --scene "$work/n$n.json" --generations "$generations" --threads 1 \
        --json "$work/one.json" 2>&1 | rate)
  two=$("$reflector" --headless --scene "$work/n$n.json" --generations "$generations" --threads 2 \
        --json "$work/two.json" 2>&1 | rate)
  same=different
  cmp -s "$work/one.json" "$work/two.json" && same=same
  printf '%8s %12s %12s %8s %s\n' "$n" "$one" "$two" "$(awk -v a="$one" -v b="$two" 'BEGIN { printf "%.2f", b / a }')" "$same"
done
