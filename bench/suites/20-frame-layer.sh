#!/usr/bin/env bash
# The frame layer over a device that answers at once: per 16,384-byte message out and per
# 20-byte reply in, CPU time, heap allocations and bytes cleared (Google Benchmark).
source "$ROOT/bench/lib.sh"
"$BENCH_BUILD/bench/bench_frame_layer" --benchmark_min_time=0.5 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null >"$WORK/fl.csv"
# field NAME COLUMN: the median row's value of COLUMN for benchmark NAME.
field() {
  awk -F, -v n="\"$1_median\"" -v c="$2" '
    NR == 1 { for (i = 1; i <= NF; ++i) { h = $i; gsub(/"/, "", h); col[h] = i } next }
    $1 == n { print (c in col) ? $(col[c]) : "" }' "$WORK/fl.csv"
}
CMD='build-bench/bench/bench_frame_layer'
echo "## Frame layer"
echo
echo "\`FrameLayer\` over a device that answers every frame at once: a data-block message of 16,384 bytes"
echo "out (begin frame, two data frames, end frame, each acknowledged) and a reply of 20 bytes in"
echo "(begin frame, a data frame of 47 bytes, end frame, 101 bytes received, each acknowledged by the"
echo "layer). Medians of three repetitions, per message."
echo
table_head
for b in MessageOut ReplyIn; do
  label=$([ $b = MessageOut ] && echo "16,384-byte message out" || echo "20-byte reply in")
  cpu=$(field $b cpu_time)
  allocs=$(field $b allocations)
  zeroed=$(field $b zeroed)
  received=$(field $b received)
  row "$label: CPU (µs)" "$(awk -v t="$cpu" 'BEGIN{printf "%.2f", t/1000}')" "—" "—" "$CMD --benchmark_filter=$b"
  row "$label: heap allocations" "$allocs" "0" "$(met "${allocs:-1}" '<=' 0)" "$CMD --benchmark_filter=$b"
  if [ -n "$zeroed" ]; then
    if [ $b = ReplyIn ]; then
      row "$label: bytes cleared" "$(printf '%.0f' "$zeroed")" "<= 2 × $(printf '%.0f' "$received") received" \
        "$(met "$zeroed" '<=' "$(awk -v r="$received" 'BEGIN{print 2*r}')")" "$CMD --benchmark_filter=$b"
    else
      row "$label: bytes cleared" "$(printf '%.0f' "$zeroed")" "—" "—" "$CMD --benchmark_filter=$b"
    fi
  fi
done
