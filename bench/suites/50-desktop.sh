#!/usr/bin/env bash
# The desktop tool under Xvfb: the real main window over the real serial-port library, an
# emergency-mode upload of the 1 MiB release and of a one-block release against projector-sim
# (unpaced); peak RSS of the whole program and its CPU during the upload.
source "$ROOT/bench/lib.sh"
RUNS=${RUNS:-3}
make_release BIG "$MIB_RELEASE"
make_release ONE 256
DRIVER="$BENCH_BUILD/bench/desktop-upload"

run() {
  start_sim "$WORK/sim.log" --state standby --once
  xvfb-run -a -s "-screen 0 1280x1024x24" "$DRIVER" "$WORK/port" "$WORK/releases" "$1.PJV" \
    >>"$WORK/$1.runs" 2>"$WORK/driver.err" || { echo "desktop upload of $1 failed: $(tail -3 "$WORK/driver.err")" >&2; }
  wait_sim
}
for _ in $(seq "$RUNS"); do run BIG; run ONE; done
col() { awk -v c="$2" '{print $c}' "$WORK/$1.runs" | median; }
CMD='bash bench/run.sh 50'
mb() { awk -v k="$1" 'BEGIN{printf "%.1f", k/1024}'; }
one_cpu=$(col ONE 3)
echo "## Desktop tool"
echo
echo "\`build-bench/bench/desktop-upload\` under \`xvfb-run\`: the main window over the serial-port library,"
echo "emergency mode switched on, the release clicked in the list and Start Upload clicked, against"
echo "\`projector-sim --state standby --once\` without pacing; medians of $RUNS runs. Peak RSS is that of the"
echo "whole program; CPU is user plus system time from the click to the end of the upload, the"
echo "one-second pause included."
echo
table_head
row "peak RSS during a 1 MiB upload (MB)" "$(mb "$(col BIG 1)")" "—" "—" "$CMD"
row "RSS before the upload (MB)" "$(mb "$(col BIG 2)")" "—" "—" "$CMD"
row "CPU during a 1 MiB upload (s)" "$(col BIG 3)" "—" "—" "$CMD"
row "wall time of a 1 MiB upload (s)" "$(col BIG 4)" "—" "—" "$CMD"
row "CPU during a one-block upload (s)" "$one_cpu" "< 0.1 (near 0% while it waits)" "$(met "$one_cpu" '<' 0.1)" "$CMD"
