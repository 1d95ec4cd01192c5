#!/usr/bin/env bash
# Inventory: one identity query (--find --port p1) against the inventory of 128 simulated
# projectors (--find over every port: the device search, then the status query, each port on a
# thread of its own), every projector paced to 38,400 baud (projector-sim --baud-pace). Prints
# a Markdown section: figure, target, met or missed, and the command that reproduces it. Needs
# the programs of $BENCH_BUILD (bench/run.sh builds them) and /usr/bin/time.
#   INVENTORY_RUNS=3 INVENTORY_PORTS=128 bash bench/suites/70-inventory.sh
set -euo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$ROOT/build-bench}
# shellcheck source=bench/lib.sh
source "$ROOT/bench/lib.sh"
RUNS=${INVENTORY_RUNS:-3}
N=${INVENTORY_PORTS:-128}
for program in "$SIM" "$UPLOADER" /usr/bin/time; do
  [ -x "$program" ] || { echo "70-inventory: $program is missing" >&2; exit 1; }
done

SIMS=()
stop_sims() {
  for pid in "${SIMS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SIMS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SIMS=()
}
trap 'stop_sims; cleanup' EXIT

# The projectors stay up for every run: an inventory changes nothing on them. A third each
# on, cooling (for longer than the runs take) and in standby.
states=(on cooling standby)
for i in $(seq 1 "$N"); do
  "$SIM" --link "$WORK/p$i" --baud-pace --state "${states[$((i % 3))]}" --cooldown 3600 --model "PJ-$i" \
    2>"$WORK/sim$i.log" &
  SIMS+=($!)
done
for i in $(seq 1 "$N"); do
  for _ in $(seq 1 200); do grep -q '^ready ' "$WORK/sim$i.log" && break; sleep 0.05; done
  grep -q '^ready ' "$WORK/sim$i.log" || { echo "70-inventory: projector $i did not start" >&2; exit 1; }
done
PORTS=()
for i in $(seq 1 "$N"); do PORTS+=(--port "$WORK/p$i"); done

# CPU ticks used so far by all the simulators.
sim_ticks() {
  local t=0 u s
  for pid in "${SIMS[@]}"; do
    read -r u s < <(cut -d' ' -f14,15 "/proc/$pid/stat")
    t=$((t + u + s))
  done
  echo "$t"
}
# Turn about, so that all see the same machine; the eight-port inventory shows what asking
# each projector twice (identity, then power) costs before the ports crowd the processors.
: >"$WORK/one.all"
: >"$WORK/eight.all"
: >"$WORK/inventory.all"
: >"$WORK/sims.all"
for _ in $(seq 1 "$RUNS"); do
  timed "$WORK/one" "$UPLOADER" --find --port "$WORK/p1"
  tail -n 1 "$WORK/one" >>"$WORK/one.all"
  # A projector that did not answer is said on standard error; the time counts all the same.
  timed "$WORK/eight" "$UPLOADER" --find "${PORTS[@]:0:16}" || true
  tail -n 1 "$WORK/eight" >>"$WORK/eight.all"
  before=$(sim_ticks)
  timed "$WORK/inventory" "$UPLOADER" --find "${PORTS[@]}" || true
  echo $(($(sim_ticks) - before)) >>"$WORK/sims.all"
  tail -n 1 "$WORK/inventory" >>"$WORK/inventory.all"
done
answered=$("$UPLOADER" --find "${PORTS[@]}" 2>/dev/null | awk -F'\t' '$4 != "-"' | wc -l)

t1=$(cut -d' ' -f1 "$WORK/one.all" | median)
tn=$(cut -d' ' -f1 "$WORK/inventory.all" | median)
rss1=$(cut -d' ' -f4 "$WORK/one.all" | median)
rssn=$(cut -d' ' -f4 "$WORK/inventory.all" | median)
cpun=$(awk '{print $2 + $3}' "$WORK/inventory.all" | median)
t8=$(cut -d' ' -f1 "$WORK/eight.all" | median)
cpusims=$(awk -v hz="$(getconf CLK_TCK)" '{print $1 / hz}' "$WORK/sims.all" | median)
ratio=$(awk -v a="$tn" -v b="$t1" 'BEGIN { printf "%.2f", a / b }')
ratio8=$(awk -v a="$t8" -v b="$t1" 'BEGIN { printf "%.2f", a / b }')
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

cat <<EOF
## Inventory

\`halvern-upload --find\` over $N simulated projectors on pseudo-terminals (a third each on,
cooling and in standby), each paced to 38,400 baud: every port on a thread of its own makes
the device search and then the status query, each with its own open and close of the port,
and prints its line ($answered of $N answered in a last run). Against it one identity query of one projector.
Median of $RUNS run(s) each, made in turn; time and memory from \`/usr/bin/time\`. The
simulators run on the same $(nproc) cores. All rows: \`bash bench/run.sh 70\`.

EOF
table_head
row "One identity query, paced" "${t1} s" "—" "—" \
  "projector-sim --baud-pace --link p1; /usr/bin/time halvern-upload --find --port p1"
row "Inventory of $N projectors, paced" "${tn} s (${ratio} × one)" "≤ 2 × one" "$(met "$ratio" "<=" 2)" \
  "projector-sim --baud-pace --link pN (N=1..$N); /usr/bin/time halvern-upload --find --port p1 ... --port p$N"
row "Inventory of 8 projectors, paced" "${t8} s (${ratio8} × one)" "stated" "—" \
  "the same over p1 ... p8"
row "CPU of the inventory of $N (user + system)" "${cpun} s here, ${cpusims} s in the simulators" "stated" "—" \
  "the inventory above; the simulators' from /proc/PID/stat"
row "Memory, one query / inventory of $N" "$(mib "$rss1") MiB / $(mib "$rssn") MiB" "stated" "—" \
  "both above (maximum resident set)"
cat <<EOF

The inventory asks every projector twice, identity and then power, each with its own open and
close of the port, where the one query asks once: eight projectors already take ${ratio8} × one.
Beyond that the time grows with the number of ports, not with the line: the ports are opened
on their own threads at once, not one after the other, their times in the report overlap, and
the threads start within milliseconds. What grows is processor time: ${cpun} s in
\`halvern-upload\` (most of it in the kernel: two opens of each port with their line settings
and a lock file in /var/lock, the polls and the switches between $N threads) and ${cpusims} s
in the simulators, all on $(nproc) cores shared with whatever else runs (load average
$(cut -d' ' -f1 /proc/loadavg) at the end of this run).
EOF
