#!/usr/bin/env bash
# window-shots/screens.sh DIR: the real program on a virtual X server with a window manager,
# driven by keyboard and mouse through a whole upload against the simulated projector; a
# screenshot of the screen at each step into DIR/NN-step.png. Needs a build (scripts/build.sh)
# and the packages of scripts/setup.sh (Xvfb, openbox, xdotool, x11-apps, imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$(realpath -m "${1:?usage: window-shots/screens.sh DIR}")
mkdir -p "$OUT"

if [ "${HALVERN_SCREENS_INSIDE:-}" != 1 ]; then
  export HALVERN_SCREENS_INSIDE=1
  exec xvfb-run -a -s '-screen 0 1024x768x24' bash "$0" "$OUT"
fi

WORK=$(mktemp -d /tmp/halvern-screens.XXXXXX)
mkdir -p "$WORK/releases" "$WORK/config/Halvern!" "$WORK/flashed"
"$ROOT/build/sample-release/sample-release" "$WORK/releases" >/dev/null
cat >"$WORK/config/Halvern!/Halvern!.ini" <<INI
[Startup]
Working Directory=$WORK/releases
Port=COM1
Baud Rate=38400

[Ports]
COM1=$WORK/projector
INI
export XDG_CONFIG_HOME="$WORK/config"

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$ROOT/build/projector-sim/projector-sim" --link "$WORK/projector" --state on --cooldown 8 --baud-pace \
  --model "PJ-DEMO" --version 0100 --dump "$WORK/flashed" 2>"$WORK/projector.log" &
PIDS+=($!)
openbox >/dev/null 2>&1 &
PIDS+=($!)
sleep 1
"$ROOT/build/app/halvern" 2>"$WORK/halvern.log" &
APP=$!
PIDS+=($APP)

# The screen, with every window of the program laid over it from its own image: the root
# window's image leaves windows of another depth (the dialogs here) black.
shot() {
  sleep "${2:-1}"
  local out="$OUT/$1.png" tmp="$WORK/shot"
  xwd -root -silent | convert xwd:- "$out"
  # Bottom to top, as the window manager stacks them.
  for w in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'); do
    [ "$(xprop -id "$w" _NET_WM_PID 2>/dev/null | awk '{print $3}')" = "$APP" ] || continue
    X=$(xwininfo -id "$w" | sed -n 's/.*Absolute upper-left X: *//p')
    Y=$(xwininfo -id "$w" | sed -n 's/.*Absolute upper-left Y: *//p')
    [ -n "$X" ] && [ -n "$Y" ] || continue
    xwd -id "$w" -silent 2>/dev/null | convert xwd:- "$tmp.png" 2>/dev/null || continue
    convert "$out" "$tmp.png" -geometry "+$X+$Y" -composite "$out"
  done
  echo "wrote $out"
}
main=$(xdotool search --sync --name "^Operating System Uploader$" | head -1)
xdotool windowactivate --sync "$main"
shot 01-start 1

xdotool key Return                    # Enter presses "Find Device"
shot 02-found 2

# The first release line, with the mouse.
xdotool mousemove --window "$main" 60 178 click 1
shot 03-selected 1

xdotool key alt+u                     # "Start Upload"
shot 04-confirm 2
xdotool key Return                    # Yes
shot 05-power-off 2
xdotool key Return                    # Yes: standby, then the cool-down
shot 06-cool-down 3
shot 07-progress 12
for _ in $(seq 60); do grep -q "upload complete\|reset" "$WORK/projector.log" && break; sleep 1; done
shot 08-done 2

xdotool key alt+h a                   # Help, About
shot 09-about 2
xdotool key Escape
xdotool key F1                        # the help at the focused button's topic
shot 10-help 3
xdotool key Escape
xdotool key alt+s e                   # Setup, Emergency Mode
shot 11-emergency 2
