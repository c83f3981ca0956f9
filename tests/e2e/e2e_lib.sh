# Sourced by the window's end-to-end scripts, with $reflector set: checks the
# tools (exit 77, skipped, without them), starts a virtual display of its own
# and defines the helpers that start the program, find its windows, send it
# keys and look at the screen. Coordinates are the canvas's, found below the
# menu bar. Everything is removed at exit.

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

