# Standard MIDI files: the merged stream reader, the single-track writer and
# the whole-file event list.
add_library(kestro_midi STATIC
  ${CMAKE_CURRENT_LIST_DIR}/midi_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/midi_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/song_event_list.cpp
)
target_link_libraries(kestro_midi PUBLIC kestro_strings)

kestro_add_tests(midi_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/midi_reader_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/midi_writer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/song_event_list_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/midi_interop_test.cpp
  LIBS kestro_midi)

if(KESTRO_BENCH)
  add_executable(midi_bench ${CMAKE_CURRENT_LIST_DIR}/bench/midi_bench.cpp)
  target_link_libraries(midi_bench PRIVATE kestro_midi)
  set_target_properties(midi_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endif()
