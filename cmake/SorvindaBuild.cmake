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
