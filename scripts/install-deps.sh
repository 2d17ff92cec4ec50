#!/usr/bin/env bash
# Installs every build and test dependency with apt-get; does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev openssl
  clang libclang-rt-14-dev  # scripts/fuzz.sh: libFuzzer and the sanitizer runtimes come with compiler-rt
)
# Optional tools for looking at the program on a machine without a display, with a window manager that draws
# title bars (windows must fit with their frames).
if [[ "${NEMOLA_WITH_XVFB:-0}" == 1 ]]; then
  packages+=(xvfb xauth imagemagick openbox)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
