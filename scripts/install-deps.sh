#!/usr/bin/env bash
# Installs the Debian packages the receiver needs to build, run, test and package
# (desktop-file-validate and systemd-analyze, which asks man for the unit's manual page, check
# the desktop entry and the service unit; dpkg-dev gives cpack its dpkg-shlibdeps; the
# window-manager test runs the windows under Xvfb with openbox and drives them with xdotool; the
# screenshots use ImageMagick; trayer is the notification area there, libxcb1-dev tells the
# windows where it shows the icon; libsystemd-dev gives sd_notify for the service's start-up and
# watchdog notices).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-multimedia-dev libgtest-dev libgmock-dev libbenchmark-dev socat strace
  desktop-file-utils systemd libsystemd-dev man-db dpkg-dev
  libxcb1-dev xvfb openbox xdotool x11-utils imagemagick fonts-dejavu-core trayer)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
