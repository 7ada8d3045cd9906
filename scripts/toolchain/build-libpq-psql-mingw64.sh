#!/bin/sh
# Builds, from Debian's source packages, for x86_64-w64-mingw32 (POSIX-threads mingw-w64):
#   libpq-15-mingw64.tar.xz       libpq 15 (PostgreSQL client library) with OpenSSL 3.0: bin/libpq.dll,
#                                 bin/libssl-3-x64.dll, bin/libcrypto-3-x64.dll, include/, lib/libpq.a (import lib)
#   qsqlpsql-6.4.2-mingw64.tar.xz Qt 6.4.2's PostgreSQL SQL driver plugin, paths relative to the Qt prefix:
#                                 plugins/sqldrivers/qsqlpsql.dll (+ lib/cmake/Qt6Sql/Qt6QPSQLDriverPlugin*.cmake)
# The plugin is built alone from qt6-base's src/plugins/sqldrivers (a standalone CMake project) against a
# Qt for Windows (qt-6.4.2-mingw64.tar.xz); Qt itself is not rebuilt. About 6 minutes on 2 cores.
#
# Needs: a deb-src line for the release (and `apt-get update`), dpkg-dev, g++-mingw-w64-x86-64-posix, mingw-w64,
# cmake, ninja-build, make, perl, qt6-base-dev and qt6-base-dev-tools (host moc), xz-utils.
# Settings (environment):
#   OUT              where the archives go (default: the current folder)
#   QT_MINGW_PREFIX  the Qt for Windows folder (default: unpack qt-6.4.2-mingw64.tar.xz from OUT into the work
#                    folder, else /opt/qt-6.4.2-mingw64); only read, never written
#   TOOLCHAIN_FILE   CMake toolchain file (default: the tree's cmake/mingw64-posix.cmake)
#   WITH_OPENSSL     1 (default): libpq with OpenSSL (sslmode=require/verify-full work); 0: without
#   PG_SRC, OPENSSL_SRC, QT_SRC  apt-get source arguments (defaults pin the versions that were built and tested)
#   JOBS             parallel jobs (default 2);  KEEP_WORK=1 keeps the temporary work folder
set -eu
here=$(cd "$(dirname "$0")" && pwd)
OUT=${OUT:-$PWD}
TOOLCHAIN_FILE=${TOOLCHAIN_FILE:-$here/../../cmake/mingw64-posix.cmake}
WITH_OPENSSL=${WITH_OPENSSL:-1}
PG_SRC=${PG_SRC:-postgresql-15=15.18-0+deb12u1}
OPENSSL_SRC=${OPENSSL_SRC:-openssl=3.0.20-1~deb12u2}
QT_SRC=${QT_SRC:-qt6-base=6.4.2+dfsg-10}
JOBS=${JOBS:-2}
HOST=x86_64-w64-mingw32
CC=$HOST-gcc-posix

die() { echo "error: $*" >&2; exit 1; }
# logged LOG CMD...: run CMD with its output appended to LOG; on failure show the end of LOG and stop.
logged() {
    log=$1; shift
    "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; die "failed: $* (see $log)"; }
}
for t in apt-get dpkg-source cmake ninja make perl xz "$CC" "$HOST-objdump"; do
    command -v "$t" >/dev/null 2>&1 || die "$t not found"
