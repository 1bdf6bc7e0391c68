#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent; run as root (or through sudo).
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config
  clang libclang-rt-dev llvm
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5sql5-mysql libqt5sql5-sqlite
  qtscript5-dev libqt5svg5
  libsingleapplication-dev
  libjs-highlight.js
  famfamfam-silk
  zlib1g-dev libzstd-dev
  mariadb-server mariadb-client
  sysbench python3-pymysql php-cli php-mysql libdbd-mariadb-perl
  xvfb xauth xdotool imagemagick x11-apps
  haproxy
  fonts-dejavu-core
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
