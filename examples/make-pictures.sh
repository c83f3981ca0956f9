#!/bin/sh
# Redraws every example's final frame (X.png) and convergence plot (X-plot.png)
# with the program itself, from the repository's root:
#   examples/make-pictures.sh [REFLECTOR]   (default build/default/src/reflector)
# GENERATIONS sets the run length (default 3000). Runs are reproducible, so the
# pictures only change when the program does.
set -eu
cd "$(dirname "$0")/.."
reflector=${1:-build/default/src/reflector}
generations=${GENERATIONS:-3000}
[ -x "$reflector" ] || { echo "make-pictures: $reflector: not an executable (build first, or pass its path)" >&2; exit 2; }
# The pictures are drawn by the window's painting code, which needs no display.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

for scene in examples/*.json; do
  name=${scene%.json}
  echo "$reflector --headless --scene $scene --generations $generations --png $name.png --plot $name-plot.png"
  "$reflector" --headless --scene "$scene" --generations "$generations" \
    --png "$name.png" --plot "$name-plot.png"
done
