#!/usr/bin/env bash
# The suite on a busy machine: runs the "tests" stage of scripts/test.sh
# (ASan+UBSan) three times in a row while two CPU hogs run beside it, and
# stops at the first failure. Run it before a submission: a test that waits
# for a fixed time instead of its condition fails here.
#
# TARVO2_STRESS_RUNS sets the number of runs (default 3), TARVO2_STRESS_HOGS
# the number of busy loops (default 2). Extra arguments go to the ctest run,
# e.g. for a shorter trial: tests/stress.sh -R 'closebox|streamguard'
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${TARVO2_STRESS_RUNS:-3}
hogs=${TARVO2_STRESS_HOGS:-2}

hog_pids=()
end_hogs() {
  local p
  for p in "${hog_pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${hog_pids[@]}"; do wait "$p" 2>/dev/null; done
  hog_pids=()
}
trap end_hogs EXIT
trap 'exit 130' INT TERM

for ((i = 0; i < hogs; i++)); do
  (trap - INT TERM; while :; do :; done) &
  hog_pids+=($!)
done
echo "=== $hogs busy loops running (${hog_pids[*]})"

results=()
status=0
for ((run = 1; run <= runs; run++)); do
  echo "=== stress run $run of $runs ($(date +%T))"
  start=$SECONDS
  TARVO2_CI_STAGES=tests ./scripts/test.sh "$@"
  rc=$?
  result=passed
  [ $rc -ne 0 ] && result=FAILED
  results+=("$(printf 'run %d: %-6s %5d s' "$run" "$result" $((SECONDS - start)))")
  echo "=== stress run $run $result in $((SECONDS - start)) s"
  if [ $rc -ne 0 ]; then
    status=1
    break
  fi
done
end_hogs

echo
echo "=== stress summary ($hogs busy loops)"
printf '%s\n' "${results[@]}"
[ $status -eq 0 ] && echo "=== all $runs runs passed" || echo "=== stopped at the first failure"
exit $status
