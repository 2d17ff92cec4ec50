#!/bin/bash
# How long nemola-run takes from the TCP connection to its first command, against nemola-sim --tcp (which sends
# no greeting), for the plain receiver name and for the name that says ",nogreeting"; turn about, medians. A relay
# in front of the simulator stamps the accept and the first byte from the runner. The whole run of an empty
# script is shown too. Figures only; nothing is asserted.
#   bench/connect.sh [build dir] [turns]
set -eu
BUILD=${1:-build/release}
TURNS=${2:-7}
RUN="$BUILD/apps/nemola-run/nemola-run"
SIM="$BUILD/apps/nemola-sim/nemola-sim"
DIR=$(mktemp -d)
SIM_PID=
RELAY_PID=
cleanup() {
    [ -n "$RELAY_PID" ] && kill "$RELAY_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

: > "$DIR/empty.kvs"
"$SIM" --tcp 0 > "$DIR/sim.out" &
SIM_PID=$!
while ! grep -qs "tcp port" "$DIR/sim.out"; do sleep 0.05; done
SIM_PORT=$(sed -n 's/^tcp port //p' "$DIR/sim.out")

cat > "$DIR/relay.py" <<'PY'
import selectors, socket, sys, time
sim_port, log = int(sys.argv[1]), sys.argv[2]
server = socket.create_server(("127.0.0.1", 0))
print("relay port %d" % server.getsockname()[1], flush=True)
sel = selectors.DefaultSelector()
sel.register(server, selectors.EVENT_READ)
peers, first = {}, {}
while True:
    for key, _ in sel.select():
        s = key.fileobj
        if s is server:
            client, _ = server.accept()
            up = socket.create_connection(("127.0.0.1", sim_port))
            for a, b in ((client, up), (up, client)):
                a.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                peers[a] = b
                sel.register(a, selectors.EVENT_READ)
            first[client] = time.monotonic()
            continue
        data = s.recv(65536)
        if s in first:  # the runner's first bytes: its first command
            with open(log, "a") as f:
                f.write("%.3f\n" % ((time.monotonic() - first.pop(s)) * 1000))
        if not data:
            for x in (s, peers[s]):
                sel.unregister(x)
                x.close()
                first.pop(x, None)
            other = peers.pop(s)
            peers.pop(other, None)
            continue
        peers[s].sendall(data)
PY
python3 "$DIR/relay.py" "$SIM_PORT" "$DIR/first.log" > "$DIR/relay.out" &
RELAY_PID=$!
while ! grep -qs "relay port" "$DIR/relay.out"; do sleep 0.05; done
PORT=$(sed -n 's/^relay port //p' "$DIR/relay.out")

now_us() { local t=${EPOCHREALTIME/./}; echo $((10#$t)); }
: > "$DIR/plain"
: > "$DIR/quick"
for k in $(seq "$TURNS"); do
    for kind in plain quick; do
        name="127.0.0.1:$PORT"
        [ "$kind" = quick ] && name="$name,nogreeting"
        : > "$DIR/first.log"
        t0=$(now_us)
        "$RUN" --tcp "$name" --folder "$DIR" empty.kvs > /dev/null
        t1=$(now_us)
        while [ ! -s "$DIR/first.log" ]; do sleep 0.01; done
        echo "$(cat "$DIR/first.log") $(((t1 - t0) / 1000))" >> "$DIR/$kind"
    done
done
python3 - "$DIR/plain" "$DIR/quick" <<'PY'
import statistics, sys
def medians(path):
    rows = [line.split() for line in open(path)]
    return statistics.median(float(r[0]) for r in rows), statistics.median(float(r[1]) for r in rows)
plain, quick = medians(sys.argv[1]), medians(sys.argv[2])
print("connect to first command, median of %d turns:" % sum(1 for _ in open(sys.argv[1])))
print("  127.0.0.1:PORT             %7.1f ms   (empty script, whole run %4.0f ms)" % plain)
print("  127.0.0.1:PORT,nogreeting  %7.1f ms   (empty script, whole run %4.0f ms)" % quick)
print("  ratio %.2f" % (quick[0] / plain[0]))
PY
