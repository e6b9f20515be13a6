# What `cmake --install` puts where, and the Debian package `cpack -G DEB`
# makes of it: the two programs, their manual pages, the README and the
# examples. Nothing of the tests, benchmarks or fuzz targets is installed.
include(GNUInstallDirs)

install(TARGETS vestrun vestrun-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/vestrun.1 docs/vestrun-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# CMAKE_INSTALL_DOCDIR is share/doc/vestrun.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples USE_SOURCE_PERMISSIONS)

set(CPACK_PACKAGE_NAME vestrun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "vestrun issues one patient registration card per run: it reads the card picture (BMP), prepares the "
  "patient record, loads the picture into the machine over TCP, waits for the operator to insert a card, "
  "writes the magnetic stripe and has the card put out. vestrun-sim stands in for the machine.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "vestrun developers <vestrun@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/")

find_program(VESTRUN_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(VESTRUN_DPKG_SHLIBDEPS)
  # The run-time libraries the programs really link: the C and C++ runtime.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

find_program(VESTRUN_DPKG dpkg)
if(VESTRUN_DPKG)
  set(CPACK_GENERATOR DEB TGZ)
else()
  set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
