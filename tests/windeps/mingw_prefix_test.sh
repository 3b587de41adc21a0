#!/usr/bin/env bash
# cmake/mingw-prefix.cmake: a MinGW project finds the prefix's CMake packages
# and pkg-config files, and never the host's (a host .pc in a Windows link is
# an error that shows only at link time or, worse, under Wine).
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
mkdir -p "$prefix/lib/pkgconfig" "$prefix/lib/cmake/fmt" "$prefix/include/cjson" "$work/proj"
cat >"$prefix/lib/pkgconfig/libcjson.pc" <<PC
prefix=$prefix
includedir=\${prefix}/include
libdir=\${prefix}/lib
Name: libcjson
Description: test
Version: 1.7.15
Cflags: -I\${includedir}/cjson
PC
echo 'set(fmt_FOUND TRUE)' >"$prefix/lib/cmake/fmt/fmt-config.cmake"
cat >"$work/proj/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(probe C)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CJ REQUIRED libcjson)
find_package(fmt CONFIG REQUIRED)
pkg_check_modules(HOSTONLY sdl2)
file(WRITE "${CMAKE_BINARY_DIR}/found.txt" "${CJ_INCLUDE_DIRS}|${fmt_DIR}|${HOSTONLY_FOUND}|${QT_HOST_PATH}")
CM
STREVO_MINGW_PREFIX=$prefix cmake -S "$work/proj" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-prefix.cmake" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
found=$(cat "$work/build/found.txt")
want="$prefix/include/cjson|$prefix/lib/cmake/fmt||/usr"
[ "$found" = "$want" ] || { echo "found: $found"; echo "want:  $want"; exit 1; }
# The prefix given on the command line wins over the environment's.
env -u STREVO_MINGW_PREFIX HOME=$work/nohome cmake -S "$work/proj" -B "$work/build2" \
  -DSTREVO_MINGW_PREFIX="$prefix" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-prefix.cmake" >"$work/log" 2>&1 ||
  { cat "$work/log"; exit 1; }
[ "$(cat "$work/build2/found.txt")" = "$want" ] || { echo "found with -D: $(cat "$work/build2/found.txt")"; exit 1; }
echo "1 passed, 0 failed"
