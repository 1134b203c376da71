#!/usr/bin/env bash
# lblprinter over a long day (figures in docs/PERFORMANCE.md):
#  - 8 printers on file:// devices, 8 clients at once (one a printer), each
#    sending a mix of PWG raster, PNG and finished label streams, one label a
#    job, JOBS jobs in all (default 20000): submit-to-last-byte p50 and p99 of
#    jobs 100-200 and of the last 100, the server's RSS at both points, the
#    state file's size, whether the server lived, and the labels each device
#    holds (lblview counts and checks them) against the jobs sent;
#  - then 100 clients at once on one printer: the labels on its device.
# Run as root from a built tree: bash scripts/app-endurance.sh [build-dir] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
jobs=${2:-20000}
T=$(mktemp -d)
server=
trap '[ -z "$server" ] || { kill -9 "$server"; wait "$server"; } 2>/dev/null; rm -rf "$T"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
app() { local command=$1; shift; "$build/app/lblprinter" "$command" -o state-directory="$T/state" "$@"; }

"$build/app/lblprinter" server -o state-directory="$T/state" -o server-port="$port" \
  -o log-file="$T/server.log" -o log-level=warn &
server=$!
until curl -sfo /dev/null "http://localhost:$port/"; do sleep 0.05; done
for i in $(seq 8) crowd; do
  app add -d "p$i" -m generic-203dpi -v "file://$T/p$i.out"
  app modify -d "p$i" -o media-default=om_w170h85_60x30mm
done
"$build/tests/support/make-raster" -m pwg 480x240,fill=label >"$T/label.pwg"
"$build/lblfilter" 1 u t 1 "PageSize=w170h85" "$T/label.pwg" >"$T/label.lbl" 2>/dev/null
python3 -c 'import zlib, struct, sys
w, h = 480, 240
rows = b"".join(b"\0" + bytes((x // 8 + y // 8) % 2 * 255 for x in range(w)) for y in range(h))
chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
  + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))' "$T/label.png"

LABEL_JOB="$PWD/scripts/label-job.test" python3 -u - "$T" "$port" "$server" "$jobs" "$build/lblview" <<'PY'
import os, statistics, subprocess, sys, threading, time
T, port, pid, jobs, lblview = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
docs = [(f"{T}/label.pwg", "image/pwg-raster"), (f"{T}/label.png", "image/png"),
        (f"{T}/label.lbl", "application/vnd.lblfilter-label")]
test = os.environ["LABEL_JOB"]  # scripts/label-job.test

def rss():
    return next(int(l.split()[1]) for l in open(f"/proc/{pid}/status") if l.startswith("VmRSS"))

def resources():  # the server's file descriptors and threads, and the files in its spool
    threads = next(int(l.split()[1]) for l in open(f"/proc/{pid}/status") if l.startswith("Threads"))
    return (f"{len(os.listdir(f'/proc/{pid}/fd'))} fds, {threads} threads, "
            f"{len(os.listdir(f'{T}/state/spool'))} spool files")

def submit(printer, doc, fmt):
    try:
        return subprocess.run(["ipptool", "-T", "30", "-f", doc, "-d", f"format={fmt}",
                               "-d", "media=om_w170h85_60x30mm",
                               f"ipp://localhost:{port}/ipp/print/{printer}", test],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=60).returncode == 0
    except subprocess.TimeoutExpired:
        return False  # the server does not answer

def labels_on(device):
    out = subprocess.run([lblview, "-q", device], capture_output=True, text=True)
    if out.returncode != 0:
        return f"invalid ({out.stderr.strip()[:80]})"
    summary = subprocess.run([lblview, device], capture_output=True, text=True).stdout.splitlines()[-1]
    return int(summary.split(": ")[1].split()[0])

lock = threading.Lock()
claimed, done, latencies, rss_at = [0], [0], {}, {}
def client(n):
    printer, device = f"p{n}", f"{T}/p{n}.out"
    open(device, "ab").close()
    k = 0
    while True:
        with lock:
            if claimed[0] >= jobs: return
            claimed[0] += 1
        doc, fmt = docs[k % 3]
        size = os.path.getsize(device)
        start = time.perf_counter()
        if not submit(printer, doc, fmt): return
        # the label is whole on the device once its PRINT line is there
        deadline = time.perf_counter() + 60
        while time.perf_counter() < deadline:
            with open(device, "rb") as f:
                f.seek(size)
                if f.read().endswith(b"\r\n") and os.path.getsize(device) > size:
                    break
            time.sleep(0.001)
        elapsed = time.perf_counter() - start
        if elapsed >= 60: return  # no label: the server hangs
        with lock:
            done[0] += 1
            latencies[done[0]] = elapsed
            if done[0] == 200: rss_at["start"], rss_at["start_resources"] = rss(), resources()
            if done[0] == 2000: rss_at["full"] = rss()  # every printer's history full
        k += 1

started = time.perf_counter()
threads = [threading.Thread(target=client, args=(n,)) for n in range(1, 9)]
for t in threads: t.start()
for t in threads: t.join()
total = done[0]
rss_at["end"], rss_at["end_resources"] = rss(), resources()
alive = os.path.exists(f"/proc/{pid}")
def pct(ids, q):
    v = sorted(latencies[i] for i in ids if i in latencies) or [float("nan")]
    return 1000 * v[min(len(v) - 1, int(q * len(v)))]
early, late = range(100, 201), range(total - 100, total + 1)
print(f"8 printers, 8 clients: {total} jobs in {time.perf_counter() - started:.0f} s")
print(f"  jobs 100-200:   p50 {pct(early, .5):.1f} ms  p99 {pct(early, .99):.1f} ms  RSS {rss_at['start'] / 1024:.1f} MiB")
print(f"  jobs {total - 100}-{total}: p50 {pct(late, .5):.1f} ms  p99 {pct(late, .99):.1f} ms  RSS {rss_at['end'] / 1024:.1f} MiB")
print(f"  at job 200: {rss_at['start_resources']}; at the end: {rss_at['end_resources']}")
print(f"  RSS at job 2000, the histories full: {rss_at.get('full', 0) / 1024:.1f} MiB")
print(f"  end/start p50 {pct(late, .5) / pct(early, .5):.2f}x, RSS growth {(rss_at['end'] - rss_at['start']) / 1024:.2f} MiB")
print(f"  state file {os.path.getsize(f'{T}/state/lblprinter.state')} bytes; server alive: {alive}")
on_devices = [labels_on(f"{T}/p{n}.out") for n in range(1, 9)]
print(f"  labels on the devices {sum(x for x in on_devices if isinstance(x, int))} = jobs {total}: {on_devices}")

# 100 clients at once on one printer.
crowd = [threading.Thread(target=submit, args=("pcrowd",) + docs[i % 3]) for i in range(100)]
for t in crowd: t.start()
for t in crowd: t.join()
for _ in range(120):
    if isinstance(labels_on(f"{T}/pcrowd.out"), int) and labels_on(f"{T}/pcrowd.out") >= 100: break
    time.sleep(0.5)
answers = subprocess.run(["curl", "-s", "-m", "5", "-o", "/dev/null", f"http://localhost:{port}/"]).returncode == 0
print(f"100 clients at once on one printer: {labels_on(f'{T}/pcrowd.out')} labels for 100 jobs; "
      f"server alive: {os.path.exists(f'/proc/{pid}')}, answering: {answers}")
PY
