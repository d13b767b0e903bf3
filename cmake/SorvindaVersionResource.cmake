# Version resources of the deliverables.
#
# sorvinda_add_version_resource(TARGET DECLARATION_FILE)
#
# DECLARATION_FILE is a VERSIONINFO statement in resource-script form (see
# resources/*.version). Its placeholders are filled from the version numbers
# of the top CMakeLists.txt:
#   @SORVINDA_QORT_VERSION_COMMAS@  1,1,2,0      @SORVINDA_QORT_VERSION_TEXT@  1, 1, 2, 0
#   @SORVINDA_APP_VERSION_COMMAS@   1,3,1,0      @SORVINDA_APP_VERSION_TEXT@   1, 3, 1, 0
#   @SORVINDA_RELEASE_VERSION_COMMAS@ 1,4,0,0    @SORVINDA_RELEASE_VERSION_TEXT@ 1, 4, 0, 0
# For Windows the declaration is the resource script itself: windres
# compiles it into the file's .rsrc section. Otherwise, at build time the encoder (sorvinda-verencode, from versioninfo/) turns it
# into a VS_VERSIONINFO block, written as a C source that places the block in
# the ELF section .vs_version_info of TARGET.
#
# sorvinda_configure_version_declaration(DECLARATION_FILE OUTPUT_FILE)
# fills the placeholders only; tests use it to compare with other compilers.

set(SORVINDA_VERSION_ENCODER_SOURCES
  ${PROJECT_SOURCE_DIR}/versioninfo/verencodemain.cpp
  ${PROJECT_SOURCE_DIR}/versioninfo/versiondeclaration.cpp
  ${PROJECT_SOURCE_DIR}/versioninfo/versionencoder.cpp)

# The encoder is a build tool: it is defined here rather than in
# versioninfo/ so that a deliverable can be built with any selection of
# SORVINDA_DIRS, and it is only built when a version resource needs it.
if(NOT TARGET sorvinda-verencode)
  add_executable(sorvinda-verencode EXCLUDE_FROM_ALL ${SORVINDA_VERSION_ENCODER_SOURCES})
  target_include_directories(sorvinda-verencode PRIVATE ${PROJECT_SOURCE_DIR})
  sorvinda_warnings(sorvinda-verencode)
endif()

function(sorvinda_configure_version_declaration declaration output)
  foreach(which QORT APP RELEASE)
    string(REPLACE "." "," SORVINDA_${which}_VERSION_COMMAS "${SORVINDA_${which}_VERSION}")
    string(REPLACE "." ", " SORVINDA_${which}_VERSION_TEXT "${SORVINDA_${which}_VERSION}")
  endforeach()
  configure_file(${declaration} ${output} @ONLY)
endfunction()

if(WIN32)
  enable_language(RC)
endif()

function(sorvinda_add_version_resource target declaration)
  get_filename_component(stem ${declaration} NAME_WE)
  if(WIN32)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-${stem}.rc)
    sorvinda_configure_version_declaration(${declaration} ${script})
    target_sources(${target} PRIVATE ${script})
    return()
  endif()
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${target}-${stem}.version)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}-version-resource.c)
  sorvinda_configure_version_declaration(${declaration} ${configured})
  add_custom_command(OUTPUT ${generated}
    COMMAND sorvinda-verencode --c ${configured} ${generated}
    DEPENDS sorvinda-verencode ${configured}
    COMMENT "Encoding the version resource of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${generated})
endfunction()
