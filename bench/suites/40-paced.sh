#!/usr/bin/env bash
# A paced upload of a 128 KiB release in emergency mode: the wall time of halvern-upload over
# the wire-time lower bound, which is every byte on the line in both directions at ten bits a
# byte and 38,400 baud, plus the one-second pause. The byte count comes once from the
# protocol and once from what projector-sim counted on the line; the two must agree.
source "$ROOT/bench/lib.sh"
RUNS=${RUNS:-3}
SIZE=131072
make_release PACED "$SIZE"

# Bytes on the line for a message of L bytes: begin and end frames with their
# acknowledgements, data frames of at most 16,357 bytes each with 27 bytes of framing and an
# acknowledgement of 27.
wire() { awk -v l="$1" 'BEGIN { f = int((l + 16356) / 16357); print l + 54 * f + 108 }'; }
blocks=$(( (SIZE + BLOCK_DATA - 1) / BLOCK_DATA ))
vc=$(stat -c %s "$WORK/releases/PACED.PJV")
mot="PACED.mot"
protocol=$(( $(wire 20) + $(wire 20) \
  + $(wire $((20 + vc))) + $(wire 24) \
  + $(wire $((20 + ${#mot}))) + $(wire 20) \
  + blocks * ( $(wire $((20 + BLOCK_DATA))) + $(wire 20) + $(wire 20) + $(wire 20) ) \
  + $(wire 20) + $(wire 20) \
  + $(wire 20) + $(wire 20) \
  + $(wire 20) ))

for _ in $(seq "$RUNS"); do
  start_sim "$WORK/sim.log" --state standby --baud-pace --once
  timed "$WORK/up" "$UPLOADER" --emergency --port "$WORK/port" --dir "$WORK/releases" PACED.PJV
  wait_sim
  counted=$(sed -n 's/^line bytes: received \([0-9]*\), sent \([0-9]*\)$/\1 \2/p' "$WORK/sim.log" | awk '{print $1 + $2}')
  read -r wall _ _ _ <"$WORK/up"
  echo "$wall ${counted:-0}" >>"$WORK/runs"
done
wall=$(awk '{print $1}' "$WORK/runs" | median)
counted=$(awk '{print $2}' "$WORK/runs" | sort -u | tr '\n' ' ' | sed 's/ $//')
bound=$(awk -v b="$protocol" 'BEGIN { printf "%.3f", 1 + b * 10 / 38400 }')
ratio=$(awk -v w="$wall" -v b="$bound" 'BEGIN { printf "%.4f", w / b }')
agree=$([ "$counted" = "$protocol" ] && echo met || echo missed)
CMD='bash bench/run.sh 40'
echo "## Paced upload"
echo
echo "A release of one file of $SIZE bytes ($blocks blocks) in emergency mode against \`projector-sim"
echo "--baud-pace --once\` at 38,400 baud; median wall time of halvern-upload over $RUNS runs. The bound is"
echo "1 s (the pause before the first message) plus every byte on the line in both directions at ten"
echo "bits a byte; the protocol gives $protocol bytes."
echo
table_head
row "bytes on the line counted by projector-sim" "$counted" "$protocol (from the protocol)" "$agree" "$CMD"
row "wire-time bound (s)" "$bound" "—" "—" "$CMD"
row "halvern-upload wall (s)" "$wall" "—" "—" "$CMD"
row "wall over bound" "$ratio" "<= 1.005" "$(met "$ratio" '<=' 1.005)" "$CMD"
