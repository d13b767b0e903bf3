# Project-wide build settings: warnings as errors for our own targets, and
# the sanitizer builds.

if(SORVINDA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(SORVINDA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT SORVINDA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "SORVINDA_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Hardening of the Linux programs and library (what Debian's packages get
# from dpkg-buildflags): stack canaries in functions with arrays or
# address-taken locals, and a read-only relocation table resolved at start-up
# (no lazy binding through a writable table). Checked variants of the string
# and memory functions (_FORTIFY_SOURCE) need the optimiser to know object
# sizes, so only the optimising configurations get them, and never the
# sanitizer builds, whose own checks replace the same functions. A value the
# compiler defines on its own is dropped first (-U before -D, both as
# options: definitions would come before it on the command line), so that a
# compiler that predefines another level does not warn of a redefinition.
# Windows builds are left as they are: the canaries would pull mingw's libssp
# into every program and the DLL, and relro is an ELF notion.
if(NOT WIN32)
  add_compile_options(-fstack-protector-strong)
  add_link_options(LINKER:-z,relro,-z,now)
  if(SORVINDA_SANITIZE STREQUAL "")
    set(optimising $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    add_compile_options($<${optimising}:-U_FORTIFY_SOURCE> $<${optimising}:-D_FORTIFY_SOURCE=2>)
  endif()
endif()

# Windows builds: debug information in every configuration, because
# scripts/build-windows ships the DLL and the programs stripped and their
# debug information in a separate zip (it costs the shipped files nothing
# and makes a crash readable). Each function and object in its own section,
# so that the linker drops what nothing refers to. Set here rather than in
# the toolchain file, whose flags reach only a new build folder.
if(WIN32)
  add_compile_options(-g -ffunction-sections -fdata-sections)
  add_link_options(LINKER:--gc-sections)
endif()

# Warnings are errors for project code only; third-party headers come in as
# system includes and are not affected.
function(sorvinda_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

if(SORVINDA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
  set(CMAKE_AUTOMOC ON)
endif()

# Adds each named sub-folder that has a CMakeLists.txt, honouring
# SORVINDA_DIRS.
function(sorvinda_add_subdirectories)
  foreach(dir ${ARGN})
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      continue()
    endif()
    if(SORVINDA_DIRS AND NOT dir IN_LIST SORVINDA_DIRS)
      continue()
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()

# Adds every sub-folder of the current folder (tools/, tests/, bench/).
function(sorvinda_add_all_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  sorvinda_add_subdirectories(${children})
endfunction()
