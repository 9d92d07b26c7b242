# Sourced by the scripted tests. new_test_root <kind> makes the test's
# temporary folder, ${TMPDIR:-/tmp}/tarvo2-test-<kind>-XXXXXX, in $root. A
# small watcher holds an flock on it while the script runs (programs the
# script starts do not hold it): clean_test_homes.sh removes only folders
# nobody holds, so a script killed by a timeout is cleaned up after too. The
# script still removes $root itself. TMPDIR then points into $root, so the
# temporary files of the tools it runs go with it.
new_test_root() { # kind
  root=$(mktemp -d "${TMPDIR:-/tmp}/tarvo2-test-$1-XXXXXX") || exit 1
  mkdir -m 0711 "$root/tmp" && export TMPDIR=$root/tmp
  local script=$$
  (exec {lock}<"$root" && flock -n "$lock" || exit
   while kill -0 "$script" 2>/dev/null; do sleep 1; done) </dev/null >/dev/null 2>&1 &
}
