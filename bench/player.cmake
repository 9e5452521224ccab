if(TARGET arbor_player)
    arbor_add_bench(bench_player SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_player.cpp
        ${CMAKE_SOURCE_DIR}/tests/player/AllocationCounter.cpp LIBS arbor_player Qt5::Test)
    target_include_directories(bench_player PRIVATE ${CMAKE_SOURCE_DIR}/tests/player)
endif()
