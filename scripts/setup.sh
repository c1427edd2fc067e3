#!/usr/bin/env bash
# Installs every system package that building, running and testing need, on
# Debian 12. Does nothing for packages already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
  libsqlite3-dev sqlite3
  qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus-daemon dbus-bin
  libgmime-3.0-dev libfreexl-dev libzip-dev shared-mime-info libssl-dev
  python3 python3-aiosmtpd python3-xlwt python3-openpyxl openssl ca-certificates
  postfix dnsmasq-base dovecot-core dovecot-pop3d
  python3-dkim libmail-dkim-perl libnet-dns-perl
  poppler-utils fonts-dejavu-core
  xvfb xauth imagemagick x11-utils openbox xdotool
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # postfix asks how to configure itself; the tests only run its smtp-sink
  # and smtp-source, so it gets no configuration at all.
  echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
