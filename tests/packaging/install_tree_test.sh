#!/usr/bin/env bash
# cmake --install into a scratch root: every file the package needs is there,
# and the installed library serves another program through pkg-config and
# through find_package (run inside scripts/netns-run: BSC_Init broadcasts).
set -euo pipefail
build=$1 src=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
root=$dest$prefix

missing=0
for f in bin/strevo bin/strevoctl bin/camsim include/scanlet.h \
  "$libdir/libscanlet.so" "$libdir/pkgconfig/scanlet.pc" \
  "$libdir/cmake/scanlet/scanletConfig.cmake" "$libdir/cmake/scanlet/scanletConfigVersion.cmake" \
  share/strevo/translations/qtbase_zh_CN.qm share/applications/org.strevo.Strevo.desktop \
  share/metainfo/org.strevo.Strevo.metainfo.xml share/bash-completion/completions/strevoctl \
  share/man/man1/strevo.1.gz share/man/man1/strevoctl.1.gz share/man/man1/camsim.1.gz \
  lib/udev/rules.d/70-strevo-cameras.rules share/doc/strevo/copyright \
  share/doc/strevo/changelog.Debian.gz; do
  [ -e "$root/$f" ] || { echo "missing: $prefix/$f"; missing=1; }
done
for size in 16 32 48 256; do
  f=share/icons/hicolor/${size}x${size}/apps/strevo.png
  [ -e "$root/$f" ] || { echo "missing: $prefix/$f"; missing=1; continue; }
  # lintian and icon themes want the picture's size to be its folder's.
  file "$root/$f" | grep -q "$size x $size" || { echo "not ${size}x${size}: $f"; missing=1; }
done
[ $missing -eq 0 ]

# The library's name for the loader carries its interface version.
soname=$(objdump -p "$root/$libdir/libscanlet.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libscanlet.so.1 ] || { echo "SONAME is '$soname', not libscanlet.so.1"; exit 1; }
# Installed programs find it where the loader looks, not through the build tree.
if objdump -p "$root/bin/strevo" | grep -E 'R(UN)?PATH'; then
  echo "strevo keeps a library search path"; exit 1
fi

export LD_LIBRARY_PATH=$root/$libdir
work=$dest/work
mkdir -p "$work"
PKG_CONFIG_SYSROOT_DIR=$dest PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig \
  cc "$src/consumer/use_scanlet.c" $(PKG_CONFIG_SYSROOT_DIR=$dest \
  PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig pkg-config --cflags --libs scanlet) -o "$work/use-pc"
"$work/use-pc"
cmake -S "$src/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/use_scanlet"
