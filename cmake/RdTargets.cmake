# Helpers that keep every folder's CMakeLists short.
#
# rd_library(NAME [SOURCES ...] [DEPS ...]): a static library from every .cpp
# of the current folder (not recursive), or from the SOURCES listed. Headers are
# included as "folder/Header.h" from the source root.
function(rd_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(srcs ${ARG_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
  endif()
  if(ARG_DEPS)
    if(srcs)
      target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    else()
      target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
  endif()
endfunction()

# rd_test(NAME [DEPS ...] [LABELS ...]): a GoogleTest program from every
# *_test.cpp in the current folder, registered with CTest test by test. LABELS
# (e.g. gui) become the CTest labels of its tests (ctest -L selects by them; CI
# runs the labels engine, media, dvrsim and window under ThreadSanitizer).
function(rd_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT srcs)
    return()
  endif()
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_fixture.cpp)
  add_executable(${name} ${srcs} ${helpers})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE RD_SOURCE_DIR="${CMAKE_SOURCE_DIR}" RD_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RD_AUDIO_DEVICE=null")
  # Labels go on the folder: test discovery cannot carry list-valued test
  # properties, and a folder holds one test program.
  if(ARG_LABELS)
    set_property(DIRECTORY APPEND PROPERTY LABELS ${ARG_LABELS})
  endif()
endfunction()

# rd_tool(NAME [DEPS ...]): a program from main.cpp of the current folder. Every
# other .cpp of the folder goes into the library NAME_lib, which tests link.
function(rd_tool name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    return()
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  if(srcs)
    add_library(${name}_lib STATIC ${srcs})
  else()
    add_library(${name}_lib INTERFACE)
  endif()
  get_target_property(kind ${name}_lib TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${name}_lib INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name}_lib INTERFACE ${ARG_DEPS} Threads::Threads)
  else()
    target_include_directories(${name}_lib PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name}_lib PUBLIC ${ARG_DEPS} Threads::Threads)
  endif()
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(${name} PRIVATE ${name}_lib)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()

# rd_app(NAME MAIN main.cpp SOURCES ... [DEPS ...]): a windowed program. Its
# sources are listed, never globbed, so that a window cannot drift into a core
# library. SOURCES go into the library NAME_lib (which tests link), MAIN into
# the program, written to bin/.
function(rd_app name)
  cmake_parse_arguments(ARG "" "MAIN" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_MAIN OR NOT ARG_SOURCES)
    message(FATAL_ERROR "rd_app(${name}) needs MAIN and SOURCES")
  endif()
  add_library(${name}_lib STATIC ${ARG_SOURCES})
  target_include_directories(${name}_lib PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name}_lib PUBLIC ${ARG_DEPS} Qt6::Widgets Threads::Threads)
  add_executable(${name} ${ARG_MAIN})
  target_link_libraries(${name} PRIVATE ${name}_lib)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endfunction()

# rd_bench(NAME [DEPS ...]): a Google Benchmark program from one or more sources.
function(rd_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# rd_fuzz(NAME SOURCE [DEPS ...]): a libFuzzer target. Under RD_FUZZ it is built
# with -fsanitize=fuzzer; otherwise it is linked with a small driver that runs
# every file of fuzz/corpus/NAME once, and that run is a test.
function(rd_fuzz name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(RD_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/corpus_driver.cpp)
    if(RD_BUILD_TESTS)
      add_test(NAME fuzz_corpus.${name}
               COMMAND ${name} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    endif()
  endif()
endfunction()
