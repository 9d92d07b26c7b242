#!/usr/bin/env bash
# Install and package: cmake --install into a DESTDIR (desktop entry, icons,
# metainfo, man page, sounds, all validated), cpack -G DEB, and the packaged
# program unpacked into a fresh root and started with a fresh home: it must
# keep its Sounds/ and Reports/ in the per-user data folder and arrive with
# the default sounds.
set -uo pipefail
binary=${1:?usage: test_package.sh path/to/tarvo2}
build=$(cd "$(dirname "$binary")/.." && pwd)

. "$(dirname "$0")/../common/testroot.sh"
new_test_root pkg
chmod 755 "$root"
pid=
xpid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT

failures=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else failures=$((failures + 1)); echo "FAIL: $what"; fi
}
wait_for() { # seconds, command...
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $deadline ] && return 1; sleep 0.2; done
}

# ---- cmake --install with a prefix and DESTDIR
DESTDIR=$root/dest cmake --install "$build" --prefix /opt/tarvo >"$root/install.log" 2>&1
check "cmake --install succeeds" [ $? -eq 0 ]
d=$root/dest/opt/tarvo
for f in bin/tarvo2 share/applications/example.vekor.Tarvo2.desktop share/icons/hicolor/scalable/apps/example.vekor.Tarvo2.svg \
         share/icons/hicolor/48x48/apps/example.vekor.Tarvo2.png share/icons/hicolor/256x256/apps/example.vekor.Tarvo2.png \
         share/metainfo/example.vekor.Tarvo2.metainfo.xml share/man/man1/tarvo2.1.gz share/doc/tarvo2/copyright \
         "share/tarvo2/sounds/Tarvo2 Siren.wav" "share/tarvo2/sounds/Tarvo2 Horn.wav" \
         "share/tarvo2/sounds/Tarvo2 Bell.wav"; do
  check "installed under the prefix in DESTDIR: $f" [ -s "$d/$f" ]
done
check "nothing installed outside DESTDIR" [ ! -e /opt/tarvo/bin/tarvo2 ]
check "desktop entry is valid" desktop-file-validate "$d/share/applications/example.vekor.Tarvo2.desktop"
check "metainfo is valid" appstreamcli validate --no-net --pedantic "$d/share/metainfo/example.vekor.Tarvo2.metainfo.xml"
png_is() { file -b "$1" | grep -q "PNG image data, $2 x $2"; }
for size in 16 32 48 64 128 256; do
  check "the ${size}px icon is a ${size}x${size} PNG" png_is "$d/share/icons/hicolor/${size}x${size}/apps/example.vekor.Tarvo2.png" "$size"
done
check "the man page names the sounds folder under the install prefix" \
  bash -c "zcat '$d/share/man/man1/tarvo2.1.gz' | grep -qF '/opt/tarvo/share/tarvo2/sounds/'"
# (a "\-" may be typeset as a minus sign of three bytes)
for kept in 'Tarvo2.{1,3}alerts\.json' 'Tarvo2.{1,3}armed' 'Reports/Evidence/' 'Reports/History/' 'journalctl'; do
  check "the man page lists $kept" bash -c "MANWIDTH=200 man -l '$d/share/man/man1/tarvo2.1.gz' 2>/dev/null | grep -qE '$kept'"
done
check "the README is installed as documentation" [ -s "$d/share/doc/tarvo2/README.md" ]
check "the man page formats without warnings" \
  bash -c "MANWIDTH=80 man --warnings -l '$d/share/man/man1/tarvo2.1.gz' 2>&1 >/dev/null | (! grep .)"
