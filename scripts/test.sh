#!/usr/bin/env bash
# Installs what is missing (test tools included), builds Tarvo2 and runs every
# test through CTest, headless: the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the package test on the plain build (the
# package ships that one), the threaded parts under ThreadSanitizer, and each
# libFuzzer target for a bounded time. Any finding fails the run. While the
# suite runs, the later stages' builds go on in the background at the lowest
# priority; the summary at the end gives each stage's and each build's time.
#
# TARVO2_CI_STAGES picks stages for a quicker local run (default: all), e.g.
#   TARVO2_CI_STAGES="tests package" ./scripts/test.sh
# Stages: tests (also called asan) package tsan fuzz. TARVO2_FUZZ_SECONDS
# sets each target's time, TARVO2_TEST_JOBS how many tests run at a time
# (default 2). Extra arguments go to the ctest run of "tests".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
stages=" ${TARVO2_CI_STAGES:-tests package tsan fuzz} "
[[ $stages == *" asan "* ]] && stages+="tests "
fuzz_seconds=${TARVO2_FUZZ_SECONDS:-60}
test_jobs=${TARVO2_TEST_JOBS:-2}
failed=()
timings=()

want() { [[ $stages == *" $1 "* ]]; }
stage() { echo; echo "=== $1 ($(date +%T))"; }
# Runs a stage's command, remembers a failure and goes on with the next stage,
# so one run shows every finding.
run() { # name, command...
  local name=$1; shift
  local start=$SECONDS result
  if "$@"; then result=passed; else result=FAILED; failed+=("$name"); fi
  echo "=== $name $result in $((SECONDS - start)) s"
  timings+=("$(printf '%-12s %-6s %5d s' "$name" "$result" $((SECONDS - start)))")
}
# Configures and builds one build folder with gcc; the linker is gold, several
# times faster than the default on these many test executables.
build() { # folder, configure arguments... [--target targets...]
  local dir=$1; shift
  BUILD_DIR=$dir ./scripts/build.sh -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold "$@"
}
# The tests that cannot run instrumented: the package ships the plain build.
plain_only='^data$'
# Sanitizer and fuzz builds: -O1 and line tables only, the tests' own code
# unoptimised. Reports keep function, file and line; the builds take half the
# time of -O2 -g.
instrumented=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DTARVO2_TEST_COMPILE_OPTIONS=-O0)

./scripts/install-deps.sh --with-test-tools

build_asan() { build build-asan "${instrumented[@]}" -DTARVO2_SANITIZE=address,undefined; }

tests_stage() {
  # Two known leaks of libraries (libpulse's first connection, GStreamer's
  # PipeWire elements): scripts/sanitizers/lsan.supp; nothing else is suppressed.
  (cd build-asan &&
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0 \
      ctest --output-on-failure --timeout 1800 -j"$test_jobs" -LE "$plain_only" "$@")
}

build_package() {
  # The program and the files installed beside it, nothing else; cpack and
  # cmake --install would otherwise build every target (the tests too) first.
  # The package strips its program, so its build carries no debug info.
  BUILD_TYPE=Release build build -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    --target tarvo2 tarvo2_data tarvo2_docs
}

package_stage() {
  built package
  (cd build && ctest --output-on-failure --timeout 900 -L "$plain_only")
}

build_tsan() {
  # Only what these tests need: the program and their test executables.
  local targets=(tarvo2) f
  for f in tests/{audio,detect,app}/tst_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
  build build-tsan "${instrumented[@]}" -DTARVO2_SANITIZE=thread --target "${targets[@]}"
}

tsan_stage() {
  built tsan
  # Audio, detection and the window: the parts with threads of their own.
  # The tests start servers with QProcess after threads exist; the fork is
  # followed by exec at once, so it is safe to let it go on.
  (cd build-tsan &&
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0:suppressions=$root/scripts/sanitizers/tsan.supp \
      ctest --output-on-failure --timeout 1800 -j"$test_jobs" -L "^(audio|detect|app)$")
}

fuzz_one() { # target
  local target=$1 work=build-fuzz/corpus/$1
  # The committed seed corpus stays as it is; new inputs go to a scratch copy.
  rm -rf "$work" && mkdir -p "$work" && cp fuzz/corpus/$target/* "$work"/
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/fuzz-lsan.supp:print_suppressions=0 \
    build-fuzz/fuzz/$target -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix=build-fuzz/$target- \
      "$work" 2>build-fuzz/$target.log
}

fuzz_targets=(fuzz_settings_file fuzz_report_file fuzz_audio_decoder)

build_fuzz() {
  # clang's sanitizer runtime draws warnings from gold: the default linker
  # here, for three executables.
  BUILD_DIR=build-fuzz ./scripts/build.sh -DCMAKE_CXX_COMPILER=clang++ "${instrumented[@]}" \
    -DTARVO2_SANITIZE=address,undefined -DTARVO2_FUZZ=ON --target "${fuzz_targets[@]}"
}

fuzz_stage() {
  built fuzz
  local targets=("${fuzz_targets[@]}")
  # Each target runs its full time on a core of its own, two at a time.
  local result=0 target
  for target in "${targets[@]}"; do
    (if fuzz_one "$target"; then s=0; else s=1; fi; echo $s >build-fuzz/$target.status) &
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  done
  wait
  for target in "${targets[@]}"; do
    echo "--- $target for ${fuzz_seconds} s"
    if [ "$(cat build-fuzz/$target.status)" = 0 ]; then
      grep -E '^stat::(number_of_executed_units|new_units_added)' build-fuzz/$target.log || true
    else
      tail -n 60 build-fuzz/$target.log
      echo "--- $target found a fault; the input is build-fuzz/$target-*"
      result=1
    fi
  done
  return $result
}

# The later stages' builds run in the background at the lowest priority
# while the suite runs: the suite mostly waits, and a build takes only the
# processor time the tests leave. Each stage then waits for its own build.
builds=build-logs
rm -rf "$builds" && mkdir -p "$builds"
background_builds() {
  local name
  for name in package tsan fuzz; do
    want "$name" || continue
    local begin=$SECONDS status=0
    "build_$name" >"$builds/$name.log" 2>&1 || status=$?
    echo "$status $((SECONDS - begin))" >"$builds/$name.status"
  done
}
# Waits for a stage's build and shows its output; fails the stage when the
# build failed.
built() { # stage
  while [ ! -e "$builds/$1.status" ]; do sleep 1; done
  cat "$builds/$1.log"
  local status took
  read -r status took <"$builds/$1.status"
  echo "=== $1 build: ${took} s in the background, exit $status"
  timings+=("$(printf '%-12s %-6s %5d s (in the background)' "$1 build" \
    "$([ "$status" = 0 ] && echo passed || echo FAILED)" "$took")")
  return "$status"
}

start=$SECONDS
if want tests; then
  stage "build for AddressSanitizer + UBSan"
  run build build_asan
fi
# A process group of their own, so that an interrupted run ends them too.
set -m
(renice -n 19 -p "$BASHPID" >/dev/null && background_builds) &
builder=$!
set +m
trap 'kill -- "-$builder" 2>/dev/null || true' EXIT
want tests && { stage "tests under AddressSanitizer + UBSan"; run tests tests_stage "$@"; }
want package && { stage "package test on the plain build"; run package package_stage; }
want tsan && { stage ThreadSanitizer; run tsan tsan_stage; }
want fuzz && { stage fuzzing; run fuzz fuzz_stage; }
echo
printf '=== %s\n' "${timings[@]}"
echo "=== all stages took $((SECONDS - start)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "=== FAILED: ${failed[*]}"
  exit 1
fi
