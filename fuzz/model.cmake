# Readers of the lattice file and the options file.
if(TARGET arbor_model)
    arbor_add_fuzzer(fuzz_lattice_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lattice_file.cpp LIBS arbor_model)
    arbor_add_fuzzer(fuzz_options SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_options.cpp LIBS arbor_model)
endif()
