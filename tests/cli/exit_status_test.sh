#!/usr/bin/env bash
# The exit statuses --help promises: 0 success, 1 an output that cannot be
# written (standard output included), 2 a usage or scene error; each failure
# is one line naming what failed and why.
# Usage: exit_status_test.sh REFLECTOR
set -uo pipefail
reflector=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expect() {  # STATUS PATTERN COMMAND... (stdout to /dev/full where the command says so)
  local want=$1 pattern=$2
  shift 2
  "$@" 2> "$work/err"
  local got=$?
  [ "$got" -eq "$want" ] || fail "$*: status $got, expected $want: $(cat "$work/err")"
  grep -qE "$pattern" "$work/err" || fail "$*: unexpected message: $(cat "$work/err")"
}
to_full() { "$@" > /dev/full; }

"$reflector" --help > /dev/null 2> "$work/err" || fail "--help: status $?"
[ -s "$work/err" ] && fail "--help wrote to stderr: $(cat "$work/err")"
expect 1 '^reflector: standard output: cannot write: No space left on device$' to_full "$reflector" --help
expect 1 '^reflector: standard output: cannot write: No space left on device$' to_full "$reflector" --version
expect 1 'standard output: cannot write: No space left on device' \
  to_full "$reflector" --headless --generations 1 --json -
expect 1 '^reflector: /dev/full: cannot write: No space left on device$' \
  "$reflector" --headless --generations 1 --json /dev/full
expect 1 '^reflector: /nonexistent/dir/x.json: cannot write: No such file or directory$' \
  "$reflector" --headless --generations 1 --json /nonexistent/dir/x.json
expect 1 '^reflector: /proc/version: cannot write: ' \
  "$reflector" --headless --generations 1 --json /proc/version
expect 2 "^reflector: unknown option|not expected" "$reflector" --frobnicate
expect 2 '^reflector: option --scene is given more than once' \
  "$reflector" --headless --scene a.json --scene b.json
printf '{"reflector": [[1, 2]], "\\u001b]0;x\\u0007": 1}' > "$work/escape.json"
expect 2 '\\x1b\]0;x\\x07' "$reflector" --headless --scene "$work/escape.json"
grep -q $'\033' "$work/err" && fail "an escape byte reached the terminal"
printf '\357\273\277{"reflector": [[400, 0], [400, 400]]}' > "$work/bom.json"
expect 0 'generations in' "$reflector" --headless --generations 1 --scene "$work/bom.json"

# A file size limit (ulimit -f, in KiB) makes the write fail with the usual
# message, not kill the process with SIGXFSZ; the old file stays.
limited_size() { (ulimit -f 1; "$@"); }
echo 'old result' > "$work/big.json"
expect 1 "^reflector: $work/big.json: cannot write: File too large\$" \
  limited_size "$reflector" --headless --generations 1 --json "$work/big.json"
[ "$(cat "$work/big.json")" = 'old result' ] || fail "the file past the size limit was replaced"

# Running out of memory is a message and status 1, not an abort. Sanitizer
# builds reserve more address space than any limit would leave.
if [ -z "${REFLECTOR_SANITIZED:-}" ]; then
  limited_memory() { (ulimit -v 400000; "$@"); }
  expect 1 '^reflector: not enough memory to go on' \
    limited_memory "$reflector" batch --seeds 0-4294967295 --out "$work/huge" "$work/bom.json"
fi
# The other optimisers come from a module beside the program's folder: a
# program moved away from it still runs its own scheme, and says, naming the
# file, why the others cannot run.
if "$reflector" --list-algorithms | grep -q '^cmaes'; then
  mkdir "$work/alone"
  cp "$reflector" "$work/alone/reflector"
  module="$work/alone/../lib/reflector/modules/libreflector-pagmo.so"
  "$work/alone/reflector" --list-algorithms > "$work/list" || fail "--list-algorithms alone: status $?"
  grep -q '^cmaes' "$work/list" && fail "a program without its module lists cmaes"
  grep -qF "(the other optimisers cannot be loaded: $module: cannot open shared object file" "$work/list" ||
    fail "--list-algorithms alone: $(cat "$work/list")"
  expect 2 "^reflector: default scene: cmaes: the other optimisers cannot be loaded: $module" \
    "$work/alone/reflector" --headless --algorithm cmaes --evaluations 100
  "$work/alone/reflector" --headless --generations 5 --json "$work/alone.json" 2> /dev/null ||
    fail "the built-in scheme does not run without the module"
fi
# So do the window and the pictures: a program without that module runs
# headless, refuses before the run to draw pictures, naming the file, and
# says why the window cannot open.
if [ -f "$(dirname "$reflector")/../lib/reflector/modules/libreflector-window.so" ]; then
  mkdir -p "$work/alone"
  cp "$reflector" "$work/alone/reflector"
  module="$work/alone/../lib/reflector/modules/libreflector-window.so"
  expect 2 "^reflector: pictures cannot be drawn: $module: cannot open shared object file.*: drop --png and --plot" \
    "$work/alone/reflector" --headless --generations 5 --png "$work/alone.png" --json "$work/alone-pictures.json"
  [ -e "$work/alone-pictures.json" ] && fail "a run refused for its pictures still ran"
  expect 2 "^reflector: the window cannot be opened: $module: cannot open shared object file" \
    env QT_QPA_PLATFORM=offscreen "$work/alone/reflector"
  "$work/alone/reflector" --headless --generations 5 --json "$work/alone.json" 2> /dev/null ||
    fail "a headless run without pictures does not run without the window's module"
fi
echo "exit statuses and messages as documented"
