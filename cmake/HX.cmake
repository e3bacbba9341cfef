# Small helpers shared by every folder's CMakeLists.txt.

if(HX_FUZZ)
  # Everything carries coverage and ASan+UBSan; only the fuzz binaries link the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(HX_FUZZING=1)
elseif(HX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  # As in the thread sanitizer's build below: GCC 12 reports "may be used uninitialized" inside
  # std::variant, std::optional, std::function and std::regex members, and a memset "bound
  # exceeds maximum object size" inside std::vector::resize, on paths the instrumentation adds.
  # They print, and the normal build keeps both errors for our code; they do not stop this one.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=maybe-uninitialized -Wno-error=stringop-overflow)
  endif()
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(HX_SANITIZER_ADDRESS=1)
elseif(HX_SANITIZE STREQUAL "undefined")
  # Clang's undefined-behaviour checks (some of which GCC's lacks, such as loads of values an
  # enumeration does not hold), each fatal at its first report.
  add_compile_options(-fsanitize=undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=undefined)
  add_compile_definitions(HX_SANITIZER_UNDEFINED=1)
elseif(HX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  # With the thread sanitizer's instrumentation GCC 12 inlines the standard library differently
  # and its flow analysis then reports "may be used uninitialized" inside moved-from or empty
  # std::variant and std::optional members (a Key made from an integer, an empty colour) that
  # no path reads. The warning still prints here, and the normal build, where every warning is
  # an error, still checks our code for it; it only does not stop this build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=maybe-uninitialized)
  endif()
  add_link_options(-fsanitize=thread)
  add_compile_definitions(HX_SANITIZER_THREAD=1)
endif()

# The program's allocator: jemalloc, whose per-thread caches and size classes serve the many
# small objects of a list's parse and save (values, rows, managed objects) far more cheaply than
# the C library's. The app and the benchmarks, which measure the app's paths, link it; the tests
# keep the C library's, and sanitizer and fuzzing builds their own.
add_library(hx_allocator INTERFACE)
if(NOT HX_SANITIZE AND NOT HX_FUZZ)
  find_library(HX_JEMALLOC NAMES jemalloc REQUIRED)
  target_link_libraries(hx_allocator INTERFACE ${HX_JEMALLOC})
  target_sources(hx_allocator INTERFACE ${CMAKE_SOURCE_DIR}/cmake/allocator_options.c)
endif()

# Sources are compiled in batches of eight per translation unit (CMake's unity build): each source
# parses much the same large set of headers, which was most of a cold build's time on two cores.
# Every file of one library or test area must therefore compile beside every other: no two
# file-local helpers of one name (share one where they are the same, else name each for what it
# is). -DHX_UNITY=OFF compiles each source alone.
option(HX_UNITY "Compile each library's and test executable's sources in batches" ON)
# Eight sources a batch keeps an edit's recompile short. CI, which builds once from an empty folder,
# takes sixteen (HX_UNITY_BATCH=16 ./hx build): each batch of sixteen is two batches of eight
# compiled as one, so it meets every clash of names that eight would, and it spends about a sixth
# less CPU on the same sources (the inline functions and templates two batches both use are
# compiled once).
set(HX_UNITY_BATCH 8 CACHE STRING "Sources per unity batch")

# hx_library(NAME [DEPS targets...]): one static library from the .cpp files of this folder
# (and its sub-folders), headers included from the repository root ("platform/foundation/value.h").
function(hx_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  if(HX_UNITY)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${HX_UNITY_BATCH})
  endif()
endfunction()

# The test executables' own code (the cases, fixtures and oracles, most of it gtest's macros and
# templates), the corpus replays' entry points and the benchmarks' own code are compiled at -Og in
# the default build: GCC's level for code that is read more than it is run, about a fifth less
# compile time than -O1 and a half less than -O2 (the tests' objects are the second largest share
# of a cold build, after the libraries), while the libraries they exercise keep the build's -O2.
# (The benchmarks measure in their own Release build, ./hx bench, which keeps -O3 throughout.)
# Their own code carries no debug information either (-g0, a twentieth less again): a failing
# case names its file and line itself, and what a backtrace or a sanitizer report needs of lines
# is in the libraries, which keep it.
# GCC 12 below -O2 inlines less and then reports "may be used uninitialized" inside std::variant
# members moved into aggregates on paths no input takes (as the sanitizer builds do): in the tests'
# own code it stays a warning; the libraries keep the error.
set(HX_TEST_OPTIMIZATION $<$<CONFIG:RelWithDebInfo>:-Og> $<$<CONFIG:RelWithDebInfo>:-g0>
    $<$<AND:$<CONFIG:RelWithDebInfo>,$<CXX_COMPILER_ID:GNU>>:-Wno-error=maybe-uninitialized>)

# hx_test(AREA [LIBS targets...]): one gtest executable for an area from tests/AREA/*_test.cpp,
# each test case registered with CTest and labelled by area.
include(GoogleTest)
function(hx_test area)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  set(exe test_${area})
  add_executable(${exe} ${srcs} ${ARG_SOURCES})
  target_link_libraries(${exe} PRIVATE ${ARG_LIBS} hx_test_support GTest::gtest GTest::gmock)
  target_compile_definitions(${exe} PRIVATE HX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" HX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  target_compile_options(${exe} PRIVATE ${HX_TEST_OPTIMIZATION})
  # GCC warns when a TEST_F class derives from a fixture in an anonymous namespace of an included
  # file; in a batch that is how every file is included, and the warning means nothing there.
  if(HX_UNITY)
    set_target_properties(${exe} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${HX_UNITY_BATCH})
    target_compile_options(${exe} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
  gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${area} ENVIRONMENT "HX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# hx_fuzz(NAME SOURCE LIBS...): with HX_FUZZ a libFuzzer binary fuzz_NAME; always a replay test
# that runs the entry point over fuzz/corpus/NAME so regressions show without clang.
function(hx_fuzz name source)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(HX_FUZZ)
    add_executable(fuzz_${name} ${source})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${name} PRIVATE ${ARG_LIBS})
  else()
    # The corpus walker is compiled once for every replay program.
    if(NOT TARGET hx_replay_main)
      add_library(hx_replay_main OBJECT ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    endif()
    add_executable(replay_${name} ${source} $<TARGET_OBJECTS:hx_replay_main>)
    target_link_libraries(replay_${name} PRIVATE ${ARG_LIBS})
    target_compile_options(replay_${name} PRIVATE ${HX_TEST_OPTIMIZATION})
    add_test(NAME fuzz_replay.${name} COMMAND replay_${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS fuzz)
    if(NOT TARGET fuzz_replays)
      add_custom_target(fuzz_replays)
    endif()
    add_dependencies(fuzz_replays replay_${name})
  endif()
endfunction()

# hx_bench(NAME SOURCES... LIBS...): a libbenchmark executable under bench/, built after the bundle.
function(hx_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(HX_BENCH AND NOT HX_FUZZ)
    add_executable(bench_${name} ${ARG_SOURCES})
    target_link_libraries(bench_${name} PRIVATE ${ARG_LIBS} benchmark::benchmark hx_allocator)
    target_compile_options(bench_${name} PRIVATE ${HX_TEST_OPTIMIZATION})
    # A benchmark measures the app's paths, which read the bundle (formats, icons, pages):
    # without it they would measure the misses instead.
    add_dependencies(bench_${name} hx_bundle)
  endif()
endfunction()
