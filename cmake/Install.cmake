# What `cmake --install` puts in place, and the .deb that CPack builds from the
# same rules (`cpack -G DEB` in the build folder).
#
#   bin/quillo
#   share/applications/org.quillo.Quillo.desktop
#   share/metainfo/org.quillo.Quillo.metainfo.xml
#   share/icons/hicolor/{scalable,NxN}/apps/org.quillo.Quillo.{svg,png}
#   share/man/man1/quillo.1.gz
#   share/doc/quillo/{copyright,changelog.gz,LICENSE}

include(GNUInstallDirs)
# The documentation folder is named after the package, as Debian wants it
# (GNUInstallDirs would name it after the project, "Quillo").
set(QUILLO_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillo)

set(QUILLO_DATA ${PROJECT_SOURCE_DIR}/data)
find_program(GZIP_PROGRAM gzip REQUIRED)

# The manual page and the package changelog carry the version; both are
# compressed as Debian policy asks (-n: no name or time stamp inside, so the
# same source gives the same bytes).
configure_file(${QUILLO_DATA}/quillo.1.in ${PROJECT_BINARY_DIR}/data/quillo.1 @ONLY)
configure_file(${QUILLO_DATA}/debian/changelog.in ${PROJECT_BINARY_DIR}/data/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/data/quillo.1.gz ${PROJECT_BINARY_DIR}/data/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nfk quillo.1 changelog
  DEPENDS ${PROJECT_BINARY_DIR}/data/quillo.1 ${PROJECT_BINARY_DIR}/data/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/data
  COMMENT "Compressing the manual page and the changelog")
add_custom_target(quillo_docs ALL
  DEPENDS ${PROJECT_BINARY_DIR}/data/quillo.1.gz ${PROJECT_BINARY_DIR}/data/changelog.gz)

install(TARGETS quillo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUILLO_DATA}/org.quillo.Quillo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUILLO_DATA}/org.quillo.Quillo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QUILLO_DATA}/icons/org.quillo.Quillo.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256 512)
  install(FILES ${QUILLO_DATA}/icons/hicolor/${size}x${size}/apps/org.quillo.Quillo.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/data/quillo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QUILLO_DATA}/debian/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
  DESTINATION ${QUILLO_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${QUILLO_DOCDIR})

# --- the .deb
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillo developers")
set(CPACK_PACKAGE_CONTACT "The Quillo developers <quillo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record a part of the screen as an animated GIF or MP4")
set(CPACK_PACKAGE_DESCRIPTION "\
Quillo records a rectangle of the screen into still frames, lets you edit
them (delete, reverse, reorder, per-frame delays, speed, loop count, crop,
resize, undo and redo) and writes an animated GIF or an MP4 video.
It also records from scripts: quillo --record WxH+X+Y --duration SECONDS.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library packages come from dpkg-shlibdeps over the installed program.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ffmpeg: the better GIF encoder and every MP4 export; gifski is not in
# Debian, so it is only suggested.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gifski)
include(CPack)
