#!/bin/sh
# Installs every Debian package that building, testing and running Quorvex needs.
# Idempotent: apt-get skips what is already there.
set -eu
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config git \
  libgtest-dev libgmock-dev libbenchmark-dev \
  clang clang-format libclang-rt-14-dev \
  qt6-base-dev libqt6svg6 libgl-dev qt6-translations-l10n \
  libpcap-dev libcurl4-openssl-dev libssl-dev libnghttp2-dev libnghttp3-dev \
  libavformat-dev libavcodec-dev libavutil-dev ffmpeg libxml2-dev libseccomp-dev \
  python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-ugly \
  python3 iproute2 curl tcpdump tcpreplay locales libcap2-bin util-linux openssl nghttp2-server \
  ngtcp2-client ngtcp2-server \
  wireshark-common \
  libnotify-bin dbus-daemon python3-dbus \
  chromium \
  xvfb xauth x11-apps xdotool imagemagick fonts-noto-cjk libx11-dev \
  scdoc dpkg-dev debhelper po-debconf lintian desktop-file-utils appstream adduser \
  >/dev/null

# A locale with a decimal comma, so the tests can check that texts never follow the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi
