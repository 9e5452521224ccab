# Start-up and click-to-sound times of the real program, beside a bare Qt
# window started the same way. Needs an X display and the audio file sink:
# run bench/startup.sh.
if(TARGET arbor)
    arbor_add_bench(bench_startup
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp
        LIBS Qt5::Widgets)
    add_dependencies(bench_startup arbor pipe_drain)
endif()
