# Start-up time of the real program to its window being mapped, beside a bare
# Qt window started the same way, and the time from a wand request to sound.
# Needs an X display, xev and xdotool, and the audio file sink: run
# bench/startup.sh.
if(TARGET arbor)
    arbor_add_bench(bench_startup
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp
        LIBS Qt5::Widgets Qt5::Network)
    add_dependencies(bench_startup arbor pipe_drain)
endif()
