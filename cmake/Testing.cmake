# GoogleTest: the system package natively, built from Debian's sources for MinGW.
if(WIN32)
  if(NOT TARGET gtest)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  set(QUILLMAR_GTEST_MAIN gtest_main)
  set(QUILLMAR_GTEST gtest)
else()
  find_package(GTest REQUIRED)
  set(QUILLMAR_GTEST_MAIN GTest::gtest_main)
  set(QUILLMAR_GTEST GTest::gtest)
endif()

# quillmar_add_test(NAME SOURCES... LIBS ...): one GoogleTest binary, one ctest entry.
# Under the Windows build ctest runs it through Wine (the cross-compiling emulator), after
# the fixture that makes the Wine prefix.
function(quillmar_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE qm_project ${ARG_LIBS} ${QUILLMAR_GTEST_MAIN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()
