#!/usr/bin/env bash
# Builds the Debian package quellan_<version>_<arch>.deb from the optimised build (build/) with
# CPack; its library dependencies are computed from the binaries by dpkg-shlibdeps. The package
# lands in the top folder. With --check it is then checked without installing it
# (scripts/check_package.sh: lintian and a run of the unpacked programs).
# Usage: bash scripts/package.sh [--check]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
check=no
[ "${1:-}" = --check ] && check=yes

command -v dpkg-shlibdeps >/dev/null && command -v rsvg-convert >/dev/null || {
  echo "package: dpkg-shlibdeps or rsvg-convert missing; run scripts/setup.sh" >&2
  exit 1
}
# Configures build/ only when it is not yet (its settings stay as scripts/build.sh left them,
# so nothing is rebuilt for a changed option) and builds only what the package holds.
[ -f "$top/build/CMakeCache.txt" ] ||
  cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release \
    -DQUELLAN_WERROR="${QUELLAN_WERROR:-OFF}" >/dev/null
cmake --build "$top/build" -j2 --target quellan quellanview quellan-server package_docs \
  package_icons

rm -f "$top"/quellan_*.deb
(cd "$top/build" && cpack -G DEB -B "$top/build/cpack" >/dev/null)
deb=$(ls "$top"/build/cpack/quellan_*.deb)
mv "$deb" "$top/"
deb="$top/$(basename "$deb")"
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

[ "$check" = no ] || bash "$top/scripts/check_package.sh" "$deb"
