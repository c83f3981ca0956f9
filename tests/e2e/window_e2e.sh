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

for tool in Xvfb xdotool import convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps)"
    exit 77
  fi
done

work=$(mktemp -d)
# Settings of this run only: the window opens at its own size.
export XDG_CONFIG_HOME="$work/config"
xvfb_pid=""
app_pid=""
shot="$work/shot.png"

cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$shot" ]; then
    cp "$shot" "$PWD/window_e2e_failure.png"
    echo "last screenshot: $PWD/window_e2e_failure.png" >&2
  fi
  if [ -s "$work/xvfb.log" ]; then
    echo "Xvfb's log:" >&2
    cat "$work/xvfb.log" >&2
  fi
  if [ -f "$work/stderr" ]; then
    echo "program's stderr:" >&2
    od -c "$work/stderr" >&2
  fi
  exit 1
}

# Runs a check until it passes, for at most $1 seconds.
eventually() {
  local timeout=$1 what=$2
  shift 2
  local deadline=$((SECONDS + timeout))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what (after ${timeout}s)"
    sleep 0.1
  done
}

# Xvfb picks a free display itself and writes its number to fd 3, so parallel
# runs never collide; -noreset keeps it from resetting (and refusing a
# connection) each time a short-lived client such as xdotool leaves. The screen
# holds the canvas and the plot beside it.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
display_ready() { grep -q '^[0-9]' "$work/display" && [ "$(wc -l <"$work/display")" -ge 1 ]; }
eventually 10 "Xvfb did not start" display_ready
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# The pointer stays off the window unless a step moves it: a move would aim.
xdotool mousemove 1590 990

window=""
find_window() {
  kill -0 "$app_pid" 2>/dev/null || fail "reflector exited early: $(cat "$work/stderr")"
  window=$(xdotool search --onlyvisible --pid "$app_pid" --name 'Reflector Lab' 2>/dev/null | head -n1 || true)
  [ -n "$window" ]
}

screenshot() { import -window root "$shot"; }

# The canvas's origin on the screen: the window's left edge, and the first
# black row under the menu bar at the canvas's right, where nothing is drawn.
ox=0
oy=0
canvas_found() {
  screenshot
  local wx wy
  eval "$(xdotool getwindowgeometry --shell "$window")"
  wx=$X
  wy=$Y
  local row
  row=$(convert "$shot" -alpha off -crop "3x80+$((wx + 780))+$wy" +repage -depth 8 txt:- |
        awk -F'[,:]' '/#000000/ {print $2; exit}')
  [ -n "$row" ] || return 1
  ox=$wx
  oy=$((wy + row))
}

start_window() {
  "$reflector" "$@" >"$work/stdout" 2>"$work/stderr" &
  app_pid=$!
  eventually 15 "no window appeared" find_window
  eventually 10 "no canvas under the menu bar" canvas_found
}

# Keys go to the window that has the focus; without a window manager nothing
# gives it back after a dialog, so each key names its window.
key() {
  xdotool windowfocus --sync "$window"
  xdotool key "$@"
}

# The program's dialog named exactly $1, as $dialog, once it is shown and
# ready for keys.
dialog=""
find_dialog() {
  local title=$1
  dialog=""
  # A search by name also finds the main window: take the one of that exact name.
  dialog_shown() {
    local id
    for id in $(xdotool search --onlyvisible --pid "$app_pid" --name "^$title\$" 2>/dev/null || true); do
      if [ "$(xdotool getwindowname "$id")" = "$title" ]; then dialog=$id; return 0; fi
    done
    return 1
  }
  eventually 10 "no '$title' dialog" dialog_shown
  # Shown is not yet ready for keys: let it settle.
  sleep 0.5
  xdotool windowfocus --sync "$dialog"
}

# Types a path into Qt's own file dialog named $1 and accepts it.
dialog_type() {
  find_dialog "$1"
  xdotool type --delay 10 "$2"
  xdotool key Return
}

wait_exit() {
  local start status=0
  start=$(date +%s%N)
  while kill -0 "$app_pid" 2>/dev/null; do
    [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 2000 ] || fail "still running 2 s after $1"
    sleep 0.05
  done
  wait "$app_pid" || status=$?
  app_pid=""
  [ "$status" -eq 0 ] || fail "exit status $status after $1"
}

# Colour of the canvas pixel (x, y) as RRGGBB.
pixel() {
  convert "$shot" -alpha off -crop "1x1+$(($1 + ox))+$(($2 + oy))" -depth 8 txt:- |
    sed -n '2s/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p'
}

# Number of pixels of colour $1 in the canvas box x, y, width, height.
count() {
  convert "$shot" -alpha off -crop "$4x$5+$(($2 + ox))+$(($3 + oy))" +repage -depth 8 txt:- |
    grep -c "#$1" || true
}

# A disc of radius 5: red outline around a filled centre.
disc_at() {
  local x=$1 y=$2 fill=$3
  [ "$(pixel "$x" "$y")" = "$fill" ] && [ "$(count FF0000 $((x - 6)) $((y - 6)) 13 13)" -ge 8 ]
}
no_disc_at() { [ "$(count FF0000 $(($1 - 6)) $(($2 - 6)) 13 13)" -eq 0 ]; }

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
plotted() { screenshot; [ "$(count 2CA02C 800 0 400 600)" -ge 150 ]; }
eventually 20 "the plot shows no best-ever line" plotted
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
