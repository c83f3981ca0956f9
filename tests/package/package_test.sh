#!/usr/bin/env bash
# Builds the Debian package into a folder of its own, unpacks it, and checks it
# as a Debian desktop would see it: the files in place, the desktop entry,
# AppStream metadata and MIME type valid and consistent, the man page clean,
# bash completing options, lintian without errors or warnings, and the
# unpacked program running headless.
# Usage: package_test.sh CPACK BUILD_DIR VERSION [DEB]
#   With DEB, checks that package instead of building one.
set -euo pipefail

cpack=$1
build_dir=$2
version=$3
deb=${4:-}
app_id=org.reflectorlab.ReflectorLab

for tool in dpkg-deb desktop-file-validate appstreamcli man lintian update-mime-database file; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is not installed (scripts/install-deps installs it)" >&2
    exit 1
  fi
done
bash_completion=/usr/share/bash-completion/bash_completion
if [ ! -f "$bash_completion" ]; then
  echo "FAIL: bash-completion is not installed (scripts/install-deps installs it)" >&2
  exit 1
fi

# Its own folder: CTest runs other tests beside this one.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Heads each group of checks in the log.
step() { echo "--- $*"; }

if [ -z "$deb" ]; then
  step "building the package with CPack"
  if ! "$cpack" --config "$build_dir/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
  fi
  deb="$work/out/reflector-lab_${version}_$(dpkg --print-architecture).deb"
  if [ ! -f "$deb" ]; then
    echo "FAIL: CPack did not make $(basename "$deb"); it made:" >&2
    ls "$work/out" >&2
    exit 1
  fi
fi

step "control fields"
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# From dpkg-shlibdeps: the C library, the Qt the window links and, where the
# build has the other optimisers, the library they come from.
libs=(libc6 libstdc++6 libqt6widgets6)
# The build's own program says whether it has them; the package must then
# hold their module and depend on their library.
with_others=no
"$build_dir/src/reflector" --list-algorithms 2>/dev/null | grep -q '^cmaes' && with_others=yes
[ "$with_others" = yes ] && libs+=(libpagmo8)
for lib in "${libs[@]}"; do
  [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] || fail "Depends lacks $lib"
done
for field in Maintainer Description Homepage Section; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || fail "no $field field"
done

step "unpacking"
root="$work/root"
dpkg-deb -x "$deb" "$root"
share="$root/usr/share"
desktop="$share/applications/$app_id.desktop"
metainfo="$share/metainfo/$app_id.metainfo.xml"
mime="$share/mime/packages/$app_id.xml"
man_page="$share/man/man1/reflector.1.gz"
completion="$share/bash-completion/completions/reflector"
for f in "$desktop" "$metainfo" "$mime" "$man_page" "$completion" \
         "$share/icons/hicolor/scalable/apps/$app_id.svg" \
         "$share/doc/reflector-lab/copyright" "$share/doc/reflector-lab/changelog.gz"; do
  [ -f "$f" ] || fail "missing ${f#"$root"}"
done
[ -x "$root/usr/bin/reflector" ] || fail "missing or not executable: /usr/bin/reflector"
# The window and the pictures come from a module too.
module=/usr/lib/reflector/modules/libreflector-window.so
[ -f "$root$module" ] || fail "missing $module"
"$root/usr/bin/reflector" --headless --generations 3 --png "$work/installed.png" 2> /dev/null ||
  fail "the installed program cannot draw a picture"
if [ "$with_others" = yes ]; then
  module=/usr/lib/reflector/modules/libreflector-pagmo.so
  [ -f "$root$module" ] || fail "missing $module"
  "$root/usr/bin/reflector" --list-algorithms | grep -q '^cmaes' ||
    fail "the installed program does not find its other optimisers"
fi
for size in 48 256; do
  png="$share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  if [ ! -f "$png" ]; then
    fail "missing ${png#"$root"}"
  elif ! file "$png" | grep -q "PNG image data, $size x $size,"; then
    fail "${png#"$root"} is not a $size px PNG: $(file -b "$png")"
  fi
done
if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s); the package holds:" >&2
  (cd "$root" && find . -type f | sort) >&2
  exit 1
fi

step "desktop entry"
# Errors and warnings fail; hints (two main categories) are only printed.
if ! desktop-file-validate "$desktop" >"$work/desktop.log" 2>&1; then
  fail "desktop-file-validate failed"
fi
cat "$work/desktop.log"
if grep -E ': (error|warning):' "$work/desktop.log" >/dev/null; then
  fail "desktop-file-validate reports errors or warnings"
