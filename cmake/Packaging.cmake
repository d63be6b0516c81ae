# Everything installed apart from the programs themselves, and the Debian package made by
# `cpack -G DEB` from the build folder. The package installs under /usr whatever prefix the
# build was configured with: the programs find their files from their own folder.

set(CORVANE_DATA ${CMAKE_CURRENT_SOURCE_DIR}/data)
install(FILES ${CORVANE_DATA}/${CORVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CORVANE_DATA}/${CORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CORVANE_DATA}/icon32.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME ${CORVANE_APP_ID}.png)
install(FILES ${CORVANE_DATA}/icon128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME ${CORVANE_APP_ID}.png)

# Debian wants manual pages and the changelog (of a native package) compressed, without a time stamp in them.
find_program(CORVANE_GZIP gzip REQUIRED)
set(compressed)
foreach(source man/corvane.1 man/corvane-strip.1 changelog)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/data/${name}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/data
        COMMAND ${CORVANE_GZIP} -9nc ${CORVANE_DATA}/${source} > ${output}
        DEPENDS ${CORVANE_DATA}/${source} VERBATIM)
    list(APPEND compressed ${output})
endforeach()
add_custom_target(corvane_docs ALL DEPENDS ${compressed})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/data/corvane.1.gz ${CMAKE_CURRENT_BINARY_DIR}/data/corvane-strip.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvane RENAME changelog.gz)
install(FILES ${CORVANE_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Corvane developers <maintainers@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "combine pictures into one bitmap image strip (sprite sheet)")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane places a set of BMP, GIF, ICO and JPEG pictures into equal
cells, row after row, and writes them as one bitmap image strip (a
sprite sheet), with an optional one-line text file that records its
name and frame counts. The window is corvane; corvane-strip makes the
same strips from the command line, also from PNG frames and animated
GIFs, and writes PNG sheets with a JSON description for game engines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the shared libraries the programs link, through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
