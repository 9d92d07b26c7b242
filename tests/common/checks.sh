# Shared by the shell tests of the real program: a named check that counts
# passes and failures, and a wait for a condition with a deadline.
failures=0
passed=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"
  else failures=$((failures + 1)); echo "FAIL: $what"; fi
}
wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.1; done
}
