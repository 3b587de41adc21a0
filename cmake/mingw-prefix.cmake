# Cross build for 64-bit Windows against the libraries windows/build-deps puts
# in its prefix (Qt, FFmpeg, cJSON, hidapi, fmt, spdlog):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-prefix.cmake
# The prefix is STREVO_MINGW_PREFIX (a -D option or the environment), by
# default ~/.cache/strevo-mingw, as in windows/build-deps.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

if(NOT STREVO_MINGW_PREFIX)
  if(DEFINED ENV{STREVO_MINGW_PREFIX} AND NOT "$ENV{STREVO_MINGW_PREFIX}" STREQUAL "")
    set(STREVO_MINGW_PREFIX "$ENV{STREVO_MINGW_PREFIX}")
  else()
    set(STREVO_MINGW_PREFIX "$ENV{HOME}/.cache/strevo-mingw")
  endif()
endif()
get_filename_component(STREVO_MINGW_PREFIX "${STREVO_MINGW_PREFIX}" ABSOLUTE)
# try_compile projects read this file again without the cache.
set(ENV{STREVO_MINGW_PREFIX} "${STREVO_MINGW_PREFIX}")

# The prefix is searched first, then MinGW's own headers and libraries (zlib).
list(PREPEND CMAKE_FIND_ROOT_PATH "${STREVO_MINGW_PREFIX}")
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)

# pkg-config (FFmpeg, cJSON, hidapi) reads only the prefix's .pc files, never
# the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${STREVO_MINGW_PREFIX}/lib/pkgconfig:/usr/${MINGW_TRIPLET}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Qt's build tools (moc, rcc, uic) come from the host's Qt of the same version.
set(QT_HOST_PATH /usr CACHE PATH "Host Qt for moc, rcc and uic")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt's CMake packages")
