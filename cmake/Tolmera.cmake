# Shared helpers of the build.

# tl_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest binary per component, run by ctest as one test. Test binaries see the source
# tree and the build tree through environment variables, never through the current folder.
function(tl_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TOLMERA_SOURCE_DIR=${CMAKE_SOURCE_DIR};TOLMERA_BUILD_DIR=${CMAKE_BINARY_DIR};TOLMERA_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TOLMERA_LIB_DIR=${CMAKE_BINARY_DIR}/lib")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
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
