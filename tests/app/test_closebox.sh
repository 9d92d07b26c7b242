#!/usr/bin/env bash
# The real program under Xvfb with a real window manager (openbox, no tray)
# and a notification daemon on a private session bus: the window manager's
# close (Alt+F4) while armed hides the window and the program goes on
# guarding; it says so once; starting it again shows the window; disarmed,
# the same close ends the program.
set -uo pipefail
binary=${1:?usage: test_closebox.sh path/to/tarvo2}
here=$(cd "$(dirname "$0")" && pwd)

root=$(mktemp -d /tmp/tarvo2-closebox-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$root"
  rm -f "/tmp/tarvo2-$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".* "/run/user/$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".*
}
trap cleanup EXIT
source "$here/../common/checks.sh"

for tool in Xvfb openbox xdotool xprop dbus-daemon sox /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh --with-test-tools)"; exit 1; }
done

export HOME=$root/home XDG_CONFIG_HOME=$root/home/config XDG_DATA_HOME=$root/home/data
export XDG_RUNTIME_DIR=$root/runtime QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$root/no-system-bus TARVO2_NO_SYSTEM_LOG=1
export TARVO2_DEFAULT_SOUNDS= TARVO2_TEST_INSTANCE=closebox-$$
unset XDG_ACTIVATION_TOKEN WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME/VEKOR" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$root/app/Sounds"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$binary" "$root/app/tarvo2"
app=$root/app/tarvo2

start_xvfb || { echo "FAIL: Xvfb did not start"; exit 1; }
pids+=("$xvfb_pid")
openbox --sm-disable >"$root/openbox.log" 2>&1 & pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 30 wm_running || { echo "FAIL: openbox did not start"; cat "$root/openbox.log"; exit 1; }
start_private_bus || { echo "FAIL: no private bus"; exit 1; }
pids+=("$bus_pid")
/usr/bin/python3 -m dbusmock --template notification_daemon -l "$root/notify.log" \
  >"$root/dbusmock.log" 2>&1 & pids+=($!)
wait_for 30 test -e "$root/notify.log"

# Armed at the last run with a sound it can play, pointer detection on, no
# activation delay: the program re-arms at its start.
sox -n -r 44100 -c 1 -b 16 "$root/app/Sounds/a.wav" synth 0.5 sine 880
printf '[SoftWare]\nVEKOR/Tarvo2/S/MsgThanx=T\nVEKOR/Tarvo2/S/ActMouDetectToggle=T\nVEKOR/Tarvo2/S/Alarm%%20Active=T\nVEKOR/Tarvo2/S/set/frmMainspnActivationDelay=0\nVEKOR/Tarvo2/S/snd/a.wav=T\n' \
  >"$XDG_CONFIG_HOME/VEKOR/Tarvo2.conf"

reports=("$root/app/Reports/Report.txt" "$XDG_DATA_HOME/Tarvo2/Reports/Report.txt")
report() { cat "${reports[@]}" 2>/dev/null; }
in_report() { grep -qsF "$1" "${reports[@]}"; }
not_in_report() { ! in_report "$1"; }
window() { xdotool search --onlyvisible --name '^Tarvo2$' 2>/dev/null | head -1; }
shown() { [ -n "$(window)" ]; }
hidden() { [ -z "$(window)" ]; }
notices() { grep -c "keeps guarding in the background; start it again to show the window" "$root/notify.log"; }
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# A key to the window once the window manager has made it the active one;
# sent again while the window shows and until is not yet true (a loaded
# machine may lose the activation or take its time with the key).
key_to_window() { # key, condition...
  local key=$1 wid deadline=$((SECONDS + 60)); shift
  while [ $SECONDS -lt $deadline ]; do
    wid=$(window)
    [ -z "$wid" ] && break
    if ! active "$wid"; then
      xdotool windowactivate "$wid" 2>/dev/null
      wait_for 5 active "$wid" || continue
    fi
    xdotool key --clearmodifiers "$key"
    wait_for 15 "$@" && return 0
  done
  "$@"
}
# Alt+F4, which openbox turns into a close request, until the condition holds.
close_box() { key_to_window alt+F4 "$@"; }
# Pointer jumps, paced for the detector's sampling, until it reports one.
pointer_noticed() {
  xdotool mousemove 20 20; sleep 0.5; xdotool mousemove 900 700; sleep 0.5
  in_report "Mouse detected"
}

"$app" >>"$root/log" 2>&1 & pid=$!; pids+=("$pid")
check "the window shows" wait_for 60 shown
check "the program re-arms" wait_for 30 in_report "Alarm - Activated"

check "Alt+F4 while armed hides the window" close_box hidden
sleep 1 # long enough for a wrong exit to show
check "and the program keeps running" alive "$pid"
check "it says so in one notification" wait_for 30 [ "$(notices)" -eq 1 ]
check "closing did not disarm" not_in_report "Alarm - Stoped"

# Still guarding: a pointer jump is noticed.
check "hidden, it still notices the pointer" wait_for 30 pointer_noticed

timeout 60 "$app" >>"$root/log" 2>&1; rc=$?
check "starting it again hands over and ends with 0" [ "$rc" -eq 0 ]
check "and shows the window" wait_for 30 shown
check "a second Alt+F4 hides it again" close_box hidden
sleep 1 # long enough for a wrong second notification to arrive
check "without a second notification" [ "$(notices)" -eq 1 ]
check "still running" alive "$pid"

# Disarmed, the same close ends the program.
timeout 60 "$app" >>"$root/log" 2>&1
wait_for 30 shown
check "Escape disarms" key_to_window Escape in_report "Alarm - Stoped"
ended() { ! alive "$pid"; }
check "disarmed, Alt+F4 ends the program" close_box ended
wait "$pid"; rc=$?
check "with exit code 0" [ "$rc" -eq 0 ]

if [ $failures -ne 0 ]; then
  echo "--- program output"; cat "$root/log"
  echo "--- report"; report
  echo "--- notifications"; cat "$root/notify.log"
fi
echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
