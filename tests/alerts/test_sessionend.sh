#!/usr/bin/env bash
# The session ends under the armed program (the display alone, or with the
# sound server and a SIGTERM, as at a log-out): it ends in order each time
# and its stop notice arrives. The display is an X server, or with
# "wayland" a headless weston (skipped, status 77, where weston or Qt's
# Wayland plugin is not installed).
# usage: test_sessionend.sh path/to/tarvo2 [x11|wayland]
set -uo pipefail
binary=${1:?usage: test_sessionend.sh path/to/tarvo2 [x11|wayland]}
display=${2:-x11}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "$display" = wayland ]; then
  plugin_dir=$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt6/plugins)
  if ! command -v weston >/dev/null 2>&1 || ! ls "$plugin_dir"/platforms/libqwayland-*.so >/dev/null 2>&1; then
    echo "SKIP: weston or Qt's Wayland platform plugin (qt6-wayland) is not installed"
    exit 77
  fi
  rounds=${TARVO2_SESSION_ROUNDS:-20}
  tools=(pulseaudio pactl python3)
else
  rounds=${TARVO2_SESSION_ROUNDS:-20}
  tools=(Xvfb pulseaudio pactl python3)
fi
missing=()
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: missing ${missing[*]} (scripts/install-deps.sh --with-test-tools installs them)"
  exit 1
fi
exec python3 "$here/session_end.py" "$binary" "$rounds" "$display"
