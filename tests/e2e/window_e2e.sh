#!/usr/bin/env bash
# Drives the real program on a virtual X display as a person would. First on a
# scene file: looks at its mirror and target, saves it through the file dialog
# (and runs the saved file headless), pauses, exports the canvas, rewinds on
# the plot and quits with Ctrl+Q. Then on the default scene: looks at the
# picture, clicks, draws a reflector with right clicks and closes the window,
# discarding the change when asked, checking the debug lines on stderr and the
# exit status. Last, a scene file that cannot be read. Coordinates are the
# canvas's, found below the menu bar.
# Usage: window_e2e.sh REFLECTOR CLOSE_WINDOW. Exits 77 (skipped) without the tools.
set -euo pipefail

reflector=$1
close_window=$2

# The display, the window and the helpers that look at it.
. "$(dirname "$0")/e2e_lib.sh"

# Part one: a scene file of its own mirror, target and seed.
scene="$work/scene.json"
cat >"$scene" <<'JSON'
{"reflector": [[470, 70], [482, 150], [486, 230], [480, 320]], "source": [150, 200],
 "aim": [500, 200], "target": [270, 230], "seed": 7}
JSON
"$reflector" --scene "$scene" >"$work/stdout" 2>"$work/stderr" &
app_pid=$!
opened_by_dialog=""
sleep 0.5
if ! kill -0 "$app_pid" 2>/dev/null && grep -q -- '--scene needs --headless' "$work/stderr"; then
  # A command line that does not take a window's scene yet: File > Open.
  wait "$app_pid" || true
  echo "note: the command line refuses --scene for the window; opening with Ctrl+O instead"
  start_window
  key ctrl+o
  dialog_type "Open Scene" "$scene"
  opened_by_dialog=yes
else
  eventually 15 "no window appeared" find_window
  eventually 10 "no canvas under the menu bar" canvas_found
fi
scene_shown() {
  screenshot
  [ "$(count 00FF00 466 60 25 270)" -ge 20 ] &&
    disc_at 270 230 0000FF && disc_at 150 200 FFFF00 &&
    xdotool getwindowname "$window" | grep -q '^scene.json'
}
eventually 15 "the scene file's mirror, target or name not shown" scene_shown

# Ctrl+S through the file dialog: the saved file runs headless as the scene
# it came from, with the same seed.
saved="$work/saved.json"
key ctrl+s
dialog_type "Save Scene" "$saved"
saved_written() { [ -s "$saved" ]; }
eventually 10 "Ctrl+S wrote no file" saved_written
saved_at=$SECONDS  # its status-bar message goes away 4 s later
grep -q '"seed": 7' "$saved" || fail "the saved scene lacks its seed: $(cat "$saved")"
grep -q '"bestMirror": \[\[' "$saved" || fail "the saved scene lacks the best mirror: $(cat "$saved")"
"$reflector" --headless --scene "$scene" --generations 150 --json "$work/from_scene.json" >/dev/null 2>&1 ||
  fail "the scene does not run headless"
"$reflector" --headless --scene "$saved" --generations 150 --json "$work/from_saved.json" \
  >/dev/null 2>"$work/headless_stderr" || fail "the saved scene does not run headless: $(cat "$work/headless_stderr")"
cmp -s "$work/from_scene.json" "$work/from_saved.json" || fail "the saved scene runs differently"

# Let the plot fill a little, then P: two pictures a second apart are the same.
plotted() { screenshot; [ "$(count 1F77B4 800 0 400 600)" -ge 60 ]; }
eventually 20 "the plot shows no best line" plotted
# The save message must have gone, or its going looks like a change.
while (( SECONDS - saved_at < 6 )); do sleep 0.2; done
key p
# Whole window: canvas, plot and status bar.
eval "$(xdotool getwindowgeometry --shell "$window")"
window_box="${WIDTH}x${HEIGHT}+${X}+${Y}"
window_shot() { screenshot; convert "$shot" -crop "$window_box" +repage "$1"; }
same() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }
# The worker stops at its next generation boundary, and the next tick shows it.
# A starved worker at low priority can take a while to reach the boundary, so
# the picture must hold still across three shots before it counts as paused.
settled() {
  window_shot "$work/paused1.png"
  sleep 0.6
  window_shot "$work/paused2.png"
  same "$work/paused1.png" "$work/paused2.png" || return 1
  sleep 0.6
  window_shot "$work/paused2.png"
  same "$work/paused1.png" "$work/paused2.png"
}
eventually 20 "P did not stop the window changing" settled
sleep 1
window_shot "$work/paused2.png"
same "$work/paused1.png" "$work/paused2.png" || fail "a paused window still changes a second later"

