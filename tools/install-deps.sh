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
  libwebrtc-audio-processing-dev
  libgtest-dev libgmock-dev googletest
  xvfb xauth xdotool dbus dbus-x11 pulseaudio pulseaudio-utils ffmpeg
  python3 python3-dbus python3-gi gir1.2-glib-2.0
  # Every text of the shell and the page is Japanese: without a CJK font it shows as boxes.
  fonts-noto-cjk
  # The Debian package and its checks: shlibdeps, desktop entry, AppStream metadata, lintian.
  dpkg-dev desktop-file-utils appstream lintian x11-utils
)
# The meeting popup's tests: a small EWMH window manager, X property and monitor tools, and the
# accessibility bus with its introspection data (buttons pressed as a user would); wmctrl closes a
# window as the window manager's close button does.
packages+=(openbox x11-utils wmctrl at-spi2-core gir1.2-atspi-2.0 gir1.2-gtk-3.0)
# The page shown when the web application cannot be reached is read back from the window's pixels
# (Japanese OCR); the stand-in serves it a certificate nobody vouches for, made on the spot.
packages+=(tesseract-ocr tesseract-ocr-jpn openssl)
# The echo cancellation benchmark speaks both sides of its conversation.
packages+=(espeak-ng)
# The default desktop, run headless for the end-to-end test: GNOME Shell on Wayland with XWayland,
# its notification service (gjs) and the tray host most of its users have.
packages+=(gnome-shell gjs xwayland gnome-shell-extension-appindicator)
# The tests' notification server and tray panel: python3-dbusmock's templates.
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
