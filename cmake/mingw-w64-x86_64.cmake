# Cross-builds for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# scripts/windows.sh does that, builds, checks the exports and runs the tests under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: its libstdc++ has std::mutex and std::thread, the win32 one (GCC 12)
# has not.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Windows libraries live in mingw's root, or in prefixes of their own (scripts/libdivecomputer.sh
# --windows): those named by CMAKE_PREFIX_PATH, or by PKG_CONFIG_PATH as PREFIX/lib/pkgconfig, are
# roots too, else pkg-config finds a library there and the lookups below never do.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_PREFIX_PATH})
if(DEFINED ENV{PKG_CONFIG_PATH})
    string(REPLACE ":" ";" pkg_config_dirs "$ENV{PKG_CONFIG_PATH}")
    foreach(dir IN LISTS pkg_config_dirs)
        if(dir MATCHES "^(/.+)/lib/pkgconfig/?$")
            list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_MATCH_1})
        endif()
    endforeach()
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A JVM on Windows loads the DLLs with nothing beside them: libstdc++, libgcc and winpthread are
# linked in, not needed as DLLs of their own. A DLL without export list (dcsim.dll) exports all it
# defines, but not winpthread's functions (ld already leaves out libgcc's and libstdc++'s): its
# users link their own.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,libpthread.a:libwinpthread.a")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# jni.h comes from the build machine's JDK, jni_md.h from here.
set(DIVECONNECTOR_JNI_MD_DIR ${CMAKE_CURRENT_LIST_DIR}/jni-win32)

# Tests and test discovery run under wine where it is installed.
find_program(DIVECONNECTOR_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(DIVECONNECTOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${DIVECONNECTOR_WINE})
endif()
