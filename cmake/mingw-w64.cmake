# Cross-compiles for 64-bit Windows with mingw-w64 and runs what it builds (tests included) under
# wine. The POSIX-threads variant of the compiler provides std::thread and std::mutex.
# Libraries come from the sysroot that scripts/build-windows-deps fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QIV_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QIV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QIV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QIV_MINGW_TRIPLE}-windres)

if(NOT QIV_WIN_SYSROOT)
  get_filename_component(QIV_WIN_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-win/sysroot" ABSOLUTE)
endif()
set(QIV_WIN_SYSROOT "${QIV_WIN_SYSROOT}" CACHE PATH "Folder with the cross-built libraries")
# try_compile projects read this file again; they need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QIV_WIN_SYSROOT)

# The sysroot's libraries, then the toolchain's own (zlib from libz-mingw-w64-dev).
set(CMAKE_FIND_ROOT_PATH "${QIV_WIN_SYSROOT}" /usr/${QIV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${QIV_WIN_SYSROOT}/usr/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${QIV_WIN_SYSROOT}")

# Executables carry their runtime (libstdc++, winpthread) so they run from any folder.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(QIV_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QIV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QIV_WINE}")
endif()
