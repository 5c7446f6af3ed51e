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

kestro_add_benchmark(package_bench SOURCES bench/package_bench.cpp LIBS kestro_package)
