#!/bin/bash
# Commands per second of nemola-run against the in-process and the TCP simulator, beside a minimal client doing
# the same round trips over the same TCP port in the same run, and the CPU time and thread wake-ups a command costs
# each (the figures a busy machine moves least). The runner's start-up (an empty script) is subtracted. Figures
# only; nothing is asserted.
#   bench/commands.sh [build dir] [commands] [turns]
set -eu
BUILD=${1:-build/release}
N=${2:-20000}
ROUNDS=${3:-5}
RUN="$BUILD/apps/nemola-run/nemola-run"
SIM="$BUILD/apps/nemola-sim/nemola-sim"
DIR=$(mktemp -d)
SIM_PID=
cleanup() { [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; rm -rf "$DIR"; }
trap cleanup EXIT INT TERM

: > "$DIR/empty.kvs"
i=0
while [ $i -lt "$N" ]; do echo "print,/par/rcv/model"; i=$((i + 1)); done > "$DIR/many.kvs"

"$SIM" --tcp 0 > "$DIR/sim.out" &
SIM_PID=$!
while ! grep -qs "tcp port" "$DIR/sim.out"; do sleep 0.05; done
PORT=$(sed -n 's/^tcp port //p' "$DIR/sim.out")

# Timestamps from the shell itself: a Python start-up per timestamp took seconds on a busy machine, more than the
# whole run it was to time.
now_us() { local t=${EPOCHREALTIME/./}; echo $((10#$t)); }
# CPU time (user + system, in ms) and voluntary context switches (the times a thread went to sleep and had to be
# woken) of a command, into $DIR/<file>.
usage() { /usr/bin/time -o "$DIR/$1" -f '%U %S %w' "${@:2}" > /dev/null; }
rate() { # label, command... ; the rate also goes to $DIR/rate, CPU time and wake-ups a command to $DIR/cost
    local label=$1 up= t0 t1 t2 k
    shift
    for k in 1 2 3; do # the quickest of three start-ups: a busy machine only adds
        t0=$(now_us); usage empty.usage "$@" empty.kvs; t1=$(now_us)
        if [ -z "$up" ] || [ $((t1 - t0)) -lt "$up" ]; then up=$((t1 - t0)); fi
    done
    t1=$(now_us); usage many.usage "$@" many.kvs; t2=$(now_us)
    local us=$((t2 - t1 - up))
    local tenths=$((us * 10 / N))
    printf '%-28s %8d commands/s  (%d.%d us each, start-up %d ms)\n' "$label" $((N * 1000000 / us)) \
        $((tenths / 10)) $((tenths % 10)) $((up / 1000))
    echo $((N * 1000000 / us)) > "$DIR/rate"
    python3 -c 'import sys; e, m, n = [open(f).read().split() for f in sys.argv[1:3]] + [int(sys.argv[3])]
print("%.1f %.2f" % (((float(m[0]) + float(m[1])) - (float(e[0]) + float(e[1]))) * 1e6 / n, (int(m[2]) - int(e[2])) / n))' \
        "$DIR/empty.usage" "$DIR/many.usage" "$N" > "$DIR/cost"
}

cat > "$DIR/client.py" <<'PY'
import socket, sys, time
port, n = int(sys.argv[1]), int(sys.argv[2])
s = socket.create_connection(("127.0.0.1", port))
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
buf = b""
def roundtrip(i):
    global buf
    tag = b"%%c%d%%" % i
    s.sendall(tag + b"print,/par/rcv/model\r\n")
    while True:
        k = buf.find(tag)
        if k >= 0 and buf.find(b"\n", k) >= 0:
            buf = buf[buf.find(b"\n", k) + 1:]
            return
        buf += s.recv(65536)
roundtrip(0)
import resource
t0, cpu0, woken0 = time.monotonic(), time.process_time(), resource.getrusage(resource.RUSAGE_SELF).ru_nvcsw
for i in range(1, n + 1):
    roundtrip(i)
t = time.monotonic() - t0
cpu, woken = time.process_time() - cpu0, resource.getrusage(resource.RUSAGE_SELF).ru_nvcsw - woken0
print("%-28s %8.0f commands/s  (%.1f us each)" % ("minimal client (Python), TCP", n / t, t / n * 1e6))
open(sys.argv[3], "w").write("%d\n" % round(n / t))
open(sys.argv[4], "w").write("%.1f %.2f\n" % (cpu * 1e6 / n, woken / n))
PY

rate "nemola-run, in-process sim" "$RUN" --simulator --folder "$DIR"
# The machine's wake-up latency decides most of a round trip and drifts from second to second, so the runner and
# the minimal client take turns and the medians are compared.
ours=
theirs=
: > "$DIR/costs"
for k in $(seq "$ROUNDS"); do
    rate "nemola-run, TCP sim" "$RUN" --tcp "127.0.0.1:$PORT" --folder "$DIR"
    ours="$ours $(cat "$DIR/rate")"
    echo "ours $(cat "$DIR/cost")" >> "$DIR/costs"
    python3 "$DIR/client.py" "$PORT" "$N" "$DIR/rate" "$DIR/cost"
    theirs="$theirs $(cat "$DIR/rate")"
    echo "theirs $(cat "$DIR/cost")" >> "$DIR/costs"
done
python3 - "$DIR/costs" $ROUNDS $ours $theirs <<'PY'
import statistics, sys
r = int(sys.argv[2]); v = [int(x) for x in sys.argv[3:]]
ours, theirs = statistics.median(v[:r]), statistics.median(v[r:])
print("medians of %d turns: nemola-run %.0f, minimal client %.0f commands/s: ratio %.2f" % (r, ours, theirs, ours / theirs))
costs = [line.split() for line in open(sys.argv[1])]
def med(who, i): return statistics.median(float(c[i]) for c in costs if c[0] == who)
print("a command, medians: nemola-run %.1f us CPU and %.2f wake-ups, minimal client %.1f us CPU and %.2f wake-ups"
      % (med("ours", 1), med("ours", 2), med("theirs", 1), med("theirs", 2)))
print("load average: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
PY
