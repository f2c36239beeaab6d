#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing OrvanOffice need.
# Only what is missing is installed; apt runs through sudo when we are not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtk-3-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libjson-glib-dev
  libplist-dev nlohmann-json3-dev libdbusmenu-glib-dev libgdk-pixbuf-2.0-dev librsvg2-common
  libx11-dev libxml2-dev libssl-dev
  libpulse-dev libxcb1-dev libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
  libgtest-dev libgmock-dev googletest
  xvfb xauth xdotool dbus dbus-x11 pulseaudio pulseaudio-utils ffmpeg
  python3 python3-dbus python3-gi gir1.2-glib-2.0
  # Every text of the shell and the page is Japanese: without a CJK font it shows as boxes.
  fonts-noto-cjk
  # The Debian package and its checks: shlibdeps, desktop entry, AppStream metadata, lintian.
  dpkg-dev desktop-file-utils appstream lintian x11-utils
)
# The meeting popup's tests: a small EWMH window manager, X property and monitor tools, and the
# accessibility bus with its introspection data (buttons pressed as a user would).
packages+=(openbox x11-utils at-spi2-core gir1.2-atspi-2.0 gir1.2-gtk-3.0)
# The tests' notification server: the notification-daemon template of python3-dbusmock.
packages+=(python3-dbusmock)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
