#!/bin/bash
# kvs2rin of this build beside another converter binary (the previous build's), in one run: the CPU time each takes
# for the one-hour recording of bench_kvs2rin, turn about, and whether both write the same bytes for it and for a
# recording of rounding ties, negatives and values at the edge of their fields. Figures only; a difference in the
# output is printed and ends the run with status 1.
#   bench/kvs2rin.sh OTHER_KVS2RIN [build dir] [turns]        (defaults: build/release, 6 turns)
# CPU time (user + system of each converter process, from the kernel's accounting) rather than wall time: the
# machine's load moves the one far less than the other. The "PGM / RUN BY / DATE" line holds the time of the run
# and is left out of the comparison.
set -eu
OTHER=${1:?usage: bench/kvs2rin.sh OTHER_KVS2RIN [build dir] [turns]}
BUILD=${2:-build/release}
TURNS=${3:-6}
OURS="$BUILD/apps/nemola-m/kvs2rin"
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT INT TERM

"$BUILD/bench/bench_kvs2rin" --write-recordings "$DIR"
mkdir "$DIR/ours" "$DIR/other"
# Each recording gets its own output name: the long name begins with the marker.
printf '[KVS2RIN]\nMARKER NAME= HOUR\n' > "$DIR/hour.ini"
printf '[KVS2RIN]\nMARKER NAME= EDGE\n' > "$DIR/edges.ini"

same() { # marker: both outputs equal, the run's date line aside
    local a b
    a=$(ls "$DIR/ours/$1"* 2>/dev/null || true)
    b=$(ls "$DIR/other/$1"* 2>/dev/null || true)
    if [ -z "$a" ] || [ -z "$b" ]; then
        echo "$1: a converter wrote no file" >&2
        return 1
    fi
    if ! cmp <(grep -v 'PGM / RUN BY / DATE *$' "$a") <(grep -v 'PGM / RUN BY / DATE *$' "$b"); then
        echo "$1: the outputs differ" >&2
        return 1
    fi
    echo "$1: identical output ($(wc -c < "$a") bytes)"
}

status=0
for rec in hour edges; do
    "$OURS" -i "$DIR/$rec.kvs" -o "$DIR/ours" -p "$DIR/$rec.ini" --overwrite > /dev/null 2>&1 || true
    "$OTHER" -i "$DIR/$rec.kvs" -o "$DIR/other" -p "$DIR/$rec.ini" --overwrite > /dev/null 2>&1 || true
done
same HOUR || status=1
same EDGE || status=1

python3 - "$OURS" "$OTHER" "$DIR" "$TURNS" <<'PY'
import resource, subprocess, sys
ours, other, folder, turns = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
def cpu_ms(binary, out):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([binary, "-i", folder + "/hour.kvs", "-o", folder + "/" + out, "-p", folder + "/hour.ini",
                    "--overwrite"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1000
sums = {"ours": 0.0, "other": 0.0}
for turn in range(turns):
    # Turn about: the one started first may be charged for a cold cache.
    order = [("ours", ours), ("other", other)]
    for out, binary in (order if turn % 2 == 0 else order[::-1]):
        ms = cpu_ms(binary, out)
        sums[out] += ms
        print("turn %d: %-10s %6.0f ms CPU" % (turn + 1, "this build" if out == "ours" else "other", ms))
o, t = sums["ours"] / turns, sums["other"] / turns
print("one hour at 1 Hz (3600 epochs), mean of %d turns: this build %.0f ms CPU (%.0f epochs/s), "
      "other %.0f ms (%.0f epochs/s): %.2fx" % (turns, o, 3600e3 / o, t, 3600e3 / t, t / o))
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
