# Shared helpers of the build.

include(GoogleTest)

# tl_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#             [TIMEOUT <seconds>] [DISCOVERY_MODE POST_BUILD|PRE_TEST])
# One GoogleTest binary per component. ctest sees each of its cases as a test of its own
# (named <binary>.Suite.Case), run as a process of its own, so a failure names its case and cases of one
# binary run in parallel. Cases are listed right after the link (POST_BUILD); a binary that
# cannot list its cases without a display says PRE_TEST, and ctest lists them when it starts.
# Test binaries see the source tree and the build tree through environment variables, never
# through the current folder.
function(tl_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;DISCOVERY_MODE" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(NOT T_DISCOVERY_MODE)
    set(T_DISCOVERY_MODE POST_BUILD)
  endif()
  gtest_discover_tests(${T_NAME}
    TEST_PREFIX ${T_NAME}.
    TEST_LIST ${T_NAME}_CASES
    DISCOVERY_MODE ${T_DISCOVERY_MODE}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # Properties whose values are lists (the environment, the labels) do not survive the
  # discovery's own argument passing, so they are set by a second ctest include file that runs
  # after the discovered cases are known.
  set(environment
    "TOLMERA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "TOLMERA_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "TOLMERA_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    "TOLMERA_LIB_DIR=${CMAKE_BINARY_DIR}/lib")
  set(labels ${T_NAME} ${T_LABELS})
  set(properties_file "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake")
  file(WRITE "${properties_file}"
    "if(${T_NAME}_CASES)\n"
    "  set_tests_properties(\${${T_NAME}_CASES} PROPERTIES\n"
    "    ENVIRONMENT [==[${environment}]==]\n"
    "    LABELS [==[${labels}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${properties_file}")
endfunction()

# Adds every subfolder of the calling folder that has a CMakeLists.txt, in name order.
function(tl_add_subdirectories)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT children)
  foreach(child ${children})
    get_filename_component(dir ${child} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()
