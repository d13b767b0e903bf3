# Cross-build for 32-bit Windows (i686) with Debian's mingw-w64 (the "posix"
# thread model: std::thread and std::mutex through winpthreads).
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SORVINDA_MINGW_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER ${SORVINDA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVINDA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVINDA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SORVINDA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs and the DLL carry the C and C++ run-times (and winpthreads)
# inside, so that they run from a copied folder with no mingw DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# GCC 12 reports a false overlap in libstdc++'s std::string code at -O3
# (GCC bug 105651, -Wrestrict); it stays a
# warning here so that warnings-as-errors keeps meaning our own code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-error=restrict")
