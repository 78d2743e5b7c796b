# The Debian package: "cpack -G DEB" in the build folder (scripts/package.sh) makes quendrix_<version>_<arch>.deb
# from the install rules of the whole tree.
set(CPACK_PACKAGE_NAME quendrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quendrix-Projekt")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recompress and resize batches of JPEG, BMP and PNG images")
# The extended description, one paragraph of short lines (no double quotes: they do not survive CPack's
# configuration file).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quendrix recompresses and resizes many images at once. Files and folders are"
  "dragged onto its list; the target folder, the size, a JPEG quality and whether"
  "small images may be enlarged are chosen in its window (German user interface)."
  "quendrix-batch runs the same batch from a terminal, and the context menu entry"
  "'Mit Quendrix komprimieren' of the file managers runs it on the selected files"
  "with the stored settings and shows the outcome in a notification.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# A placeholder until the project has an address of its own: example.org is reserved for examples (RFC 2606),
# so no stranger gets the mail, and unlike a host under .invalid it passes lintian's check of the host part.
# Whoever builds a package to hand out sets their own name and address here.
set(QUENDRIX_PACKAGE_MAINTAINER "Quendrix-Projekt <quendrix@example.org>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")
# Build folders configured before keep the earlier placeholder, whose host lintian refuses.
if(QUENDRIX_PACKAGE_MAINTAINER STREQUAL "Quendrix-Projekt <quendrix@invalid>")
  set_property(CACHE QUENDRIX_PACKAGE_MAINTAINER PROPERTY VALUE "Quendrix-Projekt <quendrix@example.org>")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENDRIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from dpkg-shlibdeps; quendrix-compress runs on the shell, coreutils, sed and perl-base, all
# essential. Notifications need notify-send, and without it a window shows the outcome.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack appends the libraries dpkg-shlibdeps finds to this list. Qt's own translations make its dialogs and
# buttons speak German inside the German window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libnotify-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The licence of every file of the source tree, and the history of the package (gzip -9n, as Debian wants it).
set(QUENDRIX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quendrix)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright DESTINATION ${QUENDRIX_DOC_DIR})
set(QUENDRIX_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${QUENDRIX_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/res/debian/changelog -DOUTPUT=${QUENDRIX_CHANGELOG_GZ}
          -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/res/debian/changelog
  VERBATIM)
add_custom_target(quendrix_package_docs ALL DEPENDS ${QUENDRIX_CHANGELOG_GZ})
install(FILES ${QUENDRIX_CHANGELOG_GZ} DESTINATION ${QUENDRIX_DOC_DIR})

include(CPack)
