#!/usr/bin/env bash
# The real program on a real X server (Xvfb) and a private PulseAudio server:
# every scenario starts the binary as a user would, nothing mocked.
# usage: test_acceptance.sh path/to/tarvo2 [scenario ...]
set -uo pipefail
binary=${1:?usage: test_acceptance.sh path/to/tarvo2 [scenario ...]}
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# No quiet skipping: without its tools the suite fails and says why.
missing=()
for tool in Xvfb xdotool pulseaudio pactl paplay parec sox python3; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "FAIL: missing ${missing[*]} (scripts/install-deps.sh --with-test-tools installs them)"
  echo "0 passed, 1 failed"
  exit 1
fi
exec python3 "$here/acceptance.py" "$binary" "$@"
