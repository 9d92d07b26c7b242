#!/usr/bin/env bash
# The sound server restarts, the default sink changes and the program's own
# stream is muted under the running program, on a private PulseAudio and on
# a private PipeWire (with its pulse server and WirePlumber).
# TARVO2_SOUND_SERVER=pulseaudio|pipewire runs one.
# usage: test_audio_recovery.sh path/to/tarvo2
set -uo pipefail
binary=${1:?usage: test_audio_recovery.sh path/to/tarvo2}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
servers=(${TARVO2_SOUND_SERVER:-pulseaudio pipewire})

missing=()
for tool in Xvfb xdotool pactl paplay parec sox python3; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
for server in "${servers[@]}"; do
  case $server in
    pulseaudio) tools=(pulseaudio) ;;
    pipewire) tools=(pipewire pipewire-pulse wireplumber dbus-daemon) ;;
    *) echo "FAIL: unknown sound server $server"; exit 1 ;;
  esac
  for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: missing ${missing[*]} (scripts/install-deps.sh --with-test-tools installs them)"
  exit 1
fi
status=0
for server in "${servers[@]}"; do
  python3 "$here/recovery.py" "$binary" "$server" || status=1
done
exit $status
