# MF4 conversion and the karaoke text processing.
add_library(kestro_convert STATIC
  ${CMAKE_CURRENT_LIST_DIR}/karaoke.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lyrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mf4_converter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/work_files.cpp
)
target_link_libraries(kestro_convert PUBLIC kestro_midi kestro_package kestro_charmap)

kestro_add_tests(convert_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/karaoke_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/mf4_converter_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/mf4_import_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/tune1000_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/retime_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/mf4_interop_test.cpp
  LIBS kestro_convert)

kestro_add_benchmark(mf4_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench/mf4_bench.cpp LIBS kestro_library)
