#!/usr/bin/env bash
# Installs the build into a temporary prefix, as a user without root would, and starts every installed program
# with --help; checks that the desktop finds the program's entry and icon.
#   install_test.sh BUILD_DIR PROGRAM...
set -euo pipefail
build=$1
shift
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}
for program in "$@"; do
  path=$prefix/bin/$program
  if [[ ! -x $path ]]; then
    fail "$program is not installed in bin/"
    continue
  fi
  # The installed copy, not the build tree's: run from elsewhere with nothing of the build on the path.
  if ! out=$(cd / && QT_QPA_PLATFORM=offscreen timeout 20 "$path" --help 2>&1); then
    fail "$program --help exited with an error: $out"
  elif [[ $out != *"$program"* && $out != *Usage* ]]; then
    fail "$program --help printed no usage: $out"
  fi
done

desktop=$prefix/share/applications/nemola-m.desktop
[[ -f $desktop ]] || fail "no desktop entry"
[[ -f $prefix/share/icons/hicolor/scalable/apps/nemola-m.svg ]] || fail "no icon"
if [[ -f $desktop ]]; then
  grep -qx 'Exec=nemola-m' "$desktop" || fail "the desktop entry does not start nemola-m"
  grep -qx 'Icon=nemola-m' "$desktop" || fail "the desktop entry does not name the icon"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate refused the entry"
  fi
fi
exit $status
