# Tests of velmaro-photo, included by photo/CMakeLists.txt. Every test is added here,
# in the project's top directory, so that another build can include the test list.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

set(PHOTO_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(SIMULATION_TESTS ${PHOTO_TESTS_DIR}/timing_test.cpp ${PHOTO_TESTS_DIR}/pictures_test.cpp ${PHOTO_TESTS_DIR}/physics_test.cpp)
if(NOT WIN32)  # runs the program through a POSIX shell
  list(APPEND SIMULATION_TESTS ${PHOTO_TESTS_DIR}/simulate_command_test.cpp)
endif()
add_executable(photo_simulation_test ${SIMULATION_TESTS})
target_link_libraries(photo_simulation_test PRIVATE photo_core GTest::gtest_main)
target_compile_definitions(photo_simulation_test PRIVATE
  VELMARO_PHOTO_PROGRAM="$<TARGET_FILE:velmaro-photo>")
add_dependencies(photo_simulation_test velmaro-photo)
add_test(NAME photo_simulation COMMAND photo_simulation_test)
set_tests_properties(photo_simulation PROPERTIES TIMEOUT 300)

add_executable(photo_reader_test ${PHOTO_TESTS_DIR}/reader_test.cpp)
target_link_libraries(photo_reader_test PRIVATE photo_core GTest::gtest_main)
add_test(NAME photo_reader COMMAND photo_reader_test)
set_tests_properties(photo_reader PROPERTIES TIMEOUT 300)
