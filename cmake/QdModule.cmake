# Our warning set. g++ 12 reports three warnings falsely when optimising, so they are
# switched off there: -Wrestrict on std::string concatenation (GCC bug 105651),
# -Wmismatched-new-delete inside Asio's coroutine frames (its frame allocator pairs its own
# operator new and delete), and -Wmaybe-uninitialized inside the JSON library's variant
# members under the sanitizers.
set(QD_WARNINGS -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND QD_WARNINGS -Wno-restrict -Wno-mismatched-new-delete -Wno-maybe-uninitialized)
endif()

# qd_add_module(<name> [EXCLUDE file...] [DEPS ...])
#   A static library qd_<name> built from every .cpp in the calling folder but the EXCLUDE
#   ones (a program's main). src/ is the include root, so headers are included as
#   "daemon/<module>/<file>.h".
function(qd_add_module name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(qd_${name} STATIC ${sources})
  target_include_directories(qd_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(qd_${name} PRIVATE ${QD_WARNINGS})
  target_link_libraries(qd_${name} PUBLIC ${ARG_DEPS})
endfunction()

# qd_add_tests(<name> [DEPS ...])
#   One GoogleTest executable from every *_test.cpp in the calling folder, registered with
#   CTest test by test. tests/ is an include root too, for tests/support helpers.
function(qd_add_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  add_executable(${name}_tests ${sources})
  target_include_directories(${name}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${name}_tests PRIVATE ${QD_WARNINGS})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
