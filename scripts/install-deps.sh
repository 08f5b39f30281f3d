#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  libsoci-dev libsoci-sqlite3-4.0 libsoci-firebird4.0 libboost-dev
  libsqlite3-dev sqlite3 libicu-dev
  firebird-dev firebird3.0-server firebird3.0-utils
  postgresql libpq-dev libsoci-postgresql4.0
  libcpp-httplib-dev nlohmann-json3-dev libssl-dev zlib1g-dev libbrotli-dev
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 libgl-dev
  qt6-pdf-dev qt6-translations-l10n adwaita-icon-theme libqt6svg6
  xvfb xauth fonts-dejavu-core
  libhpdf-dev poppler-utils unzip
  libpugixml-dev libzip-dev
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
# The server package asks for a SYSDBA password; answer it up front so the
# install never waits on a prompt.
if printf '%s\n' "${missing[@]}" | grep -q '^firebird3.0-server$'; then
  apt-get update -qq
  apt-get install -y -qq debconf-utils >/dev/null
  echo "firebird3.0-server shared/firebird/sysdba_password/first_install password masterkey" | debconf-set-selections
  echo "firebird3.0-server shared/firebird/enabled boolean true" | debconf-set-selections
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
