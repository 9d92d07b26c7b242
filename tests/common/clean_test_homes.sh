#!/usr/bin/env bash
# Removes what killed tests left behind, before and after each CTest run:
# temporary folders ${TMPDIR:-/tmp}/tarvo2-test-<name>-XXXXXX that no process
# holds any more (a running test keeps an flock on its folder), after
# ending the program copies still running from them and unmounting the small
# disks mounted inside them, and the single-instance
# lock and socket of a test copy whose lock no process holds. A real copy's
# lock (Tarvo2.lock) is never touched, nor anything just made (its maker may
# not hold it yet). usage: clean_test_homes.sh [before|after]; "after"
# fails when a leftover cannot be removed ("before" only says so: the tests
# still run).
set -u
when=${1:-after}
tmp=${TMPDIR:-/tmp}
grace=10 # seconds
status=0
now=$(date +%s)
young() { # made less than $grace seconds ago (modified, where the birth is unknown)
  local made
  made=$(stat -c %W "$1" 2>/dev/null) || return 0
  case $made in 0 | -) made=$(stat -c %Y "$1" 2>/dev/null) || return 0 ;; esac
  [ $((now - made)) -lt $grace ]
}
unheld() { [ -e "$1" ] && ! young "$1" && flock -n -x "$1" true 2>/dev/null; }

for dir in "$tmp"/tarvo2-test-*-*; do
  [ -d "$dir" ] && [ ! -L "$dir" ] && unheld "$dir" || continue
  # Copies of the program a killed script started from its folder.
  for exe in /proc/[0-9]*/exe; do
    case $(readlink "$exe" 2>/dev/null) in
      "$dir"/*) pid=${exe#/proc/}; pid=${pid%/exe}; kill -9 "$pid" && echo "ended $pid, left running from $dir" ;;
    esac
  done
  # Deepest mounts first; mount points are listed with octal escapes.
  awk -v d="$dir/" 'index($2, d) == 1 { print $2 }' /proc/self/mounts | sort -r |
    while read -r mounted; do umount -l "$(printf '%b' "$mounted")"; done
  if rm -rf --one-file-system "$dir" 2>/dev/null && [ ! -e "$dir" ]; then
    echo "removed $dir, left by a test that did not end"
  else
    echo "cannot remove $dir"
    status=1
  fi
done

# Killed program copies leave their lock and socket in the per-user folder.
for lock in /run/user/*/Tarvo2-?*.lock /tmp/tarvo2-[0-9]*/Tarvo2-?*.lock; do
  unheld "$lock" || continue
  rm -f "$lock" "${lock%.lock}.socket" && echo "removed $lock, left by a killed test copy"
done
[ "$when" = before ] && exit 0
exit $status
