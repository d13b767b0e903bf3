# What both Windows cross-builds share; the toolchain file of each
# architecture sets CMAKE_SYSTEM_PROCESSOR and SORVINDA_MINGW_TRIPLET, then
# includes this.
set(CMAKE_SYSTEM_NAME Windows)

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
# (GCC bug 105651, -Wrestrict); it stays a warning here so that
# warnings-as-errors keeps meaning our own code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-error=restrict")
