#!/usr/bin/env bash
# The real program with a stored armed alarm and nobody at the screen: on a
# settings folder that is read-only or full it still resumes and sounds; on a
# writable one it writes its autostart entry again, and everything it writes
# for the user is the user's only (files 0600, folders 0700).
set -uo pipefail
binary=${1:?usage: test_storefaults.sh path/to/tarvo2}
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: mounting a small file system needs root"; exit 0; fi

root=$(mktemp -d /tmp/tarvo2-store-XXXXXX)
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  umount -l "$root/cfg" 2>/dev/null
  rm -rf "$root"
  rm -f "/tmp/tarvo2-$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".* "/run/user/$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".*
}
trap cleanup EXIT

export HOME=$root/home XDG_DATA_HOME=$root/home/data XDG_RUNTIME_DIR=$root/runtime
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=20 TARVO2_DEFAULT_SOUNDS=
export DBUS_SESSION_BUS_ADDRESS=unix:path=$root/no-bus DBUS_SYSTEM_BUS_ADDRESS=unix:path=$root/no-bus
export TARVO2_NO_SYSTEM_LOG=1 TARVO2_TEST_INSTANCE=store-$$
unset XDG_ACTIVATION_TOKEN DISPLAY WAYLAND_DISPLAY PULSE_SERVER
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$root/cfg" "$root/app/Sounds"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$binary" "$root/app/tarvo2"

# A quiet room, somebody at the machine, quiet again (16-bit stereo 44100 Hz),
# and an alarm sound the program can play.
python3 - "$root" <<'EOF'
import struct, sys, wave, math
root = sys.argv[1]
def block(n, amplitude):
    return b"".join(struct.pack("<hh", s, s) for s in
                    ((amplitude if i % 2 else -amplitude) for i in range(n * 4410)))
with open(root + "/room.raw", "wb") as f:
    f.write(block(10, 10) + block(20, 8000) + block(600, 10))
with wave.open(root + "/app/Sounds/a.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(i / 10))) for i in range(44100)))
EOF
export SDL_DISKAUDIOFILEIN=$root/room.raw SDL_DISKAUDIOFILE=$root/speakers.raw

. "$(dirname "$0")/../common/checks.sh"
heard() { python3 -c "import sys; sys.exit(0 if any(open(sys.argv[1], 'rb').read()) else 1)" "$SDL_DISKAUDIOFILE" 2>/dev/null; }
reported() { grep -qs "Microphone detected" "$root/app/Reports/Report.txt"; }
mode_of() { stat -c %a "$1" 2>/dev/null; }
has_mode() { [ "$(mode_of "$2")" = "$1" ]; } # mode, path

# Written by hand, as a user or an older copy would: without the markers the
# program adds to every key, and with values the window writes back at once.
write_settings() {
  mkdir -p "$1/VEKOR"
  cat > "$1/VEKOR/Tarvo2.conf" <<'EOF'
[SoftWare]
VEKOR\Tarvo2\S\Alarm%20Active=T
VEKOR\Tarvo2\S\ActMicDetectToggle=T
VEKOR\Tarvo2\S\MsgThanx=T
VEKOR\Tarvo2\S\set\frmMainspnActivationDelay=0
VEKOR\Tarvo2\S\set\frmMainspnTriggerDelay=0
VEKOR\Tarvo2\S\set\frmMaintrkPersistence=0
VEKOR\Tarvo2\S\set\frmMaintrkMicTriggerVolume=50
VEKOR\Tarvo2\S\set\frmMaintrkMicTriggerDuration=2
VEKOR\Tarvo2\S\snd\a.wav=T
EOF
}

run_armed() { # description of the settings folder
  rm -f "$SDL_DISKAUDIOFILE" "$root/app/Reports/Report.txt"
  "$root/app/tarvo2" >>"$root/log" 2>&1 &
  pid=$!
  check "$1: the stored alarm resumes and raises an alarm" wait_for 30 reported
  check "$1: and the alarm is heard" wait_for 20 heard
  kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
}

# A read-only settings folder.
mount -t tmpfs -o size=256k,mode=0755 tmpfs "$root/cfg" || { echo "SKIP: cannot mount"; exit 0; }
export XDG_CONFIG_HOME=$root/cfg
write_settings "$XDG_CONFIG_HOME"
mount -o remount,ro "$root/cfg"
run_armed "read-only settings folder"
check "read-only settings folder: the check mark stays" grep -q 'snd\\a.wav=T' "$XDG_CONFIG_HOME/VEKOR/Tarvo2.conf"

# A full one.
mount -o remount,rw "$root/cfg"
write_settings "$XDG_CONFIG_HOME"
head -c 1M /dev/zero > "$root/cfg/filler" 2>/dev/null
run_armed "full settings folder"
umount -l "$root/cfg"

# A writable one: the missing autostart entry is written again, and what the
# program writes is the user's only, also a report made more open before.
export XDG_CONFIG_HOME=$HOME/config
write_settings "$XDG_CONFIG_HOME"
mkdir -p "$root/app/Reports" && chmod 755 "$root/app/Reports"
run_armed "writable settings folder"
entry=$XDG_CONFIG_HOME/autostart/tarvo2.desktop
check "the resume writes the missing autostart entry" grep -qs "^Exec=$root/app/tarvo2\$" "$entry"
check "autostart entry 0600" [ "$(mode_of "$entry")" = 600 ]
check "report 0600" [ "$(mode_of "$root/app/Reports/Report.txt")" = 600 ]
check "report folder tightened to 0700" [ "$(mode_of "$root/app/Reports")" = 700 ]
check "settings folder 0700" [ "$(mode_of "$XDG_CONFIG_HOME/VEKOR")" = 700 ]
chmod 644 "$root/app/Reports/Report.txt"
"$root/app/tarvo2" >>"$root/log" 2>&1 &
pid=$!
wait_for 20 grep -qs "Alarm - Activated" "$root/app/Reports/Report.txt"
check "a report made 0644 is tightened on the next line" wait_for 10 has_mode 600 "$root/app/Reports/Report.txt"

if [ $failures -ne 0 ]; then echo "--- report"; cat "$root/app/Reports/Report.txt"; ls -la "$root/app/Reports"; echo "--- program output"; grep -v SDL "$root/log"; fi
echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
