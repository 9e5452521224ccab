# Note spelling from option texts, frequencies and lattice steps.
if(TARGET arbor_model)
    arbor_add_fuzzer(fuzz_note_spelling SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_note_spelling.cpp LIBS arbor_model)
endif()
