#!/usr/bin/env bash
# The real tarvo2 binary as a process (offscreen, dummy audio): single
# instance hand-over, recovery from a crashed copy, simultaneous starts, the
# program location, a garbled settings file, and a test copy beside the
# user's own.
set -uo pipefail
binary=${1:?usage: test_process.sh path/to/tarvo2}

. "$(dirname "$0")/../common/testroot.sh"
new_test_root proc
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$root"
  # Killed copies leave their lock and socket in the per-user folder.
  rm -f "/tmp/tarvo2-$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".* "/run/user/$(id -u)/Tarvo2-${TARVO2_TEST_INSTANCE:-none}".*
}
trap cleanup EXIT

export HOME=$root/home XDG_CONFIG_HOME=$root/home/config XDG_DATA_HOME=$root/home/data
export XDG_RUNTIME_DIR=$root/runtime QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
unset XDG_ACTIVATION_TOKEN DISPLAY WAYLAND_DISPLAY
export TARVO2_TEST_INSTANCE=proc-$$ # own single-instance lock in the per-user folder
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$root/app"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$binary" "$root/app/tarvo2"
app=$root/app/tarvo2
conf=$XDG_CONFIG_HOME/VEKOR/Tarvo2.conf

source "$(dirname "$0")/../common/checks.sh"
running_copies() { pgrep -f -x "$app" | wc -l; }
start() { "$app" >>"$root/log" 2>&1 & pids+=($!); echo $! > "$root/lastpid"; }
# The copy with this process id holds the instance lock and its socket is
# there: it serves the next start.
serves() { # pid
  local lock
  for lock in "/run/user/$(id -u)/Tarvo2-$TARVO2_TEST_INSTANCE.lock" \
              /tmp/tarvo2-"$(id -u)"*/"Tarvo2-$TARVO2_TEST_INSTANCE.lock"; do
    [ -e "$lock" ] && [ "$(head -1 "$lock" 2>/dev/null)" = "$1" ] && [ -S "${lock%.lock}.socket" ] &&
      return 0
  done
  return 1
}

# First start: the program location is written and the copy keeps running.
start; first=$(cat "$root/lastpid")
check "first copy writes ProgramLocation" wait_for 30 grep -qs "ProgramLocation=$app" "$conf"
check "first copy keeps running" wait_for 2 alive "$first"
check "and serves the next start" wait_for 30 serves "$first"
# Its start writes a few more settings after it serves; the file must be
# left alone for a second before it can show what the next start writes.
settled() { local was; was=$(md5sum <"$1"); sleep 1; [ "$(md5sum <"$1")" = "$was" ]; }
check "and has written its start" wait_for 30 settled "$conf"

# A second start hands over, exits 0 quickly and writes nothing.
before=$(md5sum "$conf")
began=$SECONDS
timeout 30 "$app" >>"$root/log" 2>"$root/second.err"; rc=$?
check "second copy exits with 0" [ "$rc" -eq 0 ]
check "second copy says so in one line on stderr" \
  bash -c "[ \"\$(wc -l <'$root/second.err')\" -eq 1 ] && grep -q 'already running' '$root/second.err'"
check "second copy exits quickly" [ $((SECONDS - began)) -le 15 ] # generous: ASan, a busy machine
check "second copy writes nothing" [ "$(md5sum "$conf")" = "$before" ]
check "first copy still runs" alive "$first"

# A crashed copy leaves its lock and socket behind: the next start runs anyway.
kill -9 "$first"; wait "$first" 2>/dev/null
start; third=$(cat "$root/lastpid")
check "start after a crash runs and serves the next start" wait_for 30 serves "$third"
check "and still runs" alive "$third"
timeout 30 "$app" >>"$root/log" 2>&1; rc=$?
check "and a further start still hands over" [ "$rc" -eq 0 ]
check "leaving one copy" [ "$(running_copies)" -eq 1 ]
kill -TERM "$third"; wait "$third" 2>/dev/null

# Two copies started at the same moment: exactly one keeps running.
start; a=$(cat "$root/lastpid"); start; b=$(cat "$root/lastpid")
one_serves() { { serves "$a" && ! alive "$b"; } || { serves "$b" && ! alive "$a"; }; }
check "two simultaneous starts: one serves, the other ends" wait_for 30 one_serves
check "two simultaneous starts leave exactly one copy" [ "$(running_copies)" -eq 1 ]
kill -TERM "$a" "$b" 2>/dev/null; wait "$a" "$b" 2>/dev/null

# A garbled settings file: the program starts and runs, the junk is kept aside.
head -c 4096 /dev/urandom > "$conf"
printf '\n[SoftWare\n=\x00\xff broken' >> "$conf"
junk=$(md5sum < "$conf")
start; g=$(cat "$root/lastpid")
junk_kept() {
  local f
  for f in "$conf".* "$XDG_CONFIG_HOME"/VEKOR/*; do
    [ -f "$f" ] && [ "$(md5sum < "$f")" = "$junk" ] && return 0
  done
  return 1
}
check "the garbled file is kept" wait_for 30 junk_kept
check "starts with a garbled settings file" wait_for 30 serves "$g"
check "and runs on" alive "$g"
kill -TERM "$g"; wait "$g" 2>/dev/null

# The user's own copy (no test instance name, a home of its own) runs: a
# test copy still starts beside it and works. When the user's Tarvo2 already
# runs, the copy started here hands over to it, and that one is the other copy.
own_copy_runs() {
  local lock
  for lock in "/run/user/$(id -u)/Tarvo2.lock" /tmp/tarvo2-"$(id -u)"*/Tarvo2.lock; do
    [ -e "$lock" ] && ! flock -n "$lock" true 2>/dev/null && return 0
  done
  return 1
}
own=$root/own
mkdir -p "$own/home/runtime" && chmod 700 "$own/home/runtime" && cp "$binary" "$own/tarvo2"
(unset TARVO2_TEST_INSTANCE
 export HOME=$own/home XDG_CONFIG_HOME=$own/home/config XDG_DATA_HOME=$own/home/data \
   XDG_RUNTIME_DIR=$own/home/runtime
 exec "$own/tarvo2") >>"$root/log" 2>&1 &
real=$!; pids+=("$real")
check "the user's own copy runs" wait_for 30 own_copy_runs
rm -f "$conf"
start; t=$(cat "$root/lastpid")
check "a test copy starts beside it" wait_for 30 grep -qs "ProgramLocation=$app" "$conf"
check "and serves the next start" wait_for 30 serves "$t"
timeout 30 "$app" >>"$root/log" 2>&1; rc=$?
check "a further test start hands over to the test copy" [ "$rc" -eq 0 ]
check "which still runs" alive "$t"
check "the user's own copy still runs" own_copy_runs
kill -TERM "$t" "$real" 2>/dev/null; wait "$t" "$real" 2>/dev/null
# Ended by a signal, the copy started here leaves its lock; remove it if it is its.
for lock in "/run/user/$(id -u)/Tarvo2.lock" /tmp/tarvo2-"$(id -u)"*/Tarvo2.lock; do
  [ -e "$lock" ] && [ "$(head -1 "$lock")" = "$real" ] && rm -f "$lock" "${lock%.lock}.socket"
done

if [ $failures -ne 0 ]; then echo "--- program output"; cat "$root/log"; fi
echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
