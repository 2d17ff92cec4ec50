#!/bin/sh
# CPU time of the program's live view: nemola-m under a virtual X server, connected over TCP to nemola-sim sending
# epochs at each rate, the run time of all its threads over a measuring window read from /proc. Figures only.
#   bench/liveview-cpu.sh [build dir] [seconds] [rates...]      (defaults: build/release 60 1 20)
# The program starts on the Location page; PAGE=gps measures the GPS satellite list instead (its tab clicked with
# xdotool, the pointer then moved off the window).
# OTHER=<build dir> measures that build too, the two taking turns TURNS times (default 3) at each rate: the cost
# of an idle thread's wake-up on a virtual machine drifts from minute to minute, so only alternating runs compare.
# Load average is printed beside each figure: on a saturated machine the figures mean little.
set -eu
BUILD=${1:-build/release}
SECONDS_=${2:-60}
shift 2 2>/dev/null || shift $#
RATES=${*:-1 20}
PAGE=${PAGE:-location}
APP="$BUILD/apps/nemola-m/nemola-m"
SIM="$BUILD/apps/nemola-sim/nemola-sim"
DIR=$(mktemp -d)
SIM_PID=
APP_PID=
pid=
# The program itself is stopped, not xvfb-run: xvfb-run then ends its X server on its own.
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$APP_PID" ] && wait "$APP_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM
TICKS=1000000000

cpu_ticks() { # run time of all the threads of a process, in nanoseconds
    cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { print s }'
}

measure() { # rate [build dir]
    rate=$1
    APP="${2:-$BUILD}/apps/nemola-m/nemola-m"
    "$SIM" --tcp 0 --rate "$rate" > "$DIR/sim.out" &
    SIM_PID=$!
    while ! grep -qs "tcp port" "$DIR/sim.out"; do sleep 0.05; done
    port=$(sed -n 's/^tcp port //p' "$DIR/sim.out")
    xvfb-run -a -s "-screen 0 1024x768x24" "$APP" --settings "$DIR/settings.ini" \
        --receiver "127.0.0.1:$port" > "$DIR/app.out" 2>&1 &
    APP_PID=$!
    while [ -z "$pid" ]; do sleep 0.2; pid=$(pgrep -n -P "$APP_PID" -f "^$APP " || true); done
    sleep 8 # start-up and connecting are not the live view
    if [ "$PAGE" = gps ]; then
        # The first tab, below the menu bar at the window's top left.
        display=$(tr '\0' '\n' < "/proc/$pid/environ" | sed -n 's/^DISPLAY=//p')
        XAUTHORITY=$(tr '\0' '\n' < "/proc/$pid/environ" | sed -n 's/^XAUTHORITY=//p')
        export XAUTHORITY
        window=$(DISPLAY=$display xdotool search --onlyvisible --pid "$pid" | head -n 1)
        DISPLAY=$display xdotool mousemove --window "$window" 26 34 click 1 mousemove 1000 740
        sleep 2
    fi
    t0=$(cpu_ticks "$pid")
    sleep "$SECONDS_"
    t1=$(cpu_ticks "$pid")
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    python3 -c "t=($t1-$t0)/$TICKS; print('${OTHER:+${2:-$BUILD}: }$PAGE %3d epochs/s: %6.2f %% of one core (%.2f s CPU in $SECONDS_ s, %.0f us an epoch)  load %s' % ($rate, t/$SECONDS_*100, t, t/($SECONDS_*$rate)*1e6, '$load'))"
    kill "$pid" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=
    pid=
    kill "$SIM_PID"
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
}

for r in $RATES; do
    if [ -z "${OTHER:-}" ]; then
        measure "$r"
        continue
    fi
    turn=0
    while [ "$turn" -lt "${TURNS:-3}" ]; do
        measure "$r" "$BUILD"
        measure "$r" "$OTHER"
        turn=$((turn + 1))
    done
done
