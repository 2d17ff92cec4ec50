#!/bin/bash
# nemola-rec --listen-only beside RTKLIB's str2str on the same stream, in the same run: a local TCP port streams a
# receiver's message stream (30 satellites of raw data, about 90 bytes a message) as fast as each reader drains
# it, and each writes it into a file. Reported per tool, median of TURNS turns taken alternately: throughput (the
# port's bytes over the time from its accept to its last send), processor time per GB of the tool (user and
# system, from the kernel's accounting of the child), and whether every message reached the file. Figures only.
#   bench/rec-stream.sh [build dir] [MB] [turns]      (defaults: build/release 1024 3)
# str2str comes from the Debian package rtklib, installed here when it is missing (never by the test suite).
set -eu
BUILD=${1:-build/release}
MB=${2:-1024}
TURNS=${3:-3}
REC=$(realpath "$BUILD/apps/nemola-rec/nemola-rec")
if ! command -v str2str > /dev/null; then
    echo "installing rtklib (str2str)" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq rtklib > /dev/null
fi
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT INT TERM

python3 - "$REC" "$DIR" "$MB" "$TURNS" << 'PY'
import os, random, resource, socket, statistics, struct, subprocess, sys, threading, time

rec, folder, mb, turns = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])

def checksum(b):
    c = 0
    for x in b:
        c = (((c << 2) | (c >> 6)) & 0xFF) ^ x
    return ((c << 2) | (c >> 6)) & 0xFF

def frame(ident, body):
    f = ident + b"%03X" % (len(body) + 1) + body
    return f + bytes([checksum(f)]) + b"\n"

# 8 MiB of distinct epochs, ten a second of receiver time, sent over and over: the receiver's time goes back at
# each repetition, which neither tool minds.
rng = random.Random(7)
block = bytearray()
messages = 0
ms = 0
while len(block) < 8 << 20:
    n = 30
    parts = [frame(b"~~", struct.pack("<I", ms)), frame(b"RD", bytes([0xEA, 0x07, 12, 6, 0])),
             frame(b"SI", rng.randbytes(n))]
    parts += [frame(i, rng.randbytes(n)) for i in (b"EL", b"AZ", b"EC", b"E2")]
    parts += [frame(i, rng.randbytes(8 * n)) for i in (b"RC", b"R2", b"PC", b"P2")]
    parts += [frame(b"DC", rng.randbytes(4 * n)), frame(b"PG", rng.randbytes(29)), frame(b"||", b"")]
    block += b"".join(parts)
    messages += len(parts)
    ms += 100
block = bytes(block)
header = b"MF009KV01010BF\n"  # the recorder's own, for a stream that brings none
repeats = max(1, (mb << 20) // len(block))
total_bytes, total_messages = repeats * len(block), repeats * messages

def serve(listener, result):
    listener.settimeout(30)  # a tool that never connects
    try:
        conn, _ = listener.accept()
    except OSError:
        return
    start = time.monotonic()
    view = memoryview(block)
    for _ in range(repeats):
        conn.sendall(view)
    result["seconds"] = time.monotonic() - start
    conn.shutdown(socket.SHUT_WR)
    try:
        while conn.recv(65536):
            result["received"] = True
    except OSError:
        pass
    conn.close()

def run(name, command, out, done):
    listener = socket.create_server(("127.0.0.1", 0))
    port = listener.getsockname()[1]
    result = {}
    server = threading.Thread(target=serve, args=(listener, result), daemon=True)
    server.start()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    p = subprocess.Popen([a.replace("PORT", str(port)) for a in command], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, cwd=folder)
    deadline = time.monotonic() + 600
    while not done(p) and time.monotonic() < deadline:
        time.sleep(0.05)
    if p.poll() is None:
        p.terminate()
    p.wait()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)  # the tool's alone: it is the only child reaped meanwhile
    summary = p.stdout.read().decode()
    server.join()
    listener.close()
    complete = out(summary)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    for f in os.listdir(folder):
        os.remove(os.path.join(folder, f))
    if "seconds" not in result:
        sys.exit("%s did not read the stream" % name)
    return {"mbps": total_bytes / result["seconds"] / 1e6, "cpu_per_gb": cpu / (total_bytes / 1e9),
            "complete": complete, "sent_to_port": result.get("received", False)}

def size():
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder))

def rec_messages(summary):
    # "N messages, ...": the stream's messages and the file header the recorder puts before the first epoch, which
    # is all the file holds besides the stream.
    lines = [l for l in summary.splitlines() if " messages, " in l]
    return bool(lines) and int(lines[-1].split()[0]) == total_messages + 1 and size() == total_bytes + len(header)

tools = {
    "nemola-rec": ([rec, "--tcp", "127.0.0.1:PORT", "--listen-only", "--folder", folder, "--split", "1d"],
                   rec_messages, lambda p: p.poll() is not None),
    "str2str": (["str2str", "-in", "tcpcli://127.0.0.1:PORT", "-out", "file://" + folder + "/out.kvs"],
                lambda s: size() == total_bytes, lambda p: size() >= total_bytes),
}
results = {name: [] for name in tools}
for turn in range(turns):
    order = list(tools) if turn % 2 == 0 else list(reversed(tools))
    for name in order:
        results[name].append(run(name, *tools[name]))

print("stream: %.0f MB, %d messages, %d turns (load average %.1f)" %
      (total_bytes / 1e6, total_messages, turns, os.getloadavg()[0]))
medians = {}
for name, rs in results.items():
    m = statistics.median(r["mbps"] for r in rs)
    c = statistics.median(r["cpu_per_gb"] for r in rs)
    medians[name] = (m, c)
    print("%-11s %7.0f MB/s  %5.2f CPU-s/GB  every message: %s  bytes sent to the port: %s" %
          (name, m, c, "yes" if all(r["complete"] for r in rs) else "NO",
           "yes" if any(r["sent_to_port"] for r in rs) else "none"))
ours, theirs = medians["nemola-rec"], medians["str2str"]
print("nemola-rec / str2str: throughput x%.2f, CPU per GB x%.2f" % (ours[0] / theirs[0], ours[1] / theirs[1]))
PY
