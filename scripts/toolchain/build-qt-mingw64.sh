#!/bin/sh
# Builds qt-6.4.2-mingw64.tar.xz, Qt for 64-bit Windows, from Debian's own source
# packages with Debian's mingw-w64 compiler (about 20 minutes on 2 cores).
# Needs: a deb-src line for the release, g++-mingw-w64-x86-64-posix, mingw-w64,
# ninja-build, tcl (SQLite's amalgamation is generated with tclsh), qt6-base-dev
# and qt6-base-dev-tools (the host tools). Debian's qt6-base source has its
# bundled SQLite and Wintab removed: SQLite comes from Debian's sqlite3 source,
# and the build leaves tablet support out.
#   OUT              where the archive goes (default: the current folder)
#   TOOLCHAIN_FILE   the CMake toolchain file (default: the tree's cmake/mingw64-posix.cmake)
#   QT_SRC           apt-get source argument (default pins the version the host Qt has)
#   JOBS             parallel jobs (default 2)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
OUT=${OUT:-$PWD}
mkdir -p "$OUT"; OUT=$(cd "$OUT" && pwd)
TOOLCHAIN_FILE=${TOOLCHAIN_FILE:-$here/../../cmake/mingw64-posix.cmake}
QT_SRC=${QT_SRC:-qt6-base=6.4.2+dfsg-10}
JOBS=${JOBS:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/qt-mingw64.XXXXXX")
trap 'cd / && rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only "$QT_SRC" sqlite3
tar -xJf qt6-base_*.orig.tar.xz
src=$(find "$work" -maxdepth 1 -type d -name 'qtbase*' | head -n 1)

# The SQLite amalgamation (sqlite3.c, sqlite3.h, sqlite3ext.h) for Qt's bundled SQLite driver.
mkdir sqlite && tar -xJf sqlite3_*.orig.tar.xz -C sqlite --strip-components=1
mkdir sqlite-build && (cd sqlite-build && ../sqlite/configure >/dev/null && make sqlite3.c >/dev/null)
# Debian removed the folder with the bundled copy, so it is made again here.
mkdir -p "$src/src/3rdparty/sqlite"
cp sqlite-build/sqlite3.c sqlite-build/sqlite3.h sqlite/src/sqlite3ext.h "$src/src/3rdparty/sqlite/"

mkdir build && cd build
"$src/configure" -prefix "$work/qt-6.4.2-mingw64" -qt-host-path /usr -xplatform win32-g++ \
  -release -shared -nomake examples -nomake tests \
  -no-opengl -no-dbus -no-pkg-config -no-icu \
  -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre \
  -sql-sqlite -qt-sqlite -no-sql-odbc -no-sql-mysql -no-sql-psql -no-sql-ibase -no-sql-oci -no-sql-db2 \
  -no-feature-network -no-feature-printsupport -no-feature-zstd -no-feature-vulkan -no-feature-tabletevent \
  -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" \
     -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
cmake --build . -j"$JOBS"
cmake --install .
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner -cJf "$OUT/qt-6.4.2-mingw64.tar.xz" qt-6.4.2-mingw64
ls -l "$OUT/qt-6.4.2-mingw64.tar.xz"
