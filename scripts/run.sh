#!/usr/bin/env bash
# The demo: installs what is missing, builds, writes sample releases, starts the simulated
# projector on a pseudo-terminal and opens the main window pointed at it. The demo keeps its
# settings in a scope of its own, so the real ~/.config/Halvern!/Halvern!.ini is never touched.
#   sudo bash scripts/run.sh       (sudo only for the package install)
# DEMO_DIR (default: a new directory under /tmp) holds the releases, the settings and the log.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/setup.sh
bash scripts/build.sh

DEMO_DIR=${DEMO_DIR:-$(mktemp -d /tmp/halvern-demo.XXXXXX)}
mkdir -p "$DEMO_DIR/releases" "$DEMO_DIR/config/Halvern!" "$DEMO_DIR/flashed"
"$ROOT/build/sample-release/sample-release" "$DEMO_DIR/releases" >/dev/null

LINK="$DEMO_DIR/projector"
cat >"$DEMO_DIR/config/Halvern!/Halvern!.ini" <<INI
[Startup]
Working Directory=$DEMO_DIR/releases
Port=COM1
Baud Rate=38400

[Ports]
COM1=$LINK
INI

# The projector: switched on, a cool-down of 15 seconds, bytes paced at the line's baud rate
# so that the progress bar can be watched.
"$ROOT/build/projector-sim/projector-sim" --link "$LINK" --state on --cooldown 15 --baud-pace \
  --model "PJ-DEMO" --version 0100 --dump "$DEMO_DIR/flashed" 2>"$DEMO_DIR/projector.log" &
SIM=$!
trap 'kill $SIM 2>/dev/null || true; wait $SIM 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done
[ -e "$LINK" ] || { echo "The simulated projector did not start; see $DEMO_DIR/projector.log" >&2; exit 1; }

echo "Simulated projector on $LINK (log: $DEMO_DIR/projector.log, flashed files: $DEMO_DIR/flashed)"
echo "Releases in $DEMO_DIR/releases. Try Find Device, Query Status, then select a release and Start Upload."

export XDG_CONFIG_HOME="$DEMO_DIR/config"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the window under xvfb-run (invisible; set DISPLAY to see it)." >&2
  xvfb-run -a "$ROOT/build/app/halvern"
else
  "$ROOT/build/app/halvern"
fi