fi
grep -qx 'Exec=reflector %f' "$desktop" || fail "the desktop entry does not run 'reflector %f'"
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
# Every MIME type the entry opens must be one the package defines.
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
  grep -q "<mime-type type=\"$type\">" "$mime" || fail "the desktop entry opens $type, which no MIME file defines"
done

step "AppStream metadata"
if ! appstreamcli validate --no-net --explain "$metainfo"; then
  fail "appstreamcli validate reports errors"
fi
# The tree check also follows the launchable to the desktop entry.
if ! appstreamcli validate-tree --no-net "$root"; then
  fail "appstreamcli validate-tree reports errors"
fi

step "MIME type"
mkdir -p "$work/mime/packages"
cp "$mime" "$work/mime/packages/"
# On the data path, so that it keeps quiet unless the file has a fault.
if ! XDG_DATA_DIRS="$work" update-mime-database "$work/mime" 2>"$work/mime.err" ||
  [ -s "$work/mime.err" ]; then
  cat "$work/mime.err" >&2
  fail "update-mime-database rejects the MIME file"
fi
cat "$work/mime/globs2"
grep -q ':application/x-reflector-scene+json:\*\.reflector\.json$' "$work/mime/globs2" ||
  fail "*.reflector.json is not application/x-reflector-scene+json"
if grep -v '^#' "$work/mime/globs2" | grep -v ':\*\.reflector\.json$' | grep -q .; then
  fail "the MIME file claims more than *.reflector.json"
fi

step "man page"
MANWIDTH=80 man --warnings -l "$man_page" >"$work/man.txt" 2>"$work/man.err" || fail "man -l failed"
if [ -s "$work/man.err" ]; then
  cat "$work/man.err" >&2
  fail "man reports warnings"
fi
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "THE WINDOW" "THE HEADLESS RUNNER" \
               "THE BATCH RUNNER" "COMPARING OPTIMISERS" "EXIT STATUS" FILES; do
  grep -qx "$heading" "$work/man.txt" || fail "the man page has no $heading section"
done
for status in 0 1 2 130 143; do
  grep -qE "^ +$status( |$)" "$work/man.txt" || fail "the man page's EXIT STATUS lacks $status"
done
# Made from --help: every long option the program lists is on the page, and
# the batch runner's too once the program has one.
long_options() { grep -oE '^ +(-[[:alnum:]], )?--[[:alnum:]-]+' | grep -oE -- '--[[:alnum:]-]+'; }
options=$("$root/usr/bin/reflector" --help | long_options)
[ -n "$options" ] || fail "reflector --help lists no options"
for subcommand in batch compare; do
  if subcommand_help=$("$root/usr/bin/reflector" $subcommand --help 2>/dev/null); then
    options+=" $(long_options <<<"$subcommand_help")"
  fi
done
for option in $options; do
  grep -qF -- "$option" "$work/man.txt" || fail "the man page does not mention $option"
done

step "bash completion"
touch "$work/a.reflector.json"
completions=$(cd "$work" && PATH="$root/usr/bin:$PATH" bash -c '
  source "$1"
  source "$2"
  complete_words() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _reflector
    echo "$*=>${COMPREPLY[*]}"
  }
  complete_words reflector --gen
  complete_words reflector --headless --scene a.refl
  complete_words reflector --headless --generations ""
  complete_words reflector com
  complete_words reflector compare --summ
' bash "$bash_completion" "$completion") || fail "the completion script failed"
echo "$completions"
grep -qx 'reflector --gen=>--generations' <<<"$completions" || fail "--gen does not complete to --generations"
grep -qx 'reflector --headless --scene a.refl=>a.reflector.json' <<<"$completions" ||
  fail "--scene does not complete a file name"
grep -qx 'reflector --headless --generations =>' <<<"$completions" ||
  fail "--generations offers completions for its number"
grep -qx 'reflector com=>compare' <<<"$completions" || fail "com does not complete to compare"
grep -qx 'reflector compare --summ=>--summarise' <<<"$completions" ||
  fail "compare's options do not complete"

step "lintian"
if ! lintian --fail-on error,warning --display-info "$deb"; then
  fail "lintian reports errors or warnings"
fi

step "the unpacked program"
printed=$("$root/usr/bin/reflector" --version)
[ "$printed" = "reflector $version" ] || fail "--version prints '$printed', not 'reflector $version'"
if "$root/usr/bin/reflector" --headless --generations 10 --json "$work/population.json" 2>"$work/run.err"; then
  grep -qE '"generations": *10\b' "$work/population.json" || fail "the headless run did not record 10 generations"
else
  cat "$work/run.err" >&2
  fail "the headless run failed"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "The package is complete and valid."
