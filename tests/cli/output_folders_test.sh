#!/usr/bin/env bash
# Outputs that cannot be written, for real: a full filesystem (a small tmpfs
# in a private mount namespace) and a read-only folder holding a writable
# file (as nobody when the suite runs as root, who is not held back by
# permission bits). Each run exits 1 with one line naming the file and the
# cause, the old file stays as it was and no temporary file is left.
# Exits 77 (skipped) where no namespace or tmpfs can be had.
# Usage: output_folders_test.sh REFLECTOR
set -uo pipefail
reflector=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"

if [ -z "${OUTPUT_FOLDERS_INSIDE:-}" ]; then
  # --- A read-only folder holding a writable file: refused before the run.
  mkdir "$work/locked"
  echo old > "$work/locked/out.json"
  run_as=()
  if [ "$(id -u)" -eq 0 ]; then
    # Root is not held back by permission bits: become nobody.
    chown -R 65534:65534 "$work/locked"
    run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  chmod 644 "$work/locked/out.json"
  chmod 555 "$work/locked"
  start=$(date +%s)
  "${run_as[@]}" "$reflector" --headless --generations 100000000 --json "$work/locked/out.json" \
    > /dev/null 2> "$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "read-only folder: status $status: $(cat "$work/err")"
  [ $(( $(date +%s) - start )) -lt 30 ] || fail "read-only folder: refused only after the run"
  grep -qx "reflector: $work/locked/out.json: cannot write: Permission denied (cannot create a file in $work/locked)" \
    "$work/err" || fail "read-only folder: message: $(cat "$work/err")"
  [ "$(cat "$work/locked/out.json")" = old ] || fail "read-only folder: the old result was lost"
  [ "$(ls -A "$work/locked")" = out.json ] || fail "read-only folder: left behind: $(ls -A "$work/locked")"
  chmod 755 "$work/locked"

  echo "a read-only folder: exit 1 before the run, the cause named, the old file kept"

  # The full filesystem: this script again, in a mount namespace of its own,
  # so the tmpfs goes away with it however the test ends.
  if [ "$(id -u)" -eq 0 ]; then
    namespace=(unshare --mount --propagation private)
  else
    namespace=(unshare --user --map-root-user --mount --propagation private)
  fi
  if ! "${namespace[@]}" true 2>/dev/null; then
    echo "full filesystem skipped: no private mount namespace here (${namespace[*]})"
    exit 77
  fi
  OUTPUT_FOLDERS_INSIDE=1 "${namespace[@]}" bash "$0" "$reflector"
  exit $?
fi

# --- A full filesystem: the run goes ahead (an empty temporary fits), the
# final write fails.
mkdir "$work/full"
if ! mount -t tmpfs -o size=64k tmpfs "$work/full" 2>"$work/err"; then
  echo "skipped: cannot mount a tmpfs: $(cat "$work/err")"
  exit 77
fi
echo old > "$work/full/out.json"
echo old > "$work/full/history.csv"
dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null
"$reflector" --headless --generations 20 --json "$work/full/out.json" > /dev/null 2> "$work/err"
status=$?
[ "$status" -eq 1 ] || fail "full filesystem: status $status: $(cat "$work/err")"
grep -qx "reflector: $work/full/out.json: cannot write: No space left on device" "$work/err" ||
  fail "full filesystem: message: $(cat "$work/err")"
"$reflector" --headless --generations 20 --history "$work/full/history.csv" > /dev/null 2> "$work/err"
status=$?
[ "$status" -eq 1 ] || fail "full filesystem, history: status $status"
grep -q "history.csv: cannot write: No space left on device" "$work/err" ||
  fail "full filesystem, history: message: $(cat "$work/err")"
[ "$(cat "$work/full/out.json")" = old ] || fail "full filesystem: the old result was lost"
[ "$(cat "$work/full/history.csv")" = old ] || fail "full filesystem: the old history was lost"
left=$(ls -A "$work/full" | sort | tr '\n' ' ')
[ "$left" = "filler history.csv out.json " ] || fail "full filesystem: left behind: $left"

# A batch on the full filesystem says why its first run failed and starts no more.
echo '{"reflector": [[494, 52], [489, 304]]}' > "$work/scene.json"
mkdir "$work/full/batch" 2>/dev/null || { rm "$work/full/filler"; mkdir "$work/full/batch";
  dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null; }
"$reflector" batch --jobs 1 --seeds 1-5 --generations 20 --out "$work/full/batch" "$work/scene.json" \
  2> "$work/err"
status=$?
[ "$status" -eq 1 ] || fail "full filesystem, batch: status $status: $(cat "$work/err")"
grep -qx "reflector: batch: $work/scene.json seed 1 failed: $work/full/batch/scene-1.json: cannot write: No space left on device" \
  "$work/err" || fail "full filesystem, batch: no reason: $(cat "$work/err")"
grep -qx "reflector: batch: no room left for results in $work/full/batch; no more runs are started" \
  "$work/err" || fail "full filesystem, batch: it went on: $(cat "$work/err")"
[ "$(grep -c 'failed:' "$work/err")" -eq 1 ] || fail "full filesystem, batch: more runs failed: $(cat "$work/err")"
umount "$work/full"

echo "a full filesystem: exit 1, the cause named, the old files kept, nothing left behind"
