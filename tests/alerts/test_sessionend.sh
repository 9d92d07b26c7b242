#!/usr/bin/env bash
# The session ends under the armed program (the X server alone, or with the
# sound server and a SIGTERM, as at a log-out): it ends in order each time
# and its stop notice arrives. usage: test_sessionend.sh path/to/tarvo2
set -uo pipefail
binary=${1:?usage: test_sessionend.sh path/to/tarvo2}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
missing=()
for tool in Xvfb pulseaudio pactl python3; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: missing ${missing[*]} (scripts/install-deps.sh --with-test-tools installs them)"
  exit 1
fi
exec python3 "$here/session_end.py" "$binary" "${TARVO2_SESSION_ROUNDS:-20}"
