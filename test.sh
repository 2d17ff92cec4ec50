#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh        optimised build (the one ./run.sh uses)
#   ./test.sh asan   the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"
preset=release
if [[ "${1:-}" == asan ]]; then
  preset=asan
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # Qt's own libraries were not built with the sanitizer; their allocations at exit are not ours.
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0}
fi
./scripts/install-deps.sh
# Let ccache share objects between checkouts at different paths (CI builds a fresh clone).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j"$(nproc)" --timeout 300
