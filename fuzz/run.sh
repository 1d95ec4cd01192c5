#!/usr/bin/env bash
# Builds and runs one libFuzzer target of fuzz/ with its corpus.
#   bash fuzz/run.sh NAME SECONDS        fuzz NAME for SECONDS; the inputs that found new
#                                        coverage are merged (minimised, -merge=1) into
#                                        fuzz/corpus/NAME; crash, timeout and out-of-memory
#                                        inputs are left in build-fuzz/artifacts/NAME/
#   bash fuzz/run.sh --keep-crashes NAME once the fault is mended: copies the inputs in
#                                        build-fuzz/artifacts/NAME/ into fuzz/corpus/NAME, so
#                                        every ordinary build replays them (fuzz_replay_NAME)
#   bash fuzz/run.sh --list              the targets
# Builds with clang (installed from Debian's packages when missing) into build-fuzz/ with
# -DHALVERN_FUZZ=ON (AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer). Extra
# libFuzzer flags go in FUZZ_FLAGS (e.g. FUZZ_FLAGS="-max_len=4096").
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}

usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

if [ "${1:-}" = "--list" ]; then
  for t in "$ROOT"/fuzz/targets/*.cmake; do basename "$t" .cmake; done
  exit 0
fi
if [ "${1:-}" = "--keep-crashes" ]; then
  [ $# -eq 2 ] || usage
  NAME=$2
  [ -f "$ROOT/fuzz/targets/$NAME.cmake" ] || { echo "no fuzz target $NAME" >&2; exit 2; }
  shopt -s nullglob
  kept=0
  for f in "$BUILD/artifacts/$NAME"/crash-* "$BUILD/artifacts/$NAME"/timeout-* \
           "$BUILD/artifacts/$NAME"/oom-* "$BUILD/artifacts/$NAME"/leak-* "$BUILD/artifacts/$NAME"/slow-unit-*; do
    cp "$f" "$ROOT/fuzz/corpus/$NAME/found-$(basename "$f")"
    kept=$((kept + 1))
  done
  echo "kept $kept input(s) in fuzz/corpus/$NAME" >&2
  exit 0
fi
[ $# -eq 2 ] || usage
NAME=$1
SECONDS_TO_RUN=$2
[ -f "$ROOT/fuzz/targets/$NAME.cmake" ] || { echo "no fuzz target $NAME (bash fuzz/run.sh --list)" >&2; exit 2; }
[[ $SECONDS_TO_RUN =~ ^[0-9]+$ ]] || usage

if ! command -v clang++ >/dev/null; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends clang libclang-rt-dev
fi

LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVERN_FUZZ=ON \
  -DBUILD_TESTING=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" -j2 --target "fuzz_$NAME"

CORPUS="$ROOT/fuzz/corpus/$NAME"
NEW=$(mktemp -d)
trap 'rm -rf "$NEW"' EXIT
mkdir -p "$CORPUS" "$BUILD/artifacts/$NAME"
status=0
# New inputs go to $NEW; the checked-in corpus is only read.
"$BUILD/fuzz/fuzz_$NAME" "$NEW" "$CORPUS" -max_total_time="$SECONDS_TO_RUN" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$NAME/" ${FUZZ_FLAGS:-} || status=$?
before=$(ls "$CORPUS" | wc -l)
"$BUILD/fuzz/fuzz_$NAME" -merge=1 -artifact_prefix="$BUILD/artifacts/$NAME/" "$CORPUS" "$NEW" >/dev/null 2>&1 || status=$?
after=$(ls "$CORPUS" | wc -l)
echo "fuzz_$NAME: ran ${SECONDS_TO_RUN}s, exit $status; corpus $before -> $after inputs" >&2
if ls "$BUILD/artifacts/$NAME"/* >/dev/null 2>&1; then
  echo "inputs that found a fault: $(ls "$BUILD/artifacts/$NAME" | tr '\n' ' ')" >&2
  echo "mend the fault, then: bash fuzz/run.sh --keep-crashes $NAME" >&2
fi
exit "$status"
