#!/usr/bin/env bash
# The Motorola reader against objcopy and srec_cat: prints a Markdown section.
# Runs from bench/run.sh (ROOT and BENCH_BUILD set), or alone after a bench build:
#   ROOT=$PWD BENCH_BUILD=$PWD/build-bench bash bench/suites/10-reader.sh
set -euo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$ROOT/build-bench}
PROGRAM="$BENCH_BUILD/bench/bench_reader"
REPS=${READER_REPS:-5}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Peak resident set of each tool, one run each under /usr/bin/time (a child of a small
# process, so the high-water mark is the tool's own).
"$PROGRAM" --write-only "$WORK"
for f in "$WORK"/S*.mot; do
  n=$(basename "$f" .mot)
  /usr/bin/time -f "objcopy $n %M" -a -o "$WORK/rss.txt" objcopy -I srec -O binary "$f" "$WORK/out.bin"
  /usr/bin/time -f "srec_cat $n %M" -a -o "$WORK/rss.txt" srec_cat "$f" -o "$WORK/out.bin" -binary
done
"$PROGRAM" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_format=json >"$WORK/run.json" 2>/dev/null
python3 - "$WORK/run.json" "$REPS" "$WORK/rss.txt" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
reps = sys.argv[2]
rss = {}
for line in open(sys.argv[3]):
    tool, name, kib = line.split()
    rss[(tool, name)] = int(kib) * 1024
rows = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    tool, name = b["run_name"].split("/")[:2]
    rows.setdefault(name, {})[tool] = b
MIB = 1048576
def ms(b): return b["real_time"] if b["time_unit"] == "ms" else b["real_time"] / 1000.0
print("## Motorola reader against objcopy and srec_cat")
print()
print("One run of `bench_reader` (" + reps + " repetitions, medians): `read_motorola_file` in process (CPU per")
print("read, peak heap including the caller's 1 MiB image buffer) against whole runs of")
print("`objcopy -I srec -O binary FILE OUT` and `srec_cat FILE -o OUT -binary` (CPU user + system from")
print("the same run; peak resident set from one run under `/usr/bin/time`). S1 covers 64 KiB, all")
print("that 16-bit addresses reach; S2 and S3 cover 1 MiB. Records of 16, 32 and 64 data bytes.")
print("Targets: CPU at most 0.5 x objcopy's; peak heap at most the file's size + 1 MiB. The heap is")
print("counted in bytes asked of malloc (Qt's containers included), so a few hundred bytes over the")
print("limit are the file's path and the buffer's header, held while the file is read.")
print()
print("| File | Size | Reader CPU | objcopy CPU | srec_cat CPU | Reader / objcopy | Target | Met | Reader / srec_cat | Reader heap | Limit (file + 1 MiB) | Met | objcopy RSS | srec_cat RSS |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
order = [t + "-" + s for t in ("S1", "S2", "S3") for s in ("16", "32", "64")]
for name in order:
    r = rows.get(name, {})
    if not all(k in r for k in ("reader", "objcopy", "srec_cat")):
        print(f"| {name} | not measured | | | | | | | | | | | | |")
        continue
    size = int(r["reader"]["file_bytes"])
    rc, oc, sc = ms(r["reader"]), ms(r["objcopy"]), ms(r["srec_cat"])
    heap = int(r["reader"]["peak_bytes"])
    limit = size + MIB
    ratio = rc / oc
    print(f"| {name} | {size/1e6:.2f} MB | {rc:.2f} ms | {oc:.2f} ms | {sc:.2f} ms | {ratio:.2f} | <= 0.50 | "
          f"{'met' if ratio <= 0.5 else 'missed by %.0f%%' % ((ratio / 0.5 - 1) * 100)} | {rc / sc:.2f} | "
          f"{heap/1e6:.2f} MB | {limit/1e6:.2f} MB | {'met' if heap <= limit else 'missed by %d bytes' % (heap - limit)} | "
          f"{rss.get(('objcopy', name), 0)/1e6:.1f} MB | {rss.get(('srec_cat', name), 0)/1e6:.1f} MB |")
print()
print("Reproduce: `bash bench/run.sh 10`, or after a bench build")
print("`build-bench/bench/bench_reader --benchmark_repetitions=5 --benchmark_min_time=0.2`.")
PY
