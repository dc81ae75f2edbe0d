# Tests of velmaro-photo, included by photo/CMakeLists.txt. Every test is added here,
# in the project's top directory, so that another build can include the test list.
find_package(GTest REQUIRED)

set(PHOTO_TESTS_DIR ${CMAKE_CURRENT_LIST_DIR})
# photo_test(name LIBRARIES... SOURCES...): one test program, run as one test.
function(photo_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LIBRARIES;SOURCES")
  add_executable(${name}_test ${arg_SOURCES})
  target_link_libraries(${name}_test PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name}_test)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# The screen's model and the simulator's physics, measured on its photographs.
photo_test(photo_simulation LIBRARIES photo_simulate
  SOURCES ${PHOTO_TESTS_DIR}/timing_test.cpp ${PHOTO_TESTS_DIR}/pictures_test.cpp ${PHOTO_TESTS_DIR}/physics_test.cpp
          ${PHOTO_TESTS_DIR}/shutter_test.cpp ${PHOTO_TESTS_DIR}/camera_test.cpp)

# The reader's stages, each fed simulated photographs or made-up profiles.
photo_test(photo_read_stages LIBRARIES photo_read photo_simulate SOURCES ${PHOTO_TESTS_DIR}/read_stages_test.cpp)

# The reader from end to end on simulated photographs, each read against its truth.
photo_test(photo_read_photos LIBRARIES photo_read photo_simulate SOURCES ${PHOTO_TESTS_DIR}/read_photos_test.cpp)

# Reading files from anyone: decoding and the reader's refusals. The reader alone, with
# the model: it builds without the simulator and the command line.
photo_test(photo_read_files LIBRARIES photo_read
  SOURCES ${PHOTO_TESTS_DIR}/decode_test.cpp ${PHOTO_TESTS_DIR}/read_photo_test.cpp)
target_compile_definitions(photo_read_files_test PRIVATE VELMARO_PHOTO_READABLE="${PHOTO_TESTS_DIR}/fuzz/seeds-readable/readable.jpg")

# The command line: the report, and the program run as a user would (through a POSIX shell).
set(CLI_TESTS ${PHOTO_TESTS_DIR}/report_test.cpp)
if(NOT WIN32)
  list(APPEND CLI_TESTS ${PHOTO_TESTS_DIR}/read_command_test.cpp ${PHOTO_TESTS_DIR}/simulate_command_test.cpp)
endif()
photo_test(photo_cli LIBRARIES photo_cli SOURCES ${CLI_TESTS})
target_compile_definitions(photo_cli_test PRIVATE VELMARO_PHOTO_PROGRAM="$<TARGET_FILE:velmaro-photo>"
  VELMARO_PHOTO_READABLE="${PHOTO_TESTS_DIR}/fuzz/seeds-readable/readable.jpg")
add_dependencies(photo_cli_test velmaro-photo)

# Which library may include which: the reader never the simulator or the command line,
# the model none of the others.
add_test(NAME photo_include_direction
         COMMAND ${CMAKE_COMMAND} -DPHOTO_DIR=${CMAKE_CURRENT_SOURCE_DIR} -P ${PHOTO_TESTS_DIR}/include_direction.cmake)

# The reader under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer: any
# bytes as an image file. The reader's sources are built once more, instrumented; the
# decoders (libjpeg, libpng) and OpenCV are the system's, not instrumented.
option(VELMARO_PHOTO_FUZZ "Build the reader's fuzz target (clang only)" ON)
if(VELMARO_PHOTO_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT WIN32)
  set(PHOTO_FUZZ_FLAGS -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O2)
  # The model and the reader, from their own source lists; comparisons are not traced:
  # the reader compares measurements, not magic values, and tracing them made each run
  # three times slower.
  add_library(photo_read_fuzzing STATIC ${MODEL_SOURCES} ${READ_SOURCES})
  target_include_directories(photo_read_fuzzing PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/..)
  target_include_directories(photo_read_fuzzing SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(photo_read_fuzzing PUBLIC opencv_core opencv_imgproc JPEG::JPEG PNG::PNG)
  target_compile_options(photo_read_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-sanitize-coverage=trace-cmp ${PHOTO_FUZZ_FLAGS})

  add_executable(read_photo_fuzz ${PHOTO_TESTS_DIR}/fuzz/read_photo_fuzz.cpp)
  target_link_libraries(read_photo_fuzz PRIVATE photo_read_fuzzing)
  target_compile_options(read_photo_fuzz PRIVATE -fsanitize=fuzzer,address,undefined ${PHOTO_FUZZ_FLAGS})
  target_link_options(read_photo_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)

  # The readable seed read once, then a short run from the small seeds (about 40 runs a
  # second under the sanitizers, most inputs growing into images of megapixels); the corpus it grows stays in the build tree. Inputs are at most as long as
  # the longest seed, so that images stay below about ten megapixels (1024 pixels a byte).
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus/read_photo_fuzz)
  add_test(NAME photo_read_fuzz_2000_runs
           COMMAND sh -c "\"$1\" \"$2\" && mkdir -p \"$3\" && exec \"$1\" -runs=2000 -seed=1 -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=20 \"$3\" \"$4\""
                   sh $<TARGET_FILE:read_photo_fuzz> ${PHOTO_TESTS_DIR}/fuzz/seeds-readable/readable.jpg
                   ${corpus} ${PHOTO_TESTS_DIR}/fuzz/seeds)
  set_tests_properties(photo_read_fuzz_2000_runs PROPERTIES TIMEOUT 300)
endif()

# The shutter-test session: its parts on made-up readings, and the verb on a session made
# by the simulator (EXIF in its JPEGs, a film scan named by its speed, a broken file).
set(SESSION_TESTS ${PHOTO_TESTS_DIR}/session_test.cpp)
if(NOT WIN32)
  list(APPEND SESSION_TESTS ${PHOTO_TESTS_DIR}/session_command_test.cpp)
endif()
photo_test(photo_session LIBRARIES photo_cli SOURCES ${SESSION_TESTS})
target_compile_definitions(photo_session_test PRIVATE VELMARO_PHOTO_PROGRAM="$<TARGET_FILE:velmaro-photo>")
add_dependencies(photo_session_test velmaro-photo)
if(NOT WIN32)
  # The page in headless Chromium; skipped, and shown as skipped, where it is not installed.
  photo_test(photo_session_page LIBRARIES photo_cli SOURCES ${PHOTO_TESTS_DIR}/session_page_test.cpp)
  target_compile_definitions(photo_session_page_test PRIVATE VELMARO_PHOTO_PROGRAM="$<TARGET_FILE:velmaro-photo>")
  add_dependencies(photo_session_page_test velmaro-photo)
  set_tests_properties(photo_session_page PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endif()
