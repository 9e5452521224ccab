# Start-up time of the real program to its window being mapped, beside a bare
# Qt window started the same way, the time from a wand request to sound, and
# (in process, through the sink too) from a mouse press on a ball to the first
# rendered sound plus the output latency PortAudio reports, and from a MIDI
# key to it.
# Needs an X display, xev and xdotool, the audio file sink and jackd: run
# bench/startup.sh.
if(TARGET arbor)
    arbor_add_bench(bench_startup
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp
        LIBS arbor_gui Qt5::Test ${CMAKE_DL_LIBS})
    add_dependencies(bench_startup arbor pipe_drain)
endif()
