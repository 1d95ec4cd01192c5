#!/usr/bin/env bash
# Fleet uploads: DEMO.PJV (7 blocks, 114 kB on the line) into 1, 8, 32 and 128 simulated
# projectors at once, each paced to 38,400 baud (projector-sim --baud-pace), and the cost of
# waiting out a cool-down. Prints a Markdown section: figure, target, met or missed, and the
# command that reproduces it. Needs the programs of $BENCH_BUILD (bench/run.sh builds them)
# and /usr/bin/time.
#   FLEET_RUNS=3 bash bench/suites/60-fleet.sh    median of three runs of each timed upload
set -euo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BENCH_BUILD=${BENCH_BUILD:-$ROOT/build-bench}
RUNS=${FLEET_RUNS:-1}
SIM=$BENCH_BUILD/projector-sim/projector-sim
UPLOAD=$BENCH_BUILD/halvern-upload/halvern-upload
for program in "$SIM" "$UPLOAD" "$BENCH_BUILD/sample-release/sample-release" /usr/bin/time; do
  [ -x "$program" ] || { echo "60-fleet: $program is missing" >&2; exit 1; }
done

WORK=$(mktemp -d)
SIMS=()
SIM_CPU=0  # user + system seconds the simulators stopped last took
stop_sims() {
  local ticks=0 t
  for pid in "${SIMS[@]}"; do
    t=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || true)
    ticks=$((ticks + ${t:-0}))
  done
  SIM_CPU=$(printf '%.1f' "$(echo "$ticks / $(getconf CLK_TCK)" | bc -l)")
  for pid in "${SIMS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SIMS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SIMS=()
}
trap 'stop_sims; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/rel" "$WORK/config"
"$BENCH_BUILD/sample-release/sample-release" "$WORK/rel" >/dev/null
export XDG_CONFIG_HOME=$WORK/config  # the user's settings are not read

# start_sims N ARGS...: N projectors on $WORK/p1 ... $WORK/pN, each ready before return.
start_sims() {
  local n=$1
  shift
  for i in $(seq 1 "$n"); do
    "$SIM" --link "$WORK/p$i" "$@" 2>"$WORK/sim$i.log" &
    SIMS+=($!)
  done
  for i in $(seq 1 "$n"); do
    for _ in $(seq 1 100); do grep -q '^ready ' "$WORK/sim$i.log" && break; sleep 0.05; done
  done
}

# upload N [OPTIONS...]: one halvern-upload over p1..pN; prints "seconds user sys maxrss_kib status".
upload() {
  local n=$1
  shift
  local ports=()
  for i in $(seq 1 "$n"); do ports+=(--port "$WORK/p$i"); done
  local status=0
  /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" \
    "$UPLOAD" --yes "${ports[@]}" --dir "$WORK/rel" "$@" DEMO.PJV >/dev/null 2>"$WORK/upload.err" || status=$?
  echo "$(tail -n 1 "$WORK/time") $status"  # a failed run has a line before
}

# timed N [SIM ARGS...]: median over RUNS fresh fleets; sets SECONDS_ CPU_ RSS_ STATUS_ SIMCPU_.
timed() {
  local n=$1
  shift
  local results=()
  for _ in $(seq 1 "$RUNS"); do
    start_sims "$n" "$@"
    local result
    result=$(upload "$n")
    stop_sims
    results+=("$result $SIM_CPU")
  done
  local median
  median=$(printf '%s\n' "${results[@]}" | sort -n -k1,1 | sed -n "$(((RUNS + 1) / 2))p")
  read -r SECONDS_ user sys RSS_ STATUS_ SIMCPU_ <<<"$median"
  CPU_=$(echo "$user + $sys" | bc -l)
}

verdict() { if [ "$(echo "$1" | bc -l)" = 1 ]; then echo met; else echo missed; fi; }
mib() { printf '%.1f' "$(echo "$1 / 1024" | bc -l)"; }
percent_per_port() { printf '%.2f' "$(echo "100 * $1 / $2 / $3" | bc -l)"; }

LOAD=$(cut -d' ' -f1-3 /proc/loadavg)  # the machine is shared: how busy it was when the suite began
PACED=(--state standby --baud-pace)
timed 1 "${PACED[@]}"
t1=$SECONDS_ rss1=$RSS_ s1=$STATUS_
timed 8 "${PACED[@]}"
t8=$SECONDS_ cpu8=$CPU_ rss8=$RSS_ s8=$STATUS_
timed 32 "${PACED[@]}"
t32=$SECONDS_ cpu32=$CPU_ rss32=$RSS_ s32=$STATUS_
timed 128 "${PACED[@]}"
t128=$SECONDS_ cpu128=$CPU_ rss128=$RSS_ s128=$STATUS_ sim128=$SIMCPU_