done
[ -f "$TOOLCHAIN_FILE" ] || die "toolchain file not found: $TOOLCHAIN_FILE (set TOOLCHAIN_FILE)"
TOOLCHAIN_FILE=$(cd "$(dirname "$TOOLCHAIN_FILE")" && pwd)/$(basename "$TOOLCHAIN_FILE")
mkdir -p "$OUT"; OUT=$(cd "$OUT" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/libpq-psql-mingw64.XXXXXX")
echo "work folder: $work"
cd "$work"

if [ -z "${QT_MINGW_PREFIX:-}" ]; then
    if [ -f "$OUT/qt-6.4.2-mingw64.tar.xz" ]; then
        tar -xJf "$OUT/qt-6.4.2-mingw64.tar.xz" -C "$work"
        QT_MINGW_PREFIX=$work/qt-6.4.2-mingw64
    else
        QT_MINGW_PREFIX=/opt/qt-6.4.2-mingw64
    fi
fi
[ -f "$QT_MINGW_PREFIX/lib/cmake/Qt6Sql/Qt6SqlConfig.cmake" ] || die "no Qt for mingw at $QT_MINGW_PREFIX"

# --- sources ---------------------------------------------------------------------------------------------
srcs="$PG_SRC $QT_SRC"
[ "$WITH_OPENSSL" = 1 ] && srcs="$srcs $OPENSSL_SRC"
# shellcheck disable=SC2086
apt-get source --download-only $srcs
# dpkg-source applies Debian's patches (for OpenSSL: security fixes; for PostgreSQL: Debian paths, which do
# not concern libpq on Windows). A missing signing key is only a warning.
dpkg-source -x postgresql-15_*.dsc
pgsrc=$(find "$work" -maxdepth 1 -type d -name 'postgresql-15-*' | head -n 1)
# Only src/plugins/sqldrivers of qt6-base is needed (Debian's qt6-base patches there touch ODBC only).
tar -xJf qt6-base_*.orig.tar.xz --wildcards '*/src/plugins/sqldrivers/*'
sqlsrc=$(find "$work" -maxdepth 4 -type d -path '*/src/plugins/sqldrivers' | head -n 1)

stage=$work/stage
pgprefix=/libpq-15-mingw64          # compiled-in paths (pg_service.conf default); installed via DESTDIR
P=$stage$pgprefix
set --                              # extra configure arguments for libpq

# --- OpenSSL (shared: libssl-3-x64.dll, libcrypto-3-x64.dll) ---------------------------------------------
if [ "$WITH_OPENSSL" = 1 ]; then
    dpkg-source -x openssl_*.dsc
    sslsrc=$(find "$work" -maxdepth 1 -type d -name 'openssl-3*' | head -n 1)
    mkdir "$work/build-openssl" && cd "$work/build-openssl"
    logged configure.log perl "$sslsrc/Configure" mingw64 --cross-compile-prefix=$HOST- CC=gcc-posix shared \
        no-tests --prefix=/openssl-3-mingw64 --libdir=lib --openssldir='C:/Program Files/Common Files/SSL'
    logged build.log make -j"$JOBS" build_libs
    logged install.log make install_dev DESTDIR="$stage"
    set -- --with-ssl=openssl CPPFLAGS="-I$stage/openssl-3-mingw64/include" LDFLAGS="-L$stage/openssl-3-mingw64/lib"
fi

# --- libpq (client library only) -------------------------------------------------------------------------
mkdir "$work/build-pg" && cd "$work/build-pg"
logged configure.log "$pgsrc/configure" --host=$HOST CC="$CC" --prefix=$pgprefix \
    --without-readline --without-zlib --without-icu "$@"
for d in src/include src/common src/port src/interfaces/libpq; do
    logged build.log make -j"$JOBS" -C "$d"
done
logged install.log make -C src/include install DESTDIR="$stage"
logged install.log make -C src/interfaces/libpq install DESTDIR="$stage"
# Client files only: drop the server headers and the copy of libpq.dll in lib/ (bin/libpq.dll is the one).
find "$P/include" -depth -type d -name server -exec rm -rf {} +
find "$P/include" -depth -type d -empty -delete
rm -f "$P/lib/libpq.dll"
mkdir -p "$P/share/doc/libpq-15"
cp "$pgsrc/COPYRIGHT" "$P/share/doc/libpq-15/COPYRIGHT.PostgreSQL"
if [ "$WITH_OPENSSL" = 1 ]; then
    cp "$stage"/openssl-3-mingw64/bin/libssl-3-x64.dll "$stage"/openssl-3-mingw64/bin/libcrypto-3-x64.dll "$P/bin/"
    cp "$sslsrc/LICENSE.txt" "$P/share/doc/libpq-15/LICENSE.OpenSSL.txt"
fi
# shellcheck disable=SC2016
# A relocatable libpq.pc (OpenSSL's .pc files and libpgcommon/libpgport are not shipped: a DLL-only prefix).
sed -i -e 's|^prefix=.*|prefix=${pcfiledir}/../..|' -e 's|^Requires.private:.*|Requires.private:|' \
    -e 's|^Libs.private:.*|Libs.private: -lshell32 -lws2_32 -lsecur32|' "$P/lib/pkgconfig/libpq.pc"

# Every DLL that libpq.dll needs must be a Windows system DLL or shipped in bin/.
for dll in "$P"/bin/*.dll; do
    for dep in $("$HOST-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
        case $(echo "$dep" | tr '[:upper:]' '[:lower:]') in
            kernel32.dll|advapi32.dll|msvcrt.dll|secur32.dll|shell32.dll|ws2_32.dll|user32.dll|crypt32.dll) ;;
            *) [ -f "$P/bin/$dep" ] || die "$(basename "$dll") needs $dep, which is not shipped" ;;
        esac
    done
done

# --- Qt's QPSQL plugin, built alone against the prebuilt Qt --------------------------------------------------
# PostgreSQL_ROOT does not work with the toolchain file (CMAKE_FIND_ROOT_PATH_MODE_* ONLY re-roots it under
# the Qt and mingw prefixes), so the include folder and the import library are given explicitly.
logged "$work/sqldrivers.log" cmake -S "$sqlsrc" -B "$work/build-sqldrivers" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" -DQT_MINGW_PREFIX="$QT_MINGW_PREFIX" \
    -DCMAKE_INSTALL_PREFIX="$stage/qt" \
    -DFEATURE_sql_psql=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF \
    -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF \
    -DPostgreSQL_INCLUDE_DIR="$P/include" -DPostgreSQL_LIBRARY="$P/lib/libpq.a"
logged "$work/sqldrivers.log" cmake --build "$work/build-sqldrivers" -j"$JOBS"
logged "$work/sqldrivers.log" cmake --install "$work/build-sqldrivers"
[ -f "$stage/qt/plugins/sqldrivers/qsqlpsql.dll" ] || die "qsqlpsql.dll was not built"

# --- archives ----------------------------------------------------------------------------------------------
tarx() { tar --sort=name --owner=0 --group=0 --numeric-owner -cJf "$@"; }
tarx "$OUT/libpq-15-mingw64.tar.xz" -C "$stage" libpq-15-mingw64
(cd "$stage/qt" && tarx "$OUT/qsqlpsql-6.4.2-mingw64.tar.xz" plugins/sqldrivers/qsqlpsql.dll \
    lib/cmake/Qt6Sql/Qt6QPSQLDriverPlugin*.cmake)

for dll in "$P"/bin/*.dll "$stage/qt/plugins/sqldrivers/qsqlpsql.dll"; do
    echo "$(basename "$dll") imports:" "$("$HOST-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
done
ls -l "$OUT/libpq-15-mingw64.tar.xz" "$OUT/qsqlpsql-6.4.2-mingw64.tar.xz"
if [ "${KEEP_WORK:-0}" = 1 ]; then echo "kept $work"; else cd / && rm -rf "$work"; fi
