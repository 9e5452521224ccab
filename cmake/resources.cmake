# Run-time resources that live next to the executable: the Pd patch set, the
# two style sheets and the note glyphs. They are copied into the build folder
# on every build (cmake/install.cmake installs them beside the program).
add_custom_target(arbor_runtime_files ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/patches" "${CMAKE_BINARY_DIR}/patches"
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/resources/style" "${CMAKE_BINARY_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${CMAKE_SOURCE_DIR}/resources/glyphs" "${CMAKE_BINARY_DIR}"
    COMMENT "Copying patches, style sheets and glyphs next to the executable")
