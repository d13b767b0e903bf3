# Test registration.
#
# sorvinda_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [NETWORK] [NETWORKS 2] [QT] [GTEST_MAIN])
#
# NETWORK: the test opens sockets or loads libqort (whose load-time set-up
# binds UDP 3250). It is then always run through scripts/isolated-net, which
# gives it a private pair of network namespaces, so nothing it sends can
# leave through the machine's own interfaces. NETWORKS 2 (implies NETWORK):
# the host has two module networks, the default route over the first only. Such executables must never be
# run by test discovery at build time, so every executable is one CTest test.
#
# QT: a Qt Test program run with the offscreen platform.

# Windows builds compile GoogleTest from source themselves (tests/windows).
if(NOT WIN32 AND BUILD_TESTING)
  find_package(GTest REQUIRED)
endif()

set(SORVINDA_ISOLATE ${PROJECT_SOURCE_DIR}/scripts/isolated-net)

function(sorvinda_add_test name)
  cmake_parse_arguments(T "NETWORK;QT;NO_GTEST_MAIN" "TIMEOUT;NETWORKS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  sorvinda_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  if(T_QT)
    target_link_libraries(${name} PRIVATE Qt6::Test Qt6::Widgets)
  elseif(NOT T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  endif()

  if(T_NETWORKS)
    add_test(NAME ${name} COMMAND ${SORVINDA_ISOLATE} run --networks ${T_NETWORKS} -- $<TARGET_FILE:${name}>)
    list(APPEND T_LABELS network)
  elseif(T_NETWORK)
    add_test(NAME ${name} COMMAND ${SORVINDA_ISOLATE} run -- $<TARGET_FILE:${name}>)
    list(APPEND T_LABELS network)
  else()
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}>)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(env
    "SORVINDA_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    "SORVINDA_LIB_DIR=${CMAKE_BINARY_DIR}/lib"
    "SORVINDA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    "QT_QPA_PLATFORM=offscreen")
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}")
endfunction()
