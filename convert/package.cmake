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
  add_executable(package_bench bench/package_bench.cpp)
  target_link_libraries(package_bench PRIVATE kestro_package)
endif()