sounds_ok() {
  local total=0 f
  for f in "$d"/share/tarvo2/sounds/*.wav; do
    file -b "$f" | grep -q "WAVE audio" || return 1
    total=$((total + $(stat -c %s "$f")))
  done
  [ "$total" -gt 100000 ] && [ "$total" -lt 1000000 ]
}
check "the default sounds are WAV files, a few hundred KB in all" sounds_ok

# ---- cpack -G DEB
(cd "$root" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$root/pkg") >"$root/cpack.log" 2>&1
check "cpack -G DEB succeeds" [ $? -eq 0 ]
deb=$(ls "$root"/pkg/*.deb 2>/dev/null | head -1)
check "a .deb was made" [ -n "$deb" ]
if [ -n "$deb" ]; then
  field() { dpkg-deb -f "$deb" "$1"; }
  check "package name" [ "$(field Package)" = tarvo2 ]
  check "depends on Qt, SDL2 and libsndfile ($(field Depends))" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6 && dpkg-deb -f '$deb' Depends | grep -q libsdl2 && dpkg-deb -f '$deb' Depends | grep -q libsndfile1"
  check "depends on Qt's platform plugins" bash -c "dpkg-deb -f '$deb' Depends | grep -q qt6-qpa-plugins"
  # Loaded when first needed, so shlibdeps cannot see them.
  check "depends on libcurl (mail alerts)" bash -c "dpkg-deb -f '$deb' Depends | grep -q libcurl4"
  check "recommends GStreamer (photos)" \
    bash -c "dpkg-deb -f '$deb' Recommends | grep -q libgstreamer1.0-0"
  check "recommends Qt's Wayland plugin" bash -c "dpkg-deb -f '$deb' Recommends | grep -q qt6-wayland"
  check "has a maintainer" [ -n "$(field Maintainer)" ]
  check "has a section" [ "$(field Section)" = utils ]
  check "has a description" [ -n "$(field Description)" ]
  dpkg-deb --contents "$deb" >"$root/contents"
  for f in ./usr/bin/tarvo2 ./usr/share/applications/example.vekor.Tarvo2.desktop \
           ./usr/share/icons/hicolor/scalable/apps/example.vekor.Tarvo2.svg ./usr/share/metainfo/example.vekor.Tarvo2.metainfo.xml \
           ./usr/share/man/man1/tarvo2.1.gz "./usr/share/tarvo2/sounds/Tarvo2 Bell.wav"; do
    check "package holds $f" grep -qF " $f" "$root/contents"
  done

  # ---- the packaged program, unpacked into a fresh root, started with a fresh home
  dpkg -x "$deb" "$root/fs"
  check "the packaged man page names the packaged sounds folder" \
    bash -c "zcat '$root/fs/usr/share/man/man1/tarvo2.1.gz' | grep -qF '/usr/share/tarvo2/sounds/'"
  check "dpkg -x unpacks the binary" [ -x "$root/fs/usr/bin/tarvo2" ]
  # Loaded by the program itself (so Depends must name them), never linked.
  check "SDL, the decoders and libcurl are not linked in" \
    bash -c "! objdump -p '$root/fs/usr/bin/tarvo2' | grep -E 'NEEDED +lib(SDL2|sndfile|samplerate|mpg123|curl)'"
  home=$root/home
  mkdir -p "$home/runtime" "$home/.config/VEKOR"
  # A returning user whose alarm was armed with simulation on: the program
  # re-arms at start and writes its report, so the report folder shows.
  printf '[SoftWare]\nVEKOR/Tarvo2/S/MsgThanx=T\nVEKOR/Tarvo2/S/ActSimToggle=T\nVEKOR/Tarvo2/S/Alarm%%20Active=T\n' \
    >"$home/.config/VEKOR/Tarvo2.conf"
  runner=()
  if [ "$(id -u)" -eq 0 ]; then
    # root may write anywhere: run as nobody, for whom /usr/bin is read-only
    chown -R 65534:65534 "$home"
    chmod -R go-w "$root/fs"
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else
    chmod -R a-w "$root/fs/usr/bin"
  fi
  chmod 700 "$home/runtime"
  # A real X server when there is one to start, else the offscreen platform.
  display_env=(QT_QPA_PLATFORM=offscreen)
  if command -v Xvfb >/dev/null; then
    # An explicit number from a high range, tried until one is free: letting
    # Xvfb probe from :0 unlinks the sockets of other tests' servers.
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
      Xvfb ":$((200 + RANDOM % 3000))" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
        3>"$root/xdisplay" >"$root/xvfb.log" 2>&1 &
      xpid=$!
      # Xvfb writes its display number once it accepts clients.
      if wait_for 20 bash -c "test -s '$root/xdisplay' || ! kill -0 $xpid 2>/dev/null" &&
         test -s "$root/xdisplay"; then
        display_env=(DISPLAY=":$(head -1 "$root/xdisplay")" QT_QPA_PLATFORM=xcb)
        break
      fi
      kill "$xpid" 2>/dev/null
    done
  fi
  echo "starting the installed program with ${display_env[*]}"
  # A lock of its own: another copy of this user (nobody) may run. No
  # session bus: libdbus would start one for the display that outlives the test.
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" \
    "${display_env[@]}" SDL_AUDIODRIVER=dummy TARVO2_TEST_INSTANCE="$(basename "$root")" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$root/no-session-bus" \
    "${runner[@]}" "$root/fs/usr/bin/tarvo2" >"$root/run.log" 2>&1 &
  pid=$!
  data=$home/.local/share/Tarvo2
  check "the installed program copies its sounds into the per-user data folder" \
    wait_for 60 test -s "$data/Sounds/Tarvo2 Siren.wav"
  check "and keeps its report there" wait_for 30 test -s "$data/Reports/Report.txt"
  check "and keeps running" kill -0 "$pid"
  check "the checked sounds are stored" \
    wait_for 30 grep -q "Tarvo2%20Horn.wav" "$home/.config/VEKOR/Tarvo2.conf"
  check "nothing was written beside the executable" \
    bash -c "[ -z \"\$(ls '$root/fs/usr/bin' | grep -v '^tarvo2\$')\" ]"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
  if command -v lintian >/dev/null; then
    # Informative only: the package is not an official Debian one.
    timeout 120 lintian --no-tag-display-limit "$deb" >"$root/lintian.log" 2>&1
    check "lintian finds no errors" bash -c "! grep -q '^E:' '$root/lintian.log'"
    grep -E '^[EW]:' "$root/lintian.log" | head -20
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "--- install log"; tail -20 "$root/install.log"
  echo "--- cpack log"; tail -30 "$root/cpack.log"
  echo "--- run log"; tail -20 "$root/run.log" 2>/dev/null
  echo "$failures failed"
  exit 1
fi
echo "all passed"
