#!/usr/bin/env bash
# Installs the system packages nompack needs to build, test and run on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake clang-format ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libmariadb-dev mariadb-server mariadb-client
  firebird3.0-server firebird3.0-utils firebird-dev
  unixodbc unixodbc-dev libsqliteodbc odbcinst tdsodbc
  libarchive-dev libarchive-tools libssl-dev
  xvfb xauth x11-apps imagemagick fonts-dejavu-core
  python3 sqlite3 pkg-config e2fsprogs
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The Firebird server package asks for the SYSDBA password; the program's
# attachment parameters fix it, so the test server must use the same one.
echo "firebird3.0-server shared/firebird/enabled boolean true" | $SUDO debconf-set-selections
echo "firebird3.0-server shared/firebird/sysdba_password/first_install password pondglass" | $SUDO debconf-set-selections
echo "firebird3.0-server shared/firebird/sysdba_password/new_password password pondglass" | $SUDO debconf-set-selections
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
