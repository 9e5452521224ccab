# Readers of the lattice file, the options file and the MIDI map file.
if(TARGET arbor_model)
    arbor_add_fuzzer(fuzz_lattice_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lattice_file.cpp LIBS arbor_model)
    arbor_add_fuzzer(fuzz_options SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_options.cpp LIBS arbor_model)
    arbor_add_fuzzer(fuzz_midi_map SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_midi_map.cpp LIBS arbor_model)
endif()
