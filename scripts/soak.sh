#!/usr/bin/env bash
# The long soak: seeded uploads through the serial library against projector-sim with random
# faults on the line in both directions (see tests/e2e/test_link_e2e.cpp), and the table of what
# came of them. Builds what it needs first.
#
#   scripts/soak.sh [UPLOADS [FIRST_SEED [TABLE_FILE]]]     (defaults: 500, 1, build/soak.md)
set -euo pipefail
cd "$(dirname "$0")/.."
UPLOADS=${1:-500}
SEED=${2:-1}
BUILD_DIR=${BUILD_DIR:-build}
TABLE=${3:-$BUILD_DIR/soak.md}
cmake --build "$BUILD_DIR" -j2 --target test_link_e2e projector-sim sample-release >/dev/null
start=$(date +%s)
HALVERN_SOAK_UPLOADS=$UPLOADS HALVERN_SOAK_SEED=$SEED HALVERN_SOAK_REPORT=$TABLE \
  "$BUILD_DIR/tests/e2e/test_link_e2e" --gtest_filter='Soak.*' --gtest_brief=1
echo
echo "$UPLOADS uploads from seed $SEED in $(( $(date +%s) - start )) s:"
cat "$TABLE"
