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

if(KESTRO_BENCH)
  # The published coder, the yardstick of the package benchmark, built with
  # the -O2 its authors would use.
  add_library(kestro_lzhuf_reference OBJECT tests/lzhuf_reference.cpp)
  target_link_libraries(kestro_lzhuf_reference PRIVATE kestro_platform)
  target_compile_options(kestro_lzhuf_reference PRIVATE -O2)
endif()
kestro_add_benchmark(package_bench SOURCES bench/package_bench.cpp LIBS kestro_package kestro_lzhuf_reference)
