#!/usr/bin/env bash
# An unpaced upload through halvern-upload against projector-sim: the 1 MiB release (64 full
# blocks) and a release of one block, three runs each; wall time, CPU and peak RSS of both
# processes.
source "$ROOT/bench/lib.sh"
RUNS=${RUNS:-3}
make_release BIG "$MIB_RELEASE"
make_release ONE 256

# run NAME: one upload of NAME.PJV; appends "wall cpu rss sim_cpu sim_rss" to $WORK/NAME.runs.
run() {
  start_sim "$WORK/sim.log" --state standby --once
  timed "$WORK/up" "$UPLOADER" --yes --port "$WORK/port" --dir "$WORK/releases" "$1.PJV"
  wait_sim
  read -r wall user sys rss <"$WORK/up"
  read -r _ suser ssys srss <"$WORK/sim.log.time"
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN{print u+s}') $rss $(awk -v u="$suser" -v s="$ssys" 'BEGIN{print u+s}') $srss" >>"$WORK/$1.runs"
}
for _ in $(seq "$RUNS"); do run BIG; run ONE; done

col() { awk -v c="$2" '{print $c}' "$WORK/$1.runs" | median; }
CMD='bash bench/run.sh 30'
echo "## Unpaced upload through halvern-upload"
echo
echo "One upload each of a release of 64 full blocks ($MIB_RELEASE bytes, the most of one file that fits the"
echo "1 MiB image buffer) and of a release of one block (256 bytes), normal mode against \`projector-sim"
echo "--state standby --once\` without pacing; medians of $RUNS runs. CPU is user plus system time;"
echo "every upload includes the one-second pause before the first message."
echo
table_head
one_cpu=$(col ONE 2)
row "halvern-upload wall, 1 MiB release (s)" "$(col BIG 1)" "—" "—" "$CMD"
row "halvern-upload CPU, 1 MiB release (s)" "$(col BIG 2)" "—" "—" "$CMD"
row "halvern-upload peak RSS, 1 MiB release (MB)" "$(awk -v k="$(col BIG 3)" 'BEGIN{printf "%.1f", k/1024}')" "—" "—" "$CMD"
row "projector-sim CPU, 1 MiB release (s)" "$(col BIG 4)" "—" "—" "$CMD"
row "projector-sim peak RSS, 1 MiB release (MB)" "$(awk -v k="$(col BIG 5)" 'BEGIN{printf "%.1f", k/1024}')" "—" "—" "$CMD"
row "halvern-upload wall, one-block release (s)" "$(col ONE 1)" "—" "—" "$CMD"
row "halvern-upload CPU, one-block release (s)" "$one_cpu" "< 0.1" "$(met "$one_cpu" '<' 0.1)" "$CMD"
row "projector-sim CPU, one-block release (s)" "$(col ONE 4)" "—" "—" "$CMD"
