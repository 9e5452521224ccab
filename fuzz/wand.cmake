# Readers of wand input: the UDP packet parser and the tag map reader.
if(TARGET arbor_serial)
    arbor_add_fuzzer(fuzz_wand_datagram SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_wand_datagram.cpp LIBS arbor_serial)
endif()
if(TARGET arbor_model)
    arbor_add_fuzzer(fuzz_tag_map SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_tag_map.cpp LIBS arbor_model)
endif()
