# Shared by the suites of bench/suites/: releases, the simulated projector, measured runs and
# table rows. Sourced with ROOT and BENCH_BUILD set (bench/run.sh sets both).
set -euo pipefail
: "${ROOT:?}" "${BENCH_BUILD:?}"
SIM="$BENCH_BUILD/projector-sim/projector-sim"
UPLOADER="$BENCH_BUILD/halvern-upload/halvern-upload"
SAMPLE="$BENCH_BUILD/sample-release/sample-release"
WORK=$(mktemp -d /tmp/halvern-bench.XXXXXX)
export XDG_CONFIG_HOME="$WORK/config"   # the user's own settings are never read or written
mkdir -p "$XDG_CONFIG_HOME"
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# The block message size the simulated projector gives: 16,364 image bytes a block.
BLOCK_DATA=16364
# The largest release of one file that fits the 1,048,576-byte image buffer in whole blocks.
MIB_RELEASE=$((64 * BLOCK_DATA))

# make_release NAME BYTES: NAME.PJV with one S3 file of BYTES bytes, in $WORK/releases.
make_release() {
  mkdir -p "$WORK/releases"
  "$SAMPLE" --sized "$1" "$2" "$WORK/releases" >/dev/null
}

# start_sim LOG ARGS...: projector-sim on a pseudo-terminal linked at $WORK/port, under
# /usr/bin/time (its figures go to LOG.time); returns once the port can be opened.
start_sim() {
  local log=$1; shift
  rm -f "$WORK/port"
  /usr/bin/time -f '%e %U %S %M' -o "$log.time" "$SIM" --link "$WORK/port" "$@" 2>"$log" &
  SIM_PID=$!
  for _ in $(seq 100); do grep -q '^ready ' "$log" 2>/dev/null && return 0; sleep 0.05; done
  echo "projector-sim did not start: $(cat "$log")" >&2
  return 1
}

# wait_sim: waits for the projector started with --once to end.
wait_sim() {
  wait "$SIM_PID" || true
  SIM_PID=""
}

# timed OUT COMMAND...: runs COMMAND under /usr/bin/time; OUT gets "wall user system maxrss_kB".
timed() {
  local out=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$out" "$@" >/dev/null 2>"$out.err" || {
    echo "failed: $* ($(tail -3 "$out.err"))" >&2
    return 1
  }
}

# median of the numbers on standard input.
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }

# row FIGURE VALUE TARGET MET COMMAND: one line of a suite's table.
row() { printf '| %s | %s | %s | %s | `%s` |\n' "$1" "$2" "$3" "$4" "$5"; }
table_head() {
  echo "| Figure | Measured | Target | Met | Reproduce |"
  echo "|---|---|---|---|---|"
}
# met VALUE OP LIMIT: "met" or "missed" (OP is < or <=).
met() { awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN { ok = (op == "<") ? (v < l) : (v <= l); print ok ? "met" : "missed" }'; }
