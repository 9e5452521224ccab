# Installed layout, as a Debian desktop program expects it:
#
#   lib/arbor/                  the executable with its read-only resources
#                               beside it (patches/, style sheets, glyphs),
#                               since the program reads them from its own folder
#   bin/arbor                   relative symbolic link to ../lib/arbor/arbor
#   share/applications/         the desktop entry
#   share/icons/hicolor/        the icon, scalable SVG and 256 px PNG
#   share/metainfo/             the AppStream metadata
#
# and a Debian package of it: `cpack -G DEB` in the build folder.
# Included after the program's folder, so that these rules run after its own.

set(ARBOR_APP_ID example.elmsby.arbor)
set(ARBOR_PRIVATE_DIR lib/arbor)
# Date of the release named by project(VERSION), for the AppStream metadata.
set(ARBOR_RELEASE_DATE 2026-12-06)
set(_desktop "${CMAKE_SOURCE_DIR}/resources/desktop")

if(TARGET arbor)
    install(TARGETS arbor RUNTIME DESTINATION ${ARBOR_PRIVATE_DIR})
    # bin/arbor is a link; the program resolves it when it looks for its
    # folder, so it finds its resources in lib/arbor.
    install(CODE [[
        set(_bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
        message(STATUS "Installing: ${_bin}/arbor -> ../lib/arbor/arbor")
        file(MAKE_DIRECTORY "${_bin}")
        file(REMOVE "${_bin}/arbor")
        file(CREATE_LINK ../lib/arbor/arbor "${_bin}/arbor" SYMBOLIC)
    ]])
endif()
install(DIRECTORY "${CMAKE_SOURCE_DIR}/patches" DESTINATION ${ARBOR_PRIVATE_DIR})
install(DIRECTORY "${CMAKE_SOURCE_DIR}/resources/style/" DESTINATION ${ARBOR_PRIVATE_DIR})
install(DIRECTORY "${CMAKE_SOURCE_DIR}/resources/glyphs/" DESTINATION ${ARBOR_PRIVATE_DIR})

configure_file("${_desktop}/${ARBOR_APP_ID}.metainfo.xml.in"
    "${CMAKE_BINARY_DIR}/${ARBOR_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${_desktop}/${ARBOR_APP_ID}.desktop" DESTINATION share/applications)
install(FILES "${CMAKE_BINARY_DIR}/${ARBOR_APP_ID}.metainfo.xml" DESTINATION share/metainfo)
install(FILES "${_desktop}/${ARBOR_APP_ID}.svg" DESTINATION share/icons/hicolor/scalable/apps)
install(FILES "${_desktop}/${ARBOR_APP_ID}.png" DESTINATION share/icons/hicolor/256x256/apps)

# Debian package. Its dependencies are computed from the libraries the
# program links (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME arbor)
set(CPACK_PACKAGE_VENDOR Elmsby)
set(CPACK_PACKAGE_CONTACT "Elmsby <arbor@elmsby.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop instrument for playing and studying just intonation")
set(CPACK_PACKAGE_DESCRIPTION
    "A lattice of balls, each an exact frequency ratio reached from 1/1 by prime
steps; clicking a ball toggles its note, which sounds through an embedded Pure
Data engine. A card for every sounding ball shows the note as a musician
writes it. Balls of a physical lattice sculpture can be played with an RFID
wand over UDP.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://elmsby.example/arbor)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