# Ctrl+E: the PNG is the canvas part of the screen, pixel for pixel.
exported="$work/frame.png"
key ctrl+e
dialog_type "Export Image" "$exported"
exported_written() { [ -s "$exported" ]; }
eventually 10 "Ctrl+E wrote no image" exported_written
size=$(identify -format '%wx%h' "$exported")
canvas_crop() { convert "$shot" -crop "${size}+${ox}+${oy}" +repage "$1"; }
dialog_gone() {
  screenshot
  canvas_crop "$work/canvas.png"
  [ "$(compare -metric AE "$exported" "$work/canvas.png" null: 2>&1)" = "0" ]
}
eventually 10 "the exported PNG is not the canvas on the screen" dialog_gone
cp "$work/canvas.png" "$work/live.png"

# A click early on the plot shows an earlier best mirror; Escape returns to live.
xdotool mousemove $((ox + ${size%x*} + 150)) $((oy + 300)) click 1
rewound() { screenshot; canvas_crop "$work/canvas.png"; [ "$(compare -metric AE "$work/live.png" "$work/canvas.png" null: 2>&1)" != "0" ]; }
eventually 5 "a click on the plot did not change the canvas" rewound
# The red candidate moved: the rewound mirror is another one.
key Escape
back_live() { screenshot; canvas_crop "$work/canvas.png"; [ "$(compare -metric AE "$work/live.png" "$work/canvas.png" null: 2>&1)" = "0" ]; }
eventually 5 "Escape did not return to the live picture" back_live

# Ctrl+Q quits at once, with status 0 and nothing on stderr.
key ctrl+q
wait_exit "Ctrl+Q"
[ ! -s "$work/stderr" ] || fail "stderr is not empty after part one"

# Part two: the default scene.
xdotool mousemove 1590 990
start_window

first_frames() {
  # The window may still be placed after it first shows: find the canvas
  # again at every look.
  canvas_found || return 1
  # The user's reflector, partly hidden under the rays and the red candidate.
  [ "$(count 00FF00 486 52 15 253)" -ge 20 ] &&
    disc_at 150 200 FFFF00 &&
    disc_at 250 200 0000FF
}
eventually 15 "default scene not shown (green reflector near x=494, source and target discs)" first_frames

# A left click elsewhere moves the source there.
xdotool mousemove $((120 + ox)) $((300 + oy)) click 1
source_moved() {
  screenshot
  disc_at 120 300 FFFF00 && no_disc_at 150 200 && disc_at 250 200 0000FF
}
eventually 10 "source disc did not move to (120, 300)" source_moved

# Right clicks draw a new reflector; each writes one line.
for point in "600 100" "620 250" "600 400"; do
  set -- $point
  xdotool mousemove $(($1 + ox)) $(($2 + oy)) click 3
done
xdotool mousemove $((700 + ox)) $((400 + oy))
printf '600, 100\r\n620, 250\r\n600, 400\r\n' >"$work/expected_stderr"
drawn() {
  screenshot
  # Green through the new vertices, the yellow rubber band to the pointer,
  # and no discs while drawing.
  [ "$(count 00FF00 600 170 25 10)" -ge 1 ] &&
    [ "$(pixel 650 400)" = "FFFF00" ] &&
    no_disc_at 120 300 && no_disc_at 250 200 &&
    cmp -s "$work/stderr" "$work/expected_stderr"
}
eventually 10 "drawing not shown or stderr lines wrong" drawn

# Close the window the way a window manager's close button does. The source
# moved, so the window asks about the unsaved change, and says so in its
# title; Alt+D discards it and the program exits with status 0.
modified_title() { xdotool getwindowname "$window" | grep -q '^Untitled\*'; }
eventually 5 "the title does not mark the unsaved change" modified_title
"$close_window" "$window" || fail "could not send the close request"
find_dialog "Unsaved Changes"
xdotool key alt+d
wait_exit "Discard"
cmp -s "$work/stderr" "$work/expected_stderr" || fail "stderr holds more than the three lines"

# Part three: a scene file that cannot be read, named on the command line as a
# launcher names it. The window opens on the default scene with a message box
# naming the file and the problem; stderr has the same words; Return closes the
# box, Ctrl+Q quits with status 0.
bad="$work/bad.json"
printf '{"reflector": [[1, 2]' >"$bad"
xdotool mousemove 1590 990
start_window "$bad"
find_dialog "Cannot open the scene"
grep -q "bad.json:.*not valid JSON" "$work/stderr" || fail "stderr lacks the scene's error: $(cat "$work/stderr")"
xdotool key Return
default_shown() { screenshot; disc_at 150 200 FFFF00 && disc_at 250 200 0000FF; }
eventually 10 "the default scene not shown after a bad scene file" default_shown
key ctrl+q
wait_exit "Ctrl+Q after a bad scene file"
echo "ok"