# Waiting out a 20-second cool-down (polled every 5 s as the window does), then an unpaced
# transfer: almost all of the run is the wait.
start_sims 8 --state cooling --cooldown 20
read -r tc userc sysc _ sc <<<"$(upload 8)"
stop_sims
cpuc=$(echo "$userc + $sysc" | bc -l)

ratio8=$(printf '%.3f' "$(echo "$t8 / $t1" | bc -l)")
ratio32=$(printf '%.3f' "$(echo "$t32 / $t1" | bc -l)")
ratio128=$(printf '%.3f' "$(echo "$t128 / $t1" | bc -l)")
per_port=$(mib "$(echo "($rss32 - $rss1) / 31" | bc -l)")
per_port128=$(mib "$(echo "($rss128 - $rss1) / 127" | bc -l)")
pp128=$(percent_per_port "$cpu128" "$t128" 128)
cores128=$(printf '%.2f' "$(echo "$sim128 / $t128" | bc -l)")
pp8=$(percent_per_port "$cpu8" "$t8" 8)
pp32=$(percent_per_port "$cpu32" "$t32" 32)
ppc=$(percent_per_port "$cpuc" "$tc" 8)
SIMCMD='projector-sim --state standby --baud-pace --link pN'
UPCMD='/usr/bin/time halvern-upload --yes --port p1 ... --port pN DEMO.PJV'

cat <<EOF
## Fleet uploads

DEMO.PJV (three files, seven blocks of 16,384 bytes) into simulated projectors on
pseudo-terminals, each paced to 38,400 baud, all from one \`halvern-upload\` (one thread per
port). Median of $RUNS run(s) each; exit status of the runs: one $s1, eight $s8, thirty-two
$s32, 128 $s128, cool-down $sc (0 is every projector uploaded). Load average when the suite
began: $LOAD. Time and memory come from
\`/usr/bin/time\` (elapsed, user + system CPU, maximum resident set). The simulators run on the
same two cores. All rows: \`bash bench/run.sh 60\`.

| Figure | Value | Target | Met | Reproduce |
|---|---|---|---|---|
| One projector, paced | ${t1} s | — | — | \`$SIMCMD\` (N=1); \`$UPCMD\` |
| Eight projectors, paced | ${t8} s (${ratio8} × one) | ≤ 1.10 × one | $(verdict "$ratio8 <= 1.10") | the same with N=8 |
| CPU per port while the eight wait on their lines | ${pp8} % of a core | ≤ 3 % | $(verdict "$pp8 <= 3") | the same with N=8 (user + system / elapsed / 8) |
| CPU per port while eight wait out a cool-down | ${ppc} % of a core (${tc} s run) | ≤ 3 % | $(verdict "$ppc <= 3") | \`projector-sim --state cooling --cooldown 20 --link pN\` (N=8); \`$UPCMD\` |
| Memory, one port | $(mib "$rss1") MiB | ≤ 22 MiB | $(verdict "$rss1 <= 22 * 1024") | N=1 above (maximum resident set) |
| Memory, eight ports | $(mib "$rss8") MiB | ≤ 36 MiB | $(verdict "$rss8 <= 36 * 1024") | N=8 above |
| Memory, 32 ports | $(mib "$rss32") MiB | ≤ 84 MiB | $(verdict "$rss32 <= 84 * 1024") | N=32 above |
| Memory of each port beyond the first (32 against one) | ${per_port} MiB | ≤ 2 MiB | $(verdict "($rss32 - $rss1) / 31 <= 2 * 1024") | N=1 and N=32 above |
| 32 projectors, paced | ${t32} s (${ratio32} × one) | stated | — | N=32 above |
| CPU per port, 32 ports | ${pp32} % of a core | ≤ 3 % | $(verdict "$pp32 <= 3") | N=32 above |
| 128 projectors, paced | ${t128} s (${ratio128} × one) | ≤ 1.05 × one | $(verdict "$ratio128 <= 1.05") | N=128 above |
| Memory, 128 ports | $(mib "$rss128") MiB | stated | — | N=128 above |
| Memory of each port beyond the first (128 against one) | ${per_port128} MiB | ≤ 2 MiB | $(verdict "($rss128 - $rss1) / 127 <= 2 * 1024") | N=1 and N=128 above |
| CPU per port, 128 ports | ${pp128} % of a core | ≤ 3 % | $(verdict "$pp128 <= 3") | N=128 above |
| CPU of the 128 simulators beside it | ${sim128} s (${cores128} of the two cores) | stated | — | N=128 above (user + system of every projector-sim) |
EOF
