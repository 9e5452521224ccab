# The MIDI message parser, built from its source alone (it needs nothing else).
arbor_add_fuzzer(fuzz_midi_parser SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_midi_parser.cpp ${CMAKE_SOURCE_DIR}/src/midi/MidiParser.cpp)
target_include_directories(fuzz_midi_parser PRIVATE ${CMAKE_SOURCE_DIR}/src/midi)
