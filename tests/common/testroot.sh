# Sourced by the scripted tests. new_test_root <kind> makes the test's
# temporary folder, ${TMPDIR:-/tmp}/tarvo2-test-<kind>-XXXXXX, in $root and
# holds an flock on it while the script (or a program it started) runs:
# clean_test_homes.sh removes only folders nobody holds, so a script killed
# by a timeout is cleaned up after too. The script still removes $root itself.
new_test_root() { # kind
  root=$(mktemp -d "${TMPDIR:-/tmp}/tarvo2-test-$1-XXXXXX") || exit 1
  exec {test_root_lock}<"$root"
  flock -n "$test_root_lock" || exit 1
}
