#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/), runs every suite of bench/suites/ in name
# order and writes docs/performance.md: each suite prints its own Markdown section (a table of
# figures, targets, met or missed, and the command that reproduces each) on stdout.
#   bash bench/run.sh            all suites
#   bash bench/run.sh 20 40      only the suites whose names start with these prefixes, printed
#                                on stdout (docs/performance.md is left alone)
# Not suite of .ci/run; it takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
bash scripts/setup.sh
BENCH_BUILD=${BENCH_BUILD:-$ROOT/build-bench}
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVERN_BENCH=ON \
  -DBUILD_TESTING=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BENCH_BUILD" -j"$(nproc)" >/dev/null

export ROOT BENCH_BUILD
OUT="$ROOT/docs/performance.md"
TMP=$(mktemp)
trap 'rm -f "$TMP"' EXIT
{
  echo "# Performance"
  echo
  echo "Written by \`bash bench/run.sh\` on $(date -u +%Y-%m-%d) ($(nproc) cores, $(uname -m)). Every figure is"
  echo "a median of the runs named beside it; ratios come from runs made in turn in the same script."
  echo
} >"$TMP"
for suite in "$ROOT"/bench/suites/*.sh; do
  [ -e "$suite" ] || continue
  name=$(basename "$suite")
  if [ $# -gt 0 ]; then
    keep=0
    for p in "$@"; do [[ $name == "$p"* ]] && keep=1; done
    [ $keep -eq 1 ] || continue
  fi
  echo "== $name" >&2
  bash "$suite" >>"$TMP"
  echo >>"$TMP"
done
if [ -f "$ROOT/bench/notes.md" ]; then cat "$ROOT/bench/notes.md" >>"$TMP"; fi
if [ $# -gt 0 ]; then
  cat "$TMP"
else
  mv "$TMP" "$OUT"
  trap - EXIT
  echo "wrote $OUT" >&2
fi
