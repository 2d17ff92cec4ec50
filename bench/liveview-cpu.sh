#!/bin/bash
# CPU time of the program's live view: nemola-m under a virtual X server, connected over TCP to nemola-sim sending
# epochs at each rate, the run time of all its threads over a measuring window read from /proc. Figures only.
#   bench/liveview-cpu.sh [build dir] [seconds] [rates...]      (defaults: build/release 60 1 20)
# The program starts on the Location page; PAGE=gps measures the GPS satellite list instead (its tab clicked with
# xdotool, the pointer then moved off the window).
# OTHER=<build dir> measures that build too, side by side with the first over the same window, TURNS times
# (default 4) at each rate, started first in every other turn: the cost of an idle thread's wake-up on a virtual
# machine drifts from minute to minute by more than most changes gain, so only builds measured over the same
# minutes compare; and the program started first was charged up to a quarter more than the other.
# OTHER_ENV='NAME=value ...' sets variables for OTHER's program (OTHER may then be the same build).
# Load average is printed beside each figure: on a saturated machine the figures mean little.
set -eu
BUILD=${1:-build/release}
SECONDS_=${2:-60}
shift 2 2>/dev/null || shift $#
RATES=${*:-1 20}
PAGE=${PAGE:-location}
DIR=$(mktemp -d)
declare -a SIMS=() RUNNERS=() PIDS=() BUILDS=()

# The program itself is stopped, not xvfb-run: xvfb-run then ends its X server on its own.
stop_all() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${RUNNERS[@]}"; do wait "$p" 2>/dev/null || true; done
    for p in "${SIMS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    SIMS=() RUNNERS=() PIDS=() BUILDS=()
}
trap 'stop_all; rm -rf "$DIR"' EXIT INT TERM

cpu_ns() { # run time of all the threads of a process, in nanoseconds
    cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%d\n", s }'
}

start() { # rate build environment: a simulator and the program connected to it, on the page to measure
    local rate=$1 build=$2 n=${#SIMS[@]}
    local app="$build/apps/nemola-m/nemola-m"
    "$build/apps/nemola-sim/nemola-sim" --tcp 0 --rate "$rate" > "$DIR/sim$n.out" &
    SIMS+=($!)
    while ! grep -qsE '^tcp port [0-9]+$' "$DIR/sim$n.out"; do sleep 0.05; done
    local port
    port=$(sed -n 's/^tcp port //p' "$DIR/sim$n.out")
    env $3 xvfb-run -a -s "-screen 0 1024x768x24" "$app" --settings "$DIR/settings$n.ini" \
        --receiver "127.0.0.1:$port" > "$DIR/app$n.out" 2>&1 &
    local runner=$! pid=
    RUNNERS+=("$runner")
    while [ -z "$pid" ]; do sleep 0.2; pid=$(pgrep -n -P "$runner" -f "^$app " || true); done
    PIDS+=("$pid")
    BUILDS+=("$build${3:+ ($3)}")
}

show_page() { # pid
    [ "$PAGE" = gps ] || return 0
    # The first tab, below the menu bar at the window's top left.
    local display
    display=$(tr '\0' '\n' < "/proc/$1/environ" | sed -n 's/^DISPLAY=//p')
    XAUTHORITY=$(tr '\0' '\n' < "/proc/$1/environ" | sed -n 's/^XAUTHORITY=//p')
    export XAUTHORITY
    local window
    window=$(DISPLAY=$display xdotool search --onlyvisible --pid "$1" | head -n 1)
    DISPLAY=$display xdotool mousemove --window "$window" 26 34 click 1 mousemove 1000 740
}

measure() { # rate (build environment)...: each build's program over the same window
    local rate=$1
    shift
    while [ $# -gt 0 ]; do
        start "$rate" "$1" "$2"
        shift 2
    done
    sleep 8 # start-up and connecting are not the live view
    for pid in "${PIDS[@]}"; do show_page "$pid"; done
    sleep 2
    local -a t0=()
    for pid in "${PIDS[@]}"; do
        if [ ! -d "/proc/$pid" ]; then
            echo "nemola-m ended early:" >&2
            cat "$DIR"/app*.out >&2
            exit 1
        fi
        t0+=("$(cpu_ns "$pid")")
    done
    sleep "$SECONDS_"
    local load i=0
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    for pid in "${PIDS[@]}"; do
        local t1
        t1=$(cpu_ns "$pid")
        printf '%s\t%s\t%s\n' "$rate" "${BUILDS[$i]}" "$((t1 - t0[i]))" >> "$DIR/figures"
        python3 -c "t=($t1-${t0[$i]})/1e9; print('${OTHER:+${BUILDS[$i]}: }$PAGE %3d epochs/s: %6.2f %% of one core (%.2f s CPU in $SECONDS_ s, %.0f us an epoch)  load %s' % ($rate, t/$SECONDS_*100, t, t/($SECONDS_*$rate)*1e6, '$load'))"
        i=$((i + 1))
    done
    stop_all
}

for r in $RATES; do
    if [ -z "${OTHER:-}" ]; then
        measure "$r" "$BUILD" ""
        continue
    fi
    turn=0
    while [ "$turn" -lt "${TURNS:-4}" ]; do
        if [ $((turn % 2)) -eq 0 ]; then
            measure "$r" "$BUILD" "" "$OTHER" "${OTHER_ENV:-}"
        else
            measure "$r" "$OTHER" "${OTHER_ENV:-}" "$BUILD" ""
        fi
        turn=$((turn + 1))
    done
    # Each turn's two figures share their minutes: the ratio of their sums over all turns, the same build on
    # both sides in half the turns started first.
    python3 - "$DIR/figures" "$r" "$BUILD" "$OTHER${OTHER_ENV:+ ($OTHER_ENV)}" <<'EOF_'
import sys
path, rate, build, other = sys.argv[1:]
sums = {build: 0, other: 0}
for line in open(path):
    r, b, ns = line.rstrip("\n").split("\t")
    if r == rate:
        sums[b] += int(ns)
print(f"{rate} epochs/s: {build} took {sums[build] / sums[other]:.2f} times the CPU of {other}")
EOF_
done
