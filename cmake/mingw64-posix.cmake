# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (POSIX threads, for
# std::thread) against a Qt built for it (scripts/setup-windows).
#   -DQT_MINGW_PREFIX=<the Qt for Windows folder>
#   -DLIBPQ_MINGW_PREFIX=<the libpq for Windows folder> (the shared journal's client library)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)
set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}" CACHE PATH "the Qt for Windows folder")
set(LIBPQ_MINGW_PREFIX "$ENV{LIBPQ_MINGW_PREFIX}" CACHE PATH "the libpq for Windows folder")
# Libraries and headers come only from the cross prefixes, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QT_MINGW_PREFIX} ${LIBPQ_MINGW_PREFIX})
set(CMAKE_PREFIX_PATH ${QT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Qt's host tools (moc, rcc, uic) come from Debian's own Qt of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
