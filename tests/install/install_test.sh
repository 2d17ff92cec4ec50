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

nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
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
  # The installed copy, not the build tree's: run from elsewhere with nothing of the build on the path, and with
  # no display: a command line is answered before a program looks for one.
  if ! out=$(cd / && "${nodisplay[@]}" timeout 20 "$path" --help 2>&1); then
    fail "$program --help exited with an error: $out"
  elif [[ $out != *"$program"* && $out != *Usage* ]]; then
    fail "$program --help printed no usage: $out"
  fi
done

# The program's other answers without a display, and the simulated receivers that it, the simulator and the
# README offer.
m=$prefix/bin/nemola-m
if [[ -x $m ]]; then
  out=$("${nodisplay[@]}" timeout 20 "$m" --version 2>&1) || fail "nemola-m --version exited with an error: $out"
  [[ $out == "nemola-m "* ]] || fail "nemola-m --version printed: $out"
  for bad in --no-such-option "--profile gold" stray; do
    rc=0
    out=$("${nodisplay[@]}" timeout 20 "$m" $bad 2>&1) || rc=$?
    [[ $rc == 2 && $out == "nemola-m: "* ]] || fail "nemola-m $bad: exit $rc, $out"
  done
  profiles() { "${nodisplay[@]}" timeout 20 "$1" --help | tr -s ' \n' ' ' | sed -n "s/.*$2: \(.*\) (default full).*/\1/p"; }
  m_profiles=$(profiles "$m" "Simulated receiver")
  if [[ -x $prefix/bin/nemola-sim ]]; then
    s_profiles=$(profiles "$prefix/bin/nemola-sim" "Receiver profile")
    [[ -n $m_profiles && $m_profiles == "$s_profiles" ]] ||
      fail "nemola-m offers the profiles \"$m_profiles\", nemola-sim \"$s_profiles\""
    readme_form="--profile $(echo "$m_profiles" | sed 's/, \| or /\\|/g')"
    grep -qF -- "$readme_form" "$(dirname "$0")/../../README.md" || fail "README.md does not offer $readme_form"
  fi
fi

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
