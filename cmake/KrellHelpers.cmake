# krell_add_gtest(NAME <target> LABEL <unit|integration|gui> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest program and registers each of its tests with CTest under the label.
function(krell_add_gtest)
  cmake_parse_arguments(ARG "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  include(GoogleTest)
  gtest_discover_tests(${ARG_NAME}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()

# krell_add_bench(<name> LIBS <targets...>): one Google Benchmark program from bench/<name>.cpp,
# built only when the source exists and every library it needs is configured.
function(krell_add_bench name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/bench/${name}.cpp)
    return()
  endif()
  foreach(lib ${ARG_LIBS})
    if(NOT TARGET ${lib})
      return()
    endif()
  endforeach()
  add_executable(${name} ${PROJECT_SOURCE_DIR}/bench/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
