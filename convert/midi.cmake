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

kestro_add_benchmark(midi_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench/midi_bench.cpp LIBS kestro_midi)
