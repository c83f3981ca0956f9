#!/usr/bin/env bash
# Drives the window as an editor, on a virtual X display, as a person would,
# and checks the files it writes against headless runs of the same scene:
#  (a) a run saved as checkpoint A, thrown away by three pointer moves and
#      brought back by one Ctrl+Z, saved as B: B is a straight run's state;
#      then, paused, thrown away by the space bar and brought back: B = A;
#  (b) in the editing mode, a vertex dragged by (30, 40), saved under a name
#      typed without .json; Ctrl+Z, saved;
#  (c) a vertex inserted by a double-click and removed by Delete, both undone;
#  (d) a scene beyond the canvas, opened, is fitted into view;
#  (f) an interrupted headless run's checkpoint opened from the command line,
#      paused, stepped ten times with '.': the same as a headless resume for
#      ten generations.
# Usage: editing_e2e.sh REFLECTOR. Exits 77 (skipped) without the tools.
set -euo pipefail

reflector=$1

# The display, the window and the helpers that look at it.
. "$(dirname "$0")/e2e_lib.sh"

# Through the File menu by its mnemonics: Save Checkpoint is Alt+F, C.
save_checkpoint() {
  xdotool windowfocus --sync "$window"
  xdotool key --delay 300 alt+f c
  dialog_type "Save Checkpoint" "$1"
  eventually 10 "no checkpoint written to $1" test -s "$1"
}
save_scene() {
  key ctrl+s
  dialog_type "Save Scene" "$1"
  eventually 10 "no scene written to $1" test -s "$1"
}
# The mirror a saved scene or checkpoint holds, as written.
mirror_of() { grep -o '"reflector": \[\[[^"]*\]\]' "$1" | head -n1; }
scene_of() { grep -o '"scene": {[^}]*}' "$1"; }
generations_of() { grep -o '"generations": [0-9]*' "$1" | grep -o '[0-9]*$'; }
# A checkpoint's state, as the result a headless run of it writes.
result_of() { "$reflector" --headless --resume "$1" --generations "$2" --json "$3" >/dev/null 2>&1; }
out_of_window() { xdotool mousemove 1590 990; }

scene="$work/scene.json"
cat >"$scene" <<'JSON'
{"reflector": [[470, 70], [482, 150], [486, 230], [480, 320]], "source": [150, 200],
 "aim": [500, 200], "target": [270, 230], "seed": 7}
JSON
original_mirror='"reflector": [[470, 70], [482, 150], [486, 230], [480, 320]]'

# (a) A run, saved while it goes on.
out_of_window
start_window "$scene"
mirror_shown() { screenshot; [ "$(count 00FF00 466 60 25 270)" -ge 20 ]; }
eventually 15 "the scene's mirror is not shown" mirror_shown
save_checkpoint "$work/a.json"
# Three trips across the canvas: each move aims the beam and restarts.
for point in "300 100" "320 300" "340 500"; do
  set -- $point
  xdotool mousemove $(($1 + ox)) $(($2 + oy))
  sleep 0.3
done
key ctrl+z
key p
save_checkpoint "$work/b.json"
[ "$(scene_of "$work/b.json")" = "$(scene_of "$work/a.json")" ] ||
  fail "B's scene is not A's: $(scene_of "$work/b.json")"
generations_b=$(generations_of "$work/b.json")
[ "$generations_b" -ge "$(generations_of "$work/a.json")" ] || fail "B has fewer generations than A"
result_of "$work/b.json" 0 "$work/b_result.json" || fail "B does not resume headless"
"$reflector" --headless --scene "$scene" --generations "$generations_b" --json "$work/straight.json" \
  >/dev/null 2>&1 || fail "the scene does not run headless"
cmp -s "$work/b_result.json" "$work/straight.json" ||
  fail "B (generation $generations_b) is not the straight run's state"

# Paused now: moves restart nothing, the space bar does, and Ctrl+Z brings
# the paused run back exactly.
out_of_window
save_checkpoint "$work/a2.json"
for point in "300 100" "320 300"; do
  set -- $point
  xdotool mousemove $(($1 + ox)) $(($2 + oy))
  sleep 0.3
done
key space
sleep 0.5
key ctrl+z
save_checkpoint "$work/b2.json"
cmp -s "$work/a2.json" "$work/b2.json" || fail "the paused run brought back differs from before the space bar"

