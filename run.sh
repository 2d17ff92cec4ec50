#!/usr/bin/env bash
# Installs what is missing, builds, and starts Nemola-M connected to the built-in receiver simulator.
# Extra arguments go to the program, e.g. ./run.sh --profile basic
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# Let ccache share objects between checkouts at different paths (CI builds a fresh clone).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake --preset release >/dev/null
cmake --build --preset release --target nemola-m
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display found. Run under a desktop session, or: NEMOLA_WITH_XVFB=1 ./scripts/install-deps.sh && xvfb-run ./run.sh" >&2
  exit 1
fi
exec ./build/release/apps/nemola-m/nemola-m --simulator "$@"
