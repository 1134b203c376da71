#!/usr/bin/env bash
# Speed and memory of the Printer Application, side by side with the classic
# CUPS path, in one run (figures in docs/PERFORMANCE.md):
#  - one 100 x 150 mm label as PWG raster: from submitting it (ipptool
#    Print-Job) to its last byte on lblprinter's file device, median of 20,
#    against the same raster through cupsfilter with the project's PPD and the
#    built lblfilter;
#  - a 100 x 150 mm PDF label (the shipping sample), the same way: through
#    lblprinter's own PDF path against cupsfilter's PDF chain (pdftopdf,
#    Ghostscript, lblfilter), median of 10;
#  - the server's resident memory while it prints 100 labels in a row.
# Run as root from a built tree: bash scripts/app-speed.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
# lblfilter logs to /var/log/cups: keep the host's log out of it.
LBL_BUILD=$build source tests/support/private-log.sh
T=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server"; wait; rm -rf "$T"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
app() { local command=$1; shift; "$build/app/lblprinter" "$command" -o state-directory="$T/state" "$@"; }

mkdir -p "$T/state" "$T/serverbin/filter"
"$build/app/lblprinter" server -o state-directory="$T/state" -o server-port="$port" \
  -o log-file="$T/server.log" -o log-level=warn &
server=$!
for _ in $(seq 100); do [ -S "$T/state/lblprinter.sock" ] && break; sleep 0.05; done
: >"$T/label.out"
app add -d label -m generic-203dpi -v "file://$T/label.out"
"$build/tests/support/make-raster" -m pwg 800x1200,fill=label >"$T/label.pwg"
ln -s /usr/lib/cups/filter/* "$T/serverbin/filter/"
rm -f "$T/serverbin/filter/lblfilter"
install -m 0755 "$build/lblfilter" "$T/serverbin/filter/lblfilter"
printf 'ServerBin %s\n' "$T/serverbin" >"$T/cups-files.conf"

LABEL_JOB="$PWD/scripts/label-job.test" python3 - "$T" "$port" "$server" "$build/ppd/ppd/lbl203.ppd" "$build/samples/shipping-label.pdf" <<'PY'
import os, statistics, subprocess, sys, time
T, port, pid, ppd, pdf = sys.argv[1:6]
uri = f"ipp://localhost:{port}/ipp/print/label"
device = f"{T}/label.out"
test = os.environ["LABEL_JOB"]  # scripts/label-job.test

def app_label(doc=f"{T}/label.pwg", format="image/pwg-raster", size=None):
    # seconds from submitting to the label's last byte on the device
    start_size, start = os.path.getsize(device), time.perf_counter()
    subprocess.run(["ipptool", "-f", doc, "-d", f"format={format}", "-d", "media=om_w283h425_100x150mm", uri, test], check=True,
                   stdout=subprocess.DEVNULL)
    while os.path.getsize(device) < start_size + (size or label_bytes):
        time.sleep(0.0002)
    return time.perf_counter() - start

def classic_label(doc=f"{T}/label.pwg", mime="application/vnd.cups-raster"):
    start = time.perf_counter()
    with open(f"{T}/classic.lbl", "wb") as out:
        subprocess.run(["cupsfilter", "-c", f"{T}/cups-files.conf", "-p", ppd, "-e", "-m", "printer/label",
                        "-i", mime, "-o", "PageSize=w283h425", doc],
                       check=True, stdout=out, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

def memory(field):  # kB
    for line in open(f"/proc/{pid}/status"):
        if line.startswith(field):
            return int(line.split()[1])

label_bytes = 1  # the first job tells the label's size
app_label()
time.sleep(0.2)
label_bytes = os.path.getsize(device)
classic_label()
assert open(f"{T}/classic.lbl", "rb").read() == open(device, "rb").read(), "not the same label"
apps, classics = [], []
for _ in range(20):
    apps.append(app_label())
    classics.append(classic_label())
app_ms, classic_ms = statistics.median(apps) * 1000, statistics.median(classics) * 1000
print(f"one 100 x 150 mm label, median of 20: lblprinter {app_ms:.1f} ms, "
      f"cupsfilter + lblfilter {classic_ms:.1f} ms, ratio {app_ms / classic_ms:.2f}")
start_size = os.path.getsize(device)  # the PDF label's size, from its first job
app_label(pdf, "application/pdf", 1)
time.sleep(0.5)
pdf_bytes = os.path.getsize(device) - start_size
apps, classics = [], []
for _ in range(10):
    apps.append(app_label(pdf, "application/pdf", pdf_bytes))
    classics.append(classic_label(pdf, "application/pdf"))
app_ms, classic_ms = statistics.median(apps) * 1000, statistics.median(classics) * 1000
print(f"one 100 x 150 mm PDF label, median of 10: lblprinter {app_ms:.1f} ms, "
      f"cupsfilter (Ghostscript) + lblfilter {classic_ms:.1f} ms, ratio {app_ms / classic_ms:.2f}")
rss = []
for i in range(100):
    app_label()
    rss.append(memory("VmRSS:"))
print(f"server resident memory over 100 labels: after the first {rss[0] / 1024:.1f} MiB, "
      f"after the 100th {rss[-1] / 1024:.1f} MiB, peak {memory('VmHWM:') / 1024:.1f} MiB")
PY
