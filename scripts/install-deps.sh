#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test Tarvo2.
# Does nothing when everything is already there.
set -euo pipefail

build_pkgs=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools
            libgl-dev libsdl2-dev libsndfile1-dev libsamplerate0-dev)
test_pkgs=(xvfb xauth xdotool x11-utils pulseaudio pulseaudio-utils sox python3
           libqt6svg6 fonts-dejavu-core)
# Beyond the basics: icons, packaging, session services, input activity.
build_pkgs+=(qt6-svg-dev dpkg-dev  # icon sizes rendered at build time; cpack's dpkg-shlibdeps
             libsystemd-dev        # the journal
             libpulse-dev          # sink mute and volume guard
             libmpg123-dev         # MP3 decoded to its real end
             libcurl4-openssl-dev  # e-mail alerts over SMTP
             libx11-dev libxi-dev libwayland-dev libwayland-bin wayland-protocols  # input activity
             libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # photos from the camera
             gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pipewire
             libudev-dev           # USB devices plugged in or pulled
             qt6-wayland)          # run on a Wayland desktop (Qt's platform plugin)
test_pkgs+=(desktop-file-utils appstream lintian file man-db  # install and package checks
            dbus dbus-daemon python3-dbusmock  # private buses: logind, UPower, notifications, idle monitors
            python3-aiosmtpd openssl  # a real SMTP server for the e-mail alert tests
            pipewire pipewire-pulse wireplumber lame  # sound server recovery, VBR MP3
            gstreamer1.0-tools  # a test camera on a private PipeWire
            dex libglib2.0-bin systemd  # the autostart entry started by real launchers
            openbox  # a real window manager's close (Alt+F4)
            weston  # a headless Wayland compositor that ends under the program
            clang libclang-rt-14-dev  # libFuzzer targets (scripts/test.sh)
            umockdev gir1.2-umockdev-1.0 libumockdev-dev  # USB devices in a udev testbed
            iproute2 util-linux)  # network namespaces with a veth pair (ip, unshare)

want=("${build_pkgs[@]}")
if [ "${1:-}" = "--with-test-tools" ]; then
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
