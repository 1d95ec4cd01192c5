#!/usr/bin/env bash
# The demo against the simulated projector:
#   bash scripts/run.sh
# Installs what is missing (asking for sudo only when a package is missing and this is not
# root), builds, writes sample releases and starts the simulated projector on a
# pseudo-terminal.
# - With a display (DISPLAY or WAYLAND_DISPLAY set) it opens the main window pointed at it.
# - Without one it runs the main job in this terminal: a whole upload of DEMO.PJV through
#   halvern-upload with its progress bar and status line, then compares what the projector
#   flashed with the release's expected images, and says how to see the window.
# The demo keeps its settings in a scope of its own, so the real ~/.config/Halvern!/Halvern!.ini
# is never touched. DEMO_DIR (default: a new directory under /tmp) holds the releases, the
# settings, the flashed files and the projector's log.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

bash scripts/setup.sh
bash scripts/build.sh

DEMO_DIR=${DEMO_DIR:-$(mktemp -d /tmp/halvern-demo.XXXXXX)}
mkdir -p "$DEMO_DIR/releases" "$DEMO_DIR/config/Halvern!" "$DEMO_DIR/flashed"
rm -f "$DEMO_DIR"/flashed/*.bin
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
export XDG_CONFIG_HOME="$DEMO_DIR/config"

SIM=""
stop_projector() {
  if [ -n "$SIM" ]; then
    kill "$SIM" 2>/dev/null || true
    wait "$SIM" 2>/dev/null || true
  fi
}
trap stop_projector EXIT

# The projector: switched on, bytes paced at the line's baud rate so that the progress can be
# watched; the arguments add the cool-down time and the rest.
start_projector() {
  "$ROOT/build/projector-sim/projector-sim" --link "$LINK" --state on --baud-pace \
    --model "PJ-DEMO" --version 0100 --dump "$DEMO_DIR/flashed" "$@" 2>"$DEMO_DIR/projector.log" &
  SIM=$!
  for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done
  [ -e "$LINK" ] || { echo "The simulated projector did not start; see $DEMO_DIR/projector.log" >&2; exit 1; }
  echo "Simulated projector PJ-DEMO on $LINK (log: $DEMO_DIR/projector.log)"
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  start_projector --cooldown 15
  echo "Releases in $DEMO_DIR/releases. Try Find Device, Query Status, then select a release and Start Upload."
  "$ROOT/build/app/halvern"
  exit 0
fi

# No display: the same upload in the terminal.
start_projector --cooldown 5 --once
UPLOAD="$ROOT/build/halvern-upload/halvern-upload"
echo "No display: uploading the release DEMO.PJV from $DEMO_DIR/releases in this terminal."
echo "\$ XDG_CONFIG_HOME=$XDG_CONFIG_HOME $UPLOAD --yes DEMO.PJV"
status=0
"$UPLOAD" --yes DEMO.PJV || status=$?
if [ "$status" -ne 0 ]; then
  echo "The upload failed (exit status $status); see $DEMO_DIR/projector.log" >&2
  exit "$status"
fi

# What the projector flashed against the release's images: DEMO.PJV carries BOOT, MAIN, DATA.
# The projector writes whole blocks: the image of each file, then erased flash (FF bytes) to
# the end of its last block.
echo "Comparing the flashed files ($DEMO_DIR/flashed) with the release:"
for name in BOOT MAIN DATA; do
  flashed="$DEMO_DIR/flashed/$name.bin"
  expected="$DEMO_DIR/releases/$name.expected.bin"
  size=$(stat -c %s "$expected")
  if [ -f "$flashed" ] && cmp -s -n "$size" "$flashed" "$expected" && [ "$(stat -c %s "$flashed")" -ge "$size" ] \
     && [ "$(tail -c +$((size + 1)) "$flashed" | tr -d '\377' | wc -c)" -eq 0 ]; then
    printf '  %-4s %6d bytes identical to %s\n' "$name" "$size" "$(basename "$expected")"
  else
    echo "  $name: the flashed image differs from $expected (or is missing)" >&2
    exit 1
  fi
done
echo "The projector holds the release byte for byte."
echo
echo "To see the window, run this script on a desktop (with a display), or here:"
echo "  QT_QPA_PLATFORM=offscreen $ROOT/build/window-shots/window-shots /tmp/halvern-shots"
echo "      (every window as PNG files)"
echo "  XDG_CONFIG_HOME=$XDG_CONFIG_HOME xvfb-run -a -s '-screen 0 1024x768x24' \\"
echo "      sh -c '$ROOT/build/app/halvern & sleep 3; xwd -root -silent | convert xwd:- /tmp/halvern.png; kill \$!'"
echo "      (a screenshot of the main window: /tmp/halvern.png)"
