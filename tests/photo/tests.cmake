# Tests of velmaro-photo, included by photo/CMakeLists.txt. Every test is added here,
# in the project's top directory, so that another build can include the test list.
find_package(GTest REQUIRED)

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

# Reading files from anyone: decoding, the reader's refusals, and the read command.
set(READING_TESTS ${PHOTO_TESTS_DIR}/decode_test.cpp ${PHOTO_TESTS_DIR}/read_photo_test.cpp)
if(NOT WIN32)  # runs the program through a POSIX shell
  list(APPEND READING_TESTS ${PHOTO_TESTS_DIR}/read_command_test.cpp)
endif()
add_executable(photo_reading_test ${READING_TESTS})
target_link_libraries(photo_reading_test PRIVATE photo_core GTest::gtest_main)
target_compile_definitions(photo_reading_test PRIVATE VELMARO_PHOTO_TEST_INPUTS="${PHOTO_TESTS_DIR}/inputs"
  VELMARO_PHOTO_PROGRAM="$<TARGET_FILE:velmaro-photo>")
add_dependencies(photo_reading_test velmaro-photo)
add_test(NAME photo_reading COMMAND photo_reading_test)
set_tests_properties(photo_reading PROPERTIES TIMEOUT 300)

# The reader under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer: any
# bytes as an image file. The reader's sources are built once more, instrumented; the
# decoders (libjpeg, libpng) and OpenCV are the system's, not instrumented.
option(VELMARO_PHOTO_FUZZ "Build the reader's fuzz target (clang only)" ON)
if(VELMARO_PHOTO_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT WIN32)
  set(PHOTO_FUZZ_FLAGS -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O2)
  # camera.cpp: the homography that the reader shares with the simulator. Comparisons
  # are not traced: the reader compares measurements, not magic values, and tracing
  # them made each run three times slower.
  add_library(photo_reader_fuzzing STATIC ${READER_SOURCES} ${SHARED_SOURCES} camera.cpp)
  target_include_directories(photo_reader_fuzzing PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
  target_include_directories(photo_reader_fuzzing SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(photo_reader_fuzzing PUBLIC opencv_core opencv_imgproc JPEG::JPEG PNG::PNG)
  target_compile_options(photo_reader_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-sanitize-coverage=trace-cmp ${PHOTO_FUZZ_FLAGS})

  add_executable(read_photo_fuzz ${PHOTO_TESTS_DIR}/fuzz/read_photo_fuzz.cpp)
  target_link_libraries(read_photo_fuzz PRIVATE photo_reader_fuzzing)
  target_compile_options(read_photo_fuzz PRIVATE -fsanitize=fuzzer,address,undefined ${PHOTO_FUZZ_FLAGS})
  target_link_options(read_photo_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

  # The readable seed read once, then a short run from the small seeds (about 400 runs a
  # second); the corpus it grows stays in the build tree. Inputs are at most as long as
  # the longest seed, so that images stay below about ten megapixels (1024 pixels a byte).
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/read_photo_fuzz)
  add_test(NAME photo_read_fuzz_10000_runs
           COMMAND sh -c "\"$1\" \"$2\" && mkdir -p \"$3\" && exec \"$1\" -runs=10000 -seed=1 -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=20 \"$3\" \"$4\""
                   sh $<TARGET_FILE:read_photo_fuzz> ${PHOTO_TESTS_DIR}/fuzz/seeds-readable/readable.jpg
                   ${corpus} ${PHOTO_TESTS_DIR}/fuzz/seeds)
  set_tests_properties(photo_read_fuzz_10000_runs PROPERTIES TIMEOUT 300)
endif()
