# The Debian package pestkill-scan_<version>_<arch>.deb, made by "cpack -G DEB" in a
# Linux build from the project's install rules: the scanner, its manual page and the
# documentation. Its dependencies are computed from the binary by dpkg-shlibdeps
# (libhivex0 where the build links it). finish_package.cmake adds what Debian asks of
# every package: the compressed manual page, a copyright file and a changelog.
set(PESTKILL_PACKAGE_MAINTAINER "pestkill developers <pestkill@example.org>" CACHE STRING
    "Maintainer field of the Debian package: who answers for it")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pestkill-scan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PESTKILL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "offline scanner for the Trojan.Kestrelon.Gen family")
set(CPACK_PACKAGE_DESCRIPTION
    "pestkill-scan reads files, directory trees and mounted Windows volumes,
read-only, and reports the programs that match the four structural
signatures of the trojan family reported as Trojan.Kestrelon.Gen. With
--windows-root it also reads the volume's registry hives to find the copy
that poses as the logon program, and can move what it found into a
quarantine and clean the Run values that start it. Output is one line or
one JSON object per file, for scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# The changelog carries this version, dated SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP PESTKILL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
set(CPACK_PESTKILL_DEBIAN_CHANGELOG ${CMAKE_BINARY_DIR}/debian/changelog)
set(CPACK_PESTKILL_DEBIAN_COPYRIGHT ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/finish_package.cmake)

include(CPack)
