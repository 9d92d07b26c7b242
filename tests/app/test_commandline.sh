#!/usr/bin/env bash
# The real tarvo2 binary's command line: --help and --version without a
# display and without writing a setting, an unknown option, and a start
# without a display that ends with one line instead of a core dump.
set -uo pipefail
binary=${1:?usage: test_commandline.sh path/to/tarvo2}

. "$(dirname "$0")/../common/testroot.sh"
new_test_root cmdline
trap 'rm -rf "$root"' EXIT
export HOME=$root/home XDG_CONFIG_HOME=$root/home/config XDG_DATA_HOME=$root/home/data
export XDG_RUNTIME_DIR=$root/runtime SDL_AUDIODRIVER=dummy
export TARVO2_TEST_INSTANCE=$(basename "$root") # own single-instance lock
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_ACTIVATION_TOKEN
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
version=$(sed -n 's/^project(Tarvo2 VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

failures=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else failures=$((failures + 1)); echo "FAIL: $what"; fi
}
run() { # runs the binary with a time limit; sets rc, out, err
  timeout -k 5 60 "$binary" "$@" >"$root/out" 2>"$root/err"; rc=$?
  out=$(cat "$root/out"); err=$(cat "$root/err")
}
failed_without_signal() { [ "$rc" -ne 0 ] && [ "$rc" -lt 128 ]; }
nothing_written() { [ -z "$(find "$HOME" -mindepth 1 -not -path "$XDG_RUNTIME_DIR*" -print -quit)" ]; }

run --help
check "--help ends with 0" [ "$rc" -eq 0 ]
check "--help prints the options" grep -q -- "--version" "$root/out"
check "--help writes nothing" nothing_written

run --version
check "--version ends with 0" [ "$rc" -eq 0 ]
check "--version prints the CMake project version ($version)" [ "$out" = "Tarvo2 $version" ]
check "--version writes nothing" nothing_written

run --no-such-option
check "an unknown option ends with 2 (got $rc)" [ "$rc" -eq 2 ]
check "an unknown option is named on stderr" grep -q "no-such-option" "$root/err"
check "an unknown option writes nothing" nothing_written

run
check "no display: a non-zero status that is no signal (got $rc)" failed_without_signal
check "no display: one line on stderr" [ "$(wc -l <"$root/err")" -eq 1 ]
check "no display: the line says so" grep -qi "display" "$root/err"
check "no display: writes nothing" nothing_written

# A display that is named but not there: Qt's plugin fails; still no core.
DISPLAY=:97 QT_QPA_PLATFORM=xcb run
check "an unreachable display ends without a signal (got $rc)" failed_without_signal
check "an unreachable display: one line on stderr" [ "$(wc -l <"$root/err")" -eq 1 ]
check "an unreachable display: the line names it" grep -q ":97" "$root/err"

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
exit $((failures > 0))
