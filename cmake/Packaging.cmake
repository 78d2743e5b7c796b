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

set(QUENDRIX_PACKAGE_MAINTAINER "Quendrix-Projekt <quendrix@invalid>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENDRIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from dpkg-shlibdeps; quendrix-compress runs on the shell, coreutils, sed and perl-base, all
# essential. Notifications need notify-send, and without it a window shows the outcome.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libnotify-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
