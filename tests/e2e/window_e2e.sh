#!/usr/bin/env bash
# Drives the real program on a virtual X display as a person would: looks at
# the picture, clicks, draws a reflector with right clicks and closes the
# window, then checks the debug lines on stderr and the exit status.
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
# runs never collide.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
display_ready() { grep -q '^[0-9]' "$work/display" && [ "$(wc -l <"$work/display")" -ge 1 ]; }
eventually 10 "Xvfb did not start" display_ready
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

"$reflector" >"$work/stdout" 2>"$work/stderr" &
app_pid=$!

window=""
find_window() {
  kill -0 "$app_pid" 2>/dev/null || fail "reflector exited early: $(cat "$work/stderr")"
  window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n1 || true)
  [ -n "$window" ]
}
eventually 15 "no window appeared" find_window

# Client coordinates to screen coordinates (no window manager: no frame).
eval "$(xdotool getwindowgeometry --shell "$window")"
ox=$X
oy=$Y

screenshot() { import -window root "$shot"; }

# Colour of the client pixel (x, y) as RRGGBB.
pixel() {
  convert "$shot" -alpha off -crop "1x1+$(($1 + ox))+$(($2 + oy))" -depth 8 txt:- |
    sed -n '2s/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p'
}

# Number of pixels of colour $1 in the client box x, y, width, height.
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

first_frames() {
  screenshot
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

# Close the window the way a window manager's close button does.
"$close_window" "$window" || fail "could not send the close request"
start=$(date +%s%N)
while kill -0 "$app_pid" 2>/dev/null; do
  [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 2000 ] || fail "still running 2 s after the close request"
  sleep 0.05
done
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
cmp -s "$work/stderr" "$work/expected_stderr" || fail "stderr holds more than the three lines"
echo "ok"
