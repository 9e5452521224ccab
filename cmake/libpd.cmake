# Static libpd built from the puredata source package that
# scripts/fetch-libpd.sh unpacks into the build tree. The file list follows
# the package's libpd/Makefile.
set(LIBPD_SOURCE_DIR "${CMAKE_BINARY_DIR}/_deps/puredata" CACHE PATH
    "Unpacked puredata source package (with src/z_libpd.c)")

if(NOT EXISTS "${LIBPD_SOURCE_DIR}/src/z_libpd.c")
    execute_process(
        COMMAND "${CMAKE_SOURCE_DIR}/scripts/fetch-libpd.sh" "${LIBPD_SOURCE_DIR}"
        RESULT_VARIABLE _libpd_fetch_result)
    if(NOT _libpd_fetch_result EQUAL 0 OR NOT EXISTS "${LIBPD_SOURCE_DIR}/src/z_libpd.c")
        message(FATAL_ERROR "libpd sources not found in ${LIBPD_SOURCE_DIR}; run scripts/fetch-libpd.sh")
    endif()
endif()

set(_pd "${LIBPD_SOURCE_DIR}/src")
set(_extra "${LIBPD_SOURCE_DIR}/extra")
set(_libpd_names
    g_canvas g_graph g_text g_rtext g_array g_template g_io
    g_scalar g_traversal g_guiconnect g_readwrite g_editor g_clone
    g_all_guis g_bang g_mycanvas g_numbox g_radio g_slider
    g_toggle g_undo g_vumeter g_editor_extras
    m_pd m_class m_obj m_atom m_memory m_binbuf
    m_conf m_glob m_sched
    s_main s_inter s_inter_gui s_print
    s_loader s_path s_entry s_audio s_midi s_net s_utf8
    s_audio_paring
    d_ugen d_ctl d_arithmetic d_osc d_filter d_dac d_misc
    d_math d_fft d_fft_fftsg d_array d_global
    d_delay d_resample d_soundfile d_soundfile_aiff d_soundfile_caf
    d_soundfile_next d_soundfile_wave
    x_arithmetic x_connective x_interface x_midi x_misc
    x_time x_acoustics x_net x_text x_gui x_list x_array
    x_file x_scalar x_vexp x_vexp_if x_vexp_fun
    x_libpdreceive s_audio_dummy s_midi_dummy
    z_hooks z_libpd z_print_util z_queued z_ringbuffer)
set(_libpd_sources)
foreach(_n IN LISTS _libpd_names)
    list(APPEND _libpd_sources "${_pd}/${_n}.c")
endforeach()
foreach(_e bob~ bonk~ choice fiddle~ loop~ lrshift~ pique sigmund~ pd~ stdout)
    list(APPEND _libpd_sources "${_extra}/${_e}/${_e}.c")
endforeach()

add_library(libpd STATIC ${_libpd_sources})
set_target_properties(libpd PROPERTIES OUTPUT_NAME pd POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET default)
target_compile_definitions(libpd PUBLIC PD HAVE_UNISTD_H USEAPI_DUMMY LIBPD_EXTRA HAVE_LIBDL)
target_compile_options(libpd PRIVATE -w -ffast-math -funroll-loops -fomit-frame-pointer -O3)
target_include_directories(libpd SYSTEM PUBLIC "${_pd}")
find_package(Threads REQUIRED)
target_link_libraries(libpd PUBLIC Threads::Threads m ${CMAKE_DL_LIBS})
add_library(libpd::libpd ALIAS libpd)
