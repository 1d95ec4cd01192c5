#!/usr/bin/env bash
# window-shots/screens.sh DIR: the real program on a virtual X server with a window manager,
# driven by keyboard and mouse through a whole upload against the simulated projector; a
# screenshot of the screen at each step into DIR/NN-step.png. Needs a build (scripts/build.sh)
# and the packages of scripts/setup.sh (Xvfb, openbox, xdotool, x11-apps, imagemagick).
#
# What only a window manager shows is also checked, and the script exits 1 when it fails:
# a second Enter in the cool-down window does not cancel the upload, and minimising the
# progress window leaves both windows on the screen.
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

FAILED=0
check() {  # check WHAT COMMAND...: says whether COMMAND succeeded
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; FAILED=1; fi
}
# The window's ICCCM state as the window manager set it: Normal or Iconic.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: *//p'; }

PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$ROOT/build/projector-sim/projector-sim" --link "$WORK/projector" --state on --cooldown 12 --baud-pace \
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
xdotool key Return                    # a second Enter, meant for the question: nothing happens
shot 06b-cool-down-after-enter 1

# The progress window, minimised by the window manager (which takes its owner with it).
progress=$(timeout 60 xdotool search --sync --name "^Upload Operating System Status$" | head -1 || true)
check "the second Enter left the cool-down running into the transfer" test -n "$progress"
sleep 2
xdotool windowminimize "$progress"
# The program takes events between blocks: both stand again by the next block or two, and
# stay so (sampled ten times over two seconds).
for _ in $(seq 50); do [ "$(wm_state "$progress")/$(wm_state "$main")" = Normal/Normal ] && break; sleep 0.2; done
states=$(for _ in $(seq 10); do echo "$(wm_state "$progress")/$(wm_state "$main")"; sleep 0.2; done | sort -u | tr '\n' ' ')
check "the progress window stands again after minimising" test "$(wm_state "$progress")" = Normal
check "the main window stands beside it" test "$(wm_state "$main")" = Normal
check "neither is minimised again ($states)" test "$states" = "Normal/Normal "
shot 07-progress 1
for _ in $(seq 60); do grep -q "upload complete\|reset" "$WORK/projector.log" && break; sleep 1; done
shot 08-done 2
check "the main window shows the result" test "$(wm_state "$main")" = Normal

xdotool key alt+h a                   # Help, About
shot 09-about 2
xdotool key Escape
xdotool key Tab                       # from the release list on to "Find Device"
xdotool key F1                        # the help at the focused button's topic: Find Device
shot 10-help 3
# The check above can fail: a window without that care, minimised the same way, stays
# iconified, and takes its owner, the main window, with it.
help=$(xdotool search --name "^Halvern! Help$" | head -1)
xdotool windowminimize "$help"
sleep 2
check "the help window, minimised, stays iconified" test "$(wm_state "$help")" = Iconic
echo "the main window beside the minimised help window: $(wm_state "$main")"
xdotool windowactivate --sync "$help" 2>/dev/null || true
xdotool key Escape                    # the help window closes
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key alt+s e                   # Setup, Emergency Mode
shot 11-emergency 2
xdotool key alt+s c                   # Setup, COM Port
shot 12-com-port 2
xdotool key F1                        # the dialog's topic
shot 13-com-port-help 3
xdotool key Escape
xdotool key Escape
exit "$FAILED"
