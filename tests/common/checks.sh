# Shared helpers of the scripted tests (sourced, not run): counted checks,
# waiting for a condition, and a private Xvfb and session bus.
# The sourcing script sets root (its temporary folder) before it calls them.

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
alive() { kill -0 "$1" 2>/dev/null; }

# Starts Xvfb on a free display from a high range (letting it probe from :0
# unlinks the sockets of other tests' servers); sets DISPLAY and xvfb_pid.
start_xvfb() {
  local attempt
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    rm -f "$root/xdisplay"
    Xvfb ":$((200 + RANDOM % 3000))" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
      3>"$root/xdisplay" >"$root/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_for 20 bash -c "test -s '$root/xdisplay' || ! kill -0 $xvfb_pid 2>/dev/null" &&
       test -s "$root/xdisplay"; then
      export DISPLAY=":$(head -1 "$root/xdisplay")"
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null
  done
  return 1
}

# Starts a private session bus that starts no service on demand; sets
# DBUS_SESSION_BUS_ADDRESS and bus_pid.
start_private_bus() {
  mkdir -p "$root/bus"
  cat >"$root/bus/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$root/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/>
<allow own="*"/></policy></busconfig>
CONF
  dbus-daemon --nofork --config-file="$root/bus/bus.conf" --print-address=3 3>"$root/bus/address" &
  bus_pid=$!
  wait_for 20 test -s "$root/bus/address" || return 1
  export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$root/bus/address")
}
