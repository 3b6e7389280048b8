#!/usr/bin/env bash
# Builds the Debian package from a built tree into a scratch folder and checks
# what a fresh machine gets from it: the two programs, the desktop entry, the
# icon, dependencies that cover every library the programs load, and programs
# that run from where the package puts them.
# Usage: check_package.sh BUILD_DIR VERSION
set -uo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
passed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

# The package goes to the scratch folder, so the build tree keeps no package.
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "0 passed, 1 failed"
  exit 1
fi
debs=("$scratch"/nompack_"$version"_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  ls "$scratch"
  echo "0 passed, 1 failed"
  exit 1
fi
deb=${debs[0]}
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $6}')
depends=$(dpkg-deb -f "$deb" Depends)
depends_names=$(echo "$depends" | tr ',' '\n' | sed 's/([^)]*)//; s/|.*//; s/[[:space:]]//g')

has_file() {  # has_file MODE-PREFIX PATH
  grep -qx -- "$1[^ ]* \./$2" <<<"$listing"
}
check "package name" test "$(dpkg-deb -f "$deb" Package)" = nompack
check "package version is the project's" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "window program" has_file -rwxr-xr-x usr/bin/nompack
check "command-line program" has_file -rwxr-xr-x usr/bin/nompack-cli
check "desktop entry" has_file -rw-r--r-- usr/share/applications/nompack.desktop
check "scalable icon" has_file -rw-r--r-- usr/share/icons/hicolor/scalable/apps/nompack.svg
check "bitmap icon" has_file -rw-r--r-- usr/share/icons/hicolor/256x256/apps/nompack.png
outside=$(awk '{print $2}' <<<"$listing" | grep -v -e '^\./usr/' -e '^\./$' || true)
check "nothing outside /usr ($outside)" test -z "$outside"

depends_on() { grep -qx -- "$1" <<<"$depends_names"; }
for package in libqt6core6 libqt6gui6 libqt6widgets6 libmariadb3 libfbclient2 libodbc2 \
  libarchive13 libstdc++6 libc6; do
  check "depends on $package ($depends)" depends_on "$package"
done
# A declared name that this Debian does not know would stop apt-get install.
for package in $depends_names; do
  check "dependency $package is a package of this system" \
    dpkg-query -W -f='${Status}' "$package" >/dev/null 2>&1
done

dpkg-deb -x "$deb" "$scratch/root"
for program in nompack nompack-cli; do
  binary=$scratch/root/usr/bin/$program
  check "$program carries no run path into a build tree" \
    bash -c "! readelf -d '$binary' | grep -qE 'RPATH|RUNPATH'"
  # Every library the program names must come from a declared package.
  for library in $(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
    path=$(ldconfig -p | awk -v lib="$library" '$1 == lib && /x86-64/ {print $NF; exit}')
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1)
    [ -z "$owner" ] && owner=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1)
    check "$program needs $library from ${owner:-an unknown package}, which is declared" \
      depends_on "${owner:-?}"
  done
  # Without a display: the version must not need one.
  output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" --version 2>&1)
  check "$program --version says '$program $version' (said: $output)" \
    test "$output" = "$program $version"
done

desktop=$scratch/root/usr/share/applications/nompack.desktop
for line in '\[Desktop Entry\]' 'Type=Application' 'Exec=nompack' 'Icon=nompack' 'Name=.+' \
  'Name\[bg\]=.+' 'Comment=.+' 'Comment\[bg\]=.+' 'Terminal=false'; do
  check "desktop entry has $line" grep -qxE -- "$line" "$desktop"
done
png=$scratch/root/usr/share/icons/hicolor/256x256/apps/nompack.png
check "bitmap icon is a 256x256 PNG" python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read(24)
sys.exit(not (data[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", data[16:24]) == (256, 256)))
' "$png"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
