# The Debian package "upk": cpack --config BUILD/CPackConfig.cmake (or
# scripts/make-deb.sh, which also runs lintian on it). It holds what
# `cmake --install` lays out, under /usr, stripped.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME upk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "upk developers <upk-devel@lists.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting setup bootstrapper and its ZIP unpacker")
set(CPACK_PACKAGE_DESCRIPTION "\
Setup is the program a user starts to install a package: a package is\n\
Setup with the upk4 unpacker library, a config block and a trailer\n\
appended by the package builder upkpack. Setup copies the library out,\n\
extracts the second stage from the package's ZIP archive and hands over\n\
to the package's setup program.\n\
.\n\
upk4 is a read-only ZIP reader behind four exported C functions (stored\n\
and deflated entries, traditional PKWARE encryption, split archives); the\n\
upk4 tool lists, tests and extracts archives through it. Callers find the\n\
library with pkg-config (upk4) or CMake (find_package(upk4)).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from what the binaries actually link (zlib, and whatever
# inflater the library is built with), through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(UPK_WITH_ISAL)
  # ISA-L is loaded by name when first needed, out of dpkg-shlibdeps' sight.
  upk_isal_soname(isal_soname)
  string(REGEX REPLACE "^libisal\\.so\\." "libisal" isal_package "${isal_soname}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${isal_package}")
endif()
# shlibs and symbols files for libupk4.so.4 (its four exports), and the
# ldconfig trigger instead of maintainer scripts.
configure_file(debian/shlibs.in ${CMAKE_CURRENT_BINARY_DIR}/debian/shlibs @ONLY)
configure_file(debian/symbols.in ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols @ONLY)
configure_file(debian/triggers ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/shlibs
  ${CMAKE_CURRENT_BINARY_DIR}/debian/symbols ${CMAKE_CURRENT_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