# (b) The editing mode: a vertex dragged by (30, 40).
key e
xdotool mousemove $((482 + ox + 1)) $((150 + oy - 1)) mousedown 1
xdotool mousemove $((482 + ox + 16)) $((150 + oy + 19))
xdotool mousemove $((482 + ox + 31)) $((150 + oy + 39)) mouseup 1
# Typed without a suffix, the name gets .json.
key ctrl+s
dialog_type "Save Scene" "$work/moved"
eventually 10 "saving as 'moved' did not write moved.json" test -s "$work/moved.json"
[ ! -e "$work/moved" ] || fail "saving as 'moved' wrote a file without the suffix"
[ "$(mirror_of "$work/moved.json")" = '"reflector": [[470, 70], [512, 190], [486, 230], [480, 320]]' ] ||
  fail "the dragged vertex did not move by (30, 40): $(mirror_of "$work/moved.json")"
key ctrl+z
save_scene "$work/unmoved.json"
[ "$(mirror_of "$work/unmoved.json")" = "$original_mirror" ] ||
  fail "Ctrl+Z did not put the vertex back: $(mirror_of "$work/unmoved.json")"

# (c) A double-click on the first segment inserts a vertex; Delete over it
# removes it; both undo.
xdotool mousemove $((476 + ox)) $((110 + oy))
sleep 0.2
xdotool click --repeat 2 --delay 60 1
save_scene "$work/inserted.json"
[ "$(mirror_of "$work/inserted.json")" = '"reflector": [[470, 70], [476, 110], [482, 150], [486, 230], [480, 320]]' ] ||
  fail "the double-click did not insert one vertex at (476, 110): $(mirror_of "$work/inserted.json")"
xdotool mousemove $((476 + ox)) $((110 + oy))
key Delete
save_scene "$work/deleted.json"
[ "$(mirror_of "$work/deleted.json")" = "$original_mirror" ] ||
  fail "Delete did not remove the vertex: $(mirror_of "$work/deleted.json")"
key ctrl+z
save_scene "$work/undeleted.json"
cmp -s "$work/inserted.json" "$work/undeleted.json" ||
  [ "$(mirror_of "$work/undeleted.json")" = "$(mirror_of "$work/inserted.json")" ] ||
  fail "Ctrl+Z did not bring the deleted vertex back: $(mirror_of "$work/undeleted.json")"
key ctrl+z
save_scene "$work/uninserted.json"
[ "$(mirror_of "$work/uninserted.json")" = "$original_mirror" ] ||
  fail "Ctrl+Z did not take the inserted vertex out: $(mirror_of "$work/uninserted.json")"
key ctrl+q
wait_exit "Ctrl+Q after editing"

# (d) A scene whose every point lies beyond the canvas is fitted into view:
# its target disc and its mirror are on the screen.
far="$work/far.json"
cat >"$far" <<'JSON'
{"reflector": [[3000, 2100], [3020, 2600], [3000, 3100]], "source": [1500, 2600],
 "aim": [3000, 2600], "target": [2200, 2600], "seed": 3}
JSON
out_of_window
start_window "$far"
fitted() {
  screenshot
  [ "$(count 0000FF 0 20 800 580)" -ge 12 ] && [ "$(count 00FF00 0 20 800 580)" -ge 20 ]
}
eventually 15 "the far scene's target disc and mirror are not in view" fitted
cp "$shot" "$work/fitted.png"
key ctrl+q
wait_exit "Ctrl+Q after the far scene"

# (f) A long headless run, interrupted, opened from the command line: paused,
# saved, stepped ten times with '.', saved: the same as ten generations of a
# headless resume.
timeout -s INT 1 "$reflector" --headless --scene "$scene" --generations 4000000000 \
  --checkpoint "$work/long.json" >/dev/null 2>&1 || true
[ -s "$work/long.json" ] || fail "the interrupted headless run left no checkpoint"
out_of_window
start_window --resume "$work/long.json"
key p
save_checkpoint "$work/f0.json"
for _ in 1 2 3 4 5 6 7 8 9 10; do key period; done
save_checkpoint "$work/f10.json"
[ "$(generations_of "$work/f10.json")" -eq $(($(generations_of "$work/f0.json") + 10)) ] ||
  fail "ten steps did not make ten generations: $(generations_of "$work/f0.json") to $(generations_of "$work/f10.json")"
result_of "$work/f0.json" 10 "$work/f_headless.json" || fail "F0 does not resume headless"
result_of "$work/f10.json" 0 "$work/f_window.json" || fail "F10 does not resume headless"
cmp -s "$work/f_headless.json" "$work/f_window.json" || fail "ten steps in the window differ from a headless resume"
key ctrl+q
wait_exit "Ctrl+Q after stepping"
if [ -n "${E2E_SHOTS:-}" ]; then cp "$work/fitted.png" "$E2E_SHOTS/fitted.png"; fi
echo "ok"
