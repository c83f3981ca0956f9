#!/bin/sh
# Runs a reflector binary on the default scene and on every scene under
# scenes/, after each generation count given, writing NAME.GENERATIONS.json
# into the output directory. Two such directories, made by two builds, must
# be byte-identical (compare them with: diff -r A B).
#   run_scenes.sh REFLECTOR OUT_DIR [GENERATIONS...]   (default 0 1 100 1000 10000)
set -eu
reflector=$1
out=$2
shift 2
[ $# -gt 0 ] || set -- 0 1 100 1000 10000
here=$(dirname "$0")
mkdir -p "$out"
for n in "$@"; do
  "$reflector" --headless --generations "$n" --json "$out/default.$n.json" 2>/dev/null
  for scene in "$here"/scenes/*.json; do
    name=$(basename "$scene" .json)
    "$reflector" --headless --generations "$n" --scene "$scene" --json "$out/$name.$n.json" 2>/dev/null
  done
done
