#!/bin/sh
# Instructions per generation of the fast tracer and of the reference
# evaluator on each bench scene, counted by callgrind: the difference between
# runs of 20 and 120 generations, divided by 100, so start-up is left out.
#   bench/instructions_per_generation.sh build/default/bench/optimizer_bench
set -eu
bench=$1
count() {
  n=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bench" --loop "$1" "$2" "$3" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  [ -n "$n" ] || { echo "callgrind gave no count for $*" >&2; exit 1; }
  echo "$n"
}
printf '%-12s %16s %16s %8s\n' scene reference/gen fast/gen ratio
for scene in default concave8 slanted2 diagonal10; do
  r=$(( ($(count $scene reference 120) - $(count $scene reference 20)) / 100 ))
  f=$(( ($(count $scene fast 120) - $(count $scene fast 20)) / 100 ))
  printf '%-12s %16d %16d %7s\n' $scene $r $f "$(awk "BEGIN{printf \"%.1fx\", $r/$f}")"
done
