# Song package codec: the 512-byte header and LZHUF coding of the content.
add_library(kestro_package STATIC
  lzhuf.cpp
  package.cpp
)
target_link_libraries(kestro_package PUBLIC kestro_strings)

kestro_add_tests(package_tests
  SOURCES
    tests/lzhuf_reference.cpp
    tests/lzhuf_test.cpp
    tests/package_test.cpp
  LIBS kestro_package)

# Only with -DKESTRO_BENCH=ON; through the shared helper where the tree has it.
if(COMMAND kestro_add_benchmark)
  kestro_add_benchmark(package_bench SOURCES bench/package_bench.cpp LIBS kestro_package)
elseif(KESTRO_BENCH)
  add_executable(package_bench bench/package_bench.cpp)
  target_link_libraries(package_bench PRIVATE kestro_package)
  set_target_properties(package_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/benchmarks)
endif()
