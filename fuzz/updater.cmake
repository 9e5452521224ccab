# Reader of the published version list and the addresses it names.
if(TARGET arbor_updater)
    arbor_add_fuzzer(fuzz_version_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_version_list.cpp LIBS arbor_updater)
endif()
